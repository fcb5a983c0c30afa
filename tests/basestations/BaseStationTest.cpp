// One base station on its own: connection, firmware check, status polling and
// configuration update, device error bits and the writes.
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/error.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/optional/optional_io.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "BaseStationTestSupport.h"
#include "FakeKeldraWebApi.h"
#include "LogCapture.h"
#include "VirtualClockSystem.h"
#include "basestations/BaseStation.h"
#include "basestations/BaseStationRequestError.h"
#include "basestations/KeldraWebApi.h"
#include "basestations/OptimisticWriteValueManager.h"

namespace Keldra {
namespace Testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using State = boost::optional<BaseStationState>;
using Entry = RecordingStateCallback::Entry;

const std::string Id = "A1B2C3D4E5";
constexpr std::uint32_t Address = 0xC0A8010A;  // 192.168.1.10
const std::string Where = "(" + Id + "/192.168.1.10)";
const Oru::WaitableTimer::Duration PollPeriod = boost::chrono::seconds(5);

boost::system::error_code SystemError(boost::system::errc::errc_t value)
{
    return boost::system::error_code(value, boost::system::system_category());
}

// Station 1: actor module 3 in slot 1, thermostats THERM001 and THERM002.
class BaseStationTest : public ::testing::Test {
protected:
    BaseStationTest() { Create(MakeProperties(1, Id, {3}, {"THERM001", "THERM002"})); }

    void Create(BaseStationProperties properties)
    {
        station.reset();
        station = std::make_unique<BaseStation>(clock.GetIoService(), std::move(properties),
                                                [this]() { return clock.CreateTimer(); }, statusHandler, config,
                                                pollStates.Callback());
    }

    // Device information and a web API object, as discovery gives them.
    void Connect(std::uint16_t port = 8443)
    {
        station->UpdateServiceInfo(MakeServiceInfo(Id, Address, port));
        station->UpdateWebApi(webApis.Factory());
        ASSERT_NE(webApis.Last(), nullptr);
    }

    FakeKeldraWebApi& WebApi() { return *webApis.Last(); }

    static KeldraJson::StatusObject CompleteStatus()
    {
        return MakeStatus({ThermostatRoom(11, "THERM001", 21.0, 5.0, 21.0), ThermostatRoom(12, "THERM002", 19.5),
                           PowerLevelRoom(13, {3}, 4)});
    }

    // Starts polling with this status and runs the first poll.
    void PollOnce(const Oru::SystemResult<KeldraJson::StatusObject>& status = CompleteStatus())
    {
        WebApi().AnswerStatus(status);
        station->StartStatusPolling();
        clock.RunPending();
    }

    std::vector<std::string> Messages(log4cplus::LogLevel level) const { return log.Messages(level); }

