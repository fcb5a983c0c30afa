#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <map>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "RecordingErrorIndication.h"
#include "VirtualClockSystem.h"
#include "rooms/ErrorCodeHandler.h"

namespace Keldra {

// Failure messages show a code as its KNX text and number.
void PrintTo(ErrorCodesBaseStationSpecific code, std::ostream* stream)
{
    *stream << ErrorHandler::ErrorCodeToString(code) << " (" << static_cast<int>(code) << ")";
}

void PrintTo(const ErrorCode& code, std::ostream* stream)
{
    *stream << ErrorHandler::ErrorCodeToString(code) << " (" << code.which() << ")";
}

}  // namespace Keldra

using namespace Keldra;
using namespace Keldra::Testing;
using Oru::Testing::LogCapture;
using Oru::Testing::VirtualClockSystem;
using Code = ErrorCodesBaseStationSpecific;
using General = ErrorCodesGeneral;
using Calls = std::vector<IndicationCall>;
using Duration = VirtualClockSystem::Duration;

namespace {

constexpr Duration Milliseconds(long long count) { return boost::chrono::milliseconds(count); }

BaseStationNumber Station(unsigned number) { return *BaseStationNumber::Create(number); }

using StationOperation = void (IErrorHandler::*)(const BaseStationNumber&);

StationOperation SetOperation(Code code)
{
    switch (code) {
    case Code::BaseStationMissing: return &IErrorHandler::SetBaseStationMissing;
    case Code::CommunicationError: return &IErrorHandler::SetCommunicationError;
    case Code::InvalidCredentials: return &IErrorHandler::SetInvalidCredentials;
    case Code::UnsupportedFirmware: return &IErrorHandler::SetUnsupportedFirmware;
    case Code::RoomThermostatMissing: return &IErrorHandler::SetRoomThermostatMissing;
    case Code::ActorModuleMissing: return &IErrorHandler::SetActorModuleMissing;
    case Code::NoError: break;
    }
    throw std::invalid_argument("no operation sets NoError");
}

StationOperation UnSetOperation(Code code)
{
    switch (code) {
    case Code::BaseStationMissing: return &IErrorHandler::UnSetBaseStationMissing;
    case Code::CommunicationError: return &IErrorHandler::UnSetCommunicationError;
    case Code::InvalidCredentials: return &IErrorHandler::UnSetInvalidCredentials;
    case Code::UnsupportedFirmware: return &IErrorHandler::UnSetUnsupportedFirmware;
    case Code::RoomThermostatMissing: return &IErrorHandler::UnSetRoomThermostatMissing;
    case Code::ActorModuleMissing: return &IErrorHandler::UnSetActorModuleMissing;
    case Code::NoError: break;
    }
    throw std::invalid_argument("no operation clears NoError");
}

const std::vector<Code> StationErrors = {Code::BaseStationMissing,  Code::CommunicationError,
                                         Code::InvalidCredentials,  Code::UnsupportedFirmware,
                                         Code::RoomThermostatMissing, Code::ActorModuleMissing};

const Calls InitialNoError = {LastError("NoError"), HasError(false), Led(-1)};
const Calls Cleared = {HasError(false), Led(-1)};
Calls StationError(const std::string& text, int led) { return {LastError(text), HasError(true), Led(led)}; }
Calls GeneralError(const std::string& text) { return {LastError(text), HasError(true)}; }

// One thing a test does to the error handler or its clock.
struct Action {
    enum class Kind { Set, UnSet, Report, Advance };
    Kind kind;
    Code code;
    unsigned station;
    General general;
    Duration duration;
};

Action Set(Code code, unsigned station) { return {Action::Kind::Set, code, station, General::NoError, {}}; }
Action UnSet(Code code, unsigned station) { return {Action::Kind::UnSet, code, station, General::NoError, {}}; }
Action Report(General general) { return {Action::Kind::Report, Code::NoError, 0, general, {}}; }
Action Advance(Duration duration) { return {Action::Kind::Advance, Code::NoError, 0, General::NoError, duration}; }

std::ostream& operator<<(std::ostream& stream, const Action& action)
{
    switch (action.kind) {
    case Action::Kind::Set:
        return stream << "set " << ErrorHandler::ErrorCodeToString(action.code) << " on " << action.station;
    case Action::Kind::UnSet:
        return stream << "clear " << ErrorHandler::ErrorCodeToString(action.code) << " on " << action.station;
    case Action::Kind::Report:
        return stream << "report " << ErrorHandler::ErrorCodeToString(action.general);
    case Action::Kind::Advance:
        return stream << "advance " << action.duration.count() << " ns";
    }
    return stream;
}

class ErrorHandlerTest : public testing::Test {
protected:
    void Create(unsigned stationCount)
    {
        _handler.reset();
        _handler = std::make_unique<ErrorHandler>([this]() { return _clock.CreateTimer(); }, _indication,
                                                  Station(stationCount));
    }

