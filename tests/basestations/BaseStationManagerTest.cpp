// The base station manager with discovery, stations, error handler and
// application: fakes for the network (mDNS, web API) and recorders for what
// the manager reports.
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/optional/optional_io.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "BaseStationTestSupport.h"
#include "FakeKeldraWebApi.h"
#include "FakeMDnsClient.h"
#include "LogCapture.h"
#include "RecordingBaseStationEventHandler.h"
#include "RecordingErrorHandler.h"
#include "VirtualClockSystem.h"
#include "basestations/BaseStationManager.h"
#include "basestations/BaseStationRequestError.h"
#include "basestations/KeldraWebApi.h"
#include "support/KernelClockSystem.h"
#include "support/OperatingSystem.h"

namespace Keldra {
namespace Testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::Not;
using Calls = std::vector<std::string>;

const std::string Id1 = "A1B2C3D4E5";
const std::string Id2 = "B1B2C3D4E5";
constexpr std::uint32_t Address1 = 0xC0A8010A;  // 192.168.1.10
constexpr std::uint32_t Address2 = 0xC0A8010B;  // 192.168.1.11
const Oru::WaitableTimer::Duration PollPeriod = boost::chrono::seconds(5);
const Oru::WaitableTimer::Duration SearchPeriod = boost::chrono::seconds(10);

boost::system::error_code SystemError(boost::system::errc::errc_t value)
{
    return boost::system::error_code(value, boost::system::system_category());
}

KeldraJson::BaseStationShortInfoMessage Firmware(const std::string& version)
{
    return KeldraJson::BaseStationShortInfoMessage{version, boost::none, boost::none};
}

// Station 1: actor module 3 in slot 1, thermostats THERM001 and THERM002.
// Station 2: actor modules 1 to 11, thermostat THERM101.
BaseStationProperties Station1() { return MakeProperties(1, Id1, {3}, {"THERM001", "THERM002"}); }
BaseStationProperties Station2()
{
    return MakeProperties(2, Id2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, {"THERM101"});
}
// Never announced.
BaseStationProperties Station3() { return MakeProperties(3, "C1C1C1C1C1", {}, {"THERM301"}); }

KeldraJson::StatusObject Station1Status(std::uint8_t level = 4, bool leavingHome = false)
{
    return MakeStatus({ThermostatRoom(21, "THERM001", 21.0, 5.0, 25.0), ThermostatRoom(22, "THERM002", 19.5),
                       PowerLevelRoom(23, {3}, level)},
                      {}, leavingHome);
}

KeldraJson::StatusObject Station2Status(bool leavingHome = false)
{
    std::vector<KeldraJson::RoomObject> rooms{ThermostatRoom(1, "THERM101", 20.0)};
    for (int actor = 1; actor <= 11; ++actor) {
        rooms.push_back(PowerLevelRoom(static_cast<unsigned>(actor + 1), {actor}, 2));
    }
    return MakeStatus(rooms, {}, leavingHome);
}

DeviceInfo Device(const std::string& id) { return DeviceInfo{"plavo-" + id, "_https._tcp", "local", 2}; }

class ManagerTest : public ::testing::Test {
public:
    ManagerTest()
    {
        auto errorHandler = std::make_unique<RecordingErrorHandler>();
        errors = errorHandler.get();
        auto configManager = std::make_unique<FakeConfigurationManager>();
        config = configManager.get();
        manager = std::make_unique<BaseStationManager>(
            clock.GetIoService(), [this]() { return clock.CreateTimer(); }, FakeMDnsClient::Factory(network),
            webApis.Factory(), events, std::move(errorHandler), std::move(configManager));
    }

    void Announce(const std::string& id, std::uint32_t address)
    {
        network->Withdraw("plavo-" + id);
        network->Announce(Device(id), *MakeServiceInfo(id, address));
    }

    // The web API object last created for the station at this address.
    std::shared_ptr<FakeKeldraWebApi> WebApiAt(std::uint32_t address) const
    {
        std::shared_ptr<FakeKeldraWebApi> found;
        for (std::size_t index = 0; index < webApis.CreatedCount(); ++index) {
            const auto webApi = webApis.Created(index);
            if (webApi->GetParameters().endpoint.address().to_v4().to_uint() == address) {
                found = webApi;
            }
        }
        return found;
    }

    // Station 1 found, checked, master and polled once with a complete
    // status; the network no longer announces it and the calls so far are
    // forgotten.
    void StartWithStation1(const KeldraJson::StatusObject& status = Station1Status())
    {
        webApis.OnCreate([status](FakeKeldraWebApi& webApi) { webApi.AnswerStatus(status); });
        manager->AddBaseStation(Station1());
        Announce(Id1, Address1);
        manager->Run();
        clock.RunPending();
        ASSERT_NE(WebApiAt(Address1), nullptr);
        ASSERT_EQ(WebApiAt(Address1)->Count(RequestKind::Status), 1u);
        network->WithdrawAll();
        network->ClearCalls();
        errors->Clear();
        events.Clear();
        log.Clear();
    }

    std::size_t Browses() const { return network->Arguments("Browse").size(); }

