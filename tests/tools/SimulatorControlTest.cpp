// The control interface: the state it shows, partial states merged into the
// running station, counters and the request log.
#include <string>

#include "JsonText.h"
#include "SimulatorFixture.h"

namespace Keldra {
namespace Simulation {
namespace {

using verb = boost::beast::http::verb;
using ControlTest = SimulatorFixture;

TEST_F(ControlTest, StateShowsScenarioFaultsCountersAndEndpoints)
{
    const ControlAnswer answer = Control(verb::get, "/control/state");
    ASSERT_EQ(200u, answer.status);
    EXPECT_EQ("\"0123456789\"", JsonAt(answer.json, "/state/stationId"));
    EXPECT_EQ(R"({"username":"admin","password":"secret"})", JsonAt(answer.json, "/state/credentials"));
    EXPECT_EQ("[]", JsonAt(answer.json, "/faults"));
    EXPECT_EQ(R"({"connections":0,"tlsHandshakes":0,"requests":0,"requestsByPath":{}})",
              JsonAt(answer.json, "/counters"));
    EXPECT_EQ("\"127.0.0.1\"", JsonAt(answer.json, "/station/address"));
    EXPECT_EQ(std::to_string(_simulator->StationEndpoint().port()), JsonAt(answer.json, "/station/port"));
    EXPECT_EQ(std::to_string(_simulator->ControlEndpoint().port()), JsonAt(answer.json, "/control/port"));
}

TEST_F(ControlTest, MergedStateShowsInTheNextStatus)
{
    MergeState(R"({"system": {"code": "3-1"},
                   "clock": {"date": "24-12-31", "time": "23:59:59"},
                   "rooms": {"1": {"thermostat": {"roomTemperature": 18.5, "batteryLow": true}},
                             "2": {"powerLevel": {"level": 8}}},
                   "errors": [{"code": -21, "room": 1}, {"code": -24}]})");
    const rapidjson::Document status = Status();
    EXPECT_EQ("\"3-1\"", JsonAt(status, "/system/code"));
    EXPECT_EQ("\"Ground floor\"", JsonAt(status, "/system/stationName"));
    EXPECT_EQ("\"24-12-31\"", JsonAt(status, "/system/date"));
    EXPECT_EQ("\"23:59:59\"", JsonAt(status, "/system/time"));
    EXPECT_EQ("18.5", JsonAt(status, "/rooms/0/thermostat/roomTemperature"));
    EXPECT_EQ("true", JsonAt(status, "/rooms/0/thermostat/batteryLow"));
    EXPECT_EQ("21.5", JsonAt(status, "/rooms/0/thermostat/setpointTemperature"));
    EXPECT_EQ(R"({"level":8,"percent":204,"minimumLevel":0,"maximumLevel":10})", JsonAt(status, "/rooms/1/powerLevel"));
    EXPECT_EQ(R"([{"code":-21,"room":1},{"code":-24}])", JsonAt(status, "/errors"));
}

TEST_F(ControlTest, NullRemovesAndArraysReplace)
{
    MergeState(R"({"system": {"stationName": null}, "rooms": [{"room": 7, "actors": [{"number": 1}, {"number": 2}],
                   "powerLevel": {"level": 2}}]})");
    const rapidjson::Document status = Status();
    EXPECT_EQ("<absent>", JsonAt(status, "/system/stationName"));
    EXPECT_EQ("\"BS-0042\"", JsonAt(status, "/system/serialNumber"));
    EXPECT_EQ(
        R"([{"room":7,"actors":[{"number":1},{"number":2}],"powerLevel":{"level":2,"percent":51,"minimumLevel":0,"maximumLevel":10}}])",
        JsonAt(status, "/rooms"));
}

TEST_F(ControlTest, StationIdAndFirmwareChangeTheShortInformation)
{
    MergeState(R"({"firmwareVersion": "1.3.9", "stationId": "9876543210"})");
    EXPECT_EQ(R"({"stationId":"9876543210","model":"Brisgo","vendor":"Keldra","firmwareVersion":"1.3.9"})",
              Station(verb::get, "/api/v1/info").response.body());
}

struct BadMergeCase {
    const char* name;
    const char* patch;
    const char* expectedError;
};

class BadMergeTest : public SimulatorFixture, public ::testing::WithParamInterface<BadMergeCase> {};