    // A handler with every station found and the first no-error indication
    // made; nothing recorded or logged yet.
    void CreateRunning(unsigned stationCount)
    {
        Create(stationCount);
        _handler->HandleGeneralError(General::NoError);
        for (unsigned station = 1; station <= stationCount; ++station) {
            _handler->UnSetBaseStationMissing(Station(station));
        }
        _indication.TakeCalls();
        _log.Clear();
    }

    void Apply(const Action& action)
    {
        IErrorHandler& handler = *_handler;
        switch (action.kind) {
        case Action::Kind::Set: (handler.*SetOperation(action.code))(Station(action.station)); return;
        case Action::Kind::UnSet: (handler.*UnSetOperation(action.code))(Station(action.station)); return;
        case Action::Kind::Report: handler.HandleGeneralError(action.general); return;
        case Action::Kind::Advance: _clock.Advance(action.duration); return;
        }
    }

    std::vector<std::string> ErrorLines() const { return _log.Messages(log4cplus::ERROR_LOG_LEVEL); }

    VirtualClockSystem _clock;
    LogCapture _log;
    RecordingErrorIndication _indication;
    std::unique_ptr<ErrorHandler> _handler;
};

// ---------------------------------------------------------------------------
// Indication sequences

struct Step {
    Action action;
    Calls expected;
};

struct Scenario {
    std::string name;
    unsigned stationCount;
    std::vector<Step> steps;
};

std::ostream& operator<<(std::ostream& stream, const Scenario& scenario) { return stream << scenario.name; }

struct GeneralErrorRow {
    General code;
    const char* name;
    const char* text;
};

const std::vector<GeneralErrorRow> GeneralErrors = {
    {General::InvalidResponse, "InvalidResponse", "InvalidResp"},
    {General::UnsupportedValue, "UnsupportedValue", "UnsupportedVal"},
    {General::OutOfRangeValue, "OutOfRangeValue", "OutOfRangeVal"},
    {General::UnexpectedError, "UnexpectedError", "UnexpectedErr"},
    {General::FatalError, "FatalError", "FatalError"},
};

std::vector<Scenario> Scenarios()
{
    std::vector<Scenario> scenarios = {
        {"PrioritiesAcrossStations", 2,
         {
             {Report(General::NoError), InitialNoError},
             {UnSet(Code::BaseStationMissing, 1), {}},
             {UnSet(Code::BaseStationMissing, 2), {}},
             {Set(Code::ActorModuleMissing, 1), StationError("MissingActor", 3)},
             {Set(Code::CommunicationError, 2), StationError("CommError", 5)},
             {UnSet(Code::CommunicationError, 2), StationError("MissingActor", 3)},
             {UnSet(Code::ActorModuleMissing, 1), Cleared},
         }},
        {"LessSignificantErrorsChangeNothing", 2,
         {
             {Report(General::NoError), InitialNoError},
             {UnSet(Code::BaseStationMissing, 1), {}},
             {UnSet(Code::BaseStationMissing, 2), {}},
             {Set(Code::CommunicationError, 1), StationError("CommError", 5)},
             {Set(Code::ActorModuleMissing, 2), {}},
             {Set(Code::RoomThermostatMissing, 1), {}},
             {Report(General::NoError), {}},
             {UnSet(Code::CommunicationError, 1), StationError("MissingThermos", 3)},
             {UnSet(Code::RoomThermostatMissing, 1), StationError("MissingActor", 3)},
             {UnSet(Code::ActorModuleMissing, 2), Cleared},
             {Report(General::NoError), {}},
         }},
        {"PriorityWithinOneStation", 1,
         {
             {Report(General::NoError), InitialNoError},
             {UnSet(Code::BaseStationMissing, 1), {}},
             {Set(Code::ActorModuleMissing, 1), StationError("MissingActor", 3)},
             {Set(Code::RoomThermostatMissing, 1), StationError("MissingThermos", 3)},
             {Set(Code::UnsupportedFirmware, 1), StationError("UnsupportedFW", 5)},
             {Set(Code::InvalidCredentials, 1), StationError("InvalidCreds", 5)},
             {Set(Code::CommunicationError, 1), StationError("CommError", 5)},
             {UnSet(Code::CommunicationError, 1), StationError("InvalidCreds", 5)},
             {UnSet(Code::InvalidCredentials, 1), StationError("UnsupportedFW", 5)},
             {UnSet(Code::UnsupportedFirmware, 1), StationError("MissingThermos", 3)},
             {UnSet(Code::RoomThermostatMissing, 1), StationError("MissingActor", 3)},
             {UnSet(Code::ActorModuleMissing, 1), Cleared},
         }},
        {"NeverFoundStationCountsAfter27Seconds", 2,
         {
             {Report(General::NoError), InitialNoError},
             {UnSet(Code::BaseStationMissing, 1), {}},
             {Advance(Milliseconds(26999)), {}},
             {Advance(Milliseconds(1)), StationError("MissingBaseSta", 5)},
             {Report(General::NoError), {}},
             {UnSet(Code::BaseStationMissing, 2), Cleared},
             {Report(General::NoError), {}},
             {Set(Code::BaseStationMissing, 2), StationError("MissingBaseSta", 5)},
             {Advance(boost::chrono::hours(1)), {}},
         }},
        {"MissingStationOutranksOtherErrors", 2,
         {
             {Report(General::NoError), InitialNoError},
             {UnSet(Code::BaseStationMissing, 1), {}},
             {Set(Code::CommunicationError, 1), StationError("CommError", 5)},
             {Advance(boost::chrono::seconds(27)), StationError("MissingBaseSta", 5)},
             {UnSet(Code::BaseStationMissing, 2), StationError("CommError", 5)},
             {UnSet(Code::CommunicationError, 1), Cleared},
         }},
        {"StationErrorsBeforeTheFirstNoError", 1,
         {
             {Set(Code::CommunicationError, 1), StationError("CommError", 5)},
             {Set(Code::ActorModuleMissing, 1), {}},
             {UnSet(Code::CommunicationError, 1), StationError("MissingActor", 3)},
             {UnSet(Code::ActorModuleMissing, 1), InitialNoError},
             {Advance(Milliseconds(26999)), {}},
             {Advance(Milliseconds(1)), StationError("MissingBaseSta", 5)},
         }},
        {"GracePeriodStartsWithTheFirstNoError", 1,
         {
             {Advance(boost::chrono::hours(1)), {}},
             {Report(General::NoError), InitialNoError},
             {Advance(boost::chrono::seconds(27)), StationError("MissingBaseSta", 5)},
         }},
        {"GeneralErrorsReplaceEachOther", 1,
         {
             {Report(General::InvalidResponse), GeneralError("InvalidResp")},
             {Report(General::OutOfRangeValue), GeneralError("OutOfRangeVal")},
             {Report(General::NoError), InitialNoError},
             {UnSet(Code::BaseStationMissing, 1), {}},
             {Report(General::UnexpectedError), GeneralError("UnexpectedErr")},
             {Report(General::NoError), Cleared},
             {Set(Code::RoomThermostatMissing, 1), StationError("MissingThermos", 3)},
             {UnSet(Code::RoomThermostatMissing, 1), Cleared},
             {Report(General::NoError), {}},
         }},
    };
    for (const auto& row : GeneralErrors) {
        scenarios.push_back({std::string("Indicates") + row.name, 1,
                             {
                                 {Report(General::NoError), InitialNoError},
                                 {UnSet(Code::BaseStationMissing, 1), {}},
                                 {Report(row.code), GeneralError(row.text)},
                                 {Report(row.code), {}},
                                 {Report(General::NoError), Cleared},
                                 {Report(row.code), GeneralError(row.text)},
                             }});
        // While a station error is shown the general error neither replaces
        // it nor becomes the last error: the next evaluation finds nothing new.
        scenarios.push_back({std::string("HidesWhileStationErrorShown") + row.name, 1,
                             {
                                 {Report(General::NoError), InitialNoError},
                                 {UnSet(Code::BaseStationMissing, 1), {}},
                                 {Set(Code::CommunicationError, 1), StationError("CommError", 5)},
                                 {Report(row.code), {}},
                                 {Report(General::NoError), {}},
                                 {Set(Code::ActorModuleMissing, 1), {}},
                                 {UnSet(Code::CommunicationError, 1), StationError("MissingActor", 3)},
                                 {UnSet(Code::ActorModuleMissing, 1), Cleared},
                             }});
    }
    return scenarios;
}

class ErrorHandlerSequence : public ErrorHandlerTest, public testing::WithParamInterface<Scenario> {};

TEST_P(ErrorHandlerSequence, IndicatesExactlyTheExpectedCalls)
{
    Create(GetParam().stationCount);
    const auto& steps = GetParam().steps;
    for (std::size_t step = 0; step < steps.size(); ++step) {
        SCOPED_TRACE(testing::Message() << "step " << step + 1 << ": " << steps[step].action);
        Apply(steps[step].action);
        EXPECT_EQ(_indication.TakeCalls(), steps[step].expected);
    }
}

std::string ScenarioName(const testing::TestParamInfo<Scenario>& scenario) { return scenario.param.name; }

INSTANTIATE_TEST_SUITE_P(ErrorHandler, ErrorHandlerSequence, testing::ValuesIn(Scenarios()), ScenarioName);

// ---------------------------------------------------------------------------
// Codes and texts

TEST(ErrorCodes, TextOfEveryCode)
{
    const std::vector<std::pair<ErrorCode, std::string>> table = {
        {Code::NoError, "NoError"},
        {Code::BaseStationMissing, "MissingBaseSta"},
        {Code::CommunicationError, "CommError"},
        {Code::InvalidCredentials, "InvalidCreds"},
        {Code::UnsupportedFirmware, "UnsupportedFW"},
        {Code::RoomThermostatMissing, "MissingThermos"},
        {Code::ActorModuleMissing, "MissingActor"},
        {General::NoError, "NoError"},
        {General::InvalidResponse, "InvalidResp"},
        {General::UnsupportedValue, "UnsupportedVal"},
        {General::OutOfRangeValue, "OutOfRangeVal"},
        {General::UnexpectedError, "UnexpectedErr"},
        {General::FatalError, "FatalError"},
    };
    for (const auto& [code, text] : table) {
        EXPECT_EQ(ErrorHandler::ErrorCodeToString(code).Get(), text);
    }
}

TEST(ErrorCodes, EqualOnlyWithTheSameAlternativeAndValue)
{
    EXPECT_EQ(ErrorCode(Code::CommunicationError), ErrorCode(Code::CommunicationError));
    EXPECT_FALSE(ErrorCode(Code::NoError) == ErrorCode(General::NoError));
    EXPECT_FALSE(ErrorCode(Code::CommunicationError) == ErrorCode(Code::InvalidCredentials));
}

TEST(ErrorCodesDeathTest, CodeOutsideTheEnumerationReachesTheGuard)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(ErrorHandler::ErrorCodeToString(static_cast<General>(5)),
                 "This statement should not be executed. There is a bug somewhere around ErrorCodes:");
}

