// One base station, driven and observed through the manager: firmware check,
// credentials, status handling, device error bits and the writes.
#include <limits>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "ManagerFixture.h"

namespace Keldra {
namespace Testing {
namespace {

using StationTest = ManagerTest;

// The token every request of a station takes: its abort actions run once, in
// the order they were registered.
TEST(CancellationToken, CancelAbortsWhatIsInFlightAtThatMomentOnceInOrder)
{
    CancellationToken token;
    std::vector<std::string> aborted;
    auto first = token.OnCancel([&] { aborted.push_back("first"); });
    auto second = token.OnCancel([&] { aborted.push_back("second"); });
    auto completed = token.OnCancel([&] { aborted.push_back("completed"); });
    completed.Reset();
    // Started from an abort action: runs on.
    CancellationToken::Registration later;
    auto starter = token.OnCancel([&] { later = token.OnCancel([&] { aborted.push_back("later"); }); });
    EXPECT_EQ(token.InFlightCount(), 3u);

    token.Cancel();
    EXPECT_EQ(aborted, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(token.InFlightCount(), 1u);
    token.Cancel();
    token.Cancel();
    EXPECT_EQ(aborted, (std::vector<std::string>{"first", "second", "later"}));

    // A registration outlives its token; AddressSanitizer watches the Reset.
    {
        CancellationToken gone;
        later = gone.OnCancel([] {});
    }
    later.Reset();
}

TEST(BaseStationErrorBitfield, ConvertsErrorListsToBitsAndTexts)
{
    const std::vector<std::pair<std::vector<int>, std::uint16_t>> cases = {
        {{}, 0x000}, {{-24, -3}, 0x101}, {{-3, -3, -3}, 0x001},
        {{-8, 0, 3, 24, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()}, 0x000},
        {{-3, -4, -5, -6, -7, -9, -21, -22, -24}, 0x1FF},
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(BaseStation::ConvertToBitfield(MakeStatus({}, entry.first).errors), entry.second)
            << ::testing::PrintToString(entry.first);
    }
    EXPECT_THAT(BaseStation::ErrorBitfieldToErrorStrings(0xFFFF),
                ElementsAre("-3:MissingThs", "-4:ErrActorBus", "-5:ErrSupply", "-6:ErrReturn", "-7:NoMoreTherm",
                            "-9:BackupBatt", "-21:ConnThermo", "-22:ThermoBatt", "-24:WeakConnTh"));
    EXPECT_THAT(BaseStation::ErrorBitfieldToErrorStrings(0x240), ElementsAre("-21:ConnThermo"));
}

TEST_F(StationTest, ErrorStatusTellsOnlyTheErrorsNewSinceThePreviousStatus)
{
    StartWithStation1();
    const struct {
        std::vector<int> codes;
        bool hasError;
        std::uint16_t newErrors;
    } steps[] = {{{-3}, true, 0x001}, {{-3}, true, 0x000},     {{}, false, 0x000},     {{-3}, true, 0x001},
                 {{-3, -4}, true, 0x002}, {{-8}, false, 0x000}, {{-24, -9}, true, 0x120}};
    for (const auto& step : steps) {
        events.Clear();
        PollWith(Station1Status(4, false, step.codes));
        ASSERT_EQ(events.Errors().size(), 1u);
        EXPECT_EQ(events.Errors()[0].state.hasError, step.hasError) << ::testing::PrintToString(step.codes);
        EXPECT_EQ(events.Errors()[0].state.newErrors, step.newErrors) << ::testing::PrintToString(step.codes);
    }
}

TEST_F(StationTest, FirmwareCheckOutcomes)
{
    const struct {
        Oru::SystemResult<KeldraJson::BaseStationShortInfoMessage> answer;
        std::string errorLine;  // empty: passed
        const char* call;
    } cases[] = {
        {Firmware(std::string(KeldraWebApi::MinimalVersion())), "", "UnSetRoomThermostatMissing(1)"},
        {Firmware(std::string("1.3.9")), "Minimal version requirement not met " + Where1 + ": 1.3.9",
         "SetUnsupportedFirmware(1)"},
        {Firmware(std::string("garbage\n\xff")),
         "Minimal version requirement not met " + Where1 + ": garbage\\x0a\\xff", "SetUnsupportedFirmware(1)"},
        {Firmware(boost::none), "Cannot determine firmware version " + Where1, "SetCommunicationError(1)"},
        {SystemError(boost::system::errc::connection_refused),
         "Failed to get short information " + Where1 + ": system:111 (Connection refused)", "SetCommunicationError(1)"},
        {make_error_code(BaseStationRequestError::CredentialsRefused),
         "Failed to get short information " + Where1 + ": keldrawebapi:2 (The base station refused the credentials)",
         "SetInvalidCredentials(1)"},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.call);
        Recreate();
        Run([&entry](FakeKeldraWebApi& webApi) {
            webApi.AnswerShortInfo(entry.answer);
            webApi.AnswerStatus(Station1Status());
        });
        network->WithdrawAll();
        EXPECT_EQ(Messages(ERROR_LOG_LEVEL).empty() ? "" : Messages(ERROR_LOG_LEVEL)[0], entry.errorLine);
        EXPECT_THAT(errors->Calls(), Contains(entry.call));
        EXPECT_EQ(WebApiAt(Address1)->Count(RequestKind::Status), entry.errorLine.empty() ? 1u : 0u);
        log.Clear();
    }
}

TEST_F(StationTest, ReachesTheStationWithCredentialsEditedBetweenPolls)
{
    config->credentials[0] = Credentials{"installer", "first"};
    StartWithStation1();
    config->credentials[0] = Credentials{"installer", "second"};
    clock.Advance(PollPeriod * 2);
    config->credentials[0] = boost::none;
    clock.Advance(PollPeriod);
    EXPECT_EQ(log.Count(INFO_LOG_LEVEL, "Update Credentials (1)"), 2u);
    std::vector<boost::optional<Credentials>> sent;
    for (const auto& request : WebApiAt(Address1)->Requests(RequestKind::Status)) {
        sent.push_back(request.credentials);
    }
    const auto as = [](const char* password) { return boost::optional<Credentials>(Credentials{"installer", password}); };
    EXPECT_THAT(sent, ElementsAre(as("first"), as("second"), as("second"), boost::none));
}

TEST_F(StationTest, CompleteStatusFillsTheRoomMappingAndIsForwarded)
{
    StartWithStation1(MakeStatus({ThermostatRoom(11, "THERM001", 21.0), ThermostatRoom(12, "THERM002", 19.5),
                                  PowerLevelRoom(13, {3}, 4)},
                                 {-3}, true));
    PollWith(Station1Status(6, true, {-3}));
    ASSERT_EQ(events.Systems().size(), 1u);
    EXPECT_TRUE(events.Systems()[0]);
    ASSERT_EQ(events.RoomTemperatures().size(), 2u);
    EXPECT_EQ(events.RoomTemperatures()[1].thermostat, *RoomThermostat::CreateFrom(2));
    EXPECT_EQ(events.RoomTemperatures()[1].status.id, "THERM002");
    ASSERT_EQ(events.PowerLevels().size(), 1u);
    EXPECT_EQ(events.PowerLevels()[0], *ActorModuleSlot::CreateFrom(1));
    EXPECT_EQ(log.Count(DEBUG_LOG_LEVEL, "@" + Id1 + ": Received status"), 1u);
    EXPECT_EQ(log.Count(DEBUG_LOG_LEVEL, "Received config of base station " + Id1 + " (Ground floor)"), 1u);
    // Thermostats are forwarded with every poll, a power level only when it changed.
    PollWith(Station1Status(6, true, {-3}));
    EXPECT_EQ(events.RoomTemperatures().size(), 4u);
    EXPECT_EQ(events.PowerLevels().size(), 1u);

    // Writes go to the room index, the position in the station's list; a
    // setpoint outside the range the thermostat reported is not written.
    errors->Clear();
    manager->SetSetpointTemperature(0, 1, HalfDegreeTemperature::CreateFrom(40));
    manager->SetPowerLevelValue(0, 0, PowerLevel::CreateFrom(2));
    manager->SetSetpointTemperature(0, 0, HalfDegreeTemperature::CreateFrom(50));  // THERM001: 5 to 25 degrees
    manager->SetSetpointTemperature(0, 0, HalfDegreeTemperature::CreateFrom(51));
    clock.RunPending();
    const auto setpoints = WebApiAt(Address1)->Requests(RequestKind::SetpointTemperature);
    ASSERT_EQ(setpoints.size(), 2u);
    EXPECT_EQ(setpoints[0].room, RoomOf(2));
    EXPECT_EQ(setpoints[1].room, RoomOf(1));
    EXPECT_EQ(WebApiAt(Address1)->Requests(RequestKind::PowerLevel).at(0).room, RoomOf(3));
    EXPECT_THAT(Messages(), Contains("SetpointTemperature - Value out of range (5,25): 25.5"));
    EXPECT_THAT(errors->Calls(), ElementsAre("UnSetInvalidCredentials(1)", "UnSetCommunicationError(1)",
                                             "HandleGeneralError(12)"));
}

TEST_F(StationTest, UnusableRoomCountsAreBadResponsesThatResetTheMapping)
{
    for (const unsigned count : {0u, 13u}) {
        Recreate();
        StartWithStation1();
        std::vector<KeldraJson::RoomObject> rooms;
        for (unsigned room = 1; room <= count; ++room) {
            rooms.push_back(ThermostatRoom(room, room == 1 ? "THERM001" : "XXXXXXXX", 20.0));
        }
        PollWith(MakeStatus(rooms, {-5}));
        EXPECT_EQ(log.Count(ERROR_LOG_LEVEL, "Invalid number of rooms received: " + std::to_string(count)), 1u);
        EXPECT_THAT(errors->Calls(), ElementsAre("UnSetInvalidCredentials(1)", "UnSetCommunicationError(1)",
                                                 "HandleGeneralError(10)"));
        // System and errors go on.
        EXPECT_EQ(events.Systems().size(), 1u);
        ASSERT_EQ(events.Errors().size(), 1u);
        EXPECT_EQ(events.Errors()[0].state.newErrors, 0x004);
        // The write waits for the next status, which names no room either.
        manager->SetSetpointTemperature(0, 0, HalfDegreeTemperature::CreateFrom(40));
        clock.RunPending();
        PollWith(MakeStatus(rooms));
        EXPECT_EQ(log.Count(ERROR_LOG_LEVEL,
                            "Cannot set temperature setpoint of thermostat 1 (THERM001). Missing mapping to room index"),
                  1u);
    }
}

TEST_F(StationTest, ResponseCodes)
{
    const struct {
        int code;
        log4cplus::LogLevel level;
        std::vector<std::string> lines;
        Calls calls;
    } cases[] = {
        {405, log4cplus::FATAL_LOG_LEVEL, {"Status request uses wrong method! Abort."}, {"HandleGeneralError(1000)"}},
        {500, WARN_LOG_LEVEL, {"Received 'Invalid Token' while request does not require one. Try to continue..."},
         Complete1},
        {510, WARN_LOG_LEVEL, {"Received 'Missing Parameter' while request does not require one. Try to continue..."},
         Complete1},
        {511, WARN_LOG_LEVEL,
         {"Received 'Value Out-Of-Range' while request does not provide a value. Try to continue..."}, Complete1},
        // A code the station does not document is nothing to report.
        {300, WARN_LOG_LEVEL, {}, Complete1},
    };
    StartWithStation1();
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.code);
        Forget();
        auto status = Station1Status();
        status.responseCode = entry.code;
        PollWith(status);
        EXPECT_EQ(log.Messages(entry.level), entry.lines);
        EXPECT_EQ(errors->Calls(), entry.calls);
        // Nothing of a fatal answer is forwarded.
        EXPECT_EQ(events.Systems().size(), entry.code == 405 ? 0u : 1u);
        EXPECT_EQ(events.RoomTemperatures().size(), entry.code == 405 ? 0u : 2u);
    }
}

TEST_F(StationTest, StatusWithoutNameOrWithFewerRoomsWarns)
{
    auto status = MakeStatus({ThermostatRoom(11, "THERM001", 21.0)});
    status.system.stationName = boost::none;
    StartWithStation1(status);
    PollWith(status);
    EXPECT_THAT(Messages(WARN_LOG_LEVEL),
                ElementsAre("Expect base station 1 (" + Id1 + ") to break soon...",
                            "More rooms (3) configured in ETS than currently found (1) at base station (" + Id1 +
                                "/\?\?\?)",
                            "Missing room thermostat: THERM002", "Missing actor module: 3"));
    EXPECT_EQ(log.Count(DEBUG_LOG_LEVEL, "Received config of base station " + Id1 + " (\?\?\?)"), 1u);
}

// Text from the network is escaped and shortened before it reaches a log line.
TEST_F(StationTest, InvalidRoomEntriesAreSkipped)
{
    KeldraJson::RoomObject empty;
    empty.roomNumber = 4000000000u;
    const auto status = MakeStatus(
        {ThermostatRoom(11, "THERM01", 21.0), ThermostatRoom(12, "THERM002", 19.5), PowerLevelRoom(14, {3, 4}, 5),
         PowerLevelRoom(15, {0}, 1), PowerLevelRoom(16, {-7}, 1), PowerLevelRoom(17, {13}, 1),
         ThermostatRoom(18, std::string("THERM\xff\xfe\x01", 8), 20.0), ThermostatRoom(19, std::string(10000, 'T'), 20.0),
         empty});
    StartWithStation1(status);
    PollWith(status);
    const std::string where = " (" + Id1 + "/Ground floor)";
    EXPECT_THAT(Messages(WARN_LOG_LEVEL),
                ::testing::IsSupersetOf(std::vector<std::string>{
                    "Skipping invalid room thermostat ID: THERM01" + where,
                    "Skipping invalid room thermostat ID: THERM\\xff\\xfe\\x01" + where,
                    "Skipping invalid room thermostat ID: " + std::string(64, 'T') + "..." + where,
                    "Invalid room configuration (ID 9): No room thermostat or power level control found for "
                    "room: 4000000000 (Ground floor)"}));
    // Forwarding skips the invalid actor numbers with a line, the two-actor
    // room silently.
    EXPECT_THAT(Messages(ERROR_LOG_LEVEL),
                ElementsAre("Skipping invalid actor configuration. Only one actor allowed when using power level "
                            "control but got 2" + where,
                            "Skipping invalid actor module ID: 0" + where, "Skipping invalid actor module ID: -7" + where,
                            "Skipping invalid actor module ID: 13" + where, "Invalid actor module number: 0",
                            "Invalid actor module number: -7", "Invalid actor module number: 13"));
    EXPECT_THAT(events.PowerLevels(), IsEmpty());
    ASSERT_EQ(events.RoomTemperatures().size(), 1u);
    EXPECT_EQ(events.RoomTemperatures()[0].status.id, "THERM002");
}

TEST_F(StationTest, WriteAnswers)
{
    const struct {
        Oru::SystemResult<WriteResponseStatus> answer;
        Calls calls;
        std::string line;  // logged at any level, or empty
    } cases[] = {
        {WriteResponseStatus::Accepted, {}, ""},
        {WriteResponseStatus::OutOfRange, {"UnSetInvalidCredentials(1)", "UnSetCommunicationError(1)", "HandleGeneralError(12)"},
         "@" + Id1 + ": Received response 'Out-Of-Range'"},
        {WriteResponseStatus::InvalidCookie, {"SetCommunicationError(1)", "HandleGeneralError(0)"},
         "@" + Id1 + ": Received response 'Invalid Cookie'"},
        {static_cast<WriteResponseStatus>(7), {}, ""},
        {make_error_code(BaseStationRequestError::CredentialsRefused),
         {"SetInvalidCredentials(1)", "UnSetCommunicationError(1)", "HandleGeneralError(0)"}, ""},
        {SystemError(boost::system::errc::connection_reset), {"SetCommunicationError(1)", "HandleGeneralError(0)"},
         "Communication error: system:104 (Connection reset by peer)"},
        // Refused by the web API before anything was sent: the station is fine.
        {make_error_code(BaseStationRequestError::InvalidRequestValue),
         {"UnSetInvalidCredentials(1)", "UnSetCommunicationError(1)", "HandleGeneralError(12)"},
         "@" + Id1 + ": Write refused before sending: keldrawebapi:5"},
    };
    for (const auto& entry : cases) {
        for (const auto kind : {RequestKind::SetpointTemperature, RequestKind::PowerLevel, RequestKind::CoolingMode,
                                RequestKind::LeavingHome}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(kind)) + " " + ::testing::PrintToString(entry.calls));
            Recreate();
            StartWithStation1();
            WebApiAt(Address1)->AnswerWrite(kind, entry.answer);
            if (kind == RequestKind::SetpointTemperature) {
                manager->SetSetpointTemperature(0, 0, HalfDegreeTemperature::CreateFrom(40));
            } else if (kind == RequestKind::PowerLevel) {
                manager->SetPowerLevelValue(0, 0, PowerLevel::CreateFrom(2));
            } else if (kind == RequestKind::CoolingMode) {
                manager->SetCoolingMode(true);
            } else {
                manager->SetLeavingHome(true, boost::none);
            }
            clock.RunPending();
            EXPECT_EQ(errors->Calls(), entry.calls);
            if (!entry.line.empty()) {
                EXPECT_EQ(log.CountContaining(entry.line), 1u);
            }
            const std::size_t published = events.RoomTemperatures().size() + events.PowerLevels().size() +
                                          events.CoolingModes().size() + events.LeavingHome().size();
            EXPECT_EQ(published, entry.answer.HasValue() && entry.answer.GetValue() == WriteResponseStatus::Accepted);
        }
    }
}

