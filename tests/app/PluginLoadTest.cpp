// Loads the built plug-in as the gateway does and drives its whole life:
// entry points, the runtime with its worker thread, Init, Run, Exit, delete.
#include <dlfcn.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "LogCapture.h"
#include "ProductWebService.h"
#include "RecordingHost.h"
#include "app/OruApp.h"

namespace {

using CreateOruApp = OruApp::IOruApp* (*)();
using DeleteOruApp = void (*)(OruApp::IOruApp*);
using CreateProductWebService = Oru::IProductWebService* (*)(Oru::ICommonWebService&);

class Plugin {
public:
    Plugin() : _handle(dlopen(KELDRA_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL))
    {
        if (_handle == nullptr) {
            ADD_FAILURE() << "dlopen: " << dlerror();
        }
    }
    ~Plugin()
    {
        if (_handle != nullptr) {
            dlclose(_handle);
        }
    }
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    template <typename Function>
    Function Resolve(const char* name) const
    {
        return _handle != nullptr ? reinterpret_cast<Function>(dlsym(_handle, name)) : nullptr;
    }

private:
    void* _handle;
};

class TemporaryDirectory {
public:
    TemporaryDirectory()
        : _path(boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("keldra-plugin-%%%%-%%%%"))
    {
        boost::filesystem::create_directories(_path);
    }
    ~TemporaryDirectory() { boost::filesystem::remove_all(_path); }
    const boost::filesystem::path& Path() const { return _path; }

private:
    boost::filesystem::path _path;
};

void ConfigureOneStation(Oru::Testing::RecordingHost& host, const std::string& directory)
{
    host.SetTextParameter(1, "0123456789");
    host.SetTextParameter(2, "TH000001");
    host.SetNumberParameter(1, 1);   // one room
    host.SetNumberParameter(7, 0);   // no actor modules
    host.SetNumberParameter(6, 0);
    host.SetNumberParameter(16, 0);  // absence mode
    host.SetConfigurationDirectory(directory);
}

}  // namespace

TEST(Plugin, ExportsTheThreeEntryPointsAndNothingElse)
{
    const std::string command = std::string("nm -D --defined-only ") + KELDRA_PLUGIN_PATH;
    std::unique_ptr<FILE, int (*)(FILE*)> output(popen(command.c_str(), "r"), pclose);
    ASSERT_TRUE(output);
    std::set<std::string> exported;
    char line[1024];
    while (fgets(line, sizeof line, output.get()) != nullptr) {
        char address[64], type[8], name[512];
        if (std::sscanf(line, "%63s %7s %511s", address, type, name) == 3) {
            exported.insert(name);
        }
    }
    EXPECT_EQ(exported, (std::set<std::string>{"CreateProductWebService", "createOruApp", "deleteOruApp"}));
}

TEST(Plugin, RunsTheGatewaysLifecycleTwice)
{
    Plugin plugin;
    const auto create = plugin.Resolve<CreateOruApp>("createOruApp");
    const auto destroy = plugin.Resolve<DeleteOruApp>("deleteOruApp");
    ASSERT_NE(create, nullptr);
    ASSERT_NE(destroy, nullptr);

    // The instance guard allows a new application once the last is gone.
    for (int round = 0; round < 2; ++round) {
        TemporaryDirectory directory;
        Oru::Testing::RecordingHost host;
        ConfigureOneStation(host, directory.Path().string());
        Oru::Testing::LogCapture log;

        OruApp::IOruApp* app = create();
        ASSERT_NE(app, nullptr);
        ASSERT_TRUE(app->Init(&host));
        EXPECT_TRUE(boost::filesystem::is_regular_file(directory.Path() / "orubasestationconfig.json"));
        ASSERT_TRUE(app->Run());
        app->Exit(&host);
        destroy(app);

        EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Global logger in the Keldra app initialized"), 1u);
        EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Running."), 1u);
        EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Exited."), 1u);
        // Run puts the initial base station error state on the bus.
        const auto sent = host.Sent();
        ASSERT_GE(sent.size(), 2u);
        EXPECT_EQ(sent[0], (Oru::Testing::SentValue{503, false}));
        EXPECT_EQ(sent[1], (Oru::Testing::SentValue{504, std::string("-0:NoError")}));
    }
}

TEST(Plugin, DeleteWithoutExitStopsTheRuntime)
{
    Plugin plugin;
    const auto create = plugin.Resolve<CreateOruApp>("createOruApp");
    const auto destroy = plugin.Resolve<DeleteOruApp>("deleteOruApp");
    ASSERT_NE(create, nullptr);
    destroy(nullptr);
    for (int round = 0; round < 3; ++round) {
        OruApp::IOruApp* app = create();
        ASSERT_NE(app, nullptr);
        // A runtime left running would keep the instance guard taken and
        // make the next create end the process.
        destroy(app);
    }
}

TEST(Plugin, CreatesTheProductWebService)
{
    Plugin plugin;
    const auto createService = plugin.Resolve<CreateProductWebService>("CreateProductWebService");
    ASSERT_NE(createService, nullptr);
    Oru::ICommonWebService common;
    std::unique_ptr<Oru::IProductWebService> service(createService(common));
    ASSERT_TRUE(service);
    rapidjson::Document parameters(rapidjson::kObjectType);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(service->HandleRequest("noSuchRequest", parameters)));
}