    Oru::Testing::VirtualClockSystem clock;
    Oru::Testing::LogCapture log;
    FakeWebApiFactory webApis;
    std::shared_ptr<FakeMDnsClient::Network> network = std::make_shared<FakeMDnsClient::Network>();
    RecordingBaseStationEventHandler events;
    RecordingErrorHandler* errors = nullptr;
    FakeConfigurationManager* config = nullptr;
    std::unique_ptr<BaseStationManager> manager;
};

// ---------------------------------------------------------------------------
// Discovery, firmware check, master election

TEST_F(ManagerTest, WithoutStationsDiscoveryStaysOff)
{
    manager->Run();
    clock.RunPending();
    EXPECT_EQ(log.Count(log4cplus::WARN_LOG_LEVEL, "No base stations configured. Keep discovery disabled."), 1u);
    EXPECT_EQ(Browses(), 0u);
    EXPECT_THAT(errors->Calls(), ElementsAre("HandleGeneralError(0)"));
}

TEST_F(ManagerTest, AnnouncedStationIsFoundCheckedElectedAndPolled)
{
    webApis.OnCreate([](FakeKeldraWebApi& webApi) { webApi.AnswerStatus(Station1Status()); });
    manager->AddBaseStation(Station1());
    Announce(Id1, Address1);
    // Neither a name without the prefix nor a wrong vendor is ever used.
    network->Announce(DeviceInfo{"Plavo-" + Id1, "_https._tcp", "local", 2}, *MakeServiceInfo(Id1, Address2));
    auto wrongVendor = MakeServiceInfo("C1B2C3D4E5", Address2);
    wrongVendor->txt["Vendor"] = "keldra";
    network->Announce(Device("C1B2C3D4E5"), *wrongVendor);

    manager->Run();
    clock.RunPending();

    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Found missing base station 1: plavo-" + Id1 + ": 192.168.1.10:8443"),
              1u);
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Selecting base station 1 as system master"), 1u);
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Set system master: " + Id1), 1u);
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Stop base station discovery"), 1u);
    ASSERT_EQ(webApis.CreatedCount(), 1u);
    const auto webApi = webApis.Last();
    EXPECT_EQ(webApi->GetParameters().endpoint.port(), 443);
    EXPECT_EQ(webApi->Count(RequestKind::ShortInfo), 1u);
    EXPECT_EQ(webApi->Count(RequestKind::Status), 1u);
    EXPECT_THAT(errors->Calls(),
                ElementsAre("HandleGeneralError(0)", "UnSetBaseStationMissing(1)", "UnSetActorModuleMissing(1)",
                            "UnSetRoomThermostatMissing(1)", "UnSetInvalidCredentials(1)",
                            "UnSetCommunicationError(1)", "HandleGeneralError(0)"));
    ASSERT_EQ(events.Systems().size(), 1u);
    EXPECT_TRUE(events.Systems()[0].isSystemMaster);

    // Polled every 5 seconds; no further search while no station is missing.
    const auto browses = Browses();
    clock.Advance(PollPeriod);
    EXPECT_EQ(webApi->Count(RequestKind::Status), 2u);
    clock.Advance(SearchPeriod * 2);
    EXPECT_EQ(webApi->Count(RequestKind::Status), 6u);
    EXPECT_EQ(Browses(), browses);
    EXPECT_EQ(webApi->Count(RequestKind::ShortInfo), 1u);
}

TEST_F(ManagerTest, InvalidatedStationIsSearchedForAgain)
{
    StartWithStation1();
    const auto webApi = WebApiAt(Address1);
    webApi->AnswerStatus(SystemError(boost::system::errc::host_unreachable));
    clock.Advance(PollPeriod);

    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Unset system master: " + Id1), 1u);
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Start base station discovery"), 1u);
    EXPECT_EQ(Browses(), 1u);
    EXPECT_THAT(errors->Calls(), ElementsAre("SetBaseStationMissing(1)", "HandleGeneralError(0)"));

    // Polling has stopped; the search goes on every 10 seconds.
    clock.Advance(SearchPeriod);
    EXPECT_EQ(webApi->Count(RequestKind::Status), 2u);
    EXPECT_EQ(Browses(), 2u);

    // Found again: a new web API object, a new check, master again.
    Announce(Id1, Address1);
    clock.Advance(SearchPeriod);
    EXPECT_EQ(webApis.CreatedCount(), 2u);
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Selecting base station 1 as system master"), 1u);
    EXPECT_EQ(WebApiAt(Address1)->Count(RequestKind::Status), 1u);
    EXPECT_THAT(errors->Calls(), Contains("UnSetBaseStationMissing(1)"));
}

TEST_F(ManagerTest, KnownServicesAreNotCheckedAgainButChangedOnesAre)
{
    webApis.OnCreate([](FakeKeldraWebApi& webApi) { webApi.AnswerStatus(Station1Status()); });
    manager->AddBaseStation(Station1());
    manager->AddBaseStation(Station2());
    Announce(Id1, Address1);
    network->Announce(Device("C9C9C9C9C9"), *MakeServiceInfo("C9C9C9C9C9", Address2));
    manager->Run();
    clock.RunPending();
    EXPECT_EQ(log.Count(log4cplus::DEBUG_LOG_LEVEL,
                        "Discovered base station not configured:plavo-C9C9C9C9C9: 192.168.1.11:8443"),
              1u);
    EXPECT_EQ(webApis.CreatedCount(), 1u);

    // Station 2 is still missing: the search goes on and finds station 1
    // unchanged.
    clock.Advance(SearchPeriod);
    EXPECT_EQ(log.Count(log4cplus::DEBUG_LOG_LEVEL,
                        "Base station 1 already known: plavo-" + Id1 + ": 192.168.1.10:8443"),
              1u);
    EXPECT_EQ(webApis.CreatedCount(), 1u);
    EXPECT_EQ(webApis.Last()->Count(RequestKind::ShortInfo), 1u);

    // Moved to another address: a new web API object and a new check.
    Announce(Id1, Address2);
    clock.Advance(SearchPeriod);
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Updated base station 1: plavo-" + Id1 + ": 192.168.1.11:8443"),
              1u);
    EXPECT_EQ(webApis.CreatedCount(), 2u);
    EXPECT_EQ(WebApiAt(Address2)->Count(RequestKind::ShortInfo), 1u);
    // Station 2 is still missing, so the search still runs.
    const auto browses = Browses();
    clock.Advance(SearchPeriod);
    EXPECT_EQ(Browses(), browses + 1);
}

