// The simulated station speaks docs/wire-protocol.md: every request answers
// as documented, writes change later status, credentials are checked.
#include <string>
#include <vector>

#include <boost/beast/http/field.hpp>

#include "JsonText.h"
#include "SimulatorFixture.h"

namespace Keldra {
namespace Simulation {
namespace {

using verb = boost::beast::http::verb;
using ProtocolTest = SimulatorFixture;

TEST_F(ProtocolTest, ShortInformationNamesTheStation)
{
    const TestHttpClient::Result result = Station(verb::get, "/api/v1/info");
    ASSERT_FALSE(result.error) << result.error.message();
    EXPECT_EQ(200u, result.response.result_int());
    EXPECT_EQ("application/json", result.response[boost::beast::http::field::content_type]);
    EXPECT_EQ(R"({"stationId":"0123456789","model":"Brisgo","vendor":"Keldra","firmwareVersion":"2.4.1"})",
              result.response.body());
}

TEST_F(ProtocolTest, StatusIsTheDocumentedExample)
{
    MergeState(R"({"clock": {"date": "24-05-17", "time": "18:30:05"},
                   "errors": [{"code": -3, "room": 2, "description": "thermostat missing"}],
                   "leavingHome": {"active": false, "date": "24-05-20", "time": "18:30"}})");
    rapidjson::Document expected;
    std::string error;
    ASSERT_TRUE(ParseJson(R"({
  "responseCode": 0,
  "system": {"serialNumber": "BS-0042", "stationName": "Ground floor", "code": "0-0",
             "date": "24-05-17", "time": "18:30:05", "cooling": false},
  "rooms": [
    {"room": 1, "actors": [{"number": 3, "valveOpen": true}],
     "thermostat": {"id": "TH000001", "setpointTemperature": 21.5,
                    "minimumTemperature": 5.0, "maximumTemperature": 30.0,
                    "roomTemperature": 20.8, "relativeHumidity": 45.0, "batteryLow": false}},
    {"room": 2, "actors": [{"number": 4}],
     "powerLevel": {"level": 5, "percent": 128, "minimumLevel": 0, "maximumLevel": 10}}
  ],
  "errors": [{"code": -3, "room": 2, "description": "thermostat missing"}],
  "leavingHome": {"active": false, "date": "24-05-20", "time": "18:30"}
})",
                          expected, error))
        << error;
    const rapidjson::Document status = Status();
    EXPECT_EQ(JsonToText(expected), JsonToText(status));
    // Temperatures stay reals and levels integers on the wire.
    EXPECT_EQ("5.0", JsonAt(status, "/rooms/0/thermostat/minimumTemperature"));
    EXPECT_EQ("128", JsonAt(status, "/rooms/1/powerLevel/percent"));
}

struct CredentialsCase {
    const char* name;
    std::optional<TestHttpClient::Credentials> credentials;
    std::string rawAuthorization;  // sent as it is when set
    unsigned expectedStatus;
};

class CredentialsTest : public SimulatorFixture, public ::testing::WithParamInterface<CredentialsCase> {};

