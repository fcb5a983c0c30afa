// The base station manager: discovery, firmware check, master election,
// station states as error-handler calls, write commands and lifetimes.
#include <future>
#include <thread>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "ManagerFixture.h"
#include "support/KernelClockSystem.h"
#include "support/OperatingSystem.h"

namespace Keldra {
namespace Testing {
namespace {

TEST_F(ManagerTest, WithoutStationsDiscoveryStaysOff)
{
    manager->Run();
    clock.RunPending();
    EXPECT_EQ(log.Count(WARN_LOG_LEVEL, "No base stations configured. Keep discovery disabled."), 1u);
    EXPECT_EQ(Browses(), 0u);
    EXPECT_THAT(errors->Calls(), ElementsAre("HandleGeneralError(0)"));
}

TEST_F(ManagerTest, AnnouncedStationIsFoundCheckedElectedAndPolled)
{
    Run([](FakeKeldraWebApi& webApi) { webApi.AnswerStatus(Station1Status()); });
    EXPECT_THAT(Messages(), ::testing::IsSupersetOf(std::vector<std::string>{
                                "Found missing base station 1: plavo-" + Id1 + ": 192.168.1.10:8443",
                                "Selecting base station 1 as system master", "Set system master: " + Id1,
                                "Stop base station discovery"}));
    ASSERT_EQ(webApis.CreatedCount(), 1u);
    EXPECT_EQ(webApis.Created(0)->GetParameters().endpoint.port(), 443) << "whatever port the announcement names";
    // A passed check takes back an unsupported firmware reported before.
    Calls expected{"HandleGeneralError(0)", "UnSetBaseStationMissing(1)", "UnSetUnsupportedFirmware(1)"};
    expected.insert(expected.end(), Complete1.begin(), Complete1.end());
    EXPECT_EQ(errors->Calls(), expected);
}

TEST_F(ManagerTest, KnownServicesAreNotCheckedAgainButChangedOnesAre)
{
    // Station 2 stays missing: the search goes on.
    Run([](FakeKeldraWebApi& webApi) { webApi.AnswerStatus(Station1Status()); }, true);
    network->Announce(Device("C9C9C9C9C9"), *MakeServiceInfo("C9C9C9C9C9", Address2));
    clock.Advance(SearchPeriod);
    EXPECT_EQ(log.Count(DEBUG_LOG_LEVEL, "Discovered base station not configured:plavo-C9C9C9C9C9: 192.168.1.11:8443"),
              1u);
    EXPECT_EQ(log.Count(DEBUG_LOG_LEVEL, "Base station 1 already known: plavo-" + Id1 + ": 192.168.1.10:8443"), 1u);
    EXPECT_EQ(webApis.CreatedCount(), 1u);
    EXPECT_EQ(WebApiAt(Address1)->Count(RequestKind::ShortInfo), 1u);

    // Moved to another address: a new web API object and a new check.
    Announce(Id1, Address2);
    clock.Advance(SearchPeriod);
    EXPECT_EQ(log.Count(INFO_LOG_LEVEL, "Updated base station 1: plavo-" + Id1 + ": 192.168.1.11:8443"), 1u);
    EXPECT_EQ(WebApiAt(Address2)->Count(RequestKind::ShortInfo), 1u);

    // While none can be created, the station keeps polling through the one it has.
    webApis.FailCreation(SystemError(boost::system::errc::not_enough_memory));
    Announce(Id1, Address1);
    const auto polls = WebApiAt(Address2)->Count(RequestKind::Status);
    clock.Advance(SearchPeriod);
    EXPECT_THAT(Messages(ERROR_LOG_LEVEL), ElementsAre("Failed to create web API interface for base station " + Id1 +
                                                       ": system:12 (Cannot allocate memory)"));
    EXPECT_EQ(webApis.CreatedCount(), 2u);
    EXPECT_EQ(WebApiAt(Address2)->Count(RequestKind::Status), polls + 2);
}

TEST_F(ManagerTest, TheStationPassingItsCheckFirstBecomesMaster)
{
    webApis.OnCreate([](FakeKeldraWebApi& webApi) {
        webApi.AnswerShortInfo(Firmware(std::string(KeldraWebApi::MinimalVersion())), Delivery::Held);
        webApi.AnswerStatus(AddressOf(webApi) == Address1 ? Station1Status(4, true, {-21}) : Station2Status(true));
    });
    manager->AddBaseStation(Station1());
    manager->AddBaseStation(Station2());
    Announce(Id1, Address1);
    Announce(Id2, Address2);
    manager->Run();
    clock.RunPending();
    WebApiAt(Address2)->ReleaseHeld();
    clock.RunPending();
    WebApiAt(Address1)->ReleaseHeld();
    clock.Advance(PollPeriod);
    EXPECT_EQ(log.Count(INFO_LOG_LEVEL, "Set system master: " + Id2), 1u);
    EXPECT_EQ(log.CountContaining("Selecting base station 1"), 0u);
    // Only the master's leaving-home status reaches the application.
    EXPECT_EQ(events.LeavingHome().size(), 2u);
    EXPECT_EQ(events.Systems().size(), 4u);
    // Once station 1 has reported its error, every error status says a station has one.
    const auto statuses = events.Errors();
    ASSERT_EQ(statuses.size(), 4u);
    for (const auto& status : statuses) {
        EXPECT_EQ(status.state.hasError, status.station == StationNumber(1));
        EXPECT_EQ(status.anyStationHasError, &status != &statuses[0]);
    }
}

// Regression: such a station was searched for again in a tight loop.
TEST_F(ManagerTest, StationFailingEveryCheckIsRetriedOncePerSearchPeriod)
{
    Run([](FakeKeldraWebApi& webApi) { webApi.AnswerShortInfo(Firmware(std::string("1.0.0"))); });
    // The first failure searches again at once, the next waits.
    EXPECT_EQ(webApis.CreatedCount(), 2u);
    clock.Advance(SearchPeriod);
    EXPECT_EQ(webApis.CreatedCount(), 3u);
    clock.Advance(SearchPeriod * 3);
    EXPECT_EQ(webApis.CreatedCount(), 6u);
    EXPECT_EQ(log.Count(ERROR_LOG_LEVEL, "Minimal version requirement not met " + Where1 + ": 1.0.0"), 6u);
}

// A failed poll logs its error, becomes a station state, and the state
// error-handler calls; the first four states invalidate the station.
TEST_F(ManagerTest, EveryStateEndsInItsErrorHandlerCalls)
{
    using Drive = std::function<void(ManagerTest&)>;
    // The answers of the next polls, one per poll period.
    const auto polls = [](std::vector<Oru::SystemResult<KeldraJson::StatusObject>> answers) -> Drive {
        return [answers](ManagerTest& test) {
            for (const auto& answer : answers) {
                test.PollWith(answer);
            }
        };
    };
    const auto timedOut = SystemError(boost::system::errc::timed_out);
    // The first status found the elements: a station that starts with this one.
    const auto startWith = [](KeldraJson::StatusObject status) -> Drive {
        return [status](ManagerTest& test) {
            test.Recreate();
            test.StartWithStation1(status);
            test.clock.Advance(PollPeriod);
        };
    };
    const auto with = [](Calls calls, const char* general) {
        calls.insert(calls.end(), {"UnSetInvalidCredentials(1)", "UnSetCommunicationError(1)", general});
        return calls;
    };
    const Calls missing{"SetBaseStationMissing(1)", "HandleGeneralError(0)"};
    const Calls communication{"SetCommunicationError(1)", "HandleGeneralError(0)"};
    const Calls badResponse = with({}, "HandleGeneralError(10)");
    const Calls unexpected{"HandleGeneralError(100)"};
    const struct {
        Drive drive;
        Calls calls;
        int invalidated;  // -1: not looked at
    } cases[] = {
        {polls({SystemError(boost::system::errc::host_unreachable)}), missing, 1},
        {polls({SystemError(boost::system::errc::connection_reset)}), communication, 1},
        {polls({SystemError(boost::system::errc::connection_refused)}), communication, 1},
        {polls({SystemError(boost::system::errc::operation_canceled)}), communication, 1},
        {polls({boost::system::error_code(boost::asio::ssl::error::stream_truncated)}), communication, 1},
        {polls({make_error_code(BaseStationRequestError::StationKeyMismatch)}), communication, 1},
        {polls({make_error_code(BaseStationRequestError::CredentialsRefused)}),
         {"SetInvalidCredentials(1)", "UnSetCommunicationError(1)", "HandleGeneralError(0)"}, 1},
        {[](ManagerTest& test) {
             // A new address brings a new web API object and a new check;
             // station 2 keeps discovery going.
             test.webApis.OnCreate([](FakeKeldraWebApi& webApi) { webApi.AnswerShortInfo(Firmware(std::string("1.3.99"))); });
             test.manager->AddBaseStation(Station2());
             test.Announce(Id1, Address2);
             test.manager->EnableDiscovery();
             test.clock.RunPending();
             test.network->WithdrawAll();
         },
         with({"UnSetBaseStationMissing(1)", "SetUnsupportedFirmware(1)"}, "HandleGeneralError(0)"), -1},
        {polls({boost::system::errc::make_error_code(boost::system::errc::bad_message)}), badResponse, 0},
        {polls({make_error_code(BaseStationRequestError::UnusableMessage)}), badResponse, 0},
        {polls({timedOut}), unexpected, 0},
        // Unanswered three times in a row: unreachable.
        {polls({timedOut, timedOut, timedOut}),
         {"HandleGeneralError(100)", "HandleGeneralError(100)", "SetCommunicationError(1)", "HandleGeneralError(0)"}, 1},
        {[](ManagerTest& test) {
             test.WebApiAt(Address1)->AnswerStatus(Station1Status(), Delivery::Held);
             test.clock.Advance(PollPeriod * 4);
         },
         communication, 1},
        {polls({timedOut, timedOut, Station1Status(), timedOut}),
         {"HandleGeneralError(100)", "HandleGeneralError(100)", "UnSetActorModuleMissing(1)",
          "UnSetRoomThermostatMissing(1)", "UnSetInvalidCredentials(1)", "UnSetCommunicationError(1)",
          "HandleGeneralError(0)", "HandleGeneralError(100)"},
         0},
        {polls({make_error_code(BaseStationRequestError::Timeout)}), unexpected, 0},
        {polls({boost::system::errc::make_error_code(boost::system::errc::connection_refused)}), unexpected, 0},
        {startWith(MakeStatus({ThermostatRoom(1, "XXXXXXXX", 20.0)})),
         with({"SetRoomThermostatMissing(1)", "SetActorModuleMissing(1)"}, "HandleGeneralError(0)"), 0},
        {startWith(MakeStatus({ThermostatRoom(1, "THERM001", 20.0), ThermostatRoom(2, "THERM002", 20.0)})),
         with({"SetActorModuleMissing(1)", "UnSetRoomThermostatMissing(1)"}, "HandleGeneralError(0)"), 0},
        {startWith(MakeStatus({PowerLevelRoom(1, {3}, 4)})),
         with({"SetRoomThermostatMissing(1)", "UnSetActorModuleMissing(1)"}, "HandleGeneralError(0)"), 0},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(::testing::PrintToString(entry.calls));
        Recreate();
        StartWithStation1();
        entry.drive(*this);
        EXPECT_EQ(errors->Calls(), entry.calls);
        if (entry.invalidated < 0) {
            continue;
        }
        EXPECT_EQ(Browses(), unsigned(entry.invalidated));
        EXPECT_EQ(log.Count(INFO_LOG_LEVEL, "Unset system master: " + Id1), unsigned(entry.invalidated));
        // Only a station that is still valid polls on.
        const auto before = WebApiAt(Address1)->Count(RequestKind::Status);
        clock.Advance(PollPeriod);
        EXPECT_EQ(WebApiAt(Address1)->Count(RequestKind::Status), before + 1 - entry.invalidated);
    }
}

// The key of the first contact is stored and trusted by the next web API
// object; another key is logged with both and kept for the user to accept.
// The station it invalidated is searched for, found again and checked anew.
TEST_F(ManagerTest, StationKeyIsTrustedFromTheFirstContactOn)
{
    Run([](FakeKeldraWebApi& webApi) {
        webApi.PresentStationKey("aa:01");
        webApi.AnswerStatus(Station1Status());
    });
    EXPECT_EQ(config->trustedKeys, (std::map<std::string, std::string>{{Id1, "aa:01"}}));
    network->WithdrawAll();
    WebApiAt(Address1)->PresentStationKey("bb:02");
    PollWith(make_error_code(BaseStationRequestError::StationKeyMismatch));
    EXPECT_EQ(config->trustedKeys, (std::map<std::string, std::string>{{Id1, "aa:01"}}));
    EXPECT_EQ(config->presentedKeys, (std::map<std::string, std::string>{{Id1, "bb:02"}}));
    EXPECT_THAT(log.Messages(ERROR_LOG_LEVEL),
                Contains("Base station " + Id1 + " presented another key; nothing was sent to it. "
                                                 "Trusted key: aa:01, presented key: bb:02"));

    config->trustedKeys[Id1] = "bb:02";  // accepted on the page
    Forget();
    Announce(Id1, Address1);
    clock.Advance(SearchPeriod);
    EXPECT_EQ(webApis.CreatedCount(), 2u);
    EXPECT_EQ(WebApiAt(Address1)->GetParameters().trustedStationKey, boost::optional<std::string>("bb:02"));
    EXPECT_EQ(log.Count(INFO_LOG_LEVEL, "Selecting base station 1 as system master"), 1u);
    EXPECT_EQ(WebApiAt(Address1)->Count(RequestKind::Status), 1u);
    EXPECT_THAT(errors->Calls(), Contains("UnSetBaseStationMissing(1)"));
}

TEST_F(ManagerTest, PollStillInFlightAfterFiveSecondsIsCancelledQuietly)
{
    StartWithStation1();
    const auto webApi = WebApiAt(Address1);
    webApi->AnswerStatus(Station1Status(), Delivery::Held);
    clock.Advance(PollPeriod * 2);
    EXPECT_EQ(webApi->HeldCount(RequestKind::Status), 1u);
    EXPECT_THAT(Messages(ERROR_LOG_LEVEL),
                ElementsAre("Failed to get status " + Where1 + ": generic:125 (Operation canceled)"));
    EXPECT_THAT(errors->Calls(), IsEmpty());
    EXPECT_THAT(events.Systems(), IsEmpty());
    // The mapping stayed: a setpoint goes to its room at once.
    manager->SetSetpointTemperature(0, 1, HalfDegreeTemperature::CreateFrom(40));
    clock.RunPending();
    ASSERT_EQ(webApi->Count(RequestKind::SetpointTemperature), 1u);
    EXPECT_EQ(webApi->Requests(RequestKind::SetpointTemperature)[0].room, RoomOf(2));
}

// Per room and value only the newest write is on its way; the writes of a
// lost connection are withdrawn, not sent, and the bus says so.
TEST_F(ManagerTest, OnlyTheNewestWriteIsOnItsWayAndNoneOfALostConnection)
{
    StartWithStation1();
    const auto lost = WebApiAt(Address1);
    lost->AnswerWrite(RequestKind::SetpointTemperature, WriteResponseStatus::Accepted, Delivery::Held);
    for (int write = 0; write < 10; ++write) {
        manager->SetSetpointTemperature(0, write % 2, HalfDegreeTemperature::CreateFrom(33 + write));
    }
    clock.RunPending();
    EXPECT_EQ(lost->HeldCount(), 2u) << "one write per room on its way";
    PollWith(SystemError(boost::system::errc::host_unreachable));
    EXPECT_EQ(lost->HeldCount(), 0u) << "withdrawn, not sent";
    EXPECT_THAT(errors->Calls(), Contains("HandleGeneralError(100)"));
    EXPECT_EQ(log.CountContaining("   # set temperature (0/"), 10u) << "every command completes once";
}

TEST_F(ManagerTest, EachCommandLogsItsLineOnTheCallersThreadAndItsCompletion)
{
    StartWithStation1();
    const struct {
        std::function<void(BaseStationManager&)> command;
        std::string line, done;
        RequestKind kind;
    } cases[] = {
        {[](auto& m) { m.SetPowerLevelValue(0, 0, PowerLevel::CreateFrom(10)); },
         "Set power level setpoint to '0a' (0/0)", "   # set power level (0/0) done", RequestKind::PowerLevel},
        {[](auto& m) { m.SetPowerLevelPercent(0, 0, *KnxBytePercent::CreateFrom(128)); },
         "Set power level percent setpoint to '80' (0/0)", "   # set power level percent (0/0) done",
         RequestKind::PowerLevel},
        {[](auto& m) { m.SetPowerLevelUpDown(0, 0, false); }, "Set power level step 'down' (0/0)",
         "   # set power level step (0/0) done", RequestKind::PowerLevel},
        {[](auto& m) { m.SetSetpointTemperature(0, 1, HalfDegreeTemperature::CreateFrom(43)); },
         "Set temperature setpoint to '21.5' (0/1)", "   # set temperature (0/1) done", RequestKind::SetpointTemperature},
        {[](auto& m) { m.SetLeavingHome(true, boost::none); }, "Set leaving home to 'on'",
         "   # leaving home set: base station 1 done", RequestKind::LeavingHome},
        {[](auto& m) { m.SetCoolingMode(false); }, "Set cooling mode to 'off'",
         "   # cooling mode set : base station 1 done", RequestKind::CoolingMode},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.line);
        log.Clear();
        const auto before = WebApiAt(Address1)->Count(entry.kind);
        entry.command(*manager);
        EXPECT_THAT(Messages(), ElementsAre(entry.line));
        clock.Advance(StepWindow);
        EXPECT_EQ(WebApiAt(Address1)->Count(entry.kind), before + 1);
        EXPECT_EQ(log.Count(INFO_LOG_LEVEL, entry.done), 1u);
    }
    log.Clear();
    manager->SetLeavingHome(true, boost::posix_time::ptime(boost::gregorian::date(2024, 3, 5),
                                                           boost::posix_time::hours(18) + boost::posix_time::minutes(30)));
    EXPECT_THAT(Messages(), ElementsAre("Set leaving home to 'on'", "   # arrival time: 2024-Mar-05 18:30:00"));
    manager->AddBaseStation(Station2());  // the numbers after a power level stay hexadecimal: slot 10 is "a"
    manager->SetPowerLevelValue(1, 10, PowerLevel::CreateFrom(7));
    manager->SetPowerLevelPercent(1, 10, *KnxBytePercent::CreateFrom(255));
    EXPECT_THAT(Messages(), ::testing::IsSupersetOf({"Set power level setpoint to '07' (1/a)",
                                                     "Set power level percent setpoint to 'ff' (1/a)"}));
}

TEST_F(ManagerTest, LeavingHomeIsSwitchedOffBeforeARoomValueAndAStepStartsFromTheCurrentLevel)
{
    StartWithStation1(Station1Status(4, true));  // the master reports leaving home on
    manager->SetPowerLevelUpDown(0, 0, true);
    clock.Advance(StepWindow);
    EXPECT_THAT(Messages(), ::testing::IsSupersetOf(std::vector<std::string>{
                                "Auto-disabling leaving home mode", "Set leaving home to 'off'",
                                "   # Set power level steps start value: 4 (1/0)"}));
    const auto writes = WebApiAt(Address1)->Requests();
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ(writes[writes.size() - 2].kind, RequestKind::LeavingHome);
    EXPECT_FALSE(writes[writes.size() - 2].flag);
    EXPECT_EQ(writes[writes.size() - 2].arrival, boost::none);
    EXPECT_EQ(writes.back().level, PowerLevel::CreateFrom(5));
    // The accepted switch-off is published; the next write needs none.
    EXPECT_THAT(events.LeavingHome(), ElementsAre(KeldraJson::LeavingHomeObject{}));
    log.Clear();
    manager->SetPowerLevelValue(0, 0, PowerLevel::CreateFrom(2));
    EXPECT_THAT(Messages(), ElementsAre("Set power level setpoint to '02' (0/0)"));
}

TEST_F(ManagerTest, IndicesBeyondTheConfigurationThrowBeforeAnythingIsQueued)
{
    StartWithStation1();
    EXPECT_THROW(manager->SetSetpointTemperature(1, 0, HalfDegreeTemperature::CreateFrom(40)), std::out_of_range);
    EXPECT_THROW(manager->SetPowerLevelValue(4, 0, PowerLevel::CreateFrom(1)), std::out_of_range);
    EXPECT_THROW(manager->SetSetpointTemperature(0, 2, HalfDegreeTemperature::CreateFrom(40)), std::out_of_range);
    EXPECT_THROW(manager->SetPowerLevelPercent(0, 1, *KnxBytePercent::CreateFrom(1)), std::out_of_range);
    EXPECT_THROW(manager->SetPowerLevelUpDown(0, 11, true), std::out_of_range);
    clock.Advance(boost::chrono::seconds(1));
    EXPECT_EQ(WebApiAt(Address1)->Requests().size(), 2u) << "the short information and the first status";
}

TEST_F(ManagerTest, TerminateStopsDiscoveryAndPolling)
{
    StartWithStation1();
    manager->AddBaseStation(Station2());
    manager->EnableDiscovery();
    clock.RunPending();
    log.Clear();
    const auto polls = WebApiAt(Address1)->Count(RequestKind::Status);
    manager->Terminate();
    EXPECT_THAT(Messages(), ElementsAre("Stop base station discovery if in progress", "Stop base station discovery",
                                        "Stop polling base station values"));
    clock.Advance(SearchPeriod * 3);
    EXPECT_EQ(WebApiAt(Address1)->Count(RequestKind::Status), polls);
}

// Every answer handler holds a weak handle: answers that arrive after the
// manager and its stations are gone do nothing.
TEST_F(ManagerTest, DestroyedWithWorkInFlightReportsNothingAfterwards)
{
    StartWithStation1();
    manager->AddBaseStation(Station2());
    manager->AddBaseStation(Station3());
    const auto webApi = WebApiAt(Address1);
    webApi->AnswerStatus(Station1Status(), Delivery::Held);
    for (const auto kind : {RequestKind::SetpointTemperature, RequestKind::PowerLevel, RequestKind::CoolingMode,
                            RequestKind::LeavingHome}) {
        webApi->AnswerWrite(kind, WriteResponseStatus::Accepted, Delivery::Held);
    }
    clock.Advance(PollPeriod);
    // A firmware check under way for station 2, a resolve under way.
    webApis.OnCreate([](FakeKeldraWebApi& created) { created.AnswerShortInfo(Firmware(std::string("9.9.9")), Delivery::Held); });
    Announce(Id2, Address2);
    manager->EnableDiscovery();
    clock.RunPending();
    network->HoldResolves();
    clock.Advance(SearchPeriod);
    ASSERT_GT(network->HeldResolveCount(), 0u);
    // Writes: answered later, queued and not yet handed over, in the step
    // window.
    manager->SetSetpointTemperature(0, 0, HalfDegreeTemperature::CreateFrom(40));
    manager->SetPowerLevelValue(0, 0, PowerLevel::CreateFrom(2));
    manager->SetCoolingMode(true);
    clock.RunPending();
    manager->SetPowerLevelUpDown(0, 0, true);
    clock.RunPending();
    manager->SetLeavingHome(true, boost::none);
    manager->Terminate();
    ASSERT_EQ(webApi->HeldCount(), 4u);
    ASSERT_EQ(WebApiAt(Address2)->HeldCount(), 1u);

    events.Clear();
    manager.reset();
    log.Clear();
    for (std::size_t index = 0; index < webApis.CreatedCount(); ++index) {
        webApis.Created(index)->ReleaseHeld();
    }
    network->ReleaseHeldResolves();
    clock.Advance(SearchPeriod * 3);
    EXPECT_THAT(events.Systems(), IsEmpty());
    EXPECT_THAT(events.RoomTemperatures(), IsEmpty());
    EXPECT_THAT(events.CoolingModes(), IsEmpty());
    for (const auto& entry : log.Entries()) {
        ADD_FAILURE() << "logged after destruction: " << entry.source << ": " << entry.message;
    }
    EXPECT_EQ(clock.PendingWaitCount(), 0u);
}

// A real worker thread runs the event loop on kernel timers while the test
// thread, as the host does, sends write commands, switches discovery off and
// on, and terminates; the searches for the missing station 2 stay on the
// worker.
TEST(ManagerThreadTest, HostCommandsRaceNothingOnTheWorkerThread)
{
    Oru::OperatingSystem operatingSystem{"ManagerThreadTest"};
    boost::asio::io_service ioService;
    Oru::KernelClockSystem clock(ioService, operatingSystem);
    FakeWebApiFactory webApis;
    webApis.OnCreate([](FakeKeldraWebApi& webApi) { webApi.AnswerStatus(Station1Status()); });
    auto network = std::make_shared<FakeMDnsClient::Network>();
    network->Announce(Device(Id1), *MakeServiceInfo(Id1, Address1));
    RecordingBaseStationEventHandler events;
    auto manager = std::make_unique<BaseStationManager>(
        ioService, [&clock]() { return clock.CreateTimer(); }, FakeMDnsClient::Factory(network), webApis.Factory(),
        events, std::make_unique<RecordingErrorHandler>(), std::make_unique<FakeConfigurationManager>());
    manager->AddBaseStation(Station1());
    manager->AddBaseStation(Station2());
    auto work = boost::asio::make_work_guard(ioService);
    std::thread worker([&ioService]() { ioService.run(); });
    const auto workerId = worker.get_id();
    // Returns when the worker has run everything queued before.
    const auto drain = [&ioService]() {
        std::promise<void> done;
        boost::asio::post(ioService, [&done]() { done.set_value(); });
        done.get_future().wait();
    };
    manager->Run();
    for (int round = 0; round < 10000 && events.Systems().empty(); ++round) {
        drain();
    }
    ASSERT_FALSE(events.Systems().empty()) << "station 1 found and polled";
    for (unsigned value = 0; value < 50; ++value) {
        manager->SetSetpointTemperature(0, value % 2, HalfDegreeTemperature::CreateFrom(20 + value % 20));
        manager->SetPowerLevelValue(0, 0, PowerLevel::CreateFrom(value % 11));
        manager->SetPowerLevelPercent(0, 0, *KnxBytePercent::CreateFrom(value * 5));
        manager->SetPowerLevelUpDown(0, 0, value % 3 == 0);
        manager->SetCoolingMode(value % 2 == 0);
        manager->SetLeavingHome(value % 4 == 0, boost::none);
        manager->DisableDiscovery();
        manager->EnableDiscovery();
    }
    manager->Terminate();
    drain();
    work.reset();
    ioService.stop();
    worker.join();
    EXPECT_EQ(webApis.Created(0)->Count(RequestKind::SetpointTemperature), 50u);
    EXPECT_EQ(webApis.Created(0)->Count(RequestKind::CoolingMode), 50u);
    for (const auto& call : network->Calls()) {
        EXPECT_EQ(call.thread, workerId) << call.operation;
    }
}

}  // namespace
}  // namespace Testing
}  // namespace Keldra
