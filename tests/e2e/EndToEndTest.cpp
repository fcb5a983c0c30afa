// The whole system end to end: the plug-in in the gateway host finds
// simulated base stations over real mDNS and talks to them over real HTTPS
// on port 443, each program in a network namespace of its own.
//
// Installation (ets-parameters.txt): base station 1 "KLD0000001" with room
// thermostat TH000001 (COs 1..3) and actor module 3 in slot 1 (COs 37..41);
// base station 2 "KLD0000002" with room thermostat TH000002 (COs 101..103).
#include <chrono>
#include <cstdio>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "EndToEndFixture.h"

namespace Keldra {
namespace EndToEnd {
namespace {

using ::testing::SizeIs;

const std::string Station1Found = "Found missing base station 1: plavo-KLD0000001: 10.77.13.2:443";
const std::string Station2Found = "Found missing base station 2: plavo-KLD0000002: 10.77.13.3:443";
const std::string Station1Polled = "@KLD0000001: Received status";
const std::string Station2Polled = "@KLD0000002: Received status";

unsigned Counter(const rapidjson::Document& state, const char* name)
{
    return state["counters"][name].GetUint();
}

unsigned RequestsOf(const rapidjson::Document& state, const char* path)
{
    const auto& byPath = state["counters"]["requestsByPath"];
    return byPath.HasMember(path) ? byPath[path].GetUint() : 0;
}

// The time of day at which the host printed a console line ("10:07:31.948 app->bus ...").
std::chrono::milliseconds ConsoleTime(const std::string& line)
{
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int milliseconds = 0;
    if (std::sscanf(line.c_str(), "%2d:%2d:%2d.%3d", &hours, &minutes, &seconds, &milliseconds) != 4) {
        throw WaitFailed("no time in the console line '" + line + "'");
    }
    return std::chrono::hours(hours) + std::chrono::minutes(minutes) + std::chrono::seconds(seconds) +
           std::chrono::milliseconds(milliseconds);
}

bool Answered200(const rapidjson::Value& request)
{
    // The HTTP status, or what happened instead, as a text.
    const auto& answer = request["answer"];
    return answer.IsString() ? std::string(answer.GetString()) == "200" : answer.IsInt() && answer.GetInt() == 200;
}

TEST_F(EndToEndTest, StationsAreDiscoveredCheckedAndPolledAndTheFirstCheckedIsMaster)
{
    StartLab();
    auto& station2 = StartStation("st2", "station2.json");
    StartHost();

    // Station 2 is found first and passes its check first (with firmware
    // 1.4.0, the oldest the plug-in accepts): it is master, although
    // station 1 has the lower number.
    const auto found2 = Await(Line(Station2Found), 0, AnnouncedStationTimeout);
    const auto elected = Await(Line("Selecting base station 2 as system master"), found2, PollTimeout);
    Await(Line("Set system master: KLD0000002"), found2, PollTimeout);
    Await(BusValue(198, "bool false"), elected, PollTimeout);
    Await(BusValue(103, "float 19.5"), elected, PollTimeout);

    auto& station1 = StartStation("st1", "station1.json");
    const auto found1 = Await(Line(Station1Found), elected, DiscoveryTimeout);
    Await(Line("Stop base station discovery"), found1, PollTimeout);
    const auto polled1 = Await(Line(Station1Polled), found1, PollTimeout);
    Await(BusValue(98, "bool false"), polled1, PollTimeout);
    Await(BusValue(1, "float 20.8"), polled1, PollTimeout);
    Await(BusValue(3, "float 20"), polled1, PollTimeout);
    // Both keep being polled.
    Await(Line(Station1Polled), polled1, PollTimeout);
    Await(Line(Station2Polled), polled1, PollTimeout);

    EXPECT_THAT(Host().MatchingLines(Line("as system master").regex), SizeIs(1));
    EXPECT_THAT(Host().MatchingLines(Line("Set system master").regex), SizeIs(1));
    for (auto* station : {&station1, &station2}) {
        const auto state = station->State();
        EXPECT_EQ(1u, RequestsOf(state, "/api/v1/info")) << station->Node();
        EXPECT_LE(2u, RequestsOf(state, "/api/v1/status")) << station->Node();
    }
    EXPECT_EQ(0, StopHost());
}

TEST_F(EndToEndTest, SetpointFromTheBusReachesTheStationAndIsPublishedAtOnce)
{
    StartLab();
    auto& station1 = StartStation("st1", "station1.json");
    StartStation("st2", "station2.json");
    StartHost();
    Await(Line(Station1Found), 0, DiscoveryTimeout);
    Await(Line(Station2Found), 0, DiscoveryTimeout);

    // Right after a poll of station 1 the next one is 5 s away, so what
    // comes on CO 3 before it is the answer to the write.
    const auto polled = Await(Line(Station1Polled), 0, PollTimeout);
    const auto statusPublished = Await(BusValue(3, "float 20"), polled, PollTimeout);
    ASSERT_TRUE(Host().WriteLine("2 float 21.3"));
    const auto received = Await(Line("bus->app CO 2 "), statusPublished, PollTimeout);
    const auto published = Await(BusValue(3, "float 21.5"), received, PollTimeout);
    EXPECT_EQ(std::string::npos, Host().Output().substr(received, published - received).find(Station1Polled))
        << "a poll came between the write and its publication";
    const auto delivery = ConsoleTime(Host().MatchingLines(Line("bus->app CO 2 ").regex).front());
    const auto publication = ConsoleTime(Host().MatchingLines(BusValue(3, "float 21.5").regex, received).front());
    EXPECT_LT(publication - delivery, std::chrono::milliseconds(2000));
    Await(Line("Set temperature setpoint to '21.5' (0/0)"), received, PollTimeout);
    Await(Line("# set temperature (0/0) done"), received, PollTimeout);

    const auto state = station1.State();
    EXPECT_EQ(21.5, state["state"]["rooms"][0]["thermostat"]["setpointTemperature"].GetDouble());
    const auto requests = station1.Control("GET", "/control/requests");
    bool written = false;
    for (const auto& request : requests["requests"].GetArray()) {
        if (std::string(request["path"].GetString()) == "/api/v1/rooms/1/setpoint") {
            EXPECT_STREQ("PUT", request["method"].GetString());
            rapidjson::Document body;
            body.Parse(request["body"].GetString());
            ASSERT_FALSE(body.HasParseError());
            EXPECT_EQ(21.5, body["setpointTemperature"].GetDouble());
            EXPECT_TRUE(Answered200(request));
            written = true;
        }
    }
    EXPECT_TRUE(written);

    // The station's own status confirms the value on the next poll.
    const auto confirmed = Await(Line(Station1Polled), published, PollTimeout);
    Await(BusValue(3, "float 21.5"), confirmed, PollTimeout);
    EXPECT_EQ(0, StopHost());
}

TEST_F(EndToEndTest, StationStatusReachesTheBusAndBusValuesReachTheStations)
{
    StartLab();
    auto& station1 = StartStation("st1", "station1.json");
    auto& station2 = StartStation("st2", "station2.json");
    StartHost();
    Await(Line(Station1Found), 0, DiscoveryTimeout);
    Await(Line(Station2Found), 0, DiscoveryTimeout);
    const auto firstPoll = Await(Line(Station1Polled), 0, PollTimeout);
    Await(BusValue(38, "byte 5"), firstPoll, PollTimeout);
    Await(BusValue(40, "byte 128"), firstPoll, PollTimeout);
    Await(BusValue(517, "bool true"), 0, PollTimeout);
    Await(BusValue(511, "bool false"), 0, PollTimeout);

    // Whichever station is master reports the installation-wide state, so
    // both report the same.
    const std::string installation =
        R"("system": {"cooling": true}, "leavingHome": {"active": true, "date": "26-12-24", "time": "18:30"})";
    const auto changed = HostOutputEnd();
    station1.Control("POST", "/control/state",
                     R"({"system": {"code": "3-1", "cooling": true},
                         "rooms": {"1": {"thermostat": {"roomTemperature": 18.5}}, "2": {"powerLevel": {"level": 8}}},
                         "errors": [{"code": -21, "room": 1}, {"code": -24}],
                         "leavingHome": {"active": true, "date": "26-12-24", "time": "18:30"}})");
    station2.Control("POST", "/control/state", "{" + installation + "}");