TEST_F(ErrorHandlerTest, BitPositionOfEveryStationError)
{
    Create(1);
    const std::vector<std::pair<Code, int>> table = {
        {Code::NoError, 0},
        {Code::BaseStationMissing, 7},
        {Code::CommunicationError, 6},
        {Code::InvalidCredentials, 5},
        {Code::UnsupportedFirmware, 4},
        {Code::RoomThermostatMissing, 3},
        {Code::ActorModuleMissing, 2},
    };
    for (const auto& [code, position] : table) {
        EXPECT_EQ(_handler->GetErrorPosition(code), position) << ErrorHandler::ErrorCodeToString(code);
    }
}

// ---------------------------------------------------------------------------
// Setting and clearing bits

TEST_F(ErrorHandlerTest, SettingAnErrorTwiceLogsAndIndicatesOnce)
{
    struct Row {
        Code code;
        std::vector<std::string> lines;
        Calls whenSet;
        Calls whenCleared;
    };
    const std::vector<Row> table = {
        // Not indicated: the grace period has not ended.
        {Code::BaseStationMissing, {"Gateway error: MissingBaseSta (1) on base station 2"}, {}, {}},
        {Code::CommunicationError,
         {"Gateway error: CommError (2) on base station 2", "Gateway error: CommError (2)"},
         StationError("CommError", 5), Cleared},
        {Code::InvalidCredentials,
         {"Gateway error: InvalidCreds (3) on base station 2", "Gateway error: InvalidCreds (3)"},
         StationError("InvalidCreds", 5), Cleared},
        {Code::UnsupportedFirmware,
         {"Gateway error: UnsupportedFW (4) on base station 2", "Gateway error: UnsupportedFW (4)"},
         StationError("UnsupportedFW", 5), Cleared},
        {Code::RoomThermostatMissing,
         {"Gateway error: MissingThermos (5) on base station 2", "Gateway error: MissingThermos (5)"},
         StationError("MissingThermos", 3), Cleared},
        {Code::ActorModuleMissing,
         {"Gateway error: MissingActor (6) on base station 2", "Gateway error: MissingActor (6)"},
         StationError("MissingActor", 3), Cleared},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(ErrorHandler::ErrorCodeToString(row.code));
        CreateRunning(2);
        Apply(Set(row.code, 2));
        Apply(Set(row.code, 2));
        EXPECT_EQ(ErrorLines(), row.lines);
        EXPECT_EQ(_indication.TakeCalls(), row.whenSet);
        for (const auto& entry : _log.Entries()) {
            EXPECT_EQ(entry.source, "ErrorCodeHandler");
        }

        _log.Clear();
        Apply(UnSet(row.code, 2));
        Apply(UnSet(row.code, 2));
        EXPECT_EQ(_indication.TakeCalls(), row.whenCleared);
        EXPECT_TRUE(_log.Entries().empty());
    }
}

