// Loads the built plug-in as the gateway does and drives its whole life:
// entry points, the runtime with its worker thread, Init, Run, Exit, delete.
#include <dlfcn.h>

#include <memory>
#include <set>
#include <sstream>
#include <string>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "tests/testing/ChildProcess.h"
#include "tests/testing/LogCapture.h"
#include "tests/testing/RecordingHost.h"
#include "app/OruApp.h"

namespace {

TEST(Plugin, ExportsTheThreeEntryPointsAndNothingElse)
{
    const auto nm = Oru::Testing::Run({KELDRA_NM, "-D", "--defined-only", KELDRA_PLUGIN_PATH});
    ASSERT_EQ(nm.status, 0) << nm.output;
    std::set<std::string> exported;
    std::istringstream lines(nm.output);
    for (std::string address, type, name; lines >> address >> type >> name;) {
        exported.insert(name);
    }
    EXPECT_EQ(exported, (std::set<std::string>{"CreateProductWebService", "createOruApp", "deleteOruApp"}));
}

// The instance guard allows a new application once the last is gone.
// Regression: a delete without Exit must stop the runtime too, or it would
// keep the guard taken and make the next create end the process.
TEST(Plugin, RunsTheGatewaysLifecycleAgainAfterExitOrADeleteWithoutIt)
{
    const std::unique_ptr<void, int (*)(void*)> plugin(dlopen(KELDRA_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL), dlclose);
    ASSERT_NE(plugin, nullptr) << dlerror();
    const auto create = reinterpret_cast<OruApp::IOruApp* (*)()>(dlsym(plugin.get(), "createOruApp"));
    const auto destroy = reinterpret_cast<void (*)(OruApp::IOruApp*)>(dlsym(plugin.get(), "deleteOruApp"));
    ASSERT_NE(create, nullptr);
    ASSERT_NE(destroy, nullptr);
    for (const bool withExit : {true, false, true}) {
        const auto directory = boost::filesystem::temp_directory_path() / boost::filesystem::unique_path();
        boost::filesystem::create_directories(directory);
        Oru::Testing::RecordingHost host;
        // One station with one room, its thermostat, no actor modules, absence mode 0.
        host.texts = {{1, "0123456789"}, {2, "TH000001"}};
        host.numbers = {{1, 1}, {7, 0}, {6, 0}, {16, 0}};
        host.configurationDirectory = directory.string();
        Oru::Testing::LogCapture log;

        OruApp::IOruApp* app = create();
        ASSERT_NE(app, nullptr);
        ASSERT_TRUE(app->Init(&host));
        EXPECT_TRUE(boost::filesystem::is_regular_file(directory / "orubasestationconfig.json"));
        ASSERT_TRUE(app->Run());
        if (withExit) {
            app->Exit(&host);
        }
        destroy(app);
        boost::filesystem::remove_all(directory);

        EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Global logger in the Keldra app initialized"), 1u);
        EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Running."), 1u);
        EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Exited."), withExit ? 1u : 0u);
    }
}

}  // namespace
