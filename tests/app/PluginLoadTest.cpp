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

class PluginTest : public ::testing::Test {
public:
    void SetUp() override
    {
        ASSERT_NE(plugin, nullptr) << dlerror();
        ASSERT_NE(create, nullptr);
        ASSERT_NE(destroy, nullptr);
    }
    template <typename Function>
    Function Resolve(const char* name) const
    {
        return reinterpret_cast<Function>(dlsym(plugin.get(), name));
    }

    std::unique_ptr<void, int (*)(void*)> plugin{dlopen(KELDRA_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL), dlclose};
    OruApp::IOruApp* (*create)() = Resolve<OruApp::IOruApp* (*)()>("createOruApp");
    void (*destroy)(OruApp::IOruApp*) = Resolve<void (*)(OruApp::IOruApp*)>("deleteOruApp");
};

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

TEST_F(PluginTest, RunsTheGatewaysLifecycleTwice)
{
    // The instance guard allows a new application once the last is gone.
    for (int round = 0; round < 2; ++round) {
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
        app->Exit(&host);
        destroy(app);
        boost::filesystem::remove_all(directory);

        EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Global logger in the Keldra app initialized"), 1u);
        EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Running."), 1u);
        EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Exited."), 1u);
    }
}

// Regression: a runtime left running would keep the instance guard taken
// and make the next create end the process.
TEST_F(PluginTest, DeleteWithoutExitStopsTheRuntime)
{
    destroy(nullptr);
    for (int round = 0; round < 3; ++round) {
        OruApp::IOruApp* app = create();
        ASSERT_NE(app, nullptr);
        destroy(app);
    }
}

}  // namespace