TEST_P(CredentialsTest, OnlyTheStationsCredentialsAreServed)
{
    const CredentialsCase& testCase = GetParam();
    for (const char* target : {"/api/v1/info", "/api/v1/status"}) {
        TestHttpClient::Result result;
        if (!testCase.rawAuthorization.empty()) {
            TestHttpClient client = StationClient();
            result = client.SendRaw(std::string("GET ") + target + " HTTP/1.1\r\nHost: station\r\nAuthorization: " +
                                    testCase.rawAuthorization + "\r\n\r\n");
        } else {
            result = Station(verb::get, target, {}, testCase.credentials);
        }
        ASSERT_FALSE(result.error) << result.error.message();
        EXPECT_EQ(testCase.expectedStatus, result.response.result_int()) << target;
        if (testCase.expectedStatus == 401) {
            EXPECT_EQ("Basic realm=\"Brisgo\"", result.response[boost::beast::http::field::www_authenticate]);
        }
    }
    const std::string body = R"({"cooling": true})";
    TestHttpClient::Result write;
    if (!testCase.rawAuthorization.empty()) {
        TestHttpClient client = StationClient();
        write = client.SendRaw(
            "PUT /api/v1/settings HTTP/1.1\r\nHost: station\r\nAuthorization: " + testCase.rawAuthorization +
            "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    } else {
        write = Station(verb::put, "/api/v1/settings", body, testCase.credentials);
    }
    EXPECT_EQ(testCase.expectedStatus, write.response.result_int());
    EXPECT_EQ(testCase.expectedStatus == 200 ? "true" : "false", JsonAt(Status(), "/system/cooling"));
}

INSTANTIATE_TEST_SUITE_P(
    Simulator, CredentialsTest,
    ::testing::Values(CredentialsCase{"right", TestHttpClient::Credentials{"admin", "secret"}, "", 200},
                      CredentialsCase{"none", std::nullopt, "", 401},
                      CredentialsCase{"wrongPassword", TestHttpClient::Credentials{"admin", "Secret"}, "", 401},
                      CredentialsCase{"wrongUser", TestHttpClient::Credentials{"root", "secret"}, "", 401},
                      CredentialsCase{"emptyPassword", TestHttpClient::Credentials{"admin", ""}, "", 401},
                      CredentialsCase{"otherScheme", std::nullopt, "Bearer YWRtaW46c2VjcmV0", 401},
                      CredentialsCase{"notBase64", std::nullopt, "Basic YWRtaW46c2VjcmV0!", 401},
                      CredentialsCase{"noColon", std::nullopt, "Basic YWRtaW5zZWNyZXQ=", 401},
                      CredentialsCase{"lowerCaseScheme", std::nullopt, "basic YWRtaW46c2VjcmV0", 200}),
    [](const ::testing::TestParamInfo<CredentialsCase>& testInfo) { return testInfo.param.name; });

TEST_F(ProtocolTest, StationWithoutCredentialsServesEveryone)
{
    MergeState(R"({"credentials": null})");
    EXPECT_EQ(200u, Station(verb::get, "/api/v1/status", {}, std::nullopt).response.result_int());
    EXPECT_EQ(200u,
              Station(verb::get, "/api/v1/status", {}, TestHttpClient::Credentials{"x", "y"}).response.result_int());
}

struct WriteCase {
    const char* name;
    const char* target;
    const char* body;
    int expectedWriteStatus;
    const char* pointer;  // into the next status
    const char* expectedValue;
};

class WriteTest : public SimulatorFixture, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteTest, WriteAnswersAndLaterStatusShowsIt)
{
    const WriteCase& testCase = GetParam();
    const TestHttpClient::Result result = Station(verb::put, testCase.target, testCase.body);
    ASSERT_FALSE(result.error) << result.error.message();
    ASSERT_EQ(200u, result.response.result_int()) << result.response.body();
    EXPECT_EQ("{\"status\":" + std::to_string(testCase.expectedWriteStatus) + "}", result.response.body());
    EXPECT_EQ(testCase.expectedValue, JsonAt(Status(), testCase.pointer));
}

