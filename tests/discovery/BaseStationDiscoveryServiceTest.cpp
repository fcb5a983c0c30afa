#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/optional.hpp>

#include "FakeMDnsClient.h"
#include "LogCapture.h"
#include "VirtualClockSystem.h"
#include "discovery/BaseStationDiscoveryService.h"
#include "support/KernelClockSystem.h"
#include "support/OperatingSystem.h"

using namespace Keldra;
using Keldra::Testing::FakeMDnsClient;
using Oru::Testing::LogCapture;
using Oru::Testing::VirtualClockSystem;
using Network = FakeMDnsClient::Network;
using Delivery = Network::ResolveDelivery;
using Duration = VirtualClockSystem::Duration;
using Txt = std::map<std::string, std::string>;
using Names = std::vector<std::string>;

namespace {

constexpr Duration Milliseconds(long long count) { return boost::chrono::milliseconds(count); }
constexpr Duration Seconds(long long count) { return boost::chrono::seconds(count); }

const std::string HttpsService = "_https._tcp";
const Txt BaseStationTxt = {{"Vendor", "Keldra"}, {"Model", "Brisgo"}};

DeviceInfo Device(const std::string& name, const std::string& type = HttpsService)
{
    DeviceInfo device;
    device.name = name;
    device.type = type;
    device.domain = "local";
    device.interfaceIndex = 2;
    return device;
}

ServiceInfo Service(const std::string& name, Txt txt = BaseStationTxt)
{
    ServiceInfo service;
    service.name = name;
    service.hostName = name + ".local";
    service.address = 0xC0A8010A;
    service.port = 443;
    service.txt = std::move(txt);
    return service;
}

const char* DeliveryName(Delivery delivery)
{
    switch (delivery) {
    case Delivery::Immediately: return "resolved at once";
    case Delivery::Posted: return "resolved later on the event loop";
    case Delivery::Held: return "resolved when released";
    }
    return "?";
}

// A timer that counts cancel() calls and can hold completions back, so that
// a test can place a Stop between an expiry and its handler.
class ControlledTimer final : public Oru::WaitableTimer {
public:
    struct Control {
        std::size_t cancelCalls = 0;
        bool holdCompletions = false;
        std::vector<std::function<void()>> held;
    };

    ControlledTimer(std::unique_ptr<Oru::WaitableTimer> timer, std::shared_ptr<Control> control)
        : _timer(std::move(timer)), _control(std::move(control))
    {
    }

    boost::asio::io_service& get_io_service() override { return _timer->get_io_service(); }

    void async_wait(WaitHandler handler) override
    {
        _timer->async_wait([control = _control, handler](boost::system::error_code error) {
            if (control->holdCompletions) {
                control->held.push_back([handler, error]() { handler(error); });
            } else {
                handler(error);
            }
        });
    }

    std::size_t cancel() override
    {
        ++_control->cancelCalls;
        return _timer->cancel();
    }

    std::size_t expires_from_now(const Duration& duration) override { return _timer->expires_from_now(duration); }
    Duration expires_from_now() const override { return _timer->expires_from_now(); }

private:
    std::unique_ptr<Oru::WaitableTimer> _timer;
    std::shared_ptr<Control> _control;
};

class DiscoveryTest : public ::testing::Test {
protected:
    DiscoveryTest() : _start(_clock.GetNow()) {}

    TimerFactory Timers()
    {
        return [this]() { return std::make_unique<ControlledTimer>(_clock.CreateTimer(), _timerControl); };
    }

    std::unique_ptr<BaseStationDiscoveryService> CreateService(
        BaseStationDiscoveryService::DiscoveryCallback callback = {})
    {
        if (!callback) {
            callback = [this](std::shared_ptr<ServiceInfo> service) {
                _reported.push_back(*service);
                _reports.push_back(service->name + "@" + std::to_string(Now()));
            };
        }
        return std::make_unique<BaseStationDiscoveryService>(Timers(), FakeMDnsClient::Factory(_network),
                                                             Seconds(10), callback);
    }

    long long Now()
    {
        return boost::chrono::duration_cast<boost::chrono::milliseconds>(_clock.GetNow() - _start).count();
    }

    std::size_t BrowseCount() const { return _network->Arguments("Browse").size(); }

