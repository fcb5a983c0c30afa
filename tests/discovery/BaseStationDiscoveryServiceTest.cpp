#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/optional.hpp>

#include "tests/testing/FakeMDnsClient.h"
#include "tests/testing/LogCapture.h"
#include "tests/testing/VirtualClockSystem.h"
#include "discovery/BaseStationDiscoveryService.h"
#include "support/KernelClockSystem.h"
#include "support/OperatingSystem.h"

using namespace Keldra;
using boost::chrono::milliseconds;
using boost::chrono::seconds;
using Keldra::Testing::FakeMDnsClient;
using Oru::Testing::LogCapture;
using Oru::Testing::VirtualClockSystem;
using Network = FakeMDnsClient::Network;
using Delivery = Network::ResolveDelivery;
using Txt = std::map<std::string, std::string>;
using Names = std::vector<std::string>;

namespace {

const Txt StationTxt = {{"Vendor", "Keldra"}, {"Model", "Brisgo"}};

DeviceInfo Device(const std::string& name, const std::string& type = "_https._tcp")
{
    return DeviceInfo{name, type, "local", 2};
}

ServiceInfo Service(const std::string& name, Txt txt = StationTxt)
{
    return ServiceInfo{name, name + ".local", 0xC0A8010A, 443, std::move(txt)};
}

class DiscoveryTest : public ::testing::Test {
protected:
    std::unique_ptr<BaseStationDiscoveryService> CreateService(
        BaseStationDiscoveryService::DiscoveryCallback callback = {})
    {
        if (!callback) {
            callback = [this](std::shared_ptr<ServiceInfo> service) {
                _reported.push_back(*service);
                _reports.push_back(service->name + "@" + std::to_string(Now()));
            };
        }
        return std::make_unique<BaseStationDiscoveryService>(
            [this]() { return _clock.CreateTimer(); },
            FakeMDnsClient::Factory(_network), seconds(10), callback);
    }

    void Announce(const std::string& name, Txt txt = StationTxt)
    {
        _network->Announce(Device(name), Service(name, std::move(txt)));
    }
    long long Now() { return boost::chrono::duration_cast<milliseconds>(_clock.GetNow() - _start).count(); }
    std::size_t BrowseCount() const { return _network->Arguments("Browse").size(); }