TEST_F(ManagerTest, SecondStationPassingItsCheckFirstBecomesMaster)
{
    webApis.OnCreate([](FakeKeldraWebApi& webApi) {
        webApi.AnswerShortInfo(Firmware(KeldraWebApi::MinimalVersion()), Delivery::Held);
        webApi.AnswerStatus(webApi.GetParameters().endpoint.address().to_v4().to_uint() == Address1
                                ? Station1Status(4, true)
                                : Station2Status(true));
    });
    manager->AddBaseStation(Station1());
    manager->AddBaseStation(Station2());
    Announce(Id1, Address1);
    Announce(Id2, Address2);
    manager->Run();
    clock.RunPending();
    ASSERT_EQ(webApis.CreatedCount(), 2u);

    WebApiAt(Address2)->ReleaseHeld();
    clock.RunPending();
    WebApiAt(Address1)->ReleaseHeld();
    clock.RunPending();
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Selecting base station 2 as system master"), 1u);
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Set system master: " + Id2), 1u);
    EXPECT_EQ(log.CountContaining("Selecting base station 1"), 0u);
    EXPECT_EQ(WebApiAt(Address1)->Count(RequestKind::Status), 1u);
    // Only the master's leaving-home status reaches the application.
    EXPECT_EQ(events.LeavingHome().size(), 1u);
    clock.Advance(PollPeriod);
    EXPECT_EQ(events.LeavingHome().size(), 2u);
    EXPECT_EQ(events.Systems().size(), 4u);

    // The master fails with a communication error: it loses the role and
    // is searched for; found again, it is master again.
    WebApiAt(Address2)->AnswerStatus(SystemError(boost::system::errc::connection_refused));
    errors->Clear();
    const auto browses = Browses();
    clock.Advance(PollPeriod);
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Unset system master: " + Id2), 1u);
    EXPECT_THAT(errors->Calls(), Contains("SetCommunicationError(2)"));
    EXPECT_GT(Browses(), browses);
    EXPECT_EQ(webApis.CreatedCount(), 3u);
    WebApiAt(Address2)->ReleaseHeld();
    clock.RunPending();
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Selecting base station 2 as system master"), 2u);
    EXPECT_EQ(log.CountContaining("Selecting base station 1"), 0u);
}

TEST_F(ManagerTest, StationFailingEveryCheckIsRetriedOncePerSearchPeriod)
{
    webApis.OnCreate([](FakeKeldraWebApi& webApi) { webApi.AnswerShortInfo(Firmware("1.0.0")); });
    manager->AddBaseStation(Station1());
    Announce(Id1, Address1);
    manager->Run();
    clock.RunPending();
    // The first failure searches again at once, the next waits.
    EXPECT_EQ(webApis.CreatedCount(), 2u);
    clock.Advance(SearchPeriod);
    EXPECT_EQ(webApis.CreatedCount(), 3u);
    clock.Advance(SearchPeriod * 3);
    EXPECT_EQ(webApis.CreatedCount(), 6u);
    EXPECT_EQ(log.Count(log4cplus::ERROR_LOG_LEVEL,
                        "Minimal version requirement not met (" + Id1 + "/192.168.1.10): 1.0.0"),
              6u);
}

// ---------------------------------------------------------------------------
// Station states and error-handler calls

TEST_F(ManagerTest, StatusErrorsReachTheErrorHandlerThroughTheirStates)
{
    struct Case {
        boost::system::error_code error;
        Calls calls;
        bool invalidated;
    };
    const std::vector<Case> cases = {
        {boost::system::errc::make_error_code(boost::system::errc::bad_message),
         {"UnSetInvalidCredentials(1)", "UnSetCommunicationError(1)", "HandleGeneralError(10)"}, false},
        {make_error_code(BaseStationRequestError::UnusableMessage),
         {"UnSetInvalidCredentials(1)", "UnSetCommunicationError(1)", "HandleGeneralError(10)"}, false},
        {SystemError(boost::system::errc::operation_canceled),
         {"SetCommunicationError(1)", "HandleGeneralError(0)"}, true},
        {SystemError(boost::system::errc::connection_reset), {"SetCommunicationError(1)", "HandleGeneralError(0)"},
         true},
        {SystemError(boost::system::errc::connection_refused), {"SetCommunicationError(1)", "HandleGeneralError(0)"},
         true},
        {SystemError(boost::system::errc::host_unreachable), {"SetBaseStationMissing(1)", "HandleGeneralError(0)"},
         true},
        {boost::asio::ssl::error::stream_truncated, {"SetCommunicationError(1)", "HandleGeneralError(0)"}, true},
        {make_error_code(BaseStationRequestError::CredentialsRefused),
         {"SetInvalidCredentials(1)", "UnSetCommunicationError(1)", "HandleGeneralError(0)"}, true},
        {SystemError(boost::system::errc::timed_out), {"HandleGeneralError(100)"}, false},
        {CancellationToken::CancelledError(), {}, false},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.error.message());
        manager.reset();
        auto errorHandler = std::make_unique<RecordingErrorHandler>();
        errors = errorHandler.get();
        manager = std::make_unique<BaseStationManager>(
            clock.GetIoService(), [this]() { return clock.CreateTimer(); }, FakeMDnsClient::Factory(network),
            webApis.Factory(), events, std::move(errorHandler), std::make_unique<FakeConfigurationManager>());
        StartWithStation1();
        WebApiAt(Address1)->AnswerStatus(testCase.error);
        clock.Advance(PollPeriod);
        EXPECT_EQ(errors->Calls(), testCase.calls);
        EXPECT_EQ(Browses(), testCase.invalidated ? 1u : 0u);
        EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Unset system master: " + Id1), testCase.invalidated ? 1u : 0u);
        // A station that is still valid polls on.
        clock.Advance(PollPeriod);
        EXPECT_EQ(WebApiAt(Address1)->Count(RequestKind::Status), testCase.invalidated ? 2u : 3u);
    }
}

