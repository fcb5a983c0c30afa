#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <chrono>
#include <memory>
#include <string>
#include <regex>
#include <thread>
#include <vector>

#include <boost/asio/io_service.hpp>

#include "tests/testing/ChildProcess.h"
#include "tests/testing/EventLoop.h"
#include "tests/testing/LogCapture.h"
#include "platform/mdns/MDnsClient.h"

// libdbus takes its own locks in both orders (connection and global locks);
// every entry into it from here is serialised by the client's Avahi lock.
extern "C" const char* __tsan_default_suppressions()
{
    return "deadlock:libdbus-1.so\n";
}

using Keldra::DeviceInfo;
using Keldra::ServiceInfo;
using Oru::MDnsClient;
using Oru::Testing::ChildProcess;
using Oru::Testing::RunReady;
using Oru::Testing::RunUntil;

namespace {

const char* const DaemonSocket = "/run/avahi-daemon/socket";

bool DaemonRunning()
{
    struct stat status {};
    return ::stat(DaemonSocket, &status) == 0;
}

std::vector<DeviceInfo> BrowseNow(MDnsClient& client, const std::string& serviceType)
{
    std::vector<DeviceInfo> devices;
    client.Browse(serviceType, [&devices](DeviceInfo&& device) { devices.push_back(std::move(device)); });
    return devices;
}

// The "_https._tcp" instances of that name.
std::vector<DeviceInfo> Listed(MDnsClient& client, const std::string& name)
{
    auto devices = BrowseNow(client, "_https._tcp");
    devices.erase(std::remove_if(devices.begin(), devices.end(),
                                 [&name](const DeviceInfo& device) { return device.name != name; }),
                  devices.end());
    return devices;
}

class MDnsClientWithoutDaemon : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (DaemonRunning()) {
            GTEST_SKIP() << "an Avahi daemon is running; these tests check the client without one";
        }
    }

    Oru::Testing::LogCapture _log;
    boost::asio::io_service _ioService;
    int _resolved = 0;
    const DeviceInfo _device{"plavo-A1B2C3D4E5", "_https._tcp", "local", 2};
};

TEST_F(MDnsClientWithoutDaemon, BrowsesNothingResolvesNothingAndWarnsOnce)
{
    auto client = std::make_unique<MDnsClient>(_ioService);
    RunReady(_ioService);  // the connection attempt
    EXPECT_TRUE(BrowseNow(*client, "_https._tcp").empty());
    EXPECT_TRUE(BrowseNow(*client, "_http._tcp").empty()) << "another type: browsing starts, nothing is known";
    RunReady(_ioService);
    EXPECT_TRUE(BrowseNow(*client, "_http._tcp").empty());
    client->Resolve(_device, [this](ServiceInfo&&) { ++_resolved; });
    RunReady(_ioService);

    EXPECT_EQ(1u, _log.CountContaining("The Avahi daemon is not available"));
    const auto warnings = _log.Messages(log4cplus::WARN_LOG_LEVEL);
    ASSERT_EQ(1u, warnings.size());
    EXPECT_NE(std::string::npos, warnings[0].find("no base station can be discovered")) << warnings[0];
    EXPECT_EQ(1u, _log.CountContaining("Cannot resolve plavo-A1B2C3D4E5 (_https._tcp.local, interface 2)"));
    client.reset();
    RunReady(_ioService);
    EXPECT_EQ(0, _resolved);
}

TEST_F(MDnsClientWithoutDaemon, DestroyedBeforeTheLoopEverRan)
{
    {
        MDnsClient client(_ioService);
        EXPECT_TRUE(BrowseNow(client, "_https._tcp").empty());
        client.Resolve(_device, [this](ServiceInfo&&) { ++_resolved; });
    }
    RunReady(_ioService);
    EXPECT_EQ(0, _resolved);
    EXPECT_EQ(0u, _log.CountContaining("Avahi daemon")) << "no connection attempt after destruction";
}