INSTANTIATE_TEST_SUITE_P(
    Simulator, WriteTest,
    ::testing::Values(
        WriteCase{"setpoint", "/api/v1/rooms/1/setpoint", R"({"setpointTemperature": 22.5})", 0,
                  "/rooms/0/thermostat/setpointTemperature", "22.5"},
        WriteCase{"setpointAtMaximum", "/api/v1/rooms/1/setpoint", R"({"setpointTemperature": 30})", 0,
                  "/rooms/0/thermostat/setpointTemperature", "30.0"},
        WriteCase{"setpointAboveMaximum", "/api/v1/rooms/1/setpoint", R"({"setpointTemperature": 30.5})", 1,
                  "/rooms/0/thermostat/setpointTemperature", "21.5"},
        WriteCase{"setpointBelowMinimum", "/api/v1/rooms/1/setpoint", R"({"setpointTemperature": 4.5})", 1,
                  "/rooms/0/thermostat/setpointTemperature", "21.5"},
        WriteCase{"powerLevel", "/api/v1/rooms/2/powerlevel", R"({"level": 7, "minimumLevel": 0, "maximumLevel": 10})",
                  0, "/rooms/1/powerLevel", R"({"level":7,"percent":179,"minimumLevel":0,"maximumLevel":10})"},
        WriteCase{"powerLevelZero", "/api/v1/rooms/2/powerlevel", R"({"level": 0})", 0, "/rooms/1/powerLevel/percent",
                  "0"},
        WriteCase{"powerLevelTen", "/api/v1/rooms/2/powerlevel", R"({"level": 10})", 0, "/rooms/1/powerLevel/percent",
                  "255"},
        WriteCase{"powerLevelEleven", "/api/v1/rooms/2/powerlevel", R"({"level": 11})", 1, "/rooms/1/powerLevel/level",
                  "5"},
        WriteCase{"powerLevelNegative", "/api/v1/rooms/2/powerlevel", R"({"level": -1})", 1,
                  "/rooms/1/powerLevel/level", "5"},
        WriteCase{"leavingHomeWithArrival", "/api/v1/leavinghome",
                  R"({"active": true, "date": "24-05-20", "time": "18:30"})", 0, "/leavingHome",
                  R"({"active":true,"date":"24-05-20","time":"18:30"})"},
        WriteCase{"leavingHomeWithoutArrival", "/api/v1/leavinghome", R"({"active": true})", 0, "/leavingHome",
                  R"({"active":true})"},
        WriteCase{"leavingHomeOff", "/api/v1/leavinghome", R"({"active": false})", 0, "/leavingHome",
                  R"({"active":false})"},
        WriteCase{"leavingHomeNoSuchDate", "/api/v1/leavinghome",
                  R"({"active": true, "date": "24-02-30", "time": "18:30"})", 1, "/leavingHome", R"({"active":false})"},
        WriteCase{"leavingHomeNoSuchTime", "/api/v1/leavinghome",
                  R"({"active": true, "date": "24-02-29", "time": "24:00"})", 1, "/leavingHome", R"({"active":false})"},
        WriteCase{"cooling", "/api/v1/settings", R"({"cooling": true})", 0, "/system/cooling", "true"},
        WriteCase{"coolingWithChangeover", "/api/v1/settings", R"({"cooling": false, "automaticChangeover": true})", 0,
                  "/system/cooling", "false"}),
    [](const ::testing::TestParamInfo<WriteCase>& testInfo) { return testInfo.param.name; });

TEST_F(ProtocolTest, SwitchingLeavingHomeOffKeepsTheArrival)
{
    ASSERT_EQ(200u,
              Station(verb::put, "/api/v1/leavinghome", R"({"active": true, "date": "24-05-20", "time": "18:30"})")
                  .response.result_int());
    ASSERT_EQ(200u, Station(verb::put, "/api/v1/leavinghome", R"({"active": false})").response.result_int());
    EXPECT_EQ(R"({"active":false,"date":"24-05-20","time":"18:30"})", JsonAt(Status(), "/leavingHome"));
}

TEST_F(ProtocolTest, PercentStaysWhenTheScenarioFixesIt)
{
    MergeState(R"({"rooms": {"2": {"powerLevel": {"percent": 200, "percentFollowsLevel": false}}}})");
    ASSERT_EQ("{\"status\":0}", Station(verb::put, "/api/v1/rooms/2/powerlevel", R"({"level": 3})").response.body());
    EXPECT_EQ(R"({"level":3,"percent":200,"minimumLevel":0,"maximumLevel":10})",
              JsonAt(Status(), "/rooms/1/powerLevel"));
}

TEST_F(ProtocolTest, PowerLevelOutsideTheRoomsLimitsIsOutOfRange)
{
    MergeState(R"({"rooms": {"2": {"powerLevel": {"minimumLevel": 2, "maximumLevel": 8}}}})");
    EXPECT_EQ("{\"status\":1}", Station(verb::put, "/api/v1/rooms/2/powerlevel", R"({"level": 1})").response.body());
    EXPECT_EQ("{\"status\":1}", Station(verb::put, "/api/v1/rooms/2/powerlevel", R"({"level": 9})").response.body());
    EXPECT_EQ("{\"status\":0}", Station(verb::put, "/api/v1/rooms/2/powerlevel", R"({"level": 8})").response.body());
}