TEST_F(ErrorHandlerTest, ClearingAnErrorThatIsNotSetDoesNothing)
{
    CreateRunning(2);
    for (const Code code : StationErrors) {
        Apply(UnSet(code, 1));
        Apply(UnSet(code, 2));
    }
    EXPECT_TRUE(_indication.TakeCalls().empty());
    EXPECT_TRUE(_log.Entries().empty());
}

TEST_F(ErrorHandlerTest, StationBeyondTheConfiguredCountThrowsAndChangesNothing)
{
    CreateRunning(2);
    Apply(Set(Code::ActorModuleMissing, 2));
    _indication.TakeCalls();
    _log.Clear();

    for (const Code code : StationErrors) {
        for (const unsigned station : {3u, 5u}) {
            SCOPED_TRACE(testing::Message() << ErrorHandler::ErrorCodeToString(code) << " on " << station);
            EXPECT_THROW((_handler.get()->*SetOperation(code))(Station(station)), std::out_of_range);
            EXPECT_THROW((_handler.get()->*UnSetOperation(code))(Station(station)), std::out_of_range);
        }
    }
    EXPECT_TRUE(_indication.TakeCalls().empty());
    EXPECT_TRUE(_log.Entries().empty());

    // The lock was released and the configured stations kept their words.
    EXPECT_EQ(_handler->GetSignificantBaseStationError(), Code::ActorModuleMissing);
    Apply(UnSet(Code::ActorModuleMissing, 2));
    EXPECT_EQ(_indication.TakeCalls(), Cleared);
}