// As in the plug-in: the loop runs on the worker thread, the client is made,
// browsed and destroyed on the host's thread (with a daemon: the end-to-end
// tests, whose plug-in does the same).
TEST_F(MDnsClientWithoutDaemon, UsedFromTheHostThreadWhileTheLoopRuns)
{
    auto work = std::make_unique<boost::asio::io_service::work>(_ioService);
    std::thread loop([this]() { _ioService.run(); });
    for (int round = 0; round < 20; ++round) {
        MDnsClient client(_ioService);
        for (int call = 0; call < 5; ++call) {
            EXPECT_TRUE(BrowseNow(client, call % 2 == 0 ? "_https._tcp" : "_ipp._tcp").empty());
            client.Resolve(_device, [](ServiceInfo&&) { FAIL(); });
        }
    }
    work.reset();
    _ioService.stop();
    loop.join();
}

// With an Avahi daemon: services published by avahi-publish.
class MDnsClientWithDaemon : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!DaemonRunning()) {
            GTEST_SKIP() << "no Avahi daemon running; ctest runs these as mdns_client_daemon_tests";
        }
    }

    boost::asio::io_service _ioService;
};

TEST_F(MDnsClientWithDaemon, ListsReportsResolvesAndForgetsAPublishedService)
{
    const std::string name = "plavo-T" + std::to_string(::getpid());
    MDnsClient client(_ioService);
    std::vector<std::string> found;
    client.SetInstanceFoundCallback([&found](const DeviceInfo& device) { found.push_back(device.name); });
    ChildProcess publisher({"avahi-publish", "--service", name, "_https._tcp", "8443", "Vendor=Keldra", "Model=Brisgo",
                            "Flag"});
    ASSERT_TRUE(publisher.WaitForLine(std::regex("Established under name"), 0, std::chrono::seconds(10)))
        << publisher.Output();

    ASSERT_TRUE(RunUntil(_ioService, [&] { return !Listed(client, name).empty(); }));
    const auto devices = Listed(client, name);
    ASSERT_EQ(1u, devices.size()) << "one entry per instance";
    EXPECT_EQ("_https._tcp", devices[0].type);
    EXPECT_EQ("local", devices[0].domain);
    ASSERT_TRUE(RunUntil(_ioService, [&] { return std::count(found.begin(), found.end(), name) > 0; }));
    EXPECT_EQ(1, std::count(found.begin(), found.end(), name)) << "reported once, on whatever interfaces";

    std::vector<ServiceInfo> resolved;
    client.Resolve(devices[0], [&resolved](ServiceInfo&& service) { resolved.push_back(std::move(service)); });
    ASSERT_TRUE(RunUntil(_ioService, [&] { return !resolved.empty(); })) << "not resolved";
    EXPECT_EQ(name, resolved[0].name);
    EXPECT_FALSE(resolved[0].hostName.empty());
    EXPECT_NE(0u, resolved[0].address);
    EXPECT_EQ(8443, resolved[0].port);
    const std::map<std::string, std::string> txt{{"Vendor", "Keldra"}, {"Model", "Brisgo"}, {"Flag", ""}};
    EXPECT_EQ(txt, resolved[0].txt);

    publisher.Kill();
    EXPECT_TRUE(RunUntil(_ioService, [&] { return Listed(client, name).empty(); }))
        << "the withdrawn service is still listed";
}

TEST_F(MDnsClientWithDaemon, ResolvingAnUnknownInstanceNeverCallsBack)
{
    Oru::Testing::LogCapture log;
    MDnsClient client(_ioService);
    ASSERT_TRUE(RunUntil(_ioService, [&] { return log.CountContaining("Connected to the Avahi daemon") == 1; }));
    bool called = false;
    client.Resolve(DeviceInfo{"plavo-NOSUCHTHING", "_https._tcp", "local", -1},
                   [&called](ServiceInfo&&) { called = true; });
    // Avahi gives up after a few seconds.
    EXPECT_TRUE(RunUntil(_ioService, [&] { return log.CountContaining("Failed to resolve plavo-NOSUCHTHING") == 1; },
                         std::chrono::seconds(15)));
    RunReady(_ioService);
    EXPECT_FALSE(called);
}

}  // namespace
