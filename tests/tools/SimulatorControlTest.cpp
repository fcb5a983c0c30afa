// The control interface: partial states merged into the running station,
// and faults: every kind is observable by a client, and "count", "path" and
// clearing limit where faults apply.
#include <chrono>
#include <functional>
#include <string>

#include <boost/asio/ssl/error.hpp>
#include <boost/beast/core/error.hpp>

#include "SimulatorFixture.h"

using namespace Keldra::Simulation;

namespace {

using ControlTest = SimulatorFixture;

TEST_F(ControlTest, MergedStateShowsInTheNextAnswers)
{
    MergeState(R"({"system": {"code": "3-1", "stationName": null}, "clock": {"date": "24-12-31", "time": "23:59:59"},
                   "rooms": {"1": {"thermostat": {"roomTemperature": 18.5, "batteryLow": true}},
                             "2": {"powerLevel": {"level": 8}}},
                   "errors": [{"code": -21, "room": 1}, {"code": -3, "room": 7, "description": "thermostat missing"}],
                   "leavingHome": {"active": false, "date": "24-05-20", "time": "18:30"},
                   "firmwareVersion": "1.3.9", "stationId": "9876543210"})");
    // Temperatures stay reals ("5.0") and levels integers.
    EXPECT_EQ(R"({"responseCode":0,"system":{"serialNumber":"BS-0042","code":"3-1","date":"24-12-31",)"
              R"("time":"23:59:59","cooling":false},"rooms":[{"room":4,"actors":[{"number":3,"valveOpen":true}],)"
              R"("thermostat":{"id":"TH000001","setpointTemperature":21.5,"minimumTemperature":5.0,)"
              R"("maximumTemperature":30.0,"roomTemperature":18.5,"relativeHumidity":45.0,"batteryLow":true}},)"
              R"({"room":7,"actors":[{"number":4}],"powerLevel":{"level":8,"percent":204,"minimumLevel":0,)"
              R"("maximumLevel":10}}],"errors":[{"code":-21,"room":1},{"code":-3,"room":7,)"
              R"("description":"thermostat missing"}],"leavingHome":{"active":false,"date":"24-05-20",)"
              R"("time":"18:30"}})",
              StatusAt(""));
    const TestHttpClient::Result info = Station(verb::get, "/api/v1/info");
    EXPECT_EQ("application/json", info.response[http::field::content_type]);
    EXPECT_EQ(R"({"stationId":"9876543210","model":"Brisgo","vendor":"Keldra","firmwareVersion":"1.3.9"})",
              info.response.body());
    // An array replaces the rooms as a whole.
    MergeState(R"({"rooms": [{"room": 7, "actors": [{"number": 1}], "powerLevel": {"level": 2}}]})");
    EXPECT_EQ(R"([{"room":7,"actors":[{"number":1}],"powerLevel":{"level":2,"percent":51,"minimumLevel":0,)"
              R"("maximumLevel":10}}])",
              StatusAt("/rooms"));
}

