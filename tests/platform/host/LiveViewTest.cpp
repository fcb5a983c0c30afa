// The live view's state, the values it sets and its diagnostics, from what
// the host sees: values sent, the LED code and the plug-in's log lines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include <boost/filesystem.hpp>
#include <log4cplus/logger.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "platform/host/LiveView.h"
#include "tests/testing/LogCapture.h"
#include "platform/host/OruLogging.h"

using namespace Oru;
using namespace ::testing;

namespace {

class LiveViewTest : public Test {
protected:
    LiveView MakeView(EtsParameters parameters, const std::string& credentialsFile = "")
    {
        return LiveView({std::move(parameters), credentialsFile, "/nonexistent.so"}, _state, *_log,
                        [this](int co, const BusValue& value) {
                            _delivered.push_back(std::to_string(co) + " " + BusValueTypeName(value) + " " +
                                                 FormatBusValue(value));
                        });
    }

    static rapidjson::Document Answer(LiveView& view, const std::string& request, const std::string& parameters = "{}")
    {
        rapidjson::Document json;
        json.Parse(parameters.c_str());
        auto result = view.HandleRequest(request, json);
        if (auto* code = std::get_if<std::string>(&result)) {
            rapidjson::Document error;
            error.SetObject();
            error.AddMember("error", rapidjson::Value(code->c_str(), error.GetAllocator()), error.GetAllocator());
            return error;
        }
        return std::move(std::get<rapidjson::Document>(result));
    }