    LogCapture _log;
    VirtualClockSystem _clock;
    const VirtualClockSystem::TimePoint _start = _clock.GetNow();
    std::shared_ptr<Network> _network = std::make_shared<Network>();
    Names _reports;
    std::vector<ServiceInfo> _reported;
};

TEST_F(DiscoveryTest, ListsAndResolvesAfreshEveryTenSecondsWhileActive)
{
    Announce("plavo-A1");
    auto service = CreateService();
    service->Start();
    _clock.RunPending();
    ASSERT_EQ(1U, _reported.size());
    EXPECT_EQ(Service("plavo-A1"), _reported.front());
    _clock.Advance(milliseconds(9999));
    Announce("plavo-B2");
    _clock.Advance(milliseconds(1));
    _network->Withdraw("plavo-A1");
    _clock.Advance(seconds(10));
    EXPECT_EQ(Names({"plavo-A1@0", "plavo-A1@10000", "plavo-B2@10000", "plavo-B2@20000"}), _reports);
    EXPECT_EQ(Names(3, "_https._tcp"), _network->Arguments("Browse"));

    service->Stop();
    _clock.Advance(seconds(30));
    EXPECT_EQ(4U, _reports.size());
    EXPECT_EQ(0U, _clock.PendingWaitCount());
    EXPECT_EQ(Names({"Start base station discovery", "Stop base station discovery"}),
              _log.Messages(log4cplus::INFO_LOG_LEVEL));
    EXPECT_EQ(2U, _log.Entries().size());
}

TEST_F(DiscoveryTest, OnlyBaseStationNamesAreResolvedAndOnlyKeldraBrisgoRecordsReported)
{
    for (const auto* name : {"Plavo-A1", "PLAVO-A2", "my-plavo-A3", "plavo", "plavo_A4", ""}) {
        Announce(name);
    }
    _network->Announce(Device("plavo-T1", "_http._tcp"), Service("plavo-T1"));  // another service type
    _network->Announce(Device("plavo-F1"), boost::none);                        // resolving fails
    Announce("plavo-");
    // Records named plavo-R<index>, and whether they are reported.
    const std::vector<std::pair<Txt, bool>> records = {
        {StationTxt, true},
        {{{"Vendor", "Keldra"}, {"Model", "Brisgo"}, {"Serial", "1"}, {"", ""}}, true},
        {{{"Vendor", "keldra"}, {"Model", "Brisgo"}}, false},
        {{{"Vendor", "Keldra "}, {"Model", "Brisgo"}}, false},
        {{{"Vendor", "Keldra"}, {"Model", "brisgo"}}, false},
        {{{"Vendor", "Brisgo"}, {"Model", "Keldra"}}, false},
        {{{"vendor", "Keldra"}, {"Model", "Brisgo"}}, false},
        {{{"Vendor", "Keldra"}}, false},
        {{{"Model", "Brisgo"}}, false},
    };
    Names expectedResolves = {"plavo-F1", "plavo-"};
    Names expectedReports = {"plavo-@0"};
    for (std::size_t index = 0; index < records.size(); ++index) {
        const auto name = "plavo-R" + std::to_string(index);
        Announce(name, records[index].first);
        expectedResolves.push_back(name);
        if (records[index].second) {
            expectedReports.push_back(name + "@0");
        }
    }

    auto service = CreateService();
    service->Start();
    _clock.RunPending();
    EXPECT_EQ(expectedResolves, _network->Arguments("Resolve"));
    EXPECT_EQ(expectedReports, _reports);
    // Ignored records leave no trace in the log.
    EXPECT_EQ(1U, _log.Entries().size());
}

TEST_F(DiscoveryTest, AStationReportedNewIsResolvedAtOnceWhileActive)
{
    auto service = CreateService();
    const auto appear = [this](const std::string& name) {
        Announce(name);
        _network->ReportFound(Device(name));
        _clock.RunPending();
    };
    appear("plavo-N0");
    EXPECT_TRUE(_network->Arguments("Resolve").empty()) << "inactive";

    service->Start();
    _clock.RunPending();
    _network->WithdrawAll();
    _network->ClearCalls();
    _reports.clear();
    _clock.Advance(seconds(3));
    appear("plavo-N1");
    appear("printer");
    EXPECT_EQ(Names({"plavo-N1"}), _network->Arguments("Resolve"));
    EXPECT_EQ(Names({"plavo-N1@3000"}), _reports);
    // The search keeps its rhythm.
    _clock.Advance(seconds(7));
    EXPECT_EQ(Names({"plavo-N1@3000", "plavo-N1@10000"}), _reports);

    service->Stop();
    appear("plavo-N2");
    service.reset();
    appear("plavo-N3");
    EXPECT_EQ(2U, _reports.size());
    EXPECT_EQ(Names({"plavo-N1", "plavo-N1"}), _network->Arguments("Resolve"));
}

TEST_F(DiscoveryTest, StartAndStopActOnlyWhenTheyChangeTheState)
{
    Announce("plavo-A1");
    auto service = CreateService();
    service->Stop();
    service->Start();
    service->Stop();
    _clock.Advance(seconds(30));  // stopped before the first search ran: no search
    service->Start();
    service->Stop();
    service->Start();
    service->Start();
    _clock.Advance(seconds(3));
    service->Start();  // while active: no further search
    _clock.RunPending();
    // A restart searches at once and waits a full period from there.
    service->Stop();
    service->Stop();
    service->Start();
    _clock.Advance(milliseconds(9999));
    EXPECT_EQ(Names({"plavo-A1@30000", "plavo-A1@33000"}), _reports);
    _clock.Advance(milliseconds(1));
    EXPECT_EQ(Names({"plavo-A1@30000", "plavo-A1@33000", "plavo-A1@43000"}), _reports);
    EXPECT_EQ(3U, BrowseCount());
    EXPECT_EQ(1U, _clock.PendingWaitCount());
    EXPECT_EQ(6U, _log.Count(log4cplus::INFO_LOG_LEVEL, "Start base station discovery"));
    EXPECT_EQ(5U, _log.Count(log4cplus::INFO_LOG_LEVEL, "Stop base station discovery"));
}

// The wait expires and its handler is queued; Stop and Start come before it runs.
TEST_F(DiscoveryTest, AnExpiryThatRacedWithARestartRunsNoCycle)
{
    Announce("plavo-A1");
    auto service = CreateService();
    service->Start();
    _clock.RunPending();
    _clock.ExpireWithoutRunning(seconds(10));
    service->Stop();
    service->Start();
    _clock.RunPending();
    EXPECT_EQ(2U, BrowseCount());
    _clock.Advance(milliseconds(9999));
    EXPECT_EQ(2U, BrowseCount());
    _clock.Advance(milliseconds(1));
    EXPECT_EQ(3U, BrowseCount());
    EXPECT_EQ(3U, _reports.size());
}

TEST_F(DiscoveryTest, ALateResolveAfterARestartOrDestructionIsDropped)
{
    Announce("plavo-A1");
    _network->SetResolveDelivery(Delivery::Held);
    auto service = CreateService();
    EXPECT_EQ(1U, _network->ClientCount());
    EXPECT_EQ(1U, _clock.TimerCount());
    service->Start();
    _clock.RunPending();
    EXPECT_EQ(1U, _network->ReleaseHeldResolves());
    _clock.RunPending();
    EXPECT_EQ(Names({"plavo-A1@0"}), _reports) << "late, but still active";

    // An answer of the search before a restart is dropped; the restart's is not.
    _clock.Advance(seconds(10));
    service->Stop();
    service->Start();
    _clock.RunPending();
    EXPECT_EQ(2U, _network->ReleaseHeldResolves());
    _clock.RunPending();
    EXPECT_EQ(Names({"plavo-A1@0", "plavo-A1@10000"}), _reports);

    _clock.Advance(seconds(10));
    service.reset();
    EXPECT_EQ(0U, _network->ClientCount());
    EXPECT_EQ(0U, _clock.TimerCount());
    EXPECT_EQ(0U, _clock.PendingWaitCount());
    EXPECT_EQ(1U, _network->ReleaseHeldResolves());
    _clock.Advance(seconds(30));
    EXPECT_EQ(2U, _reports.size()) << "after destruction";

    // A search queued by Start and not yet run.
    service = CreateService();
    service->Start();
    service.reset();
    _clock.Advance(seconds(30));
    EXPECT_EQ(4U, BrowseCount());
}

TEST_F(DiscoveryTest, TheDiscoveryCallbackMayStopTheSearch)
{
    Announce("plavo-A1");
    Announce("plavo-A2");
    std::unique_ptr<BaseStationDiscoveryService> service;
    service = CreateService([&](std::shared_ptr<ServiceInfo> found) {
        _reports.push_back(found->name);
        service->Stop();
    });
    service->Start();
    _clock.Advance(seconds(30));
    EXPECT_EQ(Names({"plavo-A1"}), _reports);
    EXPECT_EQ(0U, _clock.PendingWaitCount());
}

// The event loop on a worker thread with real timers, the host's thread
// starting and stopping: searches, resolves and reports all run on the worker.
TEST(DiscoveryOnAWorkerThread, StartAndStopFromTheHostsThreadAreSafe)
{
    Oru::OperatingSystem operatingSystem{"DiscoveryThreadTest"};
    boost::asio::io_service ioService;
    auto work = boost::asio::make_work_guard(ioService);
    Oru::KernelClockSystem clock(ioService, operatingSystem);
    auto network = std::make_shared<Network>();
    network->Announce(Device("plavo-A1"), Service("plavo-A1"));
    network->SetResolveDelivery(Delivery::Posted);

    std::atomic<std::size_t> reports{0};
    std::thread worker([&ioService]() { ioService.run(); });
    const auto workerId = worker.get_id();
    auto service = std::make_unique<BaseStationDiscoveryService>(
        [&clock]() { return clock.CreateTimer(); }, FakeMDnsClient::Factory(network),
        boost::chrono::microseconds(200), [&](std::shared_ptr<ServiceInfo>) {
            EXPECT_EQ(workerId, std::this_thread::get_id());
            ++reports;
        });
    service->Start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (reports < 3 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GE(reports, 3U);
    for (int round = 0; round < 200; ++round) {
        service->Stop();
        service->Start();
        service->Start();
        service->Stop();
        service->Start();
    }
    service->Stop();
    // Everything queued so far has run once this marker has.
    std::promise<void> drained;
    boost::asio::post(ioService, [&drained]() { drained.set_value(); });
    EXPECT_EQ(std::future_status::ready, drained.get_future().wait_for(std::chrono::seconds(10)));
    service.reset();
    work.reset();
    worker.join();
    for (const auto& call : network->Calls()) {
        EXPECT_EQ(workerId, call.thread) << call.operation;
    }
}

}  // namespace