struct UnusableRequestCase {
    const char* name;
    verb method;
    const char* target;
    const char* body;
    unsigned expectedStatus;
};

class UnusableRequestTest : public SimulatorFixture, public ::testing::WithParamInterface<UnusableRequestCase> {};

TEST_P(UnusableRequestTest, AnswersWithAnHttpErrorAndChangesNothing)
{
    const UnusableRequestCase& testCase = GetParam();
    MergeState(R"({"clock": {"date": "24-05-17", "time": "18:30:05"}})");
    const std::string before = JsonToText(Status());
    const TestHttpClient::Result result = Station(testCase.method, testCase.target, testCase.body);
    ASSERT_FALSE(result.error) << result.error.message();
    EXPECT_EQ(testCase.expectedStatus, result.response.result_int()) << result.response.body();
    EXPECT_EQ(before, JsonToText(Status()));
}

INSTANTIATE_TEST_SUITE_P(
    Simulator, UnusableRequestTest,
    ::testing::Values(
        UnusableRequestCase{"notJson", verb::put, "/api/v1/rooms/1/setpoint", "{\"setpointTemperature\": ", 400},
        UnusableRequestCase{"notAnObject", verb::put, "/api/v1/rooms/1/setpoint", "[22.5]", 400},
        UnusableRequestCase{"memberMissing", verb::put, "/api/v1/rooms/1/setpoint", R"({"setpoint": 22.5})", 400},
        UnusableRequestCase{"setpointAsText", verb::put, "/api/v1/rooms/1/setpoint",
                            R"({"setpointTemperature": "22.5"})", 400},
        UnusableRequestCase{"levelAsReal", verb::put, "/api/v1/rooms/2/powerlevel", R"({"level": 5.5})", 400},
        UnusableRequestCase{"arrivalWithoutTime", verb::put, "/api/v1/leavinghome",
                            R"({"active": true, "date": "24-05-20"})", 400},
        UnusableRequestCase{"coolingAsNumber", verb::put, "/api/v1/settings", R"({"cooling": 1})", 400},
        UnusableRequestCase{"noSuchRoom", verb::put, "/api/v1/rooms/3/setpoint", R"({"setpointTemperature": 22})", 404},
        UnusableRequestCase{"roomZero", verb::put, "/api/v1/rooms/0/powerlevel", R"({"level": 2})", 404},
        UnusableRequestCase{"setpointOfPowerLevelRoom", verb::put, "/api/v1/rooms/2/setpoint",
                            R"({"setpointTemperature": 22})", 404},
        UnusableRequestCase{"powerLevelOfThermostatRoom", verb::put, "/api/v1/rooms/1/powerlevel", R"({"level": 2})",
                            404},
        UnusableRequestCase{"unknownPath", verb::get, "/api/v2/status", "", 404},
        UnusableRequestCase{"unknownRoomSetting", verb::put, "/api/v1/rooms/1/mode", "{}", 404},
        UnusableRequestCase{"readingAWrite", verb::get, "/api/v1/settings", "", 405},
        UnusableRequestCase{"writingTheStatus", verb::put, "/api/v1/status", R"({"responseCode": 1})", 405},
        UnusableRequestCase{"postInsteadOfPut", verb::post, "/api/v1/rooms/1/setpoint",
                            R"({"setpointTemperature": 22})", 405}),
    [](const ::testing::TestParamInfo<UnusableRequestCase>& testInfo) { return testInfo.param.name; });