    Oru::Testing::VirtualClockSystem clock;
    Oru::Testing::LogCapture log;
    FakeWebApiFactory webApis;
    FakeConfigurationManager config;
    RecordingStatusHandler statusHandler;
    RecordingStateCallback pollStates;
    RecordingStateCallback writeStates;
    std::unique_ptr<BaseStation> station;
};

// ---------------------------------------------------------------------------
// Device error bits

TEST(BaseStationErrorBitfield, ConvertsErrorListsToBitsAndTexts)
{
    struct Case {
        std::vector<int> codes;
        std::uint16_t bits;
        std::vector<std::string> texts;
    };
    const std::vector<Case> cases = {
        {{}, 0x000, {}},
        {{-3, -24}, 0x101, {"-3:MissingThs", "-24:WeakConnTh"}},
        {{-24, -3}, 0x101, {"-3:MissingThs", "-24:WeakConnTh"}},
        {{-8}, 0x000, {}},
        {{-3, -3, -3}, 0x001, {"-3:MissingThs"}},
        {{0, 3, 24, -1000, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()}, 0x000, {}},
        {{-3, -4, -5, -6, -7, -9, -21, -22, -24},
         0x1FF,
         {"-3:MissingThs", "-4:ErrActorBus", "-5:ErrSupply", "-6:ErrReturn", "-7:NoMoreTherm", "-9:BackupBatt",
          "-21:ConnThermo", "-22:ThermoBatt", "-24:WeakConnTh"}},
    };
    for (const auto& testCase : cases) {
        const auto status = MakeStatus({}, testCase.codes);
        const auto bits = BaseStation::ConvertToBitfield(status.errors);
        EXPECT_EQ(bits, testCase.bits) << ::testing::PrintToString(testCase.codes);
        EXPECT_EQ(BaseStation::ErrorBitfieldToErrorStrings(bits), testCase.texts);
    }
}

TEST(BaseStationErrorBitfield, IgnoresBitsNineToFifteen)
{
    EXPECT_THAT(BaseStation::ErrorBitfieldToErrorStrings(0xFE00), IsEmpty());
    EXPECT_EQ(BaseStation::ErrorBitfieldToErrorStrings(0xFFFF).size(), 9u);
    EXPECT_THAT(BaseStation::ErrorBitfieldToErrorStrings(0x240), ElementsAre("-21:ConnThermo"));
    EXPECT_EQ(BaseStation::ErrorToBitfield(-22), boost::optional<std::uint16_t>(0x080));
    EXPECT_EQ(BaseStation::ErrorToBitfield(-8), boost::none);
}

TEST_F(BaseStationTest, ReportsOnlyErrorsThatAreNewSinceThePreviousStatus)
{
    struct Step {
        std::vector<int> codes;
        bool hasError;
        std::uint16_t newErrors;
    };
    const std::vector<Step> steps = {
        {{-3}, true, 0x001},      {{-3}, true, 0x000},  {{}, false, 0x000},
        {{-3}, true, 0x001},      {{-3, -4}, true, 0x002}, {{-8}, false, 0x000},
        {{-24, -9}, true, 0x120},
    };
    for (const auto& step : steps) {
        const auto state = station->UpdateBaseStationErrorState(MakeStatus({}, step.codes).errors);
        EXPECT_EQ(state.hasError, step.hasError) << ::testing::PrintToString(step.codes);
        EXPECT_EQ(state.newErrors, step.newErrors) << ::testing::PrintToString(step.codes);
        EXPECT_EQ(station->HasError(), step.hasError);
    }
    EXPECT_TRUE(station->CheckIsNewError(0x100));
    EXPECT_FALSE(station->CheckIsNewError(0x001));
}

TEST(OptimisticWriteValueManager, CountsTokensPerRoomAndHandsEachValueOutOnce)
{
    OptimisticWriteValueManager values;
    KeldraJson::ThermostatObject first;
    first.setpointTemperature = 20.0;
    KeldraJson::ThermostatObject second = first;
    second.setpointTemperature = 21.0;
    EXPECT_EQ(values.SetThermostatSetpointValue(RoomOf(1), first), boost::optional<std::uint32_t>(1));
    EXPECT_EQ(values.SetThermostatSetpointValue(RoomOf(1), second), boost::optional<std::uint32_t>(2));
    EXPECT_EQ(values.SetThermostatSetpointValue(RoomOf(3), first), boost::optional<std::uint32_t>(1));
    EXPECT_EQ(values.GetThermostatSetpointValue(RoomOf(1), 1), boost::none);
    EXPECT_EQ(values.GetThermostatSetpointValue(RoomOf(1), 2), boost::optional<KeldraJson::ThermostatObject>(second));
    EXPECT_EQ(values.GetThermostatSetpointValue(RoomOf(1), 2), boost::none);
    EXPECT_THROW(values.GetThermostatSetpointValue(RoomOf(2), 1), std::out_of_range);
    EXPECT_THROW(values.GetPowerLevelValue(RoomOf(3), 1), std::out_of_range);
    // Power levels of a room count on their own.
    EXPECT_EQ(values.SetPowerLevelValue(RoomOf(1), KeldraJson::PowerLevelControlObject()),
              boost::optional<std::uint32_t>(1));
    // A fresh cache answers token 0 with nothing.
    EXPECT_EQ(values.GetLeavingHomeValue(0), boost::none);
    KeldraJson::SettingsObject cooling;
    cooling.coolingMode = true;
    EXPECT_EQ(values.SetCoolingModeValue(cooling), 1u);
    EXPECT_EQ(values.SetCoolingModeValue(cooling), 1u);
    EXPECT_EQ(values.GetCoolingModeValue(1), boost::optional<KeldraJson::SettingsObject>(cooling));
    EXPECT_EQ(values.SetCoolingModeValue(cooling), 2u);
}

// ---------------------------------------------------------------------------
// Connection

TEST_F(BaseStationTest, TellsFirstChangedAndUnchangedDeviceInformation)
{
    using Update = BaseStation::ServiceInfoUpdate;
    EXPECT_EQ(station->UpdateServiceInfo(nullptr), Update::Null);
    EXPECT_EQ(station->UpdateServiceInfo(MakeServiceInfo(Id, Address)), Update::First);
    EXPECT_EQ(station->UpdateServiceInfo(MakeServiceInfo(Id, Address)), Update::Unchanged);
    auto changedTxt = MakeServiceInfo(Id, Address);
    changedTxt->txt["Model"] = "Brisgo2";
    EXPECT_EQ(station->UpdateServiceInfo(changedTxt), Update::Changed);
    EXPECT_EQ(station->UpdateServiceInfo(MakeServiceInfo(Id, Address + 1)), Update::Changed);
    EXPECT_EQ(station->UpdateServiceInfo(MakeServiceInfo(Id, Address + 1)), Update::Unchanged);
}

TEST_F(BaseStationTest, ReachesTheStationOnPort443WithItsCredentials)
{
    config.Set(0, "installer", "secret");
    Connect(8443);
    const auto parameters = webApis.Parameters();
    ASSERT_EQ(parameters.size(), 1u);
    EXPECT_EQ(parameters[0].endpoint.address().to_string(), "192.168.1.10");
    EXPECT_EQ(parameters[0].endpoint.port(), 443);
    EXPECT_EQ(parameters[0].credentials, boost::optional<Credentials>(Credentials{"installer", "secret"}));
}

TEST_F(BaseStationTest, KeepsTheWebApiObjectWhenANewOneCannotBeCreated)
{
    Connect();
    webApis.FailCreation(SystemError(boost::system::errc::not_enough_memory));
    station->UpdateServiceInfo(MakeServiceInfo(Id, Address + 1));
    station->UpdateWebApi(webApis.Factory());
    EXPECT_EQ(log.Count(log4cplus::ERROR_LOG_LEVEL, "Failed to create web API interface for base station " + Id +
                                                        ": system:12 (Cannot allocate memory)"),
              1u)
        << ::testing::PrintToString(Messages(log4cplus::ERROR_LOG_LEVEL));

    PollOnce();
    EXPECT_EQ(webApis.CreatedCount(), 1u);
    EXPECT_EQ(WebApi().Count(RequestKind::Status), 1u);
}

TEST_F(BaseStationTest, UpdatesCredentialsEditedBetweenTwoPolls)
{
    config.Set(0, "installer", "first");
    Connect();
    PollOnce();
    EXPECT_EQ(log.CountContaining("Update Credentials"), 0u);

    config.Set(0, "installer", "second");
    clock.Advance(PollPeriod);
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Update Credentials (1)"), 1u);

    clock.Advance(PollPeriod);
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Update Credentials (1)"), 1u);

    config.Remove(0);
    clock.Advance(PollPeriod);
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Update Credentials (1)"), 2u);

    const auto requests = WebApi().Requests(RequestKind::Status);
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].credentials, boost::optional<Credentials>(Credentials{"installer", "first"}));
    EXPECT_EQ(requests[1].credentials, boost::optional<Credentials>(Credentials{"installer", "second"}));
    EXPECT_EQ(requests[2].credentials, boost::optional<Credentials>(Credentials{"installer", "second"}));
    EXPECT_EQ(requests[3].credentials, boost::none);
    EXPECT_EQ(WebApi().SetCredentialsCount(), 2u);
}

