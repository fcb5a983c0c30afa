// The simulated station speaks docs/wire-protocol.md: every request answers
// as documented, writes change later status, credentials are checked.
#include <string>
#include <thread>

#include "SimulatorFixture.h"

using namespace Keldra::Simulation;

namespace {

using ProtocolTest = SimulatorFixture;
const char* const Setpoint = "/api/v1/rooms/1/setpoint";
const char* const Level = "/api/v1/rooms/2/powerlevel";
const char* const Leaving = "/api/v1/leavinghome";
const char* const Settings = "/api/v1/settings";
const char* const Cooling = R"({"cooling": true})";
const char* const Ok = R"({"status":0})";
const char* const OutOfRange = R"({"status":1})";

struct ExchangeCase {
    verb method;
    const char* target;
    const char* body;
    unsigned status;
    const char* answer = nullptr;   // the body expected, if any
    const char* pointer = nullptr;  // into the next status; without one, the status is unchanged
    const char* value = nullptr;
    std::string authorization = Admin;
};

const ExchangeCase Exchanges[] = {
    {verb::put, Setpoint, R"({"setpointTemperature": 30})", 200, Ok, "/rooms/0/thermostat/setpointTemperature", "30.0"},
    {verb::put, Setpoint, R"({"setpointTemperature": 30.5})", 200, OutOfRange},
    {verb::put, Setpoint, R"({"setpointTemperature": 4.5})", 200, OutOfRange},
    {verb::put, Level, R"({"level": 7, "minimumLevel": 0, "maximumLevel": 10})", 200, Ok, "/rooms/1/powerLevel",
     R"({"level":7,"percent":179,"minimumLevel":0,"maximumLevel":10})"},
    {verb::put, Level, R"({"level": 10})", 200, Ok, "/rooms/1/powerLevel/percent", "255"},
    {verb::put, Level, R"({"level": 11})", 200, OutOfRange},
    {verb::put, Level, R"({"level": 7, "minimumLevel": 0, "maximumLevel": 6})", 200, OutOfRange},
    {verb::put, Leaving, R"({"active": true, "date": "24-05-20", "time": "18:30"})", 200, Ok, "/leavingHome",
     R"({"active":true,"date":"24-05-20","time":"18:30"})"},
    {verb::put, Leaving, R"({"active": true})", 200, Ok, "/leavingHome", R"({"active":true})"},
    {verb::put, Leaving, R"({"active": true, "date": "24-02-30", "time": "18:30"})", 200, OutOfRange},
    {verb::put, Leaving, R"({"active": true, "date": "24-02-29", "time": "24:00"})", 200, OutOfRange},
    {verb::put, Settings, R"({"cooling": true, "automaticChangeover": true})", 200, Ok, "/system/cooling", "true"},
    // Unusable requests.
    {verb::put, Setpoint, "{\"setpointTemperature\": ", 400},
    {verb::put, Level, R"({"level": 7.0})", 400},
    {verb::put, Leaving, R"({"active": true, "date": "24-05-20"})", 400},
    {verb::put, "/api/v1/rooms/3/setpoint", R"({"setpointTemperature": 22})", 404},
    {verb::get, "/api/v2/status", "", 404},
    {verb::post, Setpoint, R"({"setpointTemperature": 22})", 405},
    // Credentials.
    {verb::get, "/api/v1/info", "", 401, nullptr, nullptr, nullptr, ""},
    {verb::put, Settings, Cooling, 401, nullptr, nullptr, nullptr, "Basic YWRtaW46U2VjcmV0"},  // admin:Secret
    {verb::put, Settings, Cooling, 401, nullptr, nullptr, nullptr, "Bearer YWRtaW46c2VjcmV0"},
    {verb::put, Settings, Cooling, 401, nullptr, nullptr, nullptr, "Basic YWRtaW5zZWNyZXQ="},  // no colon
    {verb::put, Settings, Cooling, 200, Ok, "/system/cooling", "true", "basic YWRtaW46c2VjcmV0"},
};

TEST_F(ProtocolTest, RequestsAnswerAndLaterStatusShowsTheirEffect)
{
    for (const ExchangeCase& exchange : Exchanges) {
        SCOPED_TRACE(std::string(exchange.target) + " " + exchange.body + " " + exchange.authorization);
        StartSimulator({});
        MergeState(R"({"clock": {"date": "24-05-17", "time": "18:30:05"}})");
        const std::string before = StatusAt("");
        const TestHttpClient::Result result =
            Station(exchange.method, exchange.target, exchange.body, exchange.authorization);
        ASSERT_FALSE(result.error) << result.error.message();
        EXPECT_EQ(exchange.status, result.response.result_int()) << result.response.body();
        if (exchange.answer != nullptr) {
            EXPECT_EQ(exchange.answer, result.response.body());
        }
        if (exchange.status == 401) {
            EXPECT_EQ("Basic realm=\"Brisgo\"", result.response[boost::beast::http::field::www_authenticate]);
        }
        EXPECT_EQ(exchange.pointer ? exchange.value : before, StatusAt(exchange.pointer ? exchange.pointer : ""));
    }
}

TEST_F(ProtocolTest, TheStateShapesTheAnswers)
{
    // Switching leaving home off keeps the arrival.
    Station(verb::put, Leaving, R"({"active": true, "date": "24-05-20", "time": "18:30"})");
    ASSERT_EQ(Ok, Station(verb::put, Leaving, R"({"active": false})").response.body());
    EXPECT_EQ(R"({"active":false,"date":"24-05-20","time":"18:30"})", StatusAt("/leavingHome"));
    // The room's own limits bound the level; a fixed percent stays.
    MergeState(R"({"rooms": {"2": {"powerLevel": {"percent": 200, "percentFollowsLevel": false,
                                                  "minimumLevel": 2, "maximumLevel": 8}}}})");
    EXPECT_EQ(OutOfRange, Station(verb::put, Level, R"({"level": 1})").response.body());
    EXPECT_EQ(OutOfRange, Station(verb::put, Level, R"({"level": 9})").response.body());
    EXPECT_EQ(Ok, Station(verb::put, Level, R"({"level": 8})").response.body());
    EXPECT_EQ(R"({"level":8,"percent":200,"minimumLevel":2,"maximumLevel":8})", StatusAt("/rooms/1/powerLevel"));
    // A station without credentials serves everyone.
    MergeState(R"({"credentials": null})");
    EXPECT_EQ(200u, Station(verb::get, "/api/v1/status", {}, "").response.result_int());
    EXPECT_EQ(200u, Station(verb::get, "/api/v1/status", {}, "Basic eDp5").response.result_int());
}

TEST_F(ProtocolTest, ConnectionsStayOpenUntilIdle)
{
    StationSimulator::Options options;
    options.idleTimeout = std::chrono::milliseconds(200);
    StartSimulator(options);
    TestHttpClient client = StationClient();
    for (int poll = 0; poll < 100; ++poll) {
        const TestHttpClient::Result result = client.Send(verb::get, "/api/v1/status", {}, Admin);
        ASSERT_EQ(200u, result.response.result_int()) << "poll " << poll << ": " << result.error.message();
        ASSERT_TRUE(client.IsConnected());
    }
    EXPECT_EQ(R"({"connections":1,"tlsHandshakes":1,"requests":100,"requestsByPath":{"/api/v1/status":100}})",
              ControlState("/counters"));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_TRUE(client.Send(verb::get, "/api/v1/info", {}, Admin).error) << "the station kept the idle connection";
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(200u, client.Send(verb::get, "/api/v1/info", {}, Admin).response.result_int());
    EXPECT_EQ("2", ControlState("/counters/tlsHandshakes"));
}

}  // namespace