void PollWith(ManagerTest& test, const Oru::SystemResult<KeldraJson::StatusObject>& answer)
{
    test.WebApiAt(Address1)->AnswerStatus(answer);
    test.clock.Advance(PollPeriod);
}

TEST_F(ManagerTest, EveryStateEndsInItsErrorHandlerCalls)
{
    using Drive = void (*)(ManagerTest&);
    struct Case {
        const char* state;
        KeldraJson::StatusObject initialStatus;
        Drive drive;
        Calls calls;
    };
    const auto thermostatsOnly = MakeStatus({ThermostatRoom(1, "THERM001", 20.0), ThermostatRoom(2, "THERM002", 20.0)});
    const auto actorsOnly = MakeStatus({PowerLevelRoom(1, {3}, 4)});
    const auto nothingKnown = MakeStatus({ThermostatRoom(1, "XXXXXXXX", 20.0)});
    const std::vector<Case> cases = {
        {"Missing", Station1Status(),
         [](ManagerTest& test) { PollWith(test, SystemError(boost::system::errc::host_unreachable)); },
         {"SetBaseStationMissing(1)", "HandleGeneralError(0)"}},
        {"CommunicationFailed", Station1Status(),
         [](ManagerTest& test) { PollWith(test, SystemError(boost::system::errc::connection_reset)); },
         {"SetCommunicationError(1)", "HandleGeneralError(0)"}},
        {"CredentialsRejected", Station1Status(),
         [](ManagerTest& test) { PollWith(test, make_error_code(BaseStationRequestError::CredentialsRefused)); },
         {"SetInvalidCredentials(1)", "UnSetCommunicationError(1)", "HandleGeneralError(0)"}},
        {"FirmwareUnsupported", Station1Status(),
         [](ManagerTest& test) {
             // A new address brings a new web API object and a new check;
             // station 3 keeps discovery going.
             test.webApis.OnCreate(
                 [](FakeKeldraWebApi& webApi) { webApi.AnswerShortInfo(Firmware("1.3.99"), Delivery::Held); });
             test.manager->AddBaseStation(Station2());
             test.Announce(Id1, Address2);
             test.manager->EnableDiscovery();
             test.clock.RunPending();
             test.network->WithdrawAll();
             test.WebApiAt(Address2)->ReleaseHeld();
             test.clock.RunPending();
         },
         {"UnSetBaseStationMissing(1)", "SetUnsupportedFirmware(1)", "UnSetInvalidCredentials(1)",
          "UnSetCommunicationError(1)", "HandleGeneralError(0)"}},
        {"BadResponse", Station1Status(),
         [](ManagerTest& test) {
             PollWith(test, boost::system::errc::make_error_code(boost::system::errc::bad_message));
         },
         {"UnSetInvalidCredentials(1)", "UnSetCommunicationError(1)", "HandleGeneralError(10)"}},
        {"ValueOutOfRange", Station1Status(),
         [](ManagerTest& test) {
             test.WebApiAt(Address1)->AnswerWrite(RequestKind::CoolingMode, WriteResponseStatus::OutOfRange);
             test.manager->SetCoolingMode(true);
             test.clock.RunPending();
         },
         {"UnSetInvalidCredentials(1)", "UnSetCommunicationError(1)", "HandleGeneralError(12)"}},
        {"UnexpectedFailure", Station1Status(),
         [](ManagerTest& test) { PollWith(test, make_error_code(BaseStationRequestError::Timeout)); },
         {"HandleGeneralError(100)"}},
        {"Fatal", Station1Status(),
         [](ManagerTest& test) {
             auto status = Station1Status();
             status.responseCode = 405;
             PollWith(test, status);
         },
         {"HandleGeneralError(1000)"}},
        {"ThermostatsAndActorsMissing", nothingKnown, [](ManagerTest& test) { test.clock.Advance(PollPeriod); },
         {"SetRoomThermostatMissing(1)", "SetActorModuleMissing(1)", "UnSetInvalidCredentials(1)",
          "UnSetCommunicationError(1)", "HandleGeneralError(0)"}},
        {"ActorsMissing", thermostatsOnly, [](ManagerTest& test) { test.clock.Advance(PollPeriod); },
         {"SetActorModuleMissing(1)", "UnSetRoomThermostatMissing(1)", "UnSetInvalidCredentials(1)",
          "UnSetCommunicationError(1)", "HandleGeneralError(0)"}},
        {"ThermostatsMissing", actorsOnly, [](ManagerTest& test) { test.clock.Advance(PollPeriod); },
         {"SetRoomThermostatMissing(1)", "UnSetActorModuleMissing(1)", "UnSetInvalidCredentials(1)",
          "UnSetCommunicationError(1)", "HandleGeneralError(0)"}},
        {"Complete", Station1Status(), [](ManagerTest& test) { test.clock.Advance(PollPeriod); },
         {"UnSetActorModuleMissing(1)", "UnSetRoomThermostatMissing(1)", "UnSetInvalidCredentials(1)",
          "UnSetCommunicationError(1)", "HandleGeneralError(0)"}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.state);
        manager.reset();
        auto errorHandler = std::make_unique<RecordingErrorHandler>();
        errors = errorHandler.get();
        manager = std::make_unique<BaseStationManager>(
            clock.GetIoService(), [this]() { return clock.CreateTimer(); }, FakeMDnsClient::Factory(network),
            webApis.Factory(), events, std::move(errorHandler), std::make_unique<FakeConfigurationManager>());
        StartWithStation1(testCase.initialStatus);
        testCase.drive(*this);
        EXPECT_EQ(errors->Calls(), testCase.calls);
    }
}