TEST_F(StationTest, OnlyTheLatestAcceptedWriteOfAnItemIsPublished)
{
    StartWithStation1();
    WebApiAt(Address1)->AnswerWrite(RequestKind::SetpointTemperature, WriteResponseStatus::Accepted, Delivery::Held);
    manager->SetSetpointTemperature(0, 0, HalfDegreeTemperature::CreateFrom(40));
    manager->SetSetpointTemperature(0, 0, HalfDegreeTemperature::CreateFrom(41));
    clock.RunPending();
    WebApiAt(Address1)->ReleaseHeld();
    clock.RunPending();
    ASSERT_EQ(events.RoomTemperatures().size(), 1u);
    EXPECT_EQ(events.RoomTemperatures()[0].status.setpointTemperature, 20.5);
    EXPECT_EQ(log.Count(INFO_LOG_LEVEL, "   # set temperature (0/0) done"), 2u);
}

TEST_F(StationTest, WritesWithoutWebApiMappingOrThermostatId)
{
    manager->AddBaseStation(MakeProperties(1, Id1, {3}, {"THERM001", ""}));
    manager->SetSetpointTemperature(0, 1, HalfDegreeTemperature::CreateFrom(40));
    clock.RunPending();
    EXPECT_THAT(Messages(ERROR_LOG_LEVEL),
                ElementsAre("Cannot set temperature setpoint of thermostat 2. Invalid room thermostat id configuration"));

    // Not found yet.
    errors->Clear();
    manager->SetCoolingMode(true);
    clock.RunPending();
    EXPECT_THAT(errors->Calls(), ElementsAre("SetBaseStationMissing(1)", "HandleGeneralError(0)"));

    // Found and checked, not yet polled.
    webApis.OnCreate([](FakeKeldraWebApi& webApi) { webApi.AnswerStatus(Station1Status(), Delivery::Held); });
    Announce(Id1, Address1);
    manager->Run();
    clock.RunPending();
    log.Clear();
    manager->SetSetpointTemperature(0, 0, HalfDegreeTemperature::CreateFrom(40));
    manager->SetPowerLevelValue(0, 0, PowerLevel::CreateFrom(2));
    clock.RunPending();
    EXPECT_EQ(WebApiAt(Address1)->Count(RequestKind::SetpointTemperature) +
                  WebApiAt(Address1)->Count(RequestKind::PowerLevel),
              0u);
    // They wait for the status that names their rooms.
    WebApiAt(Address1)->ReleaseHeld();
    clock.RunPending();
    EXPECT_THAT(Messages(ERROR_LOG_LEVEL), IsEmpty());
    EXPECT_EQ(WebApiAt(Address1)->Requests(RequestKind::SetpointTemperature).at(0).room, RoomOf(1));
    EXPECT_EQ(WebApiAt(Address1)->Requests(RequestKind::PowerLevel).at(0).room, RoomOf(3));
}

