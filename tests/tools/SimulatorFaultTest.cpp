// Every fault kind of the control interface is observable by a client, and
// "count", "path" and clearing limit where faults apply.
#include <chrono>
#include <functional>
#include <string>

#include <boost/asio/ssl/error.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/error.hpp>

#include "JsonText.h"
#include "SimulatorFixture.h"

namespace Keldra {
namespace Simulation {
namespace {

using verb = boost::beast::http::verb;
namespace http = boost::beast::http;

struct Observed {
    TestHttpClient::Result result;
    std::chrono::steady_clock::duration elapsed;
    std::string statusAfterwards;  // the status's rooms and system after the fault was cleared
};

struct FaultCase {
    const char* name;
    const char* fault;
    verb method;
    const char* target;
    const char* body;
    std::function<void(const Observed&)> check;
    std::chrono::milliseconds clientTimeout{5000};
};

rapidjson::Document ParsedBody(const TestHttpClient::Result& result)
{
    rapidjson::Document body;
    std::string error;
    EXPECT_TRUE(ParseJson(result.response.body(), body, error)) << error << " in " << result.response.body();
    return body;
}

void ExpectAnswer(const Observed& observed, unsigned status)
{
    ASSERT_FALSE(observed.result.error) << observed.result.error.message();
    EXPECT_EQ(status, observed.result.response.result_int()) << observed.result.response.body();
}

std::function<void(const Observed&)> ResponseCodeIs(int code)
{
    return [code](const Observed& observed) {
        ExpectAnswer(observed, 200);
        EXPECT_EQ(std::to_string(code), JsonAt(ParsedBody(observed.result), "/responseCode"));
        EXPECT_EQ("2", JsonAt(ParsedBody(observed.result), "/rooms/1/room"));
    };
}

std::function<void(const Observed&)> WriteAnsweredButNothingChanged(int status)
{
    return [status](const Observed& observed) {
        ExpectAnswer(observed, 200);
        EXPECT_EQ("{\"status\":" + std::to_string(status) + "}", observed.result.response.body());
        EXPECT_NE(std::string::npos, observed.statusAfterwards.find("\"setpointTemperature\":21.5"));
    };
}

std::function<void(const Observed&)> FailsWith(boost::system::error_code expected)
{
    return [expected](const Observed& observed) {
        EXPECT_EQ(expected, observed.result.error) << observed.result.error.message();
    };
}

class FaultTest : public SimulatorFixture, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultTest, FaultIsObservableAndGoesWithClear)
{
    const FaultCase& testCase = GetParam();
    AddFault(testCase.fault);
    TestHttpClient client = StationClient();
    client.SetTimeout(testCase.clientTimeout);
    Observed observed;
    const auto start = std::chrono::steady_clock::now();
    observed.result = client.Send(testCase.method, testCase.target, testCase.body, Admin());
    observed.elapsed = std::chrono::steady_clock::now() - start;
    client.Close();
    EXPECT_EQ(200u, Control(verb::post, "/control/clear").status);
    const rapidjson::Document status = Status();
    observed.statusAfterwards = JsonAt(status, "/rooms") + JsonAt(status, "/system");
    testCase.check(observed);
    // Cleared, the station answers normally again.
    EXPECT_EQ("0", JsonAt(status, "/responseCode"));
    EXPECT_EQ(200u, Station(verb::get, "/api/v1/info").response.result_int());
}

INSTANTIATE_TEST_SUITE_P(
    Simulator, FaultTest,
    ::testing::Values(
        FaultCase{"refuseCredentials", R"({"kind": "refuseCredentials"})", verb::get, "/api/v1/status", "",
                  [](const Observed& observed) { ExpectAnswer(observed, 401); }},
        FaultCase{"responseCode405", R"({"kind": "responseCode", "value": 405})", verb::get, "/api/v1/status", "",
                  ResponseCodeIs(405)},
        FaultCase{"responseCode500", R"({"kind": "responseCode", "value": 500})", verb::get, "/api/v1/status", "",
                  ResponseCodeIs(500)},
        FaultCase{"responseCode510", R"({"kind": "responseCode", "value": 510})", verb::get, "/api/v1/status", "",
                  ResponseCodeIs(510)},
        FaultCase{"responseCode511", R"({"kind": "responseCode", "value": 511})", verb::get, "/api/v1/status", "",
                  ResponseCodeIs(511)},
        FaultCase{"writeStatusOutOfRange", R"({"kind": "writeStatus", "value": 1})", verb::put,
                  "/api/v1/rooms/1/setpoint", R"({"setpointTemperature": 22})", WriteAnsweredButNothingChanged(1)},
        FaultCase{"writeStatusInvalidCookie", R"({"kind": "writeStatus", "value": 2})", verb::put,
                  "/api/v1/rooms/1/setpoint", R"({"setpointTemperature": 22})", WriteAnsweredButNothingChanged(2)},
        FaultCase{"writeStatusOther", R"({"kind": "writeStatus", "value": 7})", verb::put,
                  "/api/v1/rooms/1/setpoint", R"({"setpointTemperature": 22})", WriteAnsweredButNothingChanged(7)},
        FaultCase{"httpStatus500", R"({"kind": "httpStatus", "value": 500})", verb::get, "/api/v1/status", "",
                  [](const Observed& observed) { ExpectAnswer(observed, 500); }},
        FaultCase{"malformedJson", R"({"kind": "malformedJson"})", verb::get, "/api/v1/status", "",
                  [](const Observed& observed) {
                      ExpectAnswer(observed, 200);
                      rapidjson::Document body;
                      std::string error;
                      EXPECT_FALSE(ParseJson(observed.result.response.body(), body, error));
                      EXPECT_EQ(0u, observed.result.response.body().find("{\"responseCode\":0,"));
                  }},
        FaultCase{"truncatedBody", R"({"kind": "truncatedBody"})", verb::get, "/api/v1/status", "",
                  FailsWith(http::error::partial_message)},
        FaultCase{"tlsCut", R"({"kind": "tlsCut"})", verb::get, "/api/v1/status", "",
                  FailsWith(boost::asio::ssl::error::stream_truncated)},
        FaultCase{"dropAfterRequest", R"({"kind": "dropAfterRequest"})", verb::get, "/api/v1/status", "",
                  FailsWith(http::error::end_of_stream)},
        FaultCase{"noAnswer", R"({"kind": "noAnswer"})", verb::get, "/api/v1/status", "",
                  FailsWith(boost::beast::error::timeout), std::chrono::milliseconds(300)},
        FaultCase{"delay", R"({"kind": "delay", "milliseconds": 300})", verb::get, "/api/v1/status", "",
                  [](const Observed& observed) {
                      ExpectAnswer(observed, 200);
                      EXPECT_GE(observed.elapsed, std::chrono::milliseconds(300));
                  }},
        FaultCase{"firmwareBelowMinimum", R"({"kind": "firmwareVersion"})", verb::get, "/api/v1/info", "",
                  [](const Observed& observed) {
                      ExpectAnswer(observed, 200);
                      EXPECT_EQ("\"1.3.9\"", JsonAt(ParsedBody(observed.result), "/firmwareVersion"));
                  }},
        FaultCase{"firmwareGiven", R"({"kind": "firmwareVersion", "value": "1.4.0-beta"})", verb::get,
                  "/api/v1/info", "",
                  [](const Observed& observed) {
                      EXPECT_EQ("\"1.4.0-beta\"", JsonAt(ParsedBody(observed.result), "/firmwareVersion"));
                  }},
        FaultCase{"firmwareMissing", R"({"kind": "firmwareVersion", "value": null})", verb::get, "/api/v1/info", "",
                  [](const Observed& observed) {
                      EXPECT_EQ(R"({"stationId":"0123456789","model":"Brisgo","vendor":"Keldra"})",
                                observed.result.response.body());
                  }},
        FaultCase{"roomsAsString", R"({"kind": "wrongShape"})", verb::get, "/api/v1/status", "",
                  [](const Observed& observed) {
                      EXPECT_EQ("\"wrong shape\"", JsonAt(ParsedBody(observed.result), "/rooms"));
                  }},
        FaultCase{"thermostatIdAsNumber",
                  R"({"kind": "wrongShape", "member": "rooms.0.thermostat.id", "value": 42})", verb::get,
                  "/api/v1/status", "",
                  [](const Observed& observed) {
                      EXPECT_EQ("42", JsonAt(ParsedBody(observed.result), "/rooms/0/thermostat/id"));
                  }},
        FaultCase{"dateRemoved", R"({"kind": "wrongShape", "member": "system.date", "remove": true})", verb::get,
                  "/api/v1/status", "",
                  [](const Observed& observed) {
                      EXPECT_EQ("<absent>", JsonAt(ParsedBody(observed.result), "/system/date"));
                      EXPECT_NE("<absent>", JsonAt(ParsedBody(observed.result), "/system/time"));
                  }},
        FaultCase{"writeAnswerReshaped", R"({"kind": "wrongShape", "member": "status", "value": "0"})", verb::put,
                  "/api/v1/settings", R"({"cooling": true})",
                  [](const Observed& observed) {
                      EXPECT_EQ(R"({"status":"0"})", observed.result.response.body());
                      EXPECT_NE(std::string::npos, observed.statusAfterwards.find("\"cooling\":true"));
                  }},
        FaultCase{"chunked", R"({"kind": "chunked"})", verb::get, "/api/v1/status", "",
                  [](const Observed& observed) {
                      ExpectAnswer(observed, 200);
                      EXPECT_TRUE(observed.result.response.chunked());
                      EXPECT_EQ("0", JsonAt(ParsedBody(observed.result), "/responseCode"));
                  }},
        FaultCase{"largeBody", R"({"kind": "largeBody"})", verb::get, "/api/v1/info", "",
                  [](const Observed& observed) {
                      ExpectAnswer(observed, 200);
                      EXPECT_GT(observed.result.response.body().size(), 70000u);
                      EXPECT_EQ("\"2.4.1\"", JsonAt(ParsedBody(observed.result), "/firmwareVersion"));
                      EXPECT_EQ(0u, observed.result.response.body().find(R"({"stationId":"0123456789")"));
                  }},
        FaultCase{"thirteenRooms", R"({"kind": "thirteenRooms"})", verb::get, "/api/v1/status", "",
                  [](const Observed& observed) {
                      const rapidjson::Document body = ParsedBody(observed.result);
                      ASSERT_TRUE(body["rooms"].IsArray());
                      EXPECT_EQ(13u, body["rooms"].Size());
                      EXPECT_EQ("\"TH000001\"", JsonAt(body, "/rooms/0/thermostat/id"));
                      EXPECT_EQ("13", JsonAt(body, "/rooms/12/room"));
                  }}),
    [](const ::testing::TestParamInfo<FaultCase>& testInfo) { return testInfo.param.name; });

using FaultScopeTest = SimulatorFixture;

TEST_F(FaultScopeTest, DropOnAcceptEndsTheConnectionBeforeTheHandshake)
{
    AddFault(R"({"kind": "dropOnAccept", "count": 1})");
    TestHttpClient client = StationClient();
    EXPECT_TRUE(client.Connect());
    EXPECT_EQ("0", Counter("/counters/tlsHandshakes"));
    EXPECT_EQ("1", Counter("/counters/connections"));
    EXPECT_EQ(200u, Station(verb::get, "/api/v1/status").response.result_int());
    EXPECT_EQ("1", Counter("/counters/tlsHandshakes"));
}

TEST_F(FaultScopeTest, CountLimitsHowOftenAFaultApplies)
{
    AddFault(R"({"kind": "responseCode", "value": 500, "count": 2})");
    EXPECT_EQ(R"([{"kind":"responseCode","count":2,"value":500}])",
              JsonAt(Control(verb::get, "/control/state").json, "/faults"));
    EXPECT_EQ("500", JsonAt(Status(), "/responseCode"));
    EXPECT_EQ("500", JsonAt(Status(), "/responseCode"));
    EXPECT_EQ("0", JsonAt(Status(), "/responseCode"));
    EXPECT_EQ("[]", JsonAt(Control(verb::get, "/control/state").json, "/faults"));
}

TEST_F(FaultScopeTest, PathLimitsWhichRequestsAFaultConcerns)
{
    AddFault(R"({"kind": "httpStatus", "value": 503, "path": "/api/v1/info"})");
    AddFault(R"({"kind": "refuseCredentials", "path": "/api/v1/rooms/"})");
    EXPECT_EQ(200u, Station(verb::get, "/api/v1/status").response.result_int());
    EXPECT_EQ(503u, Station(verb::get, "/api/v1/info").response.result_int());
    EXPECT_EQ(401u, Station(verb::put, "/api/v1/rooms/2/powerlevel", R"({"level": 1})").response.result_int());
    EXPECT_EQ(200u, Station(verb::put, "/api/v1/settings", R"({"cooling": true})").response.result_int());
}

TEST_F(FaultScopeTest, FaultsCombineWithADelay)
{
    AddFault(R"({"kind": "delay", "milliseconds": 100, "count": 1})");
    AddFault(R"({"kind": "responseCode", "value": 511, "count": 1})");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ("511", JsonAt(Status(), "/responseCode"));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

TEST_F(FaultScopeTest, UnusableWriteDoesNotUseUpAForcedWriteStatus)
{
    AddFault(R"({"kind": "writeStatus", "value": 2, "count": 1})");
    EXPECT_EQ(400u, Station(verb::put, "/api/v1/settings", R"({"cooling": "yes"})").response.result_int());
    EXPECT_EQ("{\"status\":2}", Station(verb::put, "/api/v1/settings", R"({"cooling": true})").response.body());
    EXPECT_EQ("{\"status\":0}", Station(verb::put, "/api/v1/settings", R"({"cooling": true})").response.body());
}

struct BadFaultCase {
    const char* name;
    const char* fault;
    const char* expectedError;
};

class BadFaultTest : public SimulatorFixture, public ::testing::WithParamInterface<BadFaultCase> {};

TEST_P(BadFaultTest, IsRefusedWithTheReason)
{
    const ControlAnswer answer = Control(verb::post, "/control/fault", GetParam().fault);
    EXPECT_EQ(400u, answer.status);
    EXPECT_EQ(std::string("\"") + GetParam().expectedError + "\"", JsonAt(answer.json, "/error"));
    EXPECT_EQ("[]", JsonAt(Control(verb::get, "/control/state").json, "/faults"));
}

INSTANTIATE_TEST_SUITE_P(
    Simulator, BadFaultTest,
    ::testing::Values(
        BadFaultCase{"notJson", "{kind", "fault: not valid JSON at offset 1: Missing a name for object member."},
        BadFaultCase{"noKind", "{}", "fault: kind: missing, expected one of the fault kinds"},
        BadFaultCase{"missingValue", R"({"kind": "responseCode"})", "fault: value: missing"},
        BadFaultCase{"statusOutOfRange", R"({"kind": "httpStatus", "value": 99})",
                     "fault: value: expected an integer from 200 to 599"},
        BadFaultCase{"memberOfAnotherKind", R"({"kind": "tlsCut", "milliseconds": 5})",
                     "fault: member \\\"milliseconds\\\" does not apply to kind tlsCut"},
        BadFaultCase{"pathOnAccept", R"({"kind": "dropOnAccept", "path": "/api/v1/status"})",
                     "fault: member \\\"path\\\" does not apply to kind dropOnAccept"},
        BadFaultCase{"relativePath", R"({"kind": "tlsCut", "path": "api"})",
                     "fault: path: expected a path starting with \\\"/\\\", such as \\\"/api/v1/status\\\""},
        BadFaultCase{"zeroCount", R"({"kind": "tlsCut", "count": 0})",
                     "fault: count: expected an integer from 1 to 1000000"}),
    [](const ::testing::TestParamInfo<BadFaultCase>& testInfo) { return testInfo.param.name; });

}  // namespace
}  // namespace Simulation
}  // namespace Keldra