TEST_F(BaseStationTest, FirmwareCheckOutcomes)
{
    struct Case {
        Oru::SystemResult<KeldraJson::BaseStationShortInfoMessage> answer;
        std::string expected;  // what the handler receives
        std::string errorLine;
        bool mappingsReset;
    };
    const auto version = [](boost::optional<std::string> text) {
        KeldraJson::BaseStationShortInfoMessage message;
        message.firmwareVersion = std::move(text);
        return message;
    };
    const std::vector<Case> cases = {
        {version(std::string(KeldraWebApi::MinimalVersion())), "true", "", false},
        {version(std::string("99.0.0")), "true", "", false},
        {version(std::string("1.3.9")), "false", "Minimal version requirement not met " + Where + ": 1.3.9", false},
        {version(std::string("garbage\n\xff")), "false",
         "Minimal version requirement not met " + Where + ": garbage\\x0a\\xff", false},
        {version(boost::none), "keldrawebapi:9", "Cannot determine firmware version " + Where, false},
        {SystemError(boost::system::errc::connection_refused), "system:111",
         "Failed to get short information " + Where + ": system:111 (Connection refused)", true},
    };
    for (const auto& testCase : cases) {
        Create(MakeProperties(1, Id, {3}, {"THERM001", "THERM002"}));
        Connect();
        PollOnce();
        station->StopStatusPolling();
        ASSERT_TRUE(station->GetRoomThermostatMapping()[0]->GetRoomIndex());
        log.Clear();

        WebApi().AnswerShortInfo(testCase.answer);
        std::vector<std::string> outcomes;
        station->CheckFirmwareVersion([&outcomes](Oru::SystemResult<bool> result) {
            if (result.HasError()) {
                outcomes.push_back(result.GetError().category().name() + std::string(":") +
                                   std::to_string(result.GetError().value()));
            } else {
                outcomes.push_back(result.GetValue() ? "true" : "false");
            }
        });
        EXPECT_THAT(outcomes, IsEmpty()) << "answers arrive through the event loop";
        clock.RunPending();
        EXPECT_THAT(outcomes, ElementsAre(testCase.expected));
        if (testCase.errorLine.empty()) {
            EXPECT_THAT(Messages(log4cplus::ERROR_LOG_LEVEL), IsEmpty());
        } else {
            EXPECT_THAT(Messages(log4cplus::ERROR_LOG_LEVEL), ElementsAre(testCase.errorLine));
        }
        EXPECT_EQ(!station->GetRoomThermostatMapping()[0]->GetRoomIndex(), testCase.mappingsReset)
            << testCase.expected;
    }
}

TEST_F(BaseStationTest, FirmwareCheckWithoutWebApiPassesAndResetsTheMappings)
{
    Connect();
    PollOnce();
    station->StopStatusPolling();
    station->ResetDeviceInfo();
    bool passed = false;
    station->CheckFirmwareVersion([&passed](Oru::SystemResult<bool> result) { passed = result.HasValue() && result.GetValue(); });
    EXPECT_TRUE(passed);
    EXPECT_FALSE(station->GetRoomThermostatMapping()[0]->GetRoomIndex());
    EXPECT_FALSE(station->GetActorModuleMapping()[0].GetRoomIndex());
}

TEST_F(BaseStationTest, SystemMasterFlagLogsOnlyItsChanges)
{
    EXPECT_FALSE(station->ResetDeviceInfo());
    EXPECT_THAT(log.Entries(), IsEmpty());

    Connect();
    station->SetSystemMaster();
    station->SetSystemMaster();
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Set system master: " + Id), 1u);
    EXPECT_TRUE(station->IsSystemMaster());

    EXPECT_TRUE(station->ResetDeviceInfo());
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Unset system master: " + Id), 1u);
    EXPECT_FALSE(station->IsSystemMaster());
    station->UnSetSystemMaster();
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Unset system master: " + Id), 1u);
    EXPECT_FALSE(station->ResetDeviceInfo());
}

// ---------------------------------------------------------------------------
// Status polling and configuration update

TEST_F(BaseStationTest, PollsAtOnceAndThenEveryFiveSeconds)
{
    Connect();
    PollOnce();
    EXPECT_EQ(WebApi().Count(RequestKind::Status), 1u);
    clock.Advance(PollPeriod - boost::chrono::milliseconds(1));
    EXPECT_EQ(WebApi().Count(RequestKind::Status), 1u);
    clock.Advance(boost::chrono::milliseconds(1));
    EXPECT_EQ(WebApi().Count(RequestKind::Status), 2u);
    station->StopStatusPolling();
    clock.Advance(PollPeriod * 3);
    EXPECT_EQ(WebApi().Count(RequestKind::Status), 2u);
}

TEST_F(BaseStationTest, CompleteStatusFillsTheMappingAndIsForwarded)
{
    Connect();
    station->SetSystemMaster();
    PollOnce(MakeStatus({ThermostatRoom(11, "THERM001", 21.0, 5.0, 30.0), ThermostatRoom(12, "THERM002", 19.5),
                         PowerLevelRoom(13, {3}, 4)},
                        {-3}, true));

    EXPECT_THAT(pollStates.Entries(), ElementsAre(Entry{1, BaseStationState::Complete}, Entry{1, boost::none}));
    EXPECT_EQ(station->GetRoomThermostatMapping()[0]->GetRoomIndex(), RoomOf(1));
    EXPECT_EQ(station->GetRoomThermostatMapping()[1]->GetRoomIndex(), RoomOf(2));
    EXPECT_EQ(station->GetActorModuleMapping()[0].GetRoomIndex(), RoomOf(3));

    ASSERT_EQ(statusHandler.systems.size(), 1u);
    EXPECT_TRUE(statusHandler.systems[0].second);
    ASSERT_EQ(statusHandler.leavingHomes.size(), 1u);
    EXPECT_TRUE(statusHandler.leavingHomes[0].active);
    ASSERT_EQ(statusHandler.errors.size(), 1u);
    EXPECT_TRUE(statusHandler.errors[0].hasError);
    EXPECT_EQ(statusHandler.errors[0].newErrors, 0x001);
    ASSERT_EQ(statusHandler.thermostats.size(), 2u);
    EXPECT_EQ(statusHandler.thermostats[1].id, "THERM002");
    ASSERT_EQ(statusHandler.powerLevels.size(), 1u);
    EXPECT_EQ(statusHandler.powerLevels[0].second, 3u);
    EXPECT_EQ(log.Count(log4cplus::DEBUG_LOG_LEVEL, "@" + Id + ": Received status"), 1u);
    EXPECT_EQ(log.Count(log4cplus::DEBUG_LOG_LEVEL, "Received config of base station " + Id + " (Ground floor)"), 1u);
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Room thermostat THERM002 found at room index 2 (" + Id + ")"),
              1u);
}

