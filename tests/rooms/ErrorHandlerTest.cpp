#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <boost/algorithm/string/replace.hpp>

#include "tests/testing/LogCapture.h"
#include "tests/testing/VirtualClockSystem.h"
#include "rooms/ErrorCodeHandler.h"

using namespace Keldra;
using Code = ErrorCodesBaseStationSpecific;
using General = ErrorCodesGeneral;
using Lines = std::vector<std::string>;

namespace {

BaseStationNumber Station(unsigned number) { return *BaseStationNumber::Create(number); }

using H = IErrorHandler;
struct StationError {
    const char* text;
    int number, led;
    Code code;
    void (H::*set)(const BaseStationNumber&);
    void (H::*unset)(const BaseStationNumber&);
};
const StationError StationErrors[] = {
    {"MissingBaseSta", 1, 5, Code::BaseStationMissing, &H::SetBaseStationMissing, &H::UnSetBaseStationMissing},
    {"CommError", 2, 5, Code::CommunicationError, &H::SetCommunicationError, &H::UnSetCommunicationError},
    {"InvalidCreds", 3, 5, Code::InvalidCredentials, &H::SetInvalidCredentials, &H::UnSetInvalidCredentials},
    {"UnsupportedFW", 4, 5, Code::UnsupportedFirmware, &H::SetUnsupportedFirmware, &H::UnSetUnsupportedFirmware},
    {"MissingThermos", 5, 3, Code::RoomThermostatMissing, &H::SetRoomThermostatMissing, &H::UnSetRoomThermostatMissing},
    {"MissingActor", 6, 3, Code::ActorModuleMissing, &H::SetActorModuleMissing, &H::UnSetActorModuleMissing},
};
const std::pair<const char*, General> GeneralErrors[] = {
    {"NoError", General::NoError},           {"InvalidResp", General::InvalidResponse},
    {"UnsupportedVal", General::UnsupportedValue}, {"OutOfRangeVal", General::OutOfRangeValue},
    {"UnexpectedErr", General::UnexpectedError},   {"FatalError", General::FatalError},
};

// The calls of one indication: "init" is the first no-error one, "clear" a
// later one, any other word the error of that text.
std::string Indication(const std::string& what)
{
    if (what.empty() || what == "init" || what == "clear") {
        return what.empty() ? "" : (what == "init" ? "Last:NoError " : "") + std::string("Has:0 Led:-1");
    }
    for (const auto& error : StationErrors) {
        if (what == error.text) {
            return "Last:" + what + " Has:1 Led:" + std::to_string(error.led);
        }
    }
    return "Last:" + what + " Has:1";
}

// Records every call as a word. The handler makes its calls under its own
// lock: a call made without it shows in the ThreadSanitizer build.
class RecordingIndication final : public IKnxErrorIndication {
public:
    void OnGatewayLastError(const KnxErrorString& text) override { Record("Last:" + text.Get()); }
    void OnGatewayHasError(bool hasError) override { Record(hasError ? "Has:1" : "Has:0"); }
    void OnGatewayFatalError() override { Record("Fatal"); }
    void OnLedErrorCode(int code) override { Record("Led:" + std::to_string(code)); }
    // The calls since the last Take, separated by spaces.
    std::string Take() { return std::exchange(_calls, std::string()); }

private:
    void Record(const std::string& call) { _calls += (_calls.empty() ? "" : " ") + call; }
    std::string _calls;
};

class ErrorHandlerTest : public testing::Test {
protected:
    // Running: every station found and the first no-error indication made,
    // with nothing recorded or logged.
    void Create(unsigned stations, bool running = true)
    {
        _handler = std::make_unique<ErrorHandler>([this] { return _clock.CreateTimer(); }, _indication,
                                                  Station(stations));
        if (running) {
            Do("NoError");
            for (unsigned station = 1; station <= stations; ++station) {
                _handler->UnSetBaseStationMissing(Station(station));
            }
            _indication.Take();
            _log.Clear();
        }
    }