// ---------------------------------------------------------------------------
// Status forwarding

TEST_F(ManagerTest, UnusualStatusesReachTheApplicationAsSpecified)
{
    StartWithStation1();
    const auto webApi = WebApiAt(Address1);

    // 13 rooms: a bad response, but system, errors and rooms go on.
    std::vector<KeldraJson::RoomObject> rooms;
    for (unsigned room = 1; room <= 13; ++room) {
        rooms.push_back(ThermostatRoom(room, room == 1 ? "THERM001" : "XXXXXXXX", 20.0));
    }
    webApi->AnswerStatus(MakeStatus(rooms, {-5}));
    clock.Advance(PollPeriod);
    EXPECT_EQ(log.Count(log4cplus::ERROR_LOG_LEVEL, "Invalid number of rooms received: 13"), 1u);
    EXPECT_THAT(errors->Calls(), Contains("HandleGeneralError(10)"));
    EXPECT_EQ(events.Systems().size(), 1u);
    ASSERT_EQ(events.Errors().size(), 1u);
    EXPECT_EQ(events.Errors()[0].state.newErrors, 0x004);
    EXPECT_TRUE(events.Errors()[0].anyStationHasError);
    ASSERT_EQ(events.RoomTemperatures().size(), 1u);
    EXPECT_EQ(events.RoomTemperatures()[0].thermostat, *RoomThermostat::CreateFrom(1));
    EXPECT_EQ(log.Count(log4cplus::DEBUG_LOG_LEVEL, "Skipping unknown room thermostat ID: XXXXXXXX"), 12u);

    // A two-actor power level room and a 7-character thermostat ID.
    events.Clear();
    errors->Clear();
    webApi->AnswerStatus(MakeStatus({ThermostatRoom(21, "THERM01", 21.0), ThermostatRoom(22, "THERM002", 19.5),
                                     PowerLevelRoom(23, {3, 4}, 7)}));
    clock.Advance(PollPeriod);
    EXPECT_THAT(errors->Calls(),
                ElementsAre("SetRoomThermostatMissing(1)", "SetActorModuleMissing(1)", "UnSetInvalidCredentials(1)",
                            "UnSetCommunicationError(1)", "HandleGeneralError(0)"));
    EXPECT_THAT(events.PowerLevels(), IsEmpty());
    EXPECT_EQ(events.RoomTemperatures().size(), 1u);

    // Response code 405: fatal, nothing forwarded.
    events.Clear();
    auto fatal = Station1Status();
    fatal.responseCode = 405;
    webApi->AnswerStatus(fatal);
    clock.Advance(PollPeriod);
    EXPECT_THAT(events.Systems(), IsEmpty());
    EXPECT_THAT(events.Errors(), IsEmpty());
    EXPECT_THAT(events.RoomTemperatures(), IsEmpty());
}

TEST_F(ManagerTest, PowerLevelOnChangeThermostatOnEveryPoll)
{
    StartWithStation1();
    const auto webApi = WebApiAt(Address1);
    clock.Advance(PollPeriod);
    clock.Advance(PollPeriod);
    EXPECT_EQ(events.RoomTemperatures().size(), 4u);
    EXPECT_THAT(events.PowerLevels(), IsEmpty()) << "level 4 was forwarded with the first poll";

    webApi->AnswerStatus(Station1Status(5));
    clock.Advance(PollPeriod);
    clock.Advance(PollPeriod);
    ASSERT_EQ(events.PowerLevels().size(), 1u);
    EXPECT_EQ(events.PowerLevels()[0].slot, *ActorModuleSlot::CreateFrom(1));
    EXPECT_EQ(events.PowerLevels()[0].status.powerLevel, 5);

    // A level beyond 10 is never taken over.
    webApi->AnswerStatus(Station1Status(11));
    clock.Advance(PollPeriod);
    EXPECT_EQ(events.PowerLevels().size(), 1u);
    EXPECT_EQ(events.RoomTemperatures().size(), 10u);
}

TEST_F(ManagerTest, TemperatureLimitsFromTheNetworkAreTakenOverOnlyWhenUsable)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    StartWithStation1(MakeStatus({ThermostatRoom(21, "THERM001", 21.0, nan, infinity),
                                  ThermostatRoom(22, "THERM002", nan, -infinity, 1e300), PowerLevelRoom(23, {3}, 4)}));
    clock.Advance(PollPeriod);
    EXPECT_EQ(events.RoomTemperatures().size(), 2u);
    // No range was taken over: a setpoint of 30 degrees is written.
    manager->SetSetpointTemperature(0, 0, HalfDegreeTemperature::CreateFrom(60));
    clock.RunPending();
    EXPECT_EQ(WebApiAt(Address1)->Count(RequestKind::SetpointTemperature), 1u);
}