TEST_F(ControlTest, BadRequestsAreRefusedWithTheReasonAndChangeNothing)
{
    const std::pair<const char*, const char*> requests[] = {  // body, reason; to /control/state or /control/fault
        {"[1]", "state: expected an object with the members to change"},
        {R"({"rooms": {"3": {"room": 3}}})",
         R"(state: rooms: no room with index \"3\" to merge into (the station has 2 rooms, indexes from \"1\"))"},
        {R"({"system": {"colour": "red"}})", R"(state: system: unknown member \"colour\")"},
        {"{kind", "fault: not valid JSON at offset 1: Missing a name for object member."},
        {"{}", "fault: kind: missing, expected one of the fault kinds"},
        {R"({"kind": "responseCode"})", "fault: value: missing"},
        {R"({"kind": "httpStatus", "value": 99})", "fault: value: expected an integer from 200 to 599"},
        {R"({"kind": "tlsCut", "milliseconds": 5})", R"(fault: member \"milliseconds\" does not apply to kind tlsCut)"},
        {R"({"kind": "dropOnAccept", "path": "/api/v1/status"})",
         R"(fault: member \"path\" does not apply to kind dropOnAccept)"},
        {R"({"kind": "tlsCut", "path": "api"})",
         R"(fault: path: expected a path starting with \"/\", such as \"/api/v1/status\")"},
        {R"({"kind": "tlsCut", "count": 0})", "fault: count: expected an integer from 1 to 1000000"},
    };
    const std::string before = ControlState("/state") + ControlState("/faults");
    for (const auto& [body, reason] : requests) {
        const std::string path = std::string(reason).substr(0, 5) == "state" ? "/control/state" : "/control/fault";
        const TestHttpClient::Result answer = Control(verb::post, path, body);
        EXPECT_EQ(400u, answer.response.result_int()) << body;
        EXPECT_EQ(std::string("\"") + reason + "\"", JsonAt(answer, "/error"));
    }
    EXPECT_EQ(before, ControlState("/state") + ControlState("/faults"));
    EXPECT_EQ(404u, Control(verb::get, "/control/nothing").response.result_int());
    EXPECT_EQ(405u, Control(verb::get, "/control/fault").response.result_int());
    EXPECT_EQ(405u, Control(verb::delete_, "/control/state").response.result_int());
}

using FaultTest = SimulatorFixture;
const char* const StatusPath = "/api/v1/status";
const char* const InfoPath = "/api/v1/info";

struct FaultCase {
    const char* fault;
    const char* target;                // GET, or PUT when there is a body
    const char* body;
    boost::system::error_code error;   // the request fails with this, or else
    unsigned status = 0;               // it is answered with this
    const char* pointer = nullptr;     // and this value in the body
    const char* value = nullptr;
    std::function<void(const TestHttpClient::Result&)> more = {};
};

const FaultCase Faults[] = {
    {R"({"kind": "refuseCredentials"})", StatusPath, "", {}, 401},
    {R"({"kind": "responseCode", "value": 405})", StatusPath, "", {}, 200, "/responseCode", "405"},
    {R"({"kind": "writeStatus", "value": 2})", "/api/v1/rooms/1/setpoint", R"({"setpointTemperature": 22})", {}, 200,
     "/status", "2"},
    {R"({"kind": "httpStatus", "value": 500})", StatusPath, "", {}, 500},
    {R"({"kind": "malformedJson"})", StatusPath, "", {}, 200, "/responseCode", "<absent>",
     [](const TestHttpClient::Result& result) { EXPECT_EQ(0u, result.response.body().find("{\"responseCode\":0,")); }},
    {R"({"kind": "truncatedBody"})", StatusPath, "", http::error::partial_message},
    {R"({"kind": "tlsCut"})", StatusPath, "", boost::asio::ssl::error::stream_truncated},
    {R"({"kind": "dropAfterRequest"})", StatusPath, "", http::error::end_of_stream},
    {R"({"kind": "noAnswer"})", StatusPath, "", boost::beast::error::timeout},
    {R"({"kind": "firmwareVersion"})", InfoPath, "", {}, 200, "/firmwareVersion", "\"1.3.9\""},
    {R"({"kind": "firmwareVersion", "value": null})", InfoPath, "", {}, 200, "",
     R"({"stationId":"0123456789","model":"Brisgo","vendor":"Keldra"})"},
    {R"({"kind": "wrongShape"})", StatusPath, "", {}, 200, "/rooms", "\"wrong shape\""},
    {R"({"kind": "wrongShape", "member": "system.date", "remove": true})", StatusPath, "", {}, 200, "/system/date",
     "<absent>"},
    {R"({"kind": "wrongShape", "member": "status", "value": "0"})", "/api/v1/settings", R"({"cooling": true})", {},
     200, "/status", "\"0\""},
    {R"({"kind": "chunked"})", StatusPath, "", {}, 200, "/responseCode", "0",
     [](const TestHttpClient::Result& result) { EXPECT_TRUE(result.response.chunked()); }},
    {R"({"kind": "largeBody"})", InfoPath, "", {}, 200, "/firmwareVersion", "\"2.4.1\"",
     [](const TestHttpClient::Result& result) { EXPECT_GT(result.response.body().size(), 70000u); }},
    {R"({"kind": "thirteenRooms"})", StatusPath, "", {}, 200, "/rooms/12/room", "13",
     [](const TestHttpClient::Result& result) {
         EXPECT_NE(std::string::npos, result.response.body().find(R"("rooms":[{"room":4,)"));
         EXPECT_EQ(std::string::npos, result.response.body().find(R"("room":14)"));
     }},
};