    LiveState _state;
    log4cplus::helpers::SharedObjectPtr<LogRing> _log{new LogRing};
    // "<co> <type> <value>" as the console prints a value.
    std::vector<std::string> _delivered;
};

// Five stations with eight thermostats and twelve slots each: every value
// lands at its station, thermostat and slot.
TEST_F(LiveViewTest, ShowsEveryValueOfAFullInstallationInItsPlace)
{
    EtsParameters parameters;
    std::string ids;
    for (int station = 1; station <= 5; ++station) {
        ids += "STATION00" + std::to_string(station);
        std::string thermostats;
        for (int thermostat = 1; thermostat <= 8; ++thermostat) {
            thermostats += "TH00000" + std::to_string(thermostat);
        }
        parameters.texts[station + 1] = thermostats;
        parameters.numbers[2 * station + 5] = static_cast<std::int32_t>(0x87654321u);
        parameters.numbers[2 * station + 4] = 0xCBA9;
    }
    parameters.texts[1] = ids;
    auto view = MakeView(parameters);
    for (int station = 1; station <= 5; ++station) {
        for (int thermostat = 1; thermostat <= 8; ++thermostat) {
            const int co = (station - 1) * 100 + (thermostat - 1) * 3;
            _state.RecordSent(co + 1, static_cast<float>(station * 10 + thermostat));
            _state.RecordSent(co + 3, static_cast<float>(station * 10 + thermostat) + 0.5f);
        }
        for (int slot = 1; slot <= 12; ++slot) {
            const int co = (station - 1) * 100 + (slot - 1) * 5 + 37;
            _state.RecordSent(co + 1, static_cast<unsigned char>((station + slot) % 11));
            _state.RecordSent(co + 3, static_cast<unsigned char>(station * 12 + slot));
        }
    }
    _state.RecordLedCode(3);

    const auto state = Answer(view, "state");
    ASSERT_EQ(5u, state["stations"].Size());
    for (int station = 1; station <= 5; ++station) {
        const auto& entry = state["stations"][station - 1];
        EXPECT_EQ("STATION00" + std::to_string(station), entry["id"].GetString());
        EXPECT_STREQ("no error", entry["state"].GetString());
        ASSERT_EQ(8u, entry["thermostats"].Size());
        for (int thermostat = 1; thermostat <= 8; ++thermostat) {
            const auto& values = entry["thermostats"][thermostat - 1];
            EXPECT_EQ(station * 10 + thermostat, values["temperature"]["value"].GetDouble());
            EXPECT_EQ(station * 10 + thermostat + 0.5, values["setpoint"]["value"].GetDouble());
            EXPECT_EQ((station - 1) * 100 + (thermostat - 1) * 3 + 2, values["setpointInput"].GetInt());
        }
        ASSERT_EQ(12u, entry["slots"].Size());
        for (int slot = 1; slot <= 12; ++slot) {
            const auto& values = entry["slots"][slot - 1];
            EXPECT_EQ(slot, values["actorModule"].GetInt());
            EXPECT_EQ((station + slot) % 11, values["level"]["value"].GetInt());
            EXPECT_EQ(station * 12 + slot, values["percent"]["value"].GetInt());
            EXPECT_GT(values["percent"]["time"].GetInt64(), 0);
        }
    }
    EXPECT_STREQ("a room thermostat or an actor module is missing", state["gateway"]["led"]["words"].GetString());
}

// A station's state in words, after each step of what the host sees.
TEST_F(LiveViewTest, TellsEachStationsStateInWords)
{
    EtsParameters parameters;
    parameters.texts[1] = "KLD0000001KLD0000002";
    auto view = MakeView(parameters);
    auto stationState = [&](int station) -> std::string {
        return Answer(view, "state")["stations"][station - 1]["state"].GetString();
    };
    const struct {
        std::function<void()> step;
        std::string station2;
    } steps[] = {
        {[] {}, "not found yet"},
        {[&] { ORU_LOG_ERROR("Gateway error: InvalidCreds (3) on base station 2"); },
         "wrong user name or password (InvalidCreds)"},
        {[&] { _state.RecordSent(103, 20.5f); }, "no error"},  // reached again
        // Station 2's error report on the worker thread, while the host's thread sends another text.
        {[&] {
             std::thread([&] {
                 _state.RecordSent(197, true);
                 _state.RecordSent(503, true);
                 _state.RecordSent(504, std::string("-5:ErrSupply"));
                 _state.RecordSent(504, std::string("-24:WeakConnTh"));
             }).join();
             _state.RecordSent(504, std::string("-3:MissingThs"));
         },
         "station error: supply fault (-5:ErrSupply), weak room thermostat connection (-24:WeakConnTh)"},
        {[&] { _state.RecordSent(197, false); }, "no error"},
        {[&] { ORU_LOG_ERROR("  Gateway error: MissingThermos (5) on base station 2"); },
         "a room thermostat is missing (MissingThermos)"},
        {[&] { _state.RecordSent(103, 21.0f); }, "a room thermostat is missing (MissingThermos)"},
        {[&] { _state.RecordSent(501, false); }, "no error"},
    };
    const log4cplus::SharedAppenderPtr ring(
        new LogRing([this](const std::string& message) { _state.RecordLogMessage(message); }));
    GetGlobalDefaultLogger().addAppender(ring);
    for (const auto& step : steps) {
        step.step();
        EXPECT_EQ(step.station2, stationState(2));
        EXPECT_EQ("not found yet", stationState(1));
    }
    GetGlobalDefaultLogger().removeAppender(ring);
}

TEST_F(LiveViewTest, SetsOnlyThePlugInsInputsWithValuesTheConsoleTakes)
{
    EtsParameters parameters;
    parameters.numbers[16] = 1;  // false on CO 510 means leaving home
    auto view = MakeView(parameters);
    const struct {
        std::string parameters;
        std::string answer;  // an error code, or empty with the value delivered
        std::string delivered;
    } cases[] = {
        {R"({"co": 2, "value": "21.5"})", "", "2 float 21.5"},
        {R"({"co": 437, "value": "7"})", "", "437 byte 7"},
        {R"({"co": 441, "value": "true"})", "", "441 bool true"},
        {R"({"co": 510, "value": "true"})", "", "510 bool false"},
        {R"({"co": 512, "value": "2026-12-24T00:00"})", "", "512 datetime 2026-12-24T00:00:00"},
        {R"({"co": 514, "value": "18:30"})", "", "514 time 18:30"},
        {R"({"co": 516, "value": "false"})", "", "516 bool false"},
        {R"({"co": 3, "value": "21.5"})", "NotAnInput", ""},
        {R"({"co": 501, "value": "true"})", "NotAnInput", ""},
        {R"({"co": 2, "value": "warm"})", "InvalidValue", ""},
        {R"({"co": 2, "value": "21\n2 float 30"})", "InvalidValue", ""},
        {R"({"co": "2", "value": "21.5"})", "InvalidRequest", ""},
        {R"({"co": 2, "value": 21.5})", "InvalidRequest", ""},
    };
    for (const auto& request : cases) {
        _delivered.clear();
        const auto answer = Answer(view, "set", request.parameters);
        EXPECT_EQ(request.answer, answer.HasMember("error") ? answer["error"].GetString() : "") << request.parameters;
        EXPECT_EQ(request.delivered, _delivered.empty() ? "" : _delivered.front()) << request.parameters;
    }
}

TEST_F(LiveViewTest, DiagnosticsHoldNoPassword)
{
    const auto file = boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("diagnostics-%%%%%%%%.json");
    // "c2VjcmV0LTE=" is "secret-1", "aHVudGVyMg==" is "hunter2".
    std::ofstream(file.string()) << R"({"baseStations": [{"index": 0, "username": "admin", "credentials": "c2VjcmV0LTE="},
        {"index": 1, "username": "admin", "credentials": "aHVudGVyMg=="}]})";
    EtsParameters parameters;
    parameters.texts[1] = "KLD0000001";
    auto view = MakeView(parameters, file.string());
    const log4cplus::SharedAppenderPtr ring(_log.get());
    GetGlobalDefaultLogger().addAppender(ring);
    // More lines than the ring keeps, then the secrets, which it then still holds.
    for (int line = 0; line < 1200; ++line) {
        ORU_LOG_DEBUG("line " << line);
    }
    for (const char* line : {"Request header Authorization: Basic c2VjcmV0LTE=", "login with password=secret-1 failed",
                             R"(body {"credentials" : "aHVudGVyMg=="})", "the station said hunter2! today",
                             "Gateway error: InvalidCreds (3) on base station 1"}) {
        ORU_LOG_INFO(line);
    }
    GetGlobalDefaultLogger().removeAppender(ring);
    _state.RecordSent(3, 21.5f);

    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    Answer(view, "diagnostics").Accept(writer);
    const std::string text = buffer.GetString();
    boost::filesystem::remove(file);
    for (const char* secret : {"secret-1", "c2VjcmV0LTE=", "hunter2", "aHVudGVyMg=="}) {
        EXPECT_THAT(text, Not(HasSubstr(secret))) << secret;
    }
    EXPECT_THAT(text, AllOf(HasSubstr(R"x("username":"admin","credentials":"(removed)")x"), HasSubstr("KLD0000001"),
                            HasSubstr(R"("co":3,"name":"station 1, thermostat 1, setpoint status")"),
                            HasSubstr("line 1199"), HasSubstr("the station said (removed)! today"),
                            Not(HasSubstr("line 199 "))));
    rapidjson::Document diagnostics;
    diagnostics.Parse(text.c_str());
    EXPECT_EQ(LogRing::Capacity, diagnostics["log"].Size());
}

}  // namespace