TEST_F(BaseStationTest, LeavingHomeStatusComesOnlyFromTheSystemMaster)
{
    Connect();
    PollOnce(MakeStatus({ThermostatRoom(1, "THERM001", 21.0)}, {}, true));
    EXPECT_THAT(statusHandler.leavingHomes, IsEmpty());
    ASSERT_EQ(statusHandler.systems.size(), 1u);
    EXPECT_FALSE(statusHandler.systems[0].second);
}

TEST_F(BaseStationTest, StatusErrorsMapToStates)
{
    struct Case {
        boost::system::error_code error;
        BaseStationState state;
    };
    const std::vector<Case> cases = {
        {boost::system::errc::make_error_code(boost::system::errc::bad_message), BaseStationState::BadResponse},
        {make_error_code(BaseStationRequestError::UnusableMessage), BaseStationState::BadResponse},
        {SystemError(boost::system::errc::operation_canceled), BaseStationState::CommunicationFailed},
        {SystemError(boost::system::errc::connection_reset), BaseStationState::CommunicationFailed},
        {SystemError(boost::system::errc::connection_refused), BaseStationState::CommunicationFailed},
        {SystemError(boost::system::errc::host_unreachable), BaseStationState::Missing},
        {boost::asio::ssl::error::stream_truncated, BaseStationState::CommunicationFailed},
        {make_error_code(BaseStationRequestError::CredentialsRefused), BaseStationState::CredentialsRejected},
        {SystemError(boost::system::errc::timed_out), BaseStationState::UnexpectedFailure},
        {make_error_code(BaseStationRequestError::Timeout), BaseStationState::UnexpectedFailure},
        {boost::system::errc::make_error_code(boost::system::errc::connection_refused),
         BaseStationState::UnexpectedFailure},
    };
    for (const auto& testCase : cases) {
        Create(MakeProperties(1, Id, {3}, {"THERM001", "THERM002"}));
        Connect();
        PollOnce();
        pollStates.Clear();
        log.Clear();

        WebApi().AnswerStatus(testCase.error);
        clock.Advance(PollPeriod);
        EXPECT_THAT(pollStates.Entries(), ElementsAre(Entry{1, testCase.state})) << testCase.error.message();
        EXPECT_EQ(log.Count(log4cplus::ERROR_LOG_LEVEL, "Failed to get status " + Where + ": " +
                                                            [&] {
                                                                std::ostringstream text;
                                                                text << Oru::LogEntryFormatter(testCase.error);
                                                                return text.str();
                                                            }()),
                  1u);
        EXPECT_FALSE(station->GetRoomThermostatMapping()[0]->GetRoomIndex()) << testCase.error.message();
        EXPECT_FALSE(station->GetActorModuleMapping()[0].GetRoomIndex()) << testCase.error.message();
    }
}

TEST_F(BaseStationTest, CancelledPollReportsNothingAndKeepsTheMappings)
{
    Connect();
    PollOnce();
    pollStates.Clear();
    statusHandler.Clear();

    WebApi().AnswerStatus(CompleteStatus(), Delivery::Held);
    clock.Advance(PollPeriod);
    ASSERT_EQ(WebApi().HeldCount(RequestKind::Status), 1u);
    // The next poll cancels the one still in flight.
    clock.Advance(PollPeriod);
    EXPECT_EQ(WebApi().HeldCount(RequestKind::Status), 1u);
    EXPECT_EQ(WebApi().Count(RequestKind::Status), 3u);
    EXPECT_EQ(log.CountContaining("Failed to get status " + Where + ": generic:125"), 1u);
    EXPECT_THAT(pollStates.Entries(), IsEmpty());
    EXPECT_THAT(statusHandler.systems, IsEmpty());
    EXPECT_EQ(station->GetRoomThermostatMapping()[0]->GetRoomIndex(), RoomOf(1));
    EXPECT_EQ(station->GetActorModuleMapping()[0].GetRoomIndex(), RoomOf(3));
}

TEST_F(BaseStationTest, PollWithoutWebApiReportsMissing)
{
    station->StartStatusPolling();
    clock.RunPending();
    EXPECT_THAT(pollStates.Entries(), ElementsAre(Entry{1, BaseStationState::Missing}));
}

TEST_F(BaseStationTest, UnusableRoomCountsAreBadResponsesButStatusIsStillForwarded)
{
    for (const std::size_t count : {std::size_t{0}, std::size_t{13}, std::size_t{10000}}) {
        Create(MakeProperties(1, Id, {3}, {"THERM001", "THERM002"}));
        Connect();
        PollOnce();
        pollStates.Clear();
        statusHandler.Clear();
        log.Clear();

        std::vector<KeldraJson::RoomObject> rooms;
        for (std::size_t index = 0; index < count; ++index) {
            rooms.push_back(index % 2 == 0 ? ThermostatRoom(static_cast<unsigned>(index), "THERM001", 20.0)
                                           : PowerLevelRoom(static_cast<unsigned>(index), {3}, 2));
        }
        WebApi().AnswerStatus(MakeStatus(rooms, {-4}));
        clock.Advance(PollPeriod);

        EXPECT_THAT(pollStates.Entries(), ElementsAre(Entry{1, BaseStationState::BadResponse}, Entry{1, boost::none}))
            << count;
        EXPECT_EQ(log.Count(log4cplus::ERROR_LOG_LEVEL, "Invalid number of rooms received: " + std::to_string(count)),
                  1u);
        EXPECT_FALSE(station->GetRoomThermostatMapping()[0]->GetRoomIndex());
        EXPECT_FALSE(station->GetActorModuleMapping()[0].GetRoomIndex());
        EXPECT_EQ(statusHandler.systems.size(), 1u);
        ASSERT_EQ(statusHandler.errors.size(), 1u);
        EXPECT_EQ(statusHandler.errors[0].newErrors, 0x002);
        EXPECT_EQ(statusHandler.thermostats.size() + statusHandler.powerLevels.size(), count);
    }
}