TEST_F(ManagerTest, ErrorStatusTellsWhetherAnyStationHasAnError)
{
    webApis.OnCreate([](FakeKeldraWebApi& webApi) {
        webApi.AnswerStatus(webApi.GetParameters().endpoint.address().to_v4().to_uint() == Address1
                                ? MakeStatus({ThermostatRoom(1, "THERM001", 20.0)}, {-21})
                                : Station2Status());
    });
    manager->AddBaseStation(Station1());
    manager->AddBaseStation(Station2());
    Announce(Id1, Address1);
    manager->Run();
    clock.RunPending();
    Announce(Id2, Address2);
    clock.Advance(SearchPeriod);
    std::size_t fromStation2 = 0;
    for (const auto& errorStatus : events.Errors()) {
        if (errorStatus.station == StationNumber(2)) {
            ++fromStation2;
            EXPECT_FALSE(errorStatus.state.hasError);
            EXPECT_TRUE(errorStatus.anyStationHasError);
        } else {
            EXPECT_TRUE(errorStatus.state.hasError);
            EXPECT_TRUE(errorStatus.anyStationHasError);
        }
    }
    EXPECT_EQ(fromStation2, 1u);
}

TEST_F(ManagerTest, PollStillInFlightAfterFiveSecondsIsCancelledQuietly)
{
    StartWithStation1();
    const auto webApi = WebApiAt(Address1);
    webApi->AnswerStatus(Station1Status(), Delivery::Held);
    clock.Advance(PollPeriod);
    clock.Advance(PollPeriod);
    EXPECT_EQ(log.CountContaining("Failed to get status (" + Id1 + "/192.168.1.10): generic:125"), 1u);
    EXPECT_THAT(errors->Calls(), IsEmpty());
    EXPECT_THAT(events.Systems(), IsEmpty());

    // The mapping stayed: a setpoint goes to its room at once.
    manager->SetSetpointTemperature(0, 1, HalfDegreeTemperature::CreateFrom(40));
    clock.RunPending();
    const auto writes = webApi->Requests(RequestKind::SetpointTemperature);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].room, RoomOf(2));
}

// ---------------------------------------------------------------------------
// Write commands

class WriteTest : public ManagerTest {
protected:
    WriteTest()
    {
        StartWithStation1();
        webApi = WebApiAt(Address1);
        // The master reports leaving-home off.
        clock.Advance(PollPeriod);
        log.Clear();
        errors->Clear();
        events.Clear();
    }

    std::vector<std::string> Info() const { return log.Messages(log4cplus::INFO_LOG_LEVEL); }

    std::shared_ptr<FakeKeldraWebApi> webApi;
};

TEST_F(WriteTest, EachCommandLogsItsLineAndItsCompletion)
{
    struct Case {
        Oru::function<void(BaseStationManager&)> command;
        std::string line;
        std::string done;
        RequestKind kind;
    };
    const auto arrival = boost::posix_time::ptime(boost::gregorian::date(2024, 3, 5),
                                                  boost::posix_time::hours(18) + boost::posix_time::minutes(30));
    const std::vector<Case> cases = {
        {[](BaseStationManager& m) { m.SetPowerLevelValue(0, 0, PowerLevel::CreateFrom(10)); },
         "Set power level setpoint to '0a' (0/0)", "   # set power level (0/0) done", RequestKind::PowerLevel},
        {[](BaseStationManager& m) { m.SetPowerLevelPercent(0, 0, *KnxBytePercent::CreateFrom(128)); },
         "Set power level percent setpoint to '80' (0/0)", "   # set power level percent (0/0) done",
         RequestKind::PowerLevel},
        {[](BaseStationManager& m) { m.SetPowerLevelUpDown(0, 0, false); }, "Set power level step 'down' (0/0)",
         "   # set power level step (0/0) done", RequestKind::PowerLevel},
        {[](BaseStationManager& m) { m.SetSetpointTemperature(0, 1, HalfDegreeTemperature::CreateFrom(43)); },
         "Set temperature setpoint to '21.5' (0/1)", "   # set temperature (0/1) done",
         RequestKind::SetpointTemperature},
        {[](BaseStationManager& m) { m.SetLeavingHome(true, boost::none); }, "Set leaving home to 'on'",
         "   # leaving home set: base station 1 done", RequestKind::LeavingHome},
        {[](BaseStationManager& m) { m.SetCoolingMode(true); }, "Set cooling mode to 'on'",
         "   # cooling mode set : base station 1 done", RequestKind::CoolingMode},
        {[](BaseStationManager& m) { m.SetCoolingMode(false); }, "Set cooling mode to 'off'",
         "   # cooling mode set : base station 1 done", RequestKind::CoolingMode},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.line);
        log.Clear();
        const auto before = webApi->Count(testCase.kind);
        testCase.command(*manager);
        EXPECT_THAT(Info(), ElementsAre(testCase.line)) << "logged on the caller's thread";
        clock.Advance(boost::chrono::milliseconds(300));
        EXPECT_EQ(webApi->Count(testCase.kind), before + 1);
        EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, testCase.done), 1u);
    }
    log.Clear();
    manager->SetLeavingHome(true, arrival);
    EXPECT_THAT(Info(), ElementsAre("Set leaving home to 'on'", "   # arrival time: 2024-Mar-05 18:30:00"));
}