// ---------------------------------------------------------------------------
// General errors

TEST_F(ErrorHandlerTest, OnlyTheFatalErrorIsLoggedAndItNeverAsksToEndTheProcess)
{
    for (const auto& row : GeneralErrors) {
        SCOPED_TRACE(row.name);
        CreateRunning(1);
        Apply(Report(row.code));
        Apply(Report(row.code));
        EXPECT_EQ(_indication.TakeCalls(), GeneralError(row.text));
        const std::vector<std::string> expectedLines =
            row.code == General::FatalError
                ? std::vector<std::string>{"Gateway error: FatalError (1000)", "Gateway error: FatalError (1000)"}
                : std::vector<std::string>{};
        EXPECT_EQ(ErrorLines(), expectedLines);
    }
}

TEST_F(ErrorHandlerTest, SignificantErrorIsNoErrorWhileTheMissingCheckIsOff)
{
    Create(2);
    EXPECT_EQ(_handler->GetSignificantBaseStationError(), Code::NoError);
    Apply(Set(Code::RoomThermostatMissing, 2));
    EXPECT_EQ(_handler->GetSignificantBaseStationError(), Code::RoomThermostatMissing);
}

// ---------------------------------------------------------------------------
// The grace period timer

TEST_F(ErrorHandlerTest, GracePeriodIsStartedOncePerRun)
{
    Create(1);
    EXPECT_EQ(_clock.PendingWaitCount(), 0u);
    Apply(Report(General::NoError));
    EXPECT_EQ(_clock.PendingWaitCount(), 1u);
    Apply(Advance(boost::chrono::seconds(27)));
    EXPECT_EQ(_clock.PendingWaitCount(), 0u);

    Apply(UnSet(Code::BaseStationMissing, 1));
    Apply(Set(Code::CommunicationError, 1));
    Apply(UnSet(Code::CommunicationError, 1));
    Apply(Report(General::NoError));
    EXPECT_EQ(_clock.PendingWaitCount(), 0u);
}