TEST_F(BaseStationTest, WrongMethodIsFatalAndForwardsNothing)
{
    Connect();
    auto status = CompleteStatus();
    status.responseCode = 405;
    PollOnce(status);
    EXPECT_THAT(pollStates.Entries(), ElementsAre(Entry{1, BaseStationState::Fatal}));
    EXPECT_EQ(log.Count(log4cplus::FATAL_LOG_LEVEL, "Status request uses wrong method! Abort."), 1u);
    EXPECT_THAT(statusHandler.systems, IsEmpty());
    EXPECT_THAT(statusHandler.errors, IsEmpty());
    EXPECT_THAT(statusHandler.thermostats, IsEmpty());
    EXPECT_FALSE(station->GetRoomThermostatMapping()[0]->GetRoomIndex());
}

TEST_F(BaseStationTest, ResponseCodesThatOnlyWarn)
{
    struct Case {
        int code;
        std::string warning;
    };
    const std::vector<Case> cases = {
        {500, "Received 'Invalid Token' while request does not require one. Try to continue..."},
        {510, "Received 'Missing Parameter' while request does not require one. Try to continue..."},
        {511, "Received 'Value Out-Of-Range' while request does not provide a value. Try to continue..."},
    };
    for (const auto& testCase : cases) {
        Create(MakeProperties(1, Id, {3}, {"THERM001", "THERM002"}));
        Connect();
        pollStates.Clear();
        log.Clear();
        auto status = CompleteStatus();
        status.responseCode = testCase.code;
        PollOnce(status);
        EXPECT_EQ(log.Count(log4cplus::WARN_LOG_LEVEL, testCase.warning), 1u);
        EXPECT_THAT(pollStates.Entries(), ElementsAre(Entry{1, BaseStationState::Complete}, Entry{1, boost::none}));
    }
}

TEST_F(BaseStationTest, StatusWithoutSerialNumberOrNameWarnsAndNamesTheStationUnknown)
{
    Connect();
    auto status = CompleteStatus();
    status.system.stationName = boost::none;
    PollOnce(status);
    EXPECT_EQ(log.Count(log4cplus::WARN_LOG_LEVEL, "Expect base station 1 (" + Id + ") to break soon..."), 1u);
    EXPECT_EQ(log.Count(log4cplus::DEBUG_LOG_LEVEL, "Received config of base station " + Id + " (\?\?\?)"), 1u);
}

TEST_F(BaseStationTest, InvalidRoomEntriesAreSkipped)
{
    Create(MakeProperties(1, Id, {3, 4}, {"THERM001", "THERM002"}));
    Connect();
    auto twoActors = PowerLevelRoom(14, {3, 4}, 5);
    KeldraJson::RoomObject empty;
    empty.roomNumber = 4000000000u;
    PollOnce(MakeStatus({ThermostatRoom(11, "THERM01", 21.0),                  // 7 characters
                         ThermostatRoom(12, "THERM002", 19.5),                 //
                         twoActors,                                            //
                         PowerLevelRoom(15, {0}, 1), PowerLevelRoom(16, {-7}, 1),
                         PowerLevelRoom(17, {13}, 1),                          //
                         ThermostatRoom(18, std::string("THERM\xff\xfe\x01", 8), 20.0),
                         ThermostatRoom(19, std::string(10000, 'T'), 20.0),    //
                         empty}));

    const std::string where = " (" + Id + "/Ground floor)";
    EXPECT_EQ(log.Count(log4cplus::WARN_LOG_LEVEL, "Skipping invalid room thermostat ID: THERM01" + where), 1u);
    EXPECT_EQ(log.Count(log4cplus::WARN_LOG_LEVEL,
                        "Skipping invalid room thermostat ID: THERM\\xff\\xfe\\x01" + where),
              1u);
    EXPECT_EQ(log.Count(log4cplus::WARN_LOG_LEVEL,
                        "Skipping invalid room thermostat ID: " + std::string(64, 'T') + "..." + where),
              1u);
    EXPECT_EQ(log.Count(log4cplus::ERROR_LOG_LEVEL,
                        "Skipping invalid actor configuration. Only one actor allowed when using power level "
                        "control but got 2" +
                            where),
              1u);
    EXPECT_EQ(log.Count(log4cplus::ERROR_LOG_LEVEL, "Skipping invalid actor module ID: 0" + where), 1u);
    EXPECT_EQ(log.Count(log4cplus::ERROR_LOG_LEVEL, "Skipping invalid actor module ID: -7" + where), 1u);
    EXPECT_EQ(log.Count(log4cplus::ERROR_LOG_LEVEL, "Skipping invalid actor module ID: 13" + where), 1u);
    EXPECT_EQ(log.Count(log4cplus::WARN_LOG_LEVEL,
                        "Invalid room configuration (ID 9): No room thermostat or power level control found for "
                        "room: 4000000000 (Ground floor)"),
              1u);
    // Forwarding skips the invalid actor numbers with a line, the two-actor
    // room silently.
    EXPECT_EQ(log.Count(log4cplus::ERROR_LOG_LEVEL, "Invalid actor module number: 0"), 1u);
    EXPECT_EQ(log.Count(log4cplus::ERROR_LOG_LEVEL, "Invalid actor module number: -7"), 1u);
    EXPECT_EQ(log.Count(log4cplus::ERROR_LOG_LEVEL, "Invalid actor module number: 13"), 1u);
    EXPECT_THAT(statusHandler.powerLevels, IsEmpty());
    EXPECT_EQ(statusHandler.thermostats.size(), 4u);

    EXPECT_FALSE(station->GetRoomThermostatMapping()[0]->GetRoomIndex());
    EXPECT_EQ(station->GetRoomThermostatMapping()[1]->GetRoomIndex(), RoomOf(2));
    EXPECT_FALSE(station->GetActorModuleMapping()[0].GetRoomIndex());
    EXPECT_THAT(pollStates.Entries(),
                ElementsAre(Entry{1, BaseStationState::ThermostatsAndActorsMissing}, Entry{1, boost::none}));
}