TEST_F(WriteTest, PowerLevelLinesStayHexadecimal)
{
    manager->AddBaseStation(Station2());
    log.Clear();
    manager->SetPowerLevelPercent(1, 10, *KnxBytePercent::CreateFrom(255));
    manager->SetPowerLevelValue(1, 10, PowerLevel::CreateFrom(7));
    manager->SetPowerLevelUpDown(1, 10, true);
    EXPECT_THAT(Info(), ElementsAre("Set power level percent setpoint to 'ff' (1/a)",
                                    "Set power level setpoint to '07' (1/a)", "Set power level step 'up' (1/10)"));
}

TEST_F(WriteTest, AcceptedWritesArePublishedAndStaleOnesAreNot)
{
    manager->SetSetpointTemperature(0, 0, HalfDegreeTemperature::CreateFrom(44));
    manager->SetPowerLevelValue(0, 0, PowerLevel::CreateFrom(9));
    manager->SetCoolingMode(true);
    clock.RunPending();
    ASSERT_EQ(events.RoomTemperatures().size(), 1u);
    EXPECT_EQ(events.RoomTemperatures()[0].status.setpointTemperature, 22.0);
    ASSERT_EQ(events.PowerLevels().size(), 1u);
    EXPECT_EQ(events.PowerLevels()[0].status.powerLevel, 9);
    ASSERT_EQ(events.CoolingModes().size(), 1u);
    EXPECT_THAT(errors->Calls(), IsEmpty());

    events.Clear();
    webApi->AnswerWrite(RequestKind::SetpointTemperature, WriteResponseStatus::Accepted, Delivery::Held);
    manager->SetSetpointTemperature(0, 0, HalfDegreeTemperature::CreateFrom(40));
    manager->SetSetpointTemperature(0, 0, HalfDegreeTemperature::CreateFrom(41));
    clock.RunPending();
    webApi->ReleaseHeld();
    clock.RunPending();
    ASSERT_EQ(events.RoomTemperatures().size(), 1u);
    EXPECT_EQ(events.RoomTemperatures()[0].status.setpointTemperature, 20.5);
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "   # set temperature (0/0) done"), 3u);
}

TEST_F(WriteTest, RejectedWritesBecomeStates)
{
    struct Case {
        Oru::SystemResult<WriteResponseStatus> answer;
        Calls calls;
    };
    const std::vector<Case> cases = {
        {WriteResponseStatus::OutOfRange,
         {"UnSetInvalidCredentials(1)", "UnSetCommunicationError(1)", "HandleGeneralError(12)"}},
        {WriteResponseStatus::InvalidCookie, {"SetCommunicationError(1)", "HandleGeneralError(0)"}},
        {make_error_code(BaseStationRequestError::CredentialsRefused),
         {"SetInvalidCredentials(1)", "UnSetCommunicationError(1)", "HandleGeneralError(0)"}},
        {SystemError(boost::system::errc::connection_refused), {"SetCommunicationError(1)", "HandleGeneralError(0)"}},
    };
    for (const auto& testCase : cases) {
        // Found again after the previous case invalidated it.
        Announce(Id1, Address1);
        manager->EnableDiscovery();
        clock.Advance(SearchPeriod);
        network->WithdrawAll();
        const auto current = WebApiAt(Address1);
        current->AnswerWrite(RequestKind::CoolingMode, testCase.answer);
        errors->Clear();
        events.Clear();
        manager->SetCoolingMode(false);
        clock.RunPending();
        EXPECT_EQ(errors->Calls(), testCase.calls);
        EXPECT_THAT(events.CoolingModes(), IsEmpty());
    }
}

TEST_F(WriteTest, LeavingHomeIsSwitchedOffBeforeARoomValueIsLookedAt)
{
    // The master reports leaving home on.
    webApi->AnswerStatus(Station1Status(4, true));
    clock.Advance(PollPeriod);
    log.Clear();
    events.Clear();
    errors->Clear();

    manager->SetSetpointTemperature(0, 0, boost::none);
    EXPECT_THAT(Info(), ElementsAre("Auto-disabling leaving home mode", "Set leaving home to 'off'"));
    EXPECT_THAT(errors->Calls(), ElementsAre("HandleGeneralError(12)"));
    clock.RunPending();
    EXPECT_EQ(webApi->Count(RequestKind::SetpointTemperature), 0u);
    const auto leavingHome = webApi->Requests(RequestKind::LeavingHome);
    ASSERT_EQ(leavingHome.size(), 1u);
    EXPECT_FALSE(leavingHome[0].flag);
    EXPECT_EQ(leavingHome[0].arrival, boost::none);
    // The accepted switch-off is published; the next write needs none.
    ASSERT_EQ(events.LeavingHome().size(), 1u);
    EXPECT_FALSE(events.LeavingHome()[0].active);

    log.Clear();
    errors->Clear();
    manager->SetPowerLevelValue(0, 0, boost::none);
    EXPECT_THAT(Info(), IsEmpty());
    EXPECT_THAT(errors->Calls(), ElementsAre("HandleGeneralError(12)"));

    // A step while leaving home is on starts from the current level.
    webApi->AnswerStatus(Station1Status(4, true));
    clock.Advance(PollPeriod);
    log.Clear();
    manager->SetPowerLevelUpDown(0, 0, true);
    clock.Advance(boost::chrono::milliseconds(300));
    EXPECT_THAT(Info(), Contains("   # Set power level steps start value: 4 (1/0)"));
    const auto writes = webApi->Requests();
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ(writes[writes.size() - 2].kind, RequestKind::LeavingHome);
    EXPECT_EQ(writes.back().kind, RequestKind::PowerLevel);
    EXPECT_EQ(writes.back().level, PowerLevel::CreateFrom(5));
}