    // "+CommError 2" sets an error of station 2, "-CommError 2" clears it,
    // "wait 27000" advances the clock by milliseconds, "pending 1" checks the
    // waits; any other word reports that general error.
    void Do(const std::string& action)
    {
        std::istringstream words(action);
        std::string what;
        unsigned number = 0;
        words >> what >> number;
        if (what == "wait") {
            return _clock.Advance(boost::chrono::milliseconds(number));
        }
        if (what == "pending") {
            EXPECT_EQ(_clock.PendingWaitCount(), number);
            return;
        }
        for (const auto& error : StationErrors) {
            if (what.substr(1) == error.text) {
                return (_handler.get()->*(what[0] == '+' ? error.set : error.unset))(Station(number));
            }
        }
        for (const auto& [text, code] : GeneralErrors) {
            if (what == text) {
                return _handler->HandleGeneralError(code);
            }
        }
        FAIL() << "unknown action " << action;
    }

    Oru::Testing::VirtualClockSystem _clock;
    Oru::Testing::LogCapture _log;
    RecordingIndication _indication;
    std::unique_ptr<ErrorHandler> _handler;
};

// Name, stations, whether running, and the steps: action and indication.
using Scenario = std::tuple<std::string, unsigned, bool, std::vector<std::pair<std::string, std::string>>>;

TEST_F(ErrorHandlerTest, IndicatesExactlyTheExpectedCalls)
{
    std::vector<Scenario> scenarios = {
        {"priority within one station", 1, true,
         {{"+MissingActor 1", "MissingActor"}, {"+MissingThermos 1", "MissingThermos"},
          {"+UnsupportedFW 1", "UnsupportedFW"}, {"+InvalidCreds 1", "InvalidCreds"}, {"+CommError 1", "CommError"},
          {"-CommError 1", "InvalidCreds"}, {"-InvalidCreds 1", "UnsupportedFW"},
          {"-UnsupportedFW 1", "MissingThermos"}, {"-MissingThermos 1", "MissingActor"}, {"-MissingActor 1", "clear"}}},
        {"most significant across stations, no repeats", 2, true,
         {{"+MissingActor 1", "MissingActor"}, {"+CommError 2", "CommError"}, {"+MissingThermos 1", ""},
          {"NoError", ""}, {"-CommError 2", "MissingThermos"}, {"-MissingThermos 1", "MissingActor"},
          {"-MissingActor 1", "clear"}, {"NoError", ""}}},
        {"a station never found counts 27 s after the first no-error and outranks the rest", 2, false,
         {{"wait 3600000", ""}, {"pending 0", ""}, {"NoError", "init"}, {"pending 1", ""}, {"-MissingBaseSta 1", ""},
          {"+CommError 1", "CommError"}, {"wait 26999", ""}, {"wait 1", "MissingBaseSta"}, {"NoError", ""},
          {"-MissingBaseSta 2", "CommError"}, {"-CommError 1", "clear"}, {"+MissingBaseSta 2", "MissingBaseSta"},
          {"NoError", ""}, {"wait 3600000", ""}, {"pending 0", ""}}},
        {"station errors before the first no-error", 1, false,
         {{"+CommError 1", "CommError"}, {"+MissingActor 1", ""}, {"-CommError 1", "MissingActor"},
          {"-MissingActor 1", "init"}, {"wait 26999", ""}, {"wait 1", "MissingBaseSta"}}},
        {"general errors replace each other", 1, false,
         {{"InvalidResp", "InvalidResp"}, {"OutOfRangeVal", "OutOfRangeVal"}, {"NoError", "init"},
          {"-MissingBaseSta 1", ""}, {"UnexpectedErr", "UnexpectedErr"}, {"NoError", "clear"},
          {"+MissingThermos 1", "MissingThermos"}, {"-MissingThermos 1", "clear"}, {"NoError", ""}}},
    };
    // While a station error is shown a general error neither replaces it nor
    // becomes the last error.
    for (const auto& [text, code] : GeneralErrors) {
        const std::string x = text;
        if (code == General::NoError) {
            continue;
        }
        scenarios.push_back({x, 1, true,
                             {{x, x}, {x, ""}, {"NoError", "clear"}, {x, x}, {"+CommError 1", "CommError"}, {x, ""},
                              {"NoError", ""}, {"+MissingActor 1", ""}, {"-CommError 1", "MissingActor"},
                              {"-MissingActor 1", "clear"}}});
    }
    for (const auto& [name, stations, running, steps] : scenarios) {
        SCOPED_TRACE(name);
        Create(stations, running);
        _log.Clear();
        for (std::size_t step = 0; step < steps.size(); ++step) {
            SCOPED_TRACE(testing::Message() << "step " << step + 1 << ": " << steps[step].first);
            Do(steps[step].first);
            EXPECT_EQ(_indication.Take(), Indication(steps[step].second));
        }
        // Of the general errors only the fatal one is logged, each time.
        EXPECT_EQ(_log.CountContaining("Gateway error: " + name), name == "FatalError" ? 4u : 0u);
        EXPECT_EQ(_log.Count(log4cplus::ERROR_LOG_LEVEL, "Gateway error: FatalError (1000)"),
                  name == "FatalError" ? 4u : 0u);
    }
}

// A station error logs and indicates once; a station beyond the configured
// count throws and changes nothing.
TEST_F(ErrorHandlerTest, EachChangeLogsAndIndicatesOnce)
{
    for (const auto& error : StationErrors) {
        SCOPED_TRACE(error.text);
        Create(2);
        EXPECT_THROW((_handler.get()->*error.set)(Station(3)), std::out_of_range);
        EXPECT_THROW((_handler.get()->*error.unset)(Station(3)), std::out_of_range);
        const std::string set = std::string("+") + error.text + " 2", clear = "-" + set.substr(1);
        Do(clear);
        Do(set);
        Do(set);
        // A missing station is not indicated before the grace period has ended.
        const bool missing = error.code == Code::BaseStationMissing;
        const auto line = std::string("Gateway error: ") + error.text + " (" + std::to_string(error.number) + ")";
        EXPECT_EQ(_log.Messages(log4cplus::ERROR_LOG_LEVEL),
                  (missing ? Lines{line + " on base station 2"} : Lines{line + " on base station 2", line}));
        EXPECT_EQ(_indication.Take(), Indication(missing ? "" : error.text));
        EXPECT_EQ(_handler->GetSignificantBaseStationError(), missing ? Code::NoError : error.code);
        _log.Clear();
        Do(clear);
        Do(clear);
        EXPECT_EQ(_indication.Take(), Indication(missing ? "" : "clear"));
        EXPECT_TRUE(_log.Entries().empty());
    }
}

TEST_F(ErrorHandlerTest, ExpiryDeliveredAfterDestructionTouchesNothing)
{
    for (const bool destroyFirst : {false, true}) {
        Create(1, false);
        Do("NoError");
        _indication.Take();
        _clock.ExpireWithoutRunning(boost::chrono::seconds(27));
        if (destroyFirst) {
            _handler.reset();
        }
        _clock.RunPending();
        EXPECT_EQ(_indication.Take(), Indication(destroyFirst ? "" : "MissingBaseSta")) << destroyFirst;
    }
}

TEST_F(ErrorHandlerTest, ConcurrentChangesMakeWholeIndicationsInOrder)
{
    Create(2);
    std::thread other([this] {
        for (int round = 0; round < 1000; ++round) {
            _handler->SetActorModuleMissing(Station(2));
            _handler->HandleGeneralError(General::OutOfRangeValue);
            _handler->UnSetActorModuleMissing(Station(2));
            _handler->HandleGeneralError(General::NoError);
        }
    });
    _clock.Advance(boost::chrono::seconds(27));  // the grace period ends meanwhile
    for (int round = 0; round < 1000; ++round) {
        _handler->SetCommunicationError(Station(1));
        EXPECT_EQ(_handler->GetSignificantBaseStationError(), Code::CommunicationError);
        _handler->UnSetCommunicationError(Station(1));
    }
    other.join();

    // Each whole indication becomes one letter: nothing else may be left.
    std::string calls = " " + _indication.Take();
    for (const char* what : {"CommError", "MissingActor", "OutOfRangeVal", "clear"}) {
        boost::algorithm::replace_all(calls, " " + Indication(what), std::string(1, what[0]));
    }
    EXPECT_EQ(calls.find_first_not_of("CMOc"), std::string::npos) << calls;
    EXPECT_EQ(std::adjacent_find(calls.begin(), calls.end()), calls.end()) << "an indication repeats: " << calls;
    EXPECT_EQ(calls.back(), 'c');
}

}  // namespace