    const auto polled = Await(Line(Station1Polled), changed, PollTimeout);
    Await(BusValue(98, "bool true"), polled, PollTimeout);
    const auto stationError = Await(BusValue(97, "bool true"), polled, PollTimeout);
    Await(BusValue(503, "bool true"), stationError, PollTimeout);
    const auto firstText = Await(BusValue(504, "text \"-21:ConnThermo\""), stationError, PollTimeout);
    Await(BusValue(504, "text \"-24:WeakConnTh\""), firstText, PollTimeout);
    Await(BusValue(1, "float 18.5"), polled, PollTimeout);
    Await(BusValue(38, "byte 8"), polled, PollTimeout);
    Await(BusValue(40, "byte 204"), polled, PollTimeout);
    Await(BusValue(517, "bool false"), changed, PollTimeout);
    Await(BusValue(511, "bool true"), changed, PollTimeout);
    Await(BusValue(513, "datetime 2026-12-24T18:30:00"), changed, PollTimeout);
    Await(BusValue(515, "time 18:30"), changed, PollTimeout);

    // A power level from the bus switches leaving-home off at every station
    // first, then reaches the station, whose next status brings it back.
    const auto written = HostOutputEnd();
    ASSERT_TRUE(Host().WriteLine("37 byte 7"));
    Await(Line("Auto-disabling leaving home mode"), written, PollTimeout);
    Await(Line("# set power level (0/0) done"), written, PollTimeout);
    Await(BusValue(38, "byte 7"), written, PollTimeout);
    Await(BusValue(40, "byte 179"), written, PollTimeout);
    Await(BusValue(511, "bool false"), written, PollTimeout);
    Await(Line("# leaving home set: base station 1 done"), written, PollTimeout);
    Await(Line("# leaving home set: base station 2 done"), written, PollTimeout);
    for (auto* station : {&station1, &station2}) {
        EXPECT_FALSE(station->State()["state"]["leavingHome"]["active"].GetBool()) << station->Node();
    }
    EXPECT_EQ(7, station1.State()["state"]["rooms"][1]["powerLevel"]["level"].GetInt());