TEST_F(StationTest, LeavingHomeWriteIsPublishedWhileTheStationIsMaster)
{
    StartWithStation1();
    const boost::posix_time::ptime arrival(boost::gregorian::date(2024, 5, 20), boost::posix_time::hours(18));
    manager->SetLeavingHome(true, arrival);
    clock.RunPending();
    EXPECT_THAT(events.LeavingHome(),
                ElementsAre(KeldraJson::LeavingHomeObject{true, std::string("24-05-20"), std::string("18:00")}));
    EXPECT_EQ(WebApiAt(Address1)->Requests(RequestKind::LeavingHome).at(0).arrival, arrival);

    // Master lost before the answer: nothing is published.
    events.Clear();
    WebApiAt(Address1)->AnswerWrite(RequestKind::LeavingHome, WriteResponseStatus::Accepted, Delivery::Held);
    manager->SetLeavingHome(false, boost::none);
    clock.RunPending();
    PollWith(SystemError(boost::system::errc::host_unreachable));
    WebApiAt(Address1)->ReleaseHeld(RequestKind::LeavingHome);
    clock.RunPending();
    EXPECT_THAT(events.LeavingHome(), IsEmpty());
}

TEST_F(StationTest, StepsStartFromThePendingOrAcceptedLevel)
{
    StartWithStation1();  // level 4
    // Steps that cancel out only finish the command.
    manager->SetPowerLevelUpDown(0, 0, true);
    manager->SetPowerLevelUpDown(0, 0, false);
    clock.Advance(StepWindow);
    EXPECT_EQ(WebApiAt(Address1)->Count(RequestKind::PowerLevel), 0u);
    EXPECT_EQ(log.Count(INFO_LOG_LEVEL, "   # set power level step (0/0) done"), 1u);

    // A step before the answer to 5 starts from the pending 5; the accepted 6
    // is where the next step starts.
    WebApiAt(Address1)->AnswerWrite(RequestKind::PowerLevel, WriteResponseStatus::Accepted, Delivery::Held);
    for (const bool up : {true, true}) {
        manager->SetPowerLevelUpDown(0, 0, up);
        clock.Advance(StepWindow);
    }
    WebApiAt(Address1)->ReleaseHeld();
    clock.RunPending();
    manager->SetPowerLevelUpDown(0, 0, false);
    clock.Advance(StepWindow);
    std::vector<PowerLevel> levels;
    for (const auto& write : WebApiAt(Address1)->Requests(RequestKind::PowerLevel)) {
        levels.push_back(*write.level);
    }
    EXPECT_THAT(levels, ElementsAre(PowerLevel::Constant<5>(), PowerLevel::Constant<6>(), PowerLevel::Constant<5>()));
}

}  // namespace
}  // namespace Testing
}  // namespace Keldra