TEST_F(BaseStationTest, SevenCharacterThermostatIdLeavesTheThermostatsMissing)
{
    Connect();
    PollOnce(MakeStatus({ThermostatRoom(11, "THERM01", 21.0), ThermostatRoom(12, "THERM002", 19.5),
                         PowerLevelRoom(13, {3}, 4)}));
    EXPECT_THAT(pollStates.Entries(), ElementsAre(Entry{1, BaseStationState::ThermostatsMissing}, Entry{1, boost::none}));
    EXPECT_EQ(log.Count(log4cplus::WARN_LOG_LEVEL, "Missing room thermostat: THERM001"), 1u);
}

TEST_F(BaseStationTest, FewerRoomsThanConfiguredWarns)
{
    Connect();
    PollOnce(MakeStatus({ThermostatRoom(11, "THERM001", 21.0)}));
    EXPECT_EQ(log.Count(log4cplus::WARN_LOG_LEVEL, "More rooms (3) configured in ETS than currently found (1) at "
                                                   "base station (" +
                                                       Id + "/Ground floor)"),
              1u);
    EXPECT_THAT(pollStates.Entries(),
                ElementsAre(Entry{1, BaseStationState::ThermostatsAndActorsMissing}, Entry{1, boost::none}));
}

// ---------------------------------------------------------------------------
// Writes

class BaseStationWriteTest : public BaseStationTest {
protected:
    BaseStationWriteTest()
    {
        Connect();
        PollOnce();
        station->StopStatusPolling();
        clock.RunPending();
        statusHandler.Clear();
        pollStates.Clear();
        log.Clear();
    }

    static HalfDegreeTemperature Half(unsigned halfDegrees) { return *HalfDegreeTemperature::CreateFrom(halfDegrees); }
    static PowerLevel Level(unsigned level) { return *PowerLevel::CreateFrom(level); }
};

TEST_F(BaseStationWriteTest, ResponseTable)
{
    struct Case {
        Oru::SystemResult<WriteResponseStatus> answer;
        std::vector<Entry> states;
        std::string line;  // logged at any level, or empty
        bool published;
    };
    const std::vector<Case> cases = {
        {WriteResponseStatus::Accepted, {Entry{1, boost::none}}, "", true},
        {WriteResponseStatus::OutOfRange, {Entry{1, BaseStationState::ValueOutOfRange}},
         "@" + Id + ": Received response 'Out-Of-Range'", false},
        {WriteResponseStatus::InvalidCookie, {Entry{1, BaseStationState::CommunicationFailed}},
         "@" + Id + ": Received response 'Invalid Cookie'", false},
        {static_cast<WriteResponseStatus>(7), {}, "", false},
        {make_error_code(BaseStationRequestError::CredentialsRefused), {Entry{1, BaseStationState::CredentialsRejected}},
         "", false},
        {SystemError(boost::system::errc::connection_reset), {Entry{1, BaseStationState::CommunicationFailed}},
         "Communication error: system:104 (Connection reset by peer)", false},
    };
    for (const auto& testCase : cases) {
        for (const auto kind : {RequestKind::SetpointTemperature, RequestKind::PowerLevel, RequestKind::CoolingMode,
                                RequestKind::LeavingHome}) {
            statusHandler.Clear();
            writeStates.Clear();
            log.Clear();
            station->SetSystemMaster();
            WebApi().AnswerWrite(kind, testCase.answer);
            switch (kind) {
            case RequestKind::SetpointTemperature:
                station->SetSetpointTemperature(0, Half(40 + static_cast<unsigned>(WebApi().Count(kind) % 2)),
                                                writeStates.Callback());
                break;
            case RequestKind::PowerLevel:
                station->SetPowerLevelValue(0, Level(static_cast<unsigned>(WebApi().Count(kind) % 10)),
                                            writeStates.Callback());
                break;
            case RequestKind::CoolingMode:
                station->SetCoolingMode(WebApi().Count(kind) % 2 == 0, writeStates.Callback());
                break;
            default:
                station->SetLeavingHome(WebApi().Count(kind) % 2 == 0, boost::none, writeStates.Callback());
                break;
            }
            clock.RunPending();
            EXPECT_EQ(writeStates.Entries(), testCase.states) << kind;
            if (!testCase.line.empty()) {
                EXPECT_EQ(log.CountContaining(testCase.line), 1u) << kind;
            }
            const std::size_t published = statusHandler.thermostats.size() + statusHandler.powerLevels.size() +
                                          statusHandler.coolingModes.size() + statusHandler.leavingHomes.size();
            EXPECT_EQ(published, testCase.published ? 1u : 0u) << kind;
        }
    }
}

TEST_F(BaseStationWriteTest, AcceptedWritesPublishTheWrittenValues)
{
    station->SetSetpointTemperature(1, Half(43), writeStates.Callback());
    station->SetPowerLevelPercent(0, *KnxBytePercent::CreateFrom(128), writeStates.Callback());
    station->SetCoolingMode(true, writeStates.Callback());
    clock.RunPending();

    ASSERT_EQ(statusHandler.thermostats.size(), 1u);
    EXPECT_EQ(statusHandler.thermostats[0].id, "THERM002");
    EXPECT_EQ(statusHandler.thermostats[0].setpointTemperature, 21.5);
    EXPECT_EQ(statusHandler.thermostats[0].minimumTemperature, boost::none);
    ASSERT_EQ(statusHandler.powerLevels.size(), 1u);
    EXPECT_EQ(statusHandler.powerLevels[0].first.powerLevel, 6);
    EXPECT_EQ(statusHandler.powerLevels[0].first.percentage, boost::optional<std::uint8_t>(128));
    EXPECT_EQ(statusHandler.powerLevels[0].first.minimumLevel, boost::optional<std::uint8_t>(0));
    EXPECT_EQ(statusHandler.powerLevels[0].first.maximumLevel, boost::optional<std::uint8_t>(10));
    EXPECT_EQ(statusHandler.powerLevels[0].second, 3u);
    ASSERT_EQ(statusHandler.coolingModes.size(), 1u);
    EXPECT_TRUE(statusHandler.coolingModes[0].coolingMode);
    EXPECT_EQ(statusHandler.coolingModes[0].automaticChangeover, boost::none);

    const auto setpoints = WebApi().Requests(RequestKind::SetpointTemperature);
    ASSERT_EQ(setpoints.size(), 1u);
    EXPECT_EQ(setpoints[0].room, RoomOf(2));
    EXPECT_EQ(setpoints[0].temperature, 21.5);
    const auto levels = WebApi().Requests(RequestKind::PowerLevel);
    ASSERT_EQ(levels.size(), 1u);
    EXPECT_EQ(levels[0].room, RoomOf(3));
    EXPECT_EQ(levels[0].level, Level(6));
}