    // Errors that go away at the station go away on the bus.
    const auto cleared = HostOutputEnd();
    station1.Control("POST", "/control/state", R"({"errors": []})");
    const auto clearedPoll = Await(Line(Station1Polled), cleared, PollTimeout);
    const auto noStationError = Await(BusValue(97, "bool false"), clearedPoll, PollTimeout);
    Await(BusValue(503, "bool false"), noStationError, PollTimeout);
    EXPECT_EQ(0, StopHost());
}

TEST_F(EndToEndTest, MissingAndKilledStationsAreReportedAndClearWhenTheyReturn)
{
    StartLab();
    StartStation("st1", "station1.json");
    StartHost();
    const auto found1 = Await(Line(Station1Found), 0, DiscoveryTimeout);
    Await(Line("Selecting base station 1 as system master"), found1, PollTimeout);
    Await(Line(Station1Polled), found1, PollTimeout);

    // Station 2 is never found: 27 s after the first "NoError" (sent in
    // Run) it is missing, and not before.
    const auto missing = Await(Line("Gateway error: MissingBaseSta (1)"), found1, Seconds(27) + PollTimeout);
    const auto missingText = Await(BusValue(502, "text \"MissingBaseSta\""), missing, PollTimeout);
    const auto missingFlag = Await(BusValue(501, "bool true"), missingText, PollTimeout);
    Await(Led(5), missingFlag, PollTimeout);
    const auto noErrorLines = Host().MatchingLines(BusValue(502, "text \"NoError\"").regex);
    const auto missingLines = Host().MatchingLines(BusValue(502, "text \"MissingBaseSta\"").regex);
    ASSERT_THAT(noErrorLines, SizeIs(1));
    ASSERT_THAT(missingLines, SizeIs(1));
    auto grace = ConsoleTime(missingLines.front()) - ConsoleTime(noErrorLines.front());
    if (grace.count() < 0) {
        grace += std::chrono::hours(24);  // past midnight
    }
    EXPECT_GE(grace, std::chrono::milliseconds(27000));
    EXPECT_LT(grace, std::chrono::milliseconds(32000));

    // It appears: found, polled, and the gateway error is gone.
    auto& station2 = StartStation("st2", "station2.json");
    const auto found2 = Await(Line(Station2Found), missing, DiscoveryTimeout);
    const auto noError = Await(BusValue(501, "bool false"), found2, PollTimeout);
    Await(Led(-1), noError, PollTimeout);
    Await(BusValue(198, "bool false"), found2, PollTimeout);
    Await(Line("Stop base station discovery"), found2, PollTimeout);

    // Station 1 reports a device error, then its process is killed.
    auto* station1 = _stations.front().get();
    const auto beforeError = HostOutputEnd();
    station1->Control("POST", "/control/state", R"({"errors": [{"code": -5}]})");
    const auto deviceError = Await(BusValue(97, "bool true"), beforeError, PollTimeout);
    Await(BusValue(503, "bool true"), deviceError, PollTimeout);
    Await(BusValue(504, "text \"-5:ErrSupply\""), deviceError, PollTimeout);
    const auto killed = HostOutputEnd();
    station1->Kill();
    const auto lost = Await(Line("Gateway error: CommError (2) on base station 1"), killed, PollTimeout);
    const auto lostText = Await(BusValue(502, "text \"CommError\""), lost, PollTimeout);
    const auto lostFlag = Await(BusValue(501, "bool true"), lostText, PollTimeout);
    Await(Led(5), lostFlag, PollTimeout);
    Await(Line("Unset system master: KLD0000001"), killed, PollTimeout);
    Await(Line("Start base station discovery"), killed, PollTimeout);
    // Station 2's status still carries station 1's last device errors.
    const auto station2Polled = Await(Line(Station2Polled), lost, PollTimeout);
    Await(BusValue(503, "bool true"), station2Polled, PollTimeout);

    // Restarted without errors: found again, master again, errors clear.
    StartStation("st1", "station1.json");
    const auto refound = Await(Line(Station1Found), lost, DiscoveryTimeout);
    Await(Line("Selecting base station 1 as system master"), refound, PollTimeout);
    const auto repolled = Await(Line(Station1Polled), refound, PollTimeout);
    const auto noDeviceError = Await(BusValue(97, "bool false"), repolled, PollTimeout);
    Await(BusValue(503, "bool false"), noDeviceError, PollTimeout);
    const auto recovered = Await(BusValue(501, "bool false"), refound, PollTimeout);
    Await(Led(-1), recovered, PollTimeout);
    EXPECT_EQ(1u, RequestsOf(station2.State(), "/api/v1/info"));
    EXPECT_EQ(0, StopHost());
}

TEST_F(EndToEndTest, DiscoveryRecoversWhenTheGatewaysAvahiDaemonRestarts)
{
    StartLab();
    StartStation("st1", "station1.json");
    StartHost();
    const auto found1 = Await(Line(Station1Found), 0, DiscoveryTimeout);
    Await(Line(Station1Polled), found1, PollTimeout);

    const auto restart = _lab->Script({"avahi", "gw", "restart"});
    ASSERT_EQ(0, restart.status) << restart.output;
    const auto lost = Await(Line("Lost the Avahi daemon"), found1, PollTimeout);
    Await(Line("The Avahi daemon is available again; mDNS discovery resumes"), lost, PollTimeout);

    // A station that appears now is found through the new daemon.
    StartStation("st2", "station2.json");
    const auto found2 = Await(Line(Station2Found), lost, DiscoveryTimeout);
    Await(BusValue(198, "bool false"), found2, PollTimeout);
    Await(Line(Station1Polled), found2, PollTimeout);
    EXPECT_EQ(0, StopHost());
}

TEST_F(EndToEndTest, PluginTalksHttpsOnPort443OverOneKeptAliveConnection)
{
    StartLab();
    StartStation("st1", "station1.json");
    // Station 2 is announced with port 8443, but serves on 443, where the
    // plug-in always connects.
    auto& station2 = StartStation("st2", "station2.json", {});
    auto publisher = _lab->Start("st2", {"avahi-publish", "--service", "plavo-KLD0000002", "_https._tcp", "8443",
                                         "Vendor=Keldra", "Model=Brisgo"});
    ASSERT_TRUE(publisher->WaitForLine(std::regex("Established under name"), 0, StartTimeout))
        << publisher->Output();
    StartHost();

    const auto found2 =
        Await(Line("Found missing base station 2: plavo-KLD0000002: 10.77.13.3:8443"), 0, DiscoveryTimeout);
    Await(Line("TLS connection to 10.77.13.3:443 established"), found2, PollTimeout);
    auto polled = Await(Line(Station2Polled), found2, PollTimeout);
    polled = Await(Line(Station2Polled), polled, PollTimeout);
    polled = Await(Line(Station2Polled), polled, PollTimeout);
    Await(BusValue(103, "float 19.5"), polled, PollTimeout);

    const auto state = station2.State();
    EXPECT_EQ(1u, Counter(state, "connections"));
    EXPECT_EQ(1u, Counter(state, "tlsHandshakes"));
    EXPECT_EQ(1u, RequestsOf(state, "/api/v1/info"));
    EXPECT_LE(3u, RequestsOf(state, "/api/v1/status"));
    // Every request carried the right credentials.
    const auto requests = station2.Control("GET", "/control/requests");
    ASSERT_FALSE(requests["requests"].Empty());
    for (const auto& request : requests["requests"].GetArray()) {
        EXPECT_TRUE(Answered200(request)) << request["path"].GetString();
    }
    EXPECT_EQ(0, StopHost());
}

}  // namespace
}  // namespace EndToEnd
}  // namespace Keldra