TEST_F(WriteTest, StepsAreCombinedThroughTheStation)
{
    manager->SetPowerLevelUpDown(0, 0, true);
    clock.Advance(boost::chrono::milliseconds(100));
    manager->SetPowerLevelUpDown(0, 0, true);
    clock.Advance(boost::chrono::milliseconds(100));
    manager->SetPowerLevelUpDown(0, 0, true);
    clock.Advance(boost::chrono::milliseconds(299));
    EXPECT_EQ(webApi->Count(RequestKind::PowerLevel), 0u);
    clock.Advance(boost::chrono::milliseconds(1));
    const auto writes = webApi->Requests(RequestKind::PowerLevel);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].level, PowerLevel::CreateFrom(7));
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "   # set power level step (0/0) done"), 1u);
    ASSERT_EQ(events.PowerLevels().size(), 1u);
    EXPECT_EQ(events.PowerLevels()[0].status.powerLevel, 7);
}

TEST_F(WriteTest, IndicesBeyondTheConfigurationThrowBeforeAnythingIsQueued)
{
    EXPECT_THROW(manager->SetSetpointTemperature(1, 0, HalfDegreeTemperature::CreateFrom(40)), std::out_of_range);
    EXPECT_THROW(manager->SetPowerLevelValue(4, 0, PowerLevel::CreateFrom(1)), std::out_of_range);
    EXPECT_THROW(manager->SetSetpointTemperature(0, 2, HalfDegreeTemperature::CreateFrom(40)), std::out_of_range);
    EXPECT_THROW(manager->SetPowerLevelPercent(0, 1, *KnxBytePercent::CreateFrom(1)), std::out_of_range);
    EXPECT_THROW(manager->SetPowerLevelUpDown(0, 11, true), std::out_of_range);
    clock.Advance(boost::chrono::seconds(1));
    for (const auto kind : {RequestKind::SetpointTemperature, RequestKind::PowerLevel, RequestKind::LeavingHome,
                            RequestKind::CoolingMode}) {
        EXPECT_EQ(webApi->Count(kind), 0u) << kind;
    }
}

TEST_F(WriteTest, TerminateStopsDiscoveryAndPolling)
{
    manager->AddBaseStation(Station2());
    manager->EnableDiscovery();
    clock.RunPending();
    log.Clear();
    const auto polls = webApi->Count(RequestKind::Status);
    manager->Terminate();
    EXPECT_THAT(Info(), ElementsAre("Stop base station discovery if in progress", "Stop base station discovery",
                                    "Stop polling base station values"));
    const auto browses = Browses();
    clock.Advance(SearchPeriod * 3);
    EXPECT_EQ(webApi->Count(RequestKind::Status), polls);
    EXPECT_EQ(Browses(), browses);
}

// ---------------------------------------------------------------------------
// Lifetimes and threads

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
    webApis.OnCreate([](FakeKeldraWebApi& created) { created.AnswerShortInfo(Firmware("9.9.9"), Delivery::Held); });
    Announce(Id2, Address2);
    manager->EnableDiscovery();
    clock.RunPending();
    network->SetResolveDelivery(FakeMDnsClient::Network::ResolveDelivery::Held);
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
// thread, as the host does, sends write commands and terminates.
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
    auto errorHandler = std::make_unique<RecordingErrorHandler>();
    auto* errors = errorHandler.get();

    auto manager = std::make_unique<BaseStationManager>(
        ioService, [&clock]() { return clock.CreateTimer(); }, FakeMDnsClient::Factory(network), webApis.Factory(),
        events, std::move(errorHandler), std::make_unique<FakeConfigurationManager>());
    manager->AddBaseStation(Station1());

    auto work = boost::asio::make_work_guard(ioService);
    std::thread worker([&ioService]() { ioService.run(); });
    // Runs on the worker after everything queued before it.
    const auto drain = [&ioService]() {
        std::promise<void> done;
        boost::asio::post(ioService, [&done]() { done.set_value(); });
        done.get_future().wait();
    };

    manager->Run();
    for (int round = 0; round < 10000 && events.Systems().empty(); ++round) {
        drain();
        std::this_thread::yield();
    }
    ASSERT_FALSE(events.Systems().empty()) << "station 1 found and polled";

    for (unsigned value = 0; value < 50; ++value) {
        manager->SetSetpointTemperature(0, value % 2, HalfDegreeTemperature::CreateFrom(20 + value % 20));
        manager->SetPowerLevelValue(0, 0, PowerLevel::CreateFrom(value % 11));
        manager->SetPowerLevelPercent(0, 0, *KnxBytePercent::CreateFrom(value * 5));
        manager->SetPowerLevelUpDown(0, 0, value % 3 == 0);
        manager->SetCoolingMode(value % 2 == 0);
        manager->SetLeavingHome(value % 4 == 0, boost::none);
        static_cast<void>(errors->Calls());
        static_cast<void>(events.RoomTemperatures());
    }
    manager->Terminate();
    drain();
    drain();

    work.reset();
    ioService.stop();
    worker.join();
    const auto webApi = webApis.Last();
    ASSERT_NE(webApi, nullptr);
    EXPECT_EQ(webApi->Count(RequestKind::SetpointTemperature), 50u);
    EXPECT_EQ(webApi->Count(RequestKind::CoolingMode), 50u);
    manager.reset();
}

}  // namespace
}  // namespace Testing
}  // namespace Keldra