TEST_F(ErrorHandlerTest, DestroyedWhileTheGracePeriodRunsTheCancelledWaitTouchesNothing)
{
    Create(1);
    Apply(Report(General::NoError));
    _indication.TakeCalls();
    ASSERT_EQ(_clock.PendingWaitCount(), 1u);

    _handler.reset();
    EXPECT_EQ(_clock.PendingWaitCount(), 0u);
    _clock.RunPending();
    _clock.Advance(boost::chrono::hours(1));
    EXPECT_TRUE(_indication.TakeCalls().empty());
}

// A timer whose expiry the test delivers by hand, so that a completion can
// arrive after its error handler is gone, as with a wait that expired while
// the handler was being destroyed.
class ManualTimer final : public Oru::WaitableTimer {
public:
    ManualTimer(boost::asio::io_service& ioService, std::shared_ptr<std::vector<WaitHandler>> waits)
        : _ioService(ioService), _waits(std::move(waits))
    {
    }

    boost::asio::io_service& get_io_service() override { return _ioService; }
    void async_wait(WaitHandler handler) override { _waits->push_back(std::move(handler)); }
    // The waits have already expired: nothing left to cancel.
    std::size_t cancel() override { return 0; }
    std::size_t expires_from_now(const Duration&) override { return 0; }
    Duration expires_from_now() const override { return Duration::zero(); }

private:
    boost::asio::io_service& _ioService;
    std::shared_ptr<std::vector<WaitHandler>> _waits;
};

TEST_F(ErrorHandlerTest, ExpiryDeliveredAfterDestructionTouchesNothing)
{
    for (const bool destroyFirst : {false, true}) {
        SCOPED_TRACE(destroyFirst ? "destroyed first" : "alive");
        auto waits = std::make_shared<std::vector<Oru::WaitableTimer::WaitHandler>>();
        _handler = std::make_unique<ErrorHandler>(
            [this, waits]() { return std::make_unique<ManualTimer>(_clock.GetIoService(), waits); }, _indication,
            Station(1));
        _handler->HandleGeneralError(General::NoError);
        ASSERT_EQ(waits->size(), 1u);
        _indication.TakeCalls();

        if (destroyFirst) {
            _handler.reset();
        }
        waits->front()(boost::system::error_code{});
        EXPECT_EQ(_indication.TakeCalls(), destroyFirst ? Calls{} : StationError("MissingBaseSta", 5));
    }
}

// ---------------------------------------------------------------------------
// Threads

// One indication: the calls one evaluation makes.
struct Indication {
    std::string lastError;  // empty when the text is not sent
    bool hasError;
    int led;                // INT_MIN when the LED is not set