    // Runs the completions the timer held back, on the event loop.
    void ReleaseHeldCompletions()
    {
        _timerControl->holdCompletions = false;
        for (auto& completion : std::exchange(_timerControl->held, {})) {
            boost::asio::post(_clock.GetIoService(), completion);
        }
        _clock.RunPending();
    }

    LogCapture _log;
    VirtualClockSystem _clock;
    VirtualClockSystem::TimePoint _start;
    std::shared_ptr<ControlledTimer::Control> _timerControl = std::make_shared<ControlledTimer::Control>();
    std::shared_ptr<Network> _network = std::make_shared<Network>();
    Names _reports;
    std::vector<ServiceInfo> _reported;
};

TEST_F(DiscoveryTest, AMatchingServiceIsReportedEveryTenSecondsWhileActive)
{
    _network->Announce(Device("plavo-A1B2C3D4E5"), Service("plavo-A1B2C3D4E5"));
    for (const auto delivery : {Delivery::Immediately, Delivery::Posted}) {
        SCOPED_TRACE(DeliveryName(delivery));
        _network->SetResolveDelivery(delivery);
        _network->ClearCalls();
        _reports.clear();
        _reported.clear();
        _log.Clear();
        _start = _clock.GetNow();

        auto service = CreateService();
        service->Start();
        _clock.RunPending();
        EXPECT_EQ(Names({"plavo-A1B2C3D4E5@0"}), _reports);
        ASSERT_EQ(1U, _reported.size());
        EXPECT_EQ(Service("plavo-A1B2C3D4E5"), _reported.front());

        _clock.Advance(Milliseconds(9999));
        EXPECT_EQ(1U, _reports.size());
        _clock.Advance(Milliseconds(1));
        EXPECT_EQ(Names({"plavo-A1B2C3D4E5@0", "plavo-A1B2C3D4E5@10000"}), _reports);
        _clock.Advance(Seconds(20));
        EXPECT_EQ(Names({"plavo-A1B2C3D4E5@0", "plavo-A1B2C3D4E5@10000", "plavo-A1B2C3D4E5@20000",
                         "plavo-A1B2C3D4E5@30000"}),
                  _reports);
        EXPECT_EQ(Names(4, HttpsService), _network->Arguments("Browse"));
        EXPECT_EQ(Names(4, "plavo-A1B2C3D4E5"), _network->Arguments("Resolve"));

        service->Stop();
        _clock.Advance(Seconds(30));
        EXPECT_EQ(4U, _reports.size());
        EXPECT_EQ(0U, _clock.PendingWaitCount());

        const auto entries = _log.Entries();
        ASSERT_EQ(2U, entries.size());
        EXPECT_EQ(log4cplus::INFO_LOG_LEVEL, entries[0].level);
        EXPECT_EQ("BaseStationDiscoveryService", entries[0].source);
        EXPECT_EQ("Start base station discovery", entries[0].message);
        EXPECT_EQ(log4cplus::INFO_LOG_LEVEL, entries[1].level);
        EXPECT_EQ("BaseStationDiscoveryService", entries[1].source);
        EXPECT_EQ("Stop base station discovery", entries[1].message);
    }
}

struct Announcement {
    std::string description;
    DeviceInfo device;
    boost::optional<ServiceInfo> answer;  // none: resolving fails
    bool resolves;
    bool reported;
};

TEST_F(DiscoveryTest, OnlyBaseStationNamesAreResolvedAndOnlyKeldraBrisgoRecordsReported)
{
    const auto station = [](const std::string& description, const std::string& name, Txt txt, bool reported) {
        return Announcement{description, Device(name), Service(name, std::move(txt)), true, reported};
    };
    const auto otherName = [](const std::string& description, const std::string& name) {
        return Announcement{description, Device(name), Service(name), false, false};
    };
    const std::vector<Announcement> announcements = {
        station("a base station", "plavo-A1B2C3D4E5", BaseStationTxt, true),
        otherName("prefix capitalised", "Plavo-A1B2C3D4E6"),
        otherName("prefix in capitals", "PLAVO-A1B2C3D4E7"),
        otherName("prefix later in the name", "my-plavo-A1B2C3D4E8"),
        otherName("prefix one byte later", "xplavo-A1"),
        otherName("prefix without its dash", "plavo"),
        otherName("another separator", "plavo_A1"),
        otherName("empty name", ""),
        station("the prefix alone", "plavo-", BaseStationTxt, true),
        station("vendor in lower case", "plavo-V1", {{"Vendor", "keldra"}, {"Model", "Brisgo"}}, false),
        station("vendor in capitals", "plavo-V2", {{"Vendor", "KELDRA"}, {"Model", "Brisgo"}}, false),
        station("vendor with a trailing blank", "plavo-V3", {{"Vendor", "Keldra "}, {"Model", "Brisgo"}}, false),
        station("empty vendor", "plavo-V4", {{"Vendor", ""}, {"Model", "Brisgo"}}, false),
        station("model in lower case", "plavo-M1", {{"Vendor", "Keldra"}, {"Model", "brisgo"}}, false),
        station("empty model", "plavo-M2", {{"Vendor", "Keldra"}, {"Model", ""}}, false),
        station("vendor and model swapped", "plavo-M3", {{"Vendor", "Brisgo"}, {"Model", "Keldra"}}, false),
        station("key in lower case", "plavo-K1", {{"vendor", "Keldra"}, {"Model", "Brisgo"}}, false),
        station("vendor only", "plavo-K2", {{"Vendor", "Keldra"}}, false),
        station("model only", "plavo-K3", {{"Model", "Brisgo"}}, false),
        station("empty TXT record", "plavo-K4", {}, false),
        station("extra keys", "plavo-K5",
                {{"Vendor", "Keldra"}, {"Model", "Brisgo"}, {"Serial", "12345"}, {"", ""}, {"Flag", ""}}, true),
        {"resolving fails", Device("plavo-F1"), boost::none, true, false},
        {"another service type", Device("plavo-T1", "_http._tcp"), Service("plavo-T1"), false, false},
    };
    Names expectedResolves;
    Names expectedReports;
    for (const auto& announcement : announcements) {
        _network->Announce(announcement.device, announcement.answer);
        if (announcement.resolves) {
            expectedResolves.push_back(announcement.device.name);
        }
        if (announcement.reported) {
            expectedReports.push_back(announcement.device.name + "@0");
        }
    }

    for (const auto delivery : {Delivery::Immediately, Delivery::Posted}) {
        SCOPED_TRACE(DeliveryName(delivery));
        _network->SetResolveDelivery(delivery);
        _network->ClearCalls();
        _reports.clear();
        _log.Clear();
        _start = _clock.GetNow();
        auto service = CreateService();
        service->Start();
        _clock.RunPending();
        EXPECT_EQ(expectedResolves, _network->Arguments("Resolve"));
        EXPECT_EQ(expectedReports, _reports);
        // Ignored records leave no trace in the log.
        EXPECT_EQ(Names({"Start base station discovery"}), _log.Messages(log4cplus::INFO_LOG_LEVEL));
        EXPECT_EQ(1U, _log.Entries().size());
    }
}

TEST_F(DiscoveryTest, EveryCycleListsAndResolvesAfresh)
{
    auto service = CreateService();
    service->Start();
    _clock.RunPending();
    EXPECT_TRUE(_reports.empty());

    _network->Announce(Device("plavo-B1"), Service("plavo-B1"));
    _network->Announce(Device("plavo-B2"), Service("plavo-B2"));
    _clock.Advance(Seconds(10));
    EXPECT_EQ(Names({"plavo-B1@10000", "plavo-B2@10000"}), _reports);

    _network->Withdraw("plavo-B1");
    _clock.Advance(Seconds(10));
    EXPECT_EQ(Names({"plavo-B1@10000", "plavo-B2@10000", "plavo-B2@20000"}), _reports);
}

TEST_F(DiscoveryTest, AStationReportedNewIsResolvedAtOnceWhileActive)
{
    auto service = CreateService();
    const auto appear = [this](const std::string& name) {
        _network->Announce(Device(name), Service(name));
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
    _clock.Advance(Seconds(3));
    appear("plavo-N1");
    appear("printer");
    EXPECT_EQ(Names({"plavo-N1"}), _network->Arguments("Resolve"));
    EXPECT_EQ(Names({"plavo-N1@3000"}), _reports);
    // The search keeps its rhythm.
    _clock.Advance(Seconds(7));
    EXPECT_EQ(Names({"plavo-N1@3000", "plavo-N1@10000"}), _reports);

    service->Stop();
    appear("plavo-N2");
    service.reset();
    appear("plavo-N3");
    EXPECT_EQ(2U, _reports.size());
    EXPECT_EQ(Names({"plavo-N1", "plavo-N1"}), _network->Arguments("Resolve"));
}

TEST_F(DiscoveryTest, StartWhileActiveRunsNoFurtherCycle)
{
    _network->Announce(Device("plavo-A1"), Service("plavo-A1"));
    auto service = CreateService();
    service->Start();
    service->Start();
    _clock.RunPending();
    EXPECT_EQ(1U, BrowseCount());

    _clock.Advance(Seconds(3));
    service->Start();
    _clock.RunPending();
    EXPECT_EQ(1U, BrowseCount());
    _clock.Advance(Seconds(7));
    EXPECT_EQ(Names({"plavo-A1@0", "plavo-A1@10000"}), _reports);
    EXPECT_EQ(1U, _clock.PendingWaitCount());
    EXPECT_EQ(3U, _log.Count(log4cplus::INFO_LOG_LEVEL, "Start base station discovery"));
}

TEST_F(DiscoveryTest, StopCancelsTheWaitOnceAndOnlyWhileActive)
{
    auto service = CreateService();
    service->Stop();
    _clock.RunPending();
    EXPECT_EQ(0U, _timerControl->cancelCalls);

    service->Start();
    _clock.RunPending();
    EXPECT_EQ(1U, _clock.PendingWaitCount());
    service->Stop();
    _clock.RunPending();
    EXPECT_EQ(1U, _timerControl->cancelCalls);
    EXPECT_EQ(0U, _clock.PendingWaitCount());
    service->Stop();
    _clock.RunPending();
    EXPECT_EQ(1U, _timerControl->cancelCalls);

    _clock.Advance(Seconds(60));
    EXPECT_EQ(1U, BrowseCount());
    EXPECT_EQ(3U, _log.Count(log4cplus::INFO_LOG_LEVEL, "Stop base station discovery"));
}

TEST_F(DiscoveryTest, StartAfterStopSearchesAtOnce)
{
    _network->Announce(Device("plavo-A1"), Service("plavo-A1"));
    auto service = CreateService();
    service->Start();
    _clock.Advance(Seconds(3));
    service->Stop();
    service->Start();
    _clock.RunPending();
    EXPECT_EQ(Names({"plavo-A1@0", "plavo-A1@3000"}), _reports);
    _clock.Advance(Milliseconds(9999));
    EXPECT_EQ(2U, _reports.size());
    _clock.Advance(Milliseconds(1));
    EXPECT_EQ(Names({"plavo-A1@0", "plavo-A1@3000", "plavo-A1@13000"}), _reports);
    EXPECT_EQ(1U, _clock.PendingWaitCount());
}

TEST_F(DiscoveryTest, StartAndStopBeforeTheFirstCycleRanSearchNothing)
{
    auto service = CreateService();
    service->Start();
    service->Stop();
    _clock.Advance(Seconds(30));
    EXPECT_EQ(0U, BrowseCount());
    EXPECT_EQ(0U, _clock.PendingWaitCount());

    // Start, Stop, Start: one search.
    service->Start();
    service->Stop();
    service->Start();
    _clock.RunPending();
    EXPECT_EQ(1U, BrowseCount());
    EXPECT_EQ(1U, _clock.PendingWaitCount());
}

TEST_F(DiscoveryTest, AnExpiryThatRacedWithStopRunsNoCycle)
{
    _network->Announce(Device("plavo-A1"), Service("plavo-A1"));
    auto service = CreateService();
    service->Start();
    _clock.RunPending();

    // The wait expires; its handler is queued but has not run yet.
    _timerControl->holdCompletions = true;
    _clock.Advance(Seconds(10));
    ASSERT_EQ(1U, _timerControl->held.size());
    service->Stop();
    _clock.RunPending();
    ReleaseHeldCompletions();
    _clock.Advance(Seconds(30));
    EXPECT_EQ(1U, BrowseCount());

    // The same race followed by a restart: only the restart searches.
    service->Start();
    _clock.RunPending();
    EXPECT_EQ(2U, BrowseCount());
    _timerControl->holdCompletions = true;
    _clock.Advance(Seconds(10));
    ASSERT_EQ(1U, _timerControl->held.size());
    service->Stop();
    service->Start();
    _clock.RunPending();
    EXPECT_EQ(3U, BrowseCount());
    ReleaseHeldCompletions();
    EXPECT_EQ(3U, BrowseCount());
    _clock.Advance(Milliseconds(9999));
    EXPECT_EQ(3U, BrowseCount());
    _clock.Advance(Milliseconds(1));
    EXPECT_EQ(4U, BrowseCount());
    EXPECT_EQ(4U, _reports.size());
}

TEST_F(DiscoveryTest, ALateResolveAfterStopRestartOrDestructionIsDropped)
{
    _network->Announce(Device("plavo-A1"), Service("plavo-A1"));
    _network->SetResolveDelivery(Delivery::Held);
    auto service = CreateService();

    // While active a late answer is reported.
    service->Start();
    _clock.RunPending();
    EXPECT_TRUE(_reports.empty());
    EXPECT_EQ(1U, _network->ReleaseHeldResolves());
    _clock.RunPending();
    EXPECT_EQ(Names({"plavo-A1@0"}), _reports);

    // After Stop it is not.
    _clock.Advance(Seconds(10));
    service->Stop();
    EXPECT_EQ(1U, _network->ReleaseHeldResolves());
    _clock.RunPending();
    EXPECT_EQ(1U, _reports.size());

    // An answer of the search before a restart is not; the restart's is.
    service->Start();
    _clock.RunPending();
    service->Stop();
    service->Start();
    _clock.RunPending();
    EXPECT_EQ(2U, _network->HeldResolveCount());
    _network->ReleaseHeldResolves();
    _clock.RunPending();
    EXPECT_EQ(Names({"plavo-A1@0", "plavo-A1@10000"}), _reports);

    // After destruction nothing is touched.
    _clock.Advance(Seconds(10));
    EXPECT_EQ(1U, _network->HeldResolveCount());
    service.reset();
    EXPECT_EQ(0U, _network->ClientCount());
    EXPECT_EQ(1U, _network->ReleaseHeldResolves());
    _clock.Advance(Seconds(30));
    EXPECT_EQ(2U, _reports.size());
}

TEST_F(DiscoveryTest, DestructionReleasesTimerAndClientAndDropsQueuedWork)
{
    _network->Announce(Device("plavo-A1"), Service("plavo-A1"));
    auto service = CreateService();
    EXPECT_EQ(1U, _network->ClientCount());
    EXPECT_EQ(1U, _clock.TimerCount());
    service->Start();
    _clock.RunPending();
    EXPECT_EQ(1U, _clock.PendingWaitCount());
    service.reset();
    EXPECT_EQ(0U, _network->ClientCount());
    EXPECT_EQ(0U, _clock.TimerCount());
    EXPECT_EQ(0U, _clock.PendingWaitCount());

    // A search queued by Start and not yet run.
    service = CreateService();
    service->Start();
    service.reset();
    _clock.Advance(Seconds(30));
    EXPECT_EQ(1U, BrowseCount());
    EXPECT_EQ(1U, _reports.size());
}

TEST_F(DiscoveryTest, StartOnTheEventLoopSearchesRightThere)
{
    _network->Announce(Device("plavo-A1"), Service("plavo-A1"));
    auto service = CreateService();
    std::size_t reportsRightAfterStart = 0;
    boost::asio::post(_clock.GetIoService(), [&]() {
        service->Start();
        reportsRightAfterStart = _reports.size();
    });
    _clock.RunPending();
    EXPECT_EQ(1U, reportsRightAfterStart);

    // Started from elsewhere, the search waits for the event loop.
    service->Stop();
    service->Start();
    EXPECT_EQ(1U, _reports.size());
    _clock.RunPending();
    EXPECT_EQ(2U, _reports.size());
}

TEST_F(DiscoveryTest, TheDiscoveryCallbackMayStopTheSearch)
{
    _network->Announce(Device("plavo-A1"), Service("plavo-A1"));
    _network->Announce(Device("plavo-A2"), Service("plavo-A2"));
    std::unique_ptr<BaseStationDiscoveryService> service;
    service = CreateService([&](std::shared_ptr<ServiceInfo> found) {
        _reports.push_back(found->name);
        service->Stop();
    });
    service->Start();
    _clock.Advance(Seconds(30));
    EXPECT_EQ(Names({"plavo-A1"}), _reports);
    EXPECT_EQ(0U, _clock.PendingWaitCount());
}

TEST_F(DiscoveryTest, TheBeaconUsesTheTimersEventLoop)
{
    boost::asio::io_service* clientIoService = nullptr;
    BaseStationDiscoveryService::BaseStationSearchBeacon beacon(
        Timers(),
        [&](boost::asio::io_service& ioService) {
            clientIoService = &ioService;
            return FakeMDnsClient::Factory(_network)(ioService);
        },
        Seconds(10), [](std::shared_ptr<ServiceInfo>) {});
    EXPECT_EQ(&_clock.GetIoService(), &beacon.GetIoService());
    EXPECT_EQ(&_clock.GetIoService(), clientIoService);
}

TEST(DiscoveryDeathTest, AMissingTimerOrClientIsAProgrammingError)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    VirtualClockSystem clock;
    auto network = std::make_shared<Network>();
    const auto ignore = [](std::shared_ptr<ServiceInfo>) {};
    EXPECT_DEATH(BaseStationDiscoveryService([]() { return std::unique_ptr<Oru::WaitableTimer>(); },
                                             FakeMDnsClient::Factory(network), Seconds(10), ignore),
                 "FATAL .* ORU_ASSERT2\\(_nextBroadcast != nullptr\\) failed");
    EXPECT_DEATH(BaseStationDiscoveryService([&clock]() { return clock.CreateTimer(); },
                                             [](boost::asio::io_service&) { return std::unique_ptr<IMDnsClient>(); },
                                             Seconds(10), ignore),
                 "FATAL .* ORU_ASSERT2\\(_mDnsClient != nullptr\\) failed");
}

// The event loop on a worker thread with real timers, the host's thread
// starting and stopping the search: searches, resolves and reports all run on
// the worker.
TEST(DiscoveryOnAWorkerThread, StartAndStopFromTheHostsThreadAreSafe)
{
    LogCapture log;
    Oru::OperatingSystem operatingSystem{"DiscoveryThreadTest"};
    boost::asio::io_service ioService;
    auto work = boost::asio::make_work_guard(ioService);
    Oru::KernelClockSystem clock(ioService, operatingSystem);
    auto network = std::make_shared<Network>();
    network->Announce(Device("plavo-A1"), Service("plavo-A1"));
    network->SetResolveDelivery(Delivery::Posted);

    std::mutex mutex;
    std::condition_variable reported;
    std::size_t reports = 0;
    std::vector<std::thread::id> reportThreads;
    std::thread worker([&ioService]() { ioService.run(); });
    const auto workerId = worker.get_id();

    auto service = std::make_unique<BaseStationDiscoveryService>(
        [&clock]() { return clock.CreateTimer(); }, FakeMDnsClient::Factory(network),
        boost::chrono::microseconds(200), [&](std::shared_ptr<ServiceInfo> found) {
            std::lock_guard<std::mutex> lock(mutex);
            EXPECT_EQ("plavo-A1", found->name);
            reportThreads.push_back(std::this_thread::get_id());
            ++reports;
            reported.notify_all();
        });

    service->Start();
    {
        std::unique_lock<std::mutex> lock(mutex);
        EXPECT_TRUE(reported.wait_for(lock, std::chrono::seconds(10), [&]() { return reports >= 3; }));
    }
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
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& thread : reportThreads) {
        EXPECT_EQ(workerId, thread);
    }
    EXPECT_GE(reports, 3U);
    EXPECT_EQ(601U, log.Count(log4cplus::INFO_LOG_LEVEL, "Start base station discovery"));
    EXPECT_EQ(401U, log.Count(log4cplus::INFO_LOG_LEVEL, "Stop base station discovery"));
}

}  // namespace