TEST_F(FaultTest, EveryFaultIsObservableAndGoesWithClear)
{
    for (const FaultCase& fault : Faults) {
        SCOPED_TRACE(fault.fault);
        AddFault(fault.fault);
        TestHttpClient client = StationClient();
        client.timeout = fault.error == boost::beast::error::timeout ? std::chrono::milliseconds(300)
                                                                      : std::chrono::milliseconds(5000);
        const TestHttpClient::Result result =
            client.Send(*fault.body == 0 ? verb::get : verb::put, fault.target, fault.body, Admin);
        client.Close();
        EXPECT_EQ(fault.error, result.error) << result.error.message();
        if (!fault.error) {
            EXPECT_EQ(fault.status, result.response.result_int());
        }
        if (fault.pointer != nullptr) {
            EXPECT_EQ(fault.value, *fault.pointer ? JsonAt(result, fault.pointer) : result.response.body());
        }
        if (fault.more) {
            fault.more(result);
        }
        // Cleared, the station answers normally again, and a faulted write changed nothing.
        EXPECT_EQ(200u, Control(verb::post, "/control/clear").response.result_int());
        EXPECT_EQ("0", StatusAt("/responseCode"));
        EXPECT_EQ("21.5", StatusAt("/rooms/0/thermostat/setpointTemperature"));
    }
}

TEST_F(FaultTest, CountAndPathLimitWhereAFaultApplies)
{
    AddFault(R"({"kind": "responseCode", "value": 500, "count": 2})");
    EXPECT_EQ(R"([{"kind":"responseCode","count":2,"value":500}])", ControlState("/faults"));
    EXPECT_EQ("500", StatusAt("/responseCode"));
    EXPECT_EQ("500", StatusAt("/responseCode"));
    EXPECT_EQ("0", StatusAt("/responseCode"));
    EXPECT_EQ("[]", ControlState("/faults"));

    AddFault(R"({"kind": "httpStatus", "value": 503, "path": "/api/v1/info"})");
    AddFault(R"({"kind": "refuseCredentials", "path": "/api/v1/rooms/"})");
    EXPECT_EQ(200u, Station(verb::get, StatusPath).response.result_int());
    EXPECT_EQ(503u, Station(verb::get, InfoPath).response.result_int());
    EXPECT_EQ(401u, Station(verb::put, "/api/v1/rooms/2/powerlevel", R"({"level": 1})").response.result_int());
    EXPECT_EQ(200u, Station(verb::put, "/api/v1/settings", R"({"cooling": true})").response.result_int());

    // An unusable write does not use up a forced write status.
    AddFault(R"({"kind": "writeStatus", "value": 2, "count": 1})");
    EXPECT_EQ(400u, Station(verb::put, "/api/v1/settings", R"({"cooling": "yes"})").response.result_int());
    EXPECT_EQ("{\"status\":2}", Station(verb::put, "/api/v1/settings", R"({"cooling": true})").response.body());
    EXPECT_EQ("{\"status\":0}", Station(verb::put, "/api/v1/settings", R"({"cooling": true})").response.body());
}

TEST_F(FaultTest, DropOnAcceptAndDelaysCombineWithOtherFaults)
{
    AddFault(R"({"kind": "dropOnAccept", "count": 1})");
    EXPECT_TRUE(Station(verb::get, "/api/v1/info").error);
    EXPECT_EQ(R"({"connections":1,"tlsHandshakes":0,"requests":0,"requestsByPath":{}})", ControlState("/counters"));

    AddFault(R"({"kind": "delay", "milliseconds": 300, "count": 1})");
    AddFault(R"({"kind": "responseCode", "value": 511, "count": 1})");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ("511", StatusAt("/responseCode"));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

}  // namespace