    friend bool operator==(const Indication& a, const Indication& b)
    {
        return a.lastError == b.lastError && a.hasError == b.hasError && a.led == b.led;
    }
};

// Appends the whole indications at the start of calls to out and returns how
// many calls they cover; a partial indication at the end is left. A call
// sequence that no evaluation makes fails the test.
std::size_t ParseIndications(const Calls& calls, std::vector<Indication>& out)
{
    static const std::map<std::string, int> stationLeds = {
        {"MissingBaseSta", 5}, {"CommError", 5},      {"InvalidCreds", 5},
        {"UnsupportedFW", 5},  {"MissingThermos", 3}, {"MissingActor", 3},
    };
    using Kind = IndicationCall::Kind;
    std::size_t at = 0;
    while (at < calls.size()) {
        const auto is = [&](std::size_t offset, const IndicationCall& expected) {
            return calls[at + offset] == expected;
        };
        if (calls[at].kind == Kind::LastError) {
            const std::string& text = calls[at].text;
            const auto station = stationLeds.find(text);
            const bool isNoError = text == "NoError";
            const std::size_t length = station != stationLeds.end() || isNoError ? 3 : 2;
            if (calls.size() - at < length) {
                break;
            }
            if (station != stationLeds.end() && is(1, HasError(true)) && is(2, Led(station->second))) {
                out.push_back({text, true, station->second});
            } else if (isNoError && is(1, HasError(false)) && is(2, Led(-1))) {
                out.push_back({text, false, -1});
            } else if (length == 2 && is(1, HasError(true))) {
                out.push_back({text, true, INT_MIN});
            } else {
                ADD_FAILURE() << "malformed indication at call " << at << ": " << calls[at];
                return at;
            }
            at += length;
        } else if (calls[at] == HasError(false)) {
            if (calls.size() - at < 2) {
                break;
            }
            if (!is(1, Led(-1))) {
                ADD_FAILURE() << "malformed indication at call " << at + 1 << ": " << calls[at + 1];
                return at;
            }
            out.push_back({"", false, -1});
            at += 2;
        } else {
            ADD_FAILURE() << "malformed indication at call " << at << ": " << calls[at];
            return at;
        }
    }
    return at;
}

TEST_F(ErrorHandlerTest, ConcurrentChangesMakeWholeIndicationsInOrder)
{
    constexpr int Rounds = 1000;
    CreateRunning(2);
    std::atomic<bool> done{false};

    std::thread first([this]() {
        for (int round = 0; round < Rounds; ++round) {
            _handler->SetCommunicationError(Station(1));
            _handler->UnSetCommunicationError(Station(1));
        }
    });
    std::thread second([this]() {
        for (int round = 0; round < Rounds; ++round) {
            _handler->SetActorModuleMissing(Station(2));
            _handler->HandleGeneralError(General::OutOfRangeValue);
            _handler->UnSetActorModuleMissing(Station(2));
            _handler->HandleGeneralError(General::NoError);
        }
    });
    std::vector<Indication> seen;
    std::size_t consumed = 0;
    std::thread reader([&]() {
        while (!done) {
            consumed += ParseIndications(_indication.CallsFrom(consumed), seen);
            const Code significant = _handler->GetSignificantBaseStationError();
            EXPECT_TRUE(significant == Code::NoError || significant == Code::CommunicationError ||
                        significant == Code::ActorModuleMissing);
            std::this_thread::yield();
        }
    });
    // The grace period ends on this thread while the others change bits.
    _clock.Advance(boost::chrono::seconds(27));
    first.join();
    second.join();
    done = true;
    reader.join();

    const Calls rest = _indication.CallsFrom(consumed);
    EXPECT_EQ(ParseIndications(rest, seen), rest.size());
    ASSERT_FALSE(seen.empty());
    for (std::size_t i = 1; i < seen.size(); ++i) {
        EXPECT_FALSE(seen[i] == seen[i - 1]) << "indication " << i << " repeats " << seen[i].lastError;
    }
    EXPECT_EQ(seen.back(), (Indication{"", false, -1}));
    EXPECT_EQ(_handler->GetSignificantBaseStationError(), Code::NoError);
}

}  // namespace