TEST_F(ProtocolTest, OneConnectionCarriesAHundredPollsWithOneHandshake)
{
    TestHttpClient client = StationClient();
    for (int poll = 0; poll < 100; ++poll) {
        const TestHttpClient::Result result = client.Send(verb::get, "/api/v1/status", {}, Admin());
        ASSERT_FALSE(result.error) << "poll " << poll << ": " << result.error.message();
        ASSERT_EQ(200u, result.response.result_int());
        ASSERT_TRUE(client.IsConnected());
    }
    EXPECT_EQ("1", Counter("/counters/tlsHandshakes"));
    EXPECT_EQ("1", Counter("/counters/connections"));
    EXPECT_EQ("100", Counter("/counters/requestsByPath/~1api~1v1~1status"));
    client.Close();
    EXPECT_EQ(200u, Station(verb::get, "/api/v1/info").response.result_int());
    EXPECT_EQ("2", Counter("/counters/tlsHandshakes"));
}

TEST_F(ProtocolTest, ConnectionCloseIsHonoured)
{
    TestHttpClient client = StationClient();
    const TestHttpClient::Result result =
        client.SendRaw("GET /api/v1/info HTTP/1.1\r\nHost: s\r\nConnection: close\r\nAuthorization: Basic "
                       "YWRtaW46c2VjcmV0\r\n\r\n");
    ASSERT_FALSE(result.error) << result.error.message();
    EXPECT_EQ(200u, result.response.result_int());
    EXPECT_FALSE(result.response.keep_alive());
    EXPECT_FALSE(client.IsConnected());
}

TEST_F(ProtocolTest, IdleConnectionsAreClosedByTheStation)
{
    StationSimulator::Options options;
    options.idleTimeout = std::chrono::milliseconds(50);
    StartSimulator(options);
    TestHttpClient client = StationClient();
    ASSERT_EQ(200u, client.Send(verb::get, "/api/v1/info", {}, Admin()).response.result_int());
    const auto start = std::chrono::steady_clock::now();
    const boost::system::error_code error = client.AwaitClose();
    EXPECT_TRUE(error) << "the station kept the connection";
    EXPECT_NE(boost::beast::error::timeout, error);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
}

struct GarbageCase {
    const char* name;
    std::string bytes;
    bool overTls;
};

class GarbageTest : public SimulatorFixture, public ::testing::WithParamInterface<GarbageCase> {};

TEST_P(GarbageTest, GarbageIsRefusedAndTheStationServesOn)
{
    const GarbageCase& testCase = GetParam();
    TestHttpClient client(_simulator->StationEndpoint(), testCase.overTls);
    const TestHttpClient::Result result = client.SendRaw(testCase.bytes);
    if (!result.error) {
        EXPECT_EQ(400u, result.response.result_int());
        EXPECT_FALSE(result.response.keep_alive());
    }
    EXPECT_EQ(200u, Station(verb::get, "/api/v1/status").response.result_int());
}

INSTANTIATE_TEST_SUITE_P(
    Simulator, GarbageTest,
    ::testing::Values(
        GarbageCase{"plainHttpOnTheTlsPort", "GET /api/v1/status HTTP/1.1\r\nHost: s\r\n\r\n", false},
        GarbageCase{"binaryOnTheTlsPort", std::string("\x16\x03\x01\x00\x05\x00\x00\x00\x00\x00", 10), false},
        GarbageCase{"notHttp", "\x01\x02 hello\r\n\r\n", true},
        GarbageCase{"headerTooLarge",
                    "GET /api/v1/status HTTP/1.1\r\nHost: s\r\nX-Filler: " + std::string(9000, 'x') + "\r\n\r\n", true},
        GarbageCase{"bodyTooLarge",
                    "PUT /api/v1/settings HTTP/1.1\r\nHost: s\r\nContent-Length: 70000\r\n\r\n" +
                        std::string(70000, ' '),
                    true},
        GarbageCase{"deeplyNestedBody",
                    "PUT /api/v1/settings HTTP/1.1\r\nHost: s\r\nAuthorization: Basic "
                    "YWRtaW46c2VjcmV0\r\nContent-Length: 20000\r\nConnection: close\r\n\r\n" +
                        std::string(10000, '[') + std::string(10000, ']'),
                    true}),
    [](const ::testing::TestParamInfo<GarbageCase>& testInfo) { return testInfo.param.name; });

}  // namespace
}  // namespace Simulation
}  // namespace Keldra