TEST_F(BaseStationWriteTest, PercentIsRoundedUpToAPowerLevel)
{
    const std::vector<std::pair<unsigned, unsigned>> cases = {{0, 0},  {1, 1},  {25, 1},  {26, 2},
                                                              {127, 5}, {128, 6}, {254, 10}, {255, 10}};
    for (const auto& testCase : cases) {
        station->SetPowerLevelPercent(0, *KnxBytePercent::CreateFrom(testCase.first), writeStates.Callback());
        EXPECT_EQ(WebApi().Requests(RequestKind::PowerLevel).back().level, Level(testCase.second)) << testCase.first;
    }
}

TEST_F(BaseStationWriteTest, OnlyTheLatestWriteOfAnItemPublishes)
{
    WebApi().AnswerWrite(RequestKind::SetpointTemperature, WriteResponseStatus::Accepted, Delivery::Held);
    station->SetSetpointTemperature(0, Half(40), writeStates.Callback());
    station->SetSetpointTemperature(0, Half(41), writeStates.Callback());
    WebApi().ReleaseHeld();
    clock.RunPending();
    ASSERT_EQ(statusHandler.thermostats.size(), 1u);
    EXPECT_EQ(statusHandler.thermostats[0].setpointTemperature, 20.5);
    EXPECT_THAT(writeStates.Entries(), ElementsAre(Entry{1, boost::none}, Entry{1, boost::none}));
}

TEST_F(BaseStationWriteTest, SetpointOutsideTheReportedRangeIsRejectedWithTheInfoLine)
{
    // THERM001 reported 5..21 degrees; THERM002 reported no range.
    station->SetSetpointTemperature(0, Half(43), writeStates.Callback());
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "SetpointTemperature - Value out of range (5,21): 21.5"), 1u);
    EXPECT_THAT(writeStates.Entries(), ElementsAre(Entry{1, BaseStationState::ValueOutOfRange}));
    EXPECT_EQ(WebApi().Count(RequestKind::SetpointTemperature), 0u);

    station->SetSetpointTemperature(0, Half(10), writeStates.Callback());
    station->SetSetpointTemperature(0, Half(42), writeStates.Callback());
    station->SetSetpointTemperature(1, Half(60), writeStates.Callback());
    EXPECT_EQ(WebApi().Count(RequestKind::SetpointTemperature), 3u);
}

TEST_F(BaseStationWriteTest, WritesWithoutMappingOrWebApi)
{
    Create(MakeProperties(1, Id, {3}, {"THERM001", ""}));
    station->SetSetpointTemperature(1, Half(40), writeStates.Callback());
    EXPECT_EQ(log.Count(log4cplus::ERROR_LOG_LEVEL,
                        "Cannot set temperature setpoint of thermostat 2. Invalid room thermostat id configuration"),
              1u);
    EXPECT_THAT(writeStates.Entries(), IsEmpty());

    station->SetSetpointTemperature(0, Half(40), writeStates.Callback());
    station->SetPowerLevelValue(0, Level(2), writeStates.Callback());
    station->SetCoolingMode(true, writeStates.Callback());
    station->SetLeavingHome(true, boost::none, writeStates.Callback());
    EXPECT_THAT(writeStates.Entries(),
                ElementsAre(Entry{1, BaseStationState::Missing}, Entry{1, BaseStationState::Missing},
                            Entry{1, BaseStationState::Missing}, Entry{1, BaseStationState::Missing}));

    Connect();
    writeStates.Clear();
    station->SetSetpointTemperature(0, Half(40), writeStates.Callback());
    station->SetPowerLevelValue(0, Level(2), writeStates.Callback());
    EXPECT_EQ(log.Count(log4cplus::ERROR_LOG_LEVEL,
                        "Cannot set temperature setpoint of thermostat 1 (THERM001). Missing mapping to room index"),
              1u);
    EXPECT_EQ(log.Count(log4cplus::ERROR_LOG_LEVEL,
                        "Cannot set power level setpoint of actor module 1 (3). Missing mapping to room index"),
              1u);
    EXPECT_THAT(writeStates.Entries(), ElementsAre(Entry{1, boost::none}, Entry{1, boost::none}));
    EXPECT_EQ(WebApi().Requests().size(), 0u);

    EXPECT_THROW(station->SetSetpointTemperature(2, Half(40), writeStates.Callback()), std::out_of_range);
    EXPECT_THROW(station->SetPowerLevelValue(1, Level(2), writeStates.Callback()), std::out_of_range);
    EXPECT_THROW(station->SetPowerLevelUpDown(1, true, false, writeStates.Callback()), std::out_of_range);
}

TEST_F(BaseStationWriteTest, LeavingHomeIsRecordedAndPublishedByTheSystemMasterOnly)
{
    const auto arrival = boost::posix_time::ptime(boost::gregorian::date(2024, 5, 20),
                                                  boost::posix_time::hours(18) + boost::posix_time::minutes(30));
    station->SetLeavingHome(true, arrival, writeStates.Callback());
    clock.RunPending();
    EXPECT_THAT(statusHandler.leavingHomes, IsEmpty());

    station->SetSystemMaster();
    station->SetLeavingHome(true, arrival, writeStates.Callback());
    station->SetLeavingHome(false, arrival, writeStates.Callback());
    clock.RunPending();
    ASSERT_EQ(statusHandler.leavingHomes.size(), 1u);
    EXPECT_FALSE(statusHandler.leavingHomes[0].active);

    const auto requests = WebApi().Requests(RequestKind::LeavingHome);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_TRUE(requests[1].flag);
    EXPECT_EQ(requests[1].arrival, arrival);
    EXPECT_FALSE(requests[2].flag);
    EXPECT_EQ(requests[2].arrival, boost::none);

    statusHandler.Clear();
    station->SetLeavingHome(true, arrival, writeStates.Callback());
    clock.RunPending();
    ASSERT_EQ(statusHandler.leavingHomes.size(), 1u);
    EXPECT_EQ(statusHandler.leavingHomes[0].date, boost::optional<std::string>(
                                                      KeldraWebApi::GenerateLeavingHomeDateString(arrival.date())));
    EXPECT_EQ(statusHandler.leavingHomes[0].time,
              boost::optional<std::string>(KeldraWebApi::GenerateLeavingHomeTimeString(arrival.time_of_day())));

    // Master lost before the answer: nothing is published.
    statusHandler.Clear();
    WebApi().AnswerWrite(RequestKind::LeavingHome, WriteResponseStatus::Accepted, Delivery::Held);
    station->SetLeavingHome(false, boost::none, writeStates.Callback());
    station->UnSetSystemMaster();
    WebApi().ReleaseHeld();
    clock.RunPending();
    EXPECT_THAT(statusHandler.leavingHomes, IsEmpty());
}