TEST_P(BadMergeTest, IsRefusedAndChangesNothing)
{
    const std::string before = JsonAt(Control(verb::get, "/control/state").json, "/state");
    const ControlAnswer answer = Control(verb::post, "/control/state", GetParam().patch);
    EXPECT_EQ(400u, answer.status);
    EXPECT_EQ(std::string("\"") + GetParam().expectedError + "\"", JsonAt(answer.json, "/error"));
    EXPECT_EQ(before, JsonAt(Control(verb::get, "/control/state").json, "/state"));
}

INSTANTIATE_TEST_SUITE_P(
    Simulator, BadMergeTest,
    ::testing::Values(
        BadMergeCase{"notAnObject", "[1]", "state: expected an object with the members to change"},
        BadMergeCase{"noSuchRoom", R"({"rooms": {"3": {"room": 3}}})",
                     "state: rooms: no room with index \\\"3\\\" to merge into (the station has 2 rooms, indexes from "
                     "\\\"1\\\")"},
        BadMergeCase{"shortStationId", R"({"stationId": "12345"})",
                     "state: stationId: expected 10 characters, got \\\"12345\\\""},
        BadMergeCase{"temperatureAsText", R"({"rooms": {"1": {"thermostat": {"roomTemperature": "warm"}}}})",
                     "state: rooms[0].thermostat.roomTemperature: expected a number"},
        BadMergeCase{"unknownMember", R"({"system": {"colour": "red"}})",
                     "state: system: unknown member \\\"colour\\\""},
        BadMergeCase{"requiredMemberRemoved", R"({"rooms": {"1": {"thermostat": {"id": null}}}})",
                     "state: rooms[0].thermostat.id: missing"},
        BadMergeCase{"clockHalfFixed", R"({"clock": {"date": "24-12-31"}})", "state: clock.time: missing"}),
    [](const ::testing::TestParamInfo<BadMergeCase>& testInfo) { return testInfo.param.name; });

TEST_F(ControlTest, CountersCountAndReset)
{
    Station(verb::get, "/api/v1/status");
    Station(verb::get, "/api/v1/status?x=1");
    Station(verb::put, "/api/v1/settings", R"({"cooling": true})");
    EXPECT_EQ(
        R"({"connections":3,"tlsHandshakes":3,"requests":3,"requestsByPath":{"/api/v1/settings":1,"/api/v1/status":2}})",
        JsonAt(Control(verb::get, "/control/state").json, "/counters"));
    const ControlAnswer reset = Control(verb::post, "/control/reset-counters");
    EXPECT_EQ(R"({"connections":0,"tlsHandshakes":0,"requests":0,"requestsByPath":{}})",
              JsonAt(reset.json, "/counters"));
}

TEST_F(ControlTest, RequestLogShowsWhatReachedTheStation)
{
    Station(verb::put, "/api/v1/rooms/1/setpoint", R"({"setpointTemperature": 23.0})");
    Station(verb::get, "/api/v1/info", {}, std::nullopt);
    EXPECT_EQ(
        R"([{"method":"PUT","path":"/api/v1/rooms/1/setpoint","body":"{\"setpointTemperature\": 23.0}","answer":"200"},)"
        R"({"method":"GET","path":"/api/v1/info","body":"","answer":"401"}])",
        JsonAt(Control(verb::get, "/control/requests").json, "/requests"));
}

TEST_F(ControlTest, UnknownCommandsAndMethodsAreRefused)
{
    EXPECT_EQ(404u, Control(verb::get, "/control/nothing").status);
    EXPECT_EQ(405u, Control(verb::get, "/control/fault").status);
    EXPECT_EQ(405u, Control(verb::delete_, "/control/state").status);
}

TEST_F(ControlTest, LibraryAndControlPortShareTheStation)
{
    EXPECT_EQ("", _simulator->Station().AddFault(R"({"kind": "responseCode", "value": 510})"));
    EXPECT_EQ("510", JsonAt(Status(), "/responseCode"));
    EXPECT_EQ("", _simulator->Station().MergeState(R"({"system": {"cooling": true}})"));
    EXPECT_TRUE(_simulator->Station().State().cooling);
    EXPECT_EQ(1u, _simulator->Station().Faults().size());
}

}  // namespace
}  // namespace Simulation
}  // namespace Keldra