TEST_F(BaseStationWriteTest, StepsWithinTheWindowWriteOnce)
{
    // Slot 1 reported level 4.
    station->SetPowerLevelUpDown(0, true, false, writeStates.Callback());
    clock.Advance(boost::chrono::milliseconds(100));
    station->SetPowerLevelUpDown(0, true, false, writeStates.Callback());
    clock.Advance(boost::chrono::milliseconds(100));
    station->SetPowerLevelUpDown(0, true, false, writeStates.Callback());
    clock.Advance(boost::chrono::milliseconds(299));
    EXPECT_EQ(WebApi().Count(RequestKind::PowerLevel), 0u);
    WebApi().AnswerWrite(RequestKind::PowerLevel, WriteResponseStatus::Accepted, Delivery::Held);
    clock.Advance(boost::chrono::milliseconds(1));
    const auto writes = WebApi().Requests(RequestKind::PowerLevel);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].level, Level(7));
    EXPECT_EQ(writes[0].room, RoomOf(3));

    // A further step before the answer starts from the pending 7.
    station->SetPowerLevelUpDown(0, true, false, writeStates.Callback());
    clock.Advance(boost::chrono::milliseconds(300));
    ASSERT_EQ(WebApi().Count(RequestKind::PowerLevel), 2u);
    EXPECT_EQ(WebApi().Requests(RequestKind::PowerLevel)[1].level, Level(8));

    // The answers clear the pending value; the accepted 8 is the current
    // setpoint from which the next steps start.
    WebApi().ReleaseHeld();
    clock.RunPending();
    ASSERT_EQ(statusHandler.powerLevels.size(), 1u);
    EXPECT_EQ(statusHandler.powerLevels[0].first.powerLevel, 8);
    station->SetPowerLevelUpDown(0, false, false, writeStates.Callback());
    station->SetPowerLevelUpDown(0, false, false, writeStates.Callback());
    clock.Advance(boost::chrono::milliseconds(300));
    ASSERT_EQ(WebApi().Count(RequestKind::PowerLevel), 3u);
    EXPECT_EQ(WebApi().Requests(RequestKind::PowerLevel)[2].level, Level(6));
}

TEST_F(BaseStationWriteTest, StepsThatCancelOutOnlyFinishTheCommand)
{
    station->SetPowerLevelUpDown(0, true, false, writeStates.Callback());
    station->SetPowerLevelUpDown(0, false, false, writeStates.Callback());
    clock.Advance(boost::chrono::milliseconds(300));
    EXPECT_EQ(WebApi().Count(RequestKind::PowerLevel), 0u);
    EXPECT_THAT(writeStates.Entries(), ElementsAre(Entry{1, boost::none}));
}

// ---------------------------------------------------------------------------
// Lifetimes

TEST_F(BaseStationTest, AnswersArrivingAfterTheStationIsGoneReportNothing)
{
    Connect();
    PollOnce();
    auto& webApi = WebApi();
    webApi.AnswerStatus(CompleteStatus(), Delivery::Held);
    webApi.AnswerShortInfo(KeldraJson::BaseStationShortInfoMessage{std::string("9.9.9"), boost::none, boost::none},
                           Delivery::Held);
    for (const auto kind : {RequestKind::SetpointTemperature, RequestKind::PowerLevel, RequestKind::CoolingMode,
                            RequestKind::LeavingHome}) {
        webApi.AnswerWrite(kind, WriteResponseStatus::Accepted, Delivery::Held);
    }
    clock.Advance(PollPeriod);
    int firmwareAnswers = 0;
    station->CheckFirmwareVersion([&firmwareAnswers](Oru::SystemResult<bool>) { ++firmwareAnswers; });
    station->SetSetpointTemperature(0, *HalfDegreeTemperature::CreateFrom(40), writeStates.Callback());
    station->SetPowerLevelValue(0, *PowerLevel::CreateFrom(2), writeStates.Callback());
    station->SetPowerLevelUpDown(0, true, false, writeStates.Callback());
    station->SetCoolingMode(true, writeStates.Callback());
    station->SetLeavingHome(true, boost::none, writeStates.Callback());
    EXPECT_EQ(webApi.HeldCount(), 6u);

    pollStates.Clear();
    statusHandler.Clear();
    station.reset();
    webApi.ReleaseHeld();
    clock.Advance(PollPeriod * 3);
    EXPECT_EQ(firmwareAnswers, 0);
    EXPECT_THAT(pollStates.Entries(), IsEmpty());
    EXPECT_THAT(writeStates.Entries(), IsEmpty());
    EXPECT_THAT(statusHandler.systems, IsEmpty());
    EXPECT_EQ(clock.PendingWaitCount(), 0u);
}

TEST_F(BaseStationTest, AnswerFromInsideTheRequestCallIsHandled)
{
    Connect();
    WebApi().AnswerStatus(CompleteStatus(), Delivery::Immediately);
    station->StartStatusPolling();
    clock.RunPending();
    EXPECT_THAT(pollStates.Entries(), ElementsAre(Entry{1, BaseStationState::Complete}, Entry{1, boost::none}));
}

}  // namespace
}  // namespace Testing
}  // namespace Keldra
