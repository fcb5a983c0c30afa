// Stations that misbehave, end to end: one lab, two stations, and a table of
// faults, each applied to station 1 (by its simulator, or by the lab; one to
// the gateway's avahi-daemon) and cleared again. Per row: what the bus shows
// and within what time, that station 2's values keep coming meanwhile, and
// that the bus clears once the fault is gone. One row per kind of gateway
// error (wrong credentials are the browser test's road): which transport or
// answer fault gives which error is the web API client's and the manager's to
// test; here the faults only the whole system has (mDNS, addresses).
#include <signal.h>

#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "EndToEndFixture.h"

namespace Keldra::EndToEnd {
namespace {

// The station errors of station 1 as the gateway error (COs 502, 501 and
// the LED), by code and KNX text.
std::vector<Pattern> Station1Error(int code, const std::string& text)
{
    return {"Gateway error: " + text + " (" + std::to_string(code) + ") on base station 1",
            Bus(502, "text \"" + text + "\""), Bus(501, "bool true"), Led(5)};
}
// A general error (COs 502, 501), which the next good poll of any station
// clears again.
std::vector<Pattern> GeneralError(const std::string& text)
{
    return {Bus(502, "text \"" + text + "\""), Bus(501, "bool true")};
}

// One row: what is done to station 1, what the bus then shows (nothing:
// station 1 keeps being polled without any gateway error), and how the
// fault is undone (by default the simulator's faults are cleared).
struct Row {
    std::string name;
    std::vector<std::string> simulatorFaults;
    std::vector<Pattern> shows;
    Seconds showWithin;
    Seconds clearWithin;
    std::function<void()> apply = {};
    std::function<void()> clear = {};
};

// Faults on the status request only leave the firmware check of a
// rediscovered station alone.
std::string StatusFault(const std::string& members)
{
    return R"({"path": "/api/v1/status", )" + members + "}";
}

TEST_F(EndToEndTest, EveryFaultOfOneStationShowsOnTheBusAndClears)
{
    // Station 1 as it runs now (the last row starts it anew).
    Station* station1 = nullptr;
    // Polls of station 1 without a gateway error in a row that shows nothing.
    constexpr int QuietPolls = 3;
    // A station that was lost is found again by the next search.
    const Seconds rediscovery = DiscoveryTimeout;
    // Three requests in a row that end at their deadline, the first up to
    // one poll period after the fault.
    const Seconds missedPolls{25};
    const std::vector<Row> rows = {
        {"httpStatus 500", {StatusFault(R"("kind": "httpStatus", "value": 500)")}, GeneralError("InvalidResp"),
         PollTimeout, PollTimeout},
        // A firmware check happens when the station is found again: its
        // status request is cut twice (once is retried on a new
        // connection), so that it is lost and found.
        {"firmwareVersion 1.3.9",
         {R"({"kind": "firmwareVersion", "value": "1.3.9"})", StatusFault(R"("kind": "tlsCut", "count": 2)")},
         Station1Error(4, "UnsupportedFW"),
         rediscovery,
         rediscovery},
        // The station's answers stop: requests run into their deadline.
        {"noAnswer", {StatusFault(R"("kind": "noAnswer")")}, Station1Error(2, "CommError"), missedPolls, rediscovery},
        // mDNS is needed only to find a station: one that is found goes on.
        {"avahi-daemon of station 1 stopped",
         {},
         {},
         PollTimeout,
         PollTimeout,
         [this] { ASSERT_EQ(0, _lab->Script({"avahi", "st1", "stop"}).status); },
         [this] { ASSERT_EQ(0, _lab->Script({"avahi", "st1", "start"}).status); }},
        // The gateway's own avahi-daemon restarts: the mDNS client connects
        // to the new one, through which the next row finds station 1 again.
        {"avahi-daemon of the gateway restarted",
         {},
         {"Lost the Avahi daemon", "The Avahi daemon is available again; mDNS discovery resumes"},
         PollTimeout,
         PollTimeout,
         [this] { ASSERT_EQ(0, _lab->Script({"avahi", "gw", "restart"}).status); },
         [] {}},
        // The station goes, and comes back at another address: meanwhile
        // its old address is unreachable (missing) or connecting to it runs
        // into the deadline (communication error).
        {"station back at another address",
         {},
         {{"Gateway error: CommError (2) or MissingBaseSta (1) on base station 1",
           std::regex("Gateway error: (CommError \\(2\\)|MissingBaseSta \\(1\\)) on base station 1")},
          Bus(501, "bool true"), Led(5)},
         missedPolls,
         rediscovery,
         [this, &station1] {
             station1->Process().Kill();
             for (const auto& [change, address] : {std::pair{"del", "10.77.13.2/24"}, {"add", "10.77.13.12/24"}}) {
                 const auto result = _lab->Script({"exec", "st1", "ip", "addr", change, address, "dev", "eth0"});
                 ASSERT_EQ(0, result.status) << result.output;
             }
         },
         [this, &station1] {
             station1 = &StartStation(
                 "st1", "station1.json",
                 {"--announce", "--address", "10.77.13.12", "--key-file", _directory + "/st1.key"});
         }},
    };

    // Station 1 keeps its key when it is started again, as a real station does.
    station1 = &StartStation("st1", "station1.json", {"--announce", "--key-file", _directory + "/st1.key"});
    StartStation("st2", "station2.json");
    StartHost();
    std::size_t position = AwaitInOrder(0, {Station1Found, Station1Polled});
    AwaitAll(0, {Station2Found, Station2Polled});

    const auto undo = [&station1](const Row& row) {
        if (row.clear) {
            row.clear();
        } else {
            station1->Control("POST", "/control/clear");
        }
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        try {
            // Both stations polled before the row begins.
            position = AwaitInOrder(position, {Station1Polled, Station2Polled});
            const auto applied = OutputEnd();
            for (const auto& fault : row.simulatorFaults) {
                station1->Control("POST", "/control/fault", fault);
            }
            if (row.apply) {
                row.apply();
            }
            std::size_t shown = applied;
            if (row.shows.empty()) {
                for (int poll = 0; poll < QuietPolls; ++poll) {
                    shown = Await(Station1Polled, shown, PollTimeout);
                }
                EXPECT_THAT(Lines("Gateway error:", applied), ::testing::IsEmpty());
            }
            for (const auto& pattern : row.shows) {
                shown = std::max(shown, Await(pattern, applied, row.showWithin));
            }
            // Station 2 goes on meanwhile.
            AwaitInOrder(shown, {Station2Polled, Bus(103, "float 19.5")});

            const auto cleared = OutputEnd();
            undo(row);
            // Station 1's values come again and no gateway error follows;
            // a station error goes away (general errors went with the next
            // good poll of station 2 already).
            const auto polled = Await(Station1Polled, cleared, row.clearWithin);
            const bool stationError = !row.shows.empty() && row.shows.back().description == Led(5).description;
            if (stationError) {
                for (const auto& pattern : {Bus(501, "bool false"), Led(-1)}) {
                    Await(pattern, cleared, row.clearWithin);
                }
            }
            AwaitInOrder(polled, {Bus(1, "float 20.8"), Station1Polled});
            EXPECT_THAT(Lines(Bus(501, "bool true"), polled), ::testing::IsEmpty());
            position = OutputEnd();
        } catch (const std::exception& failure) {
            ADD_FAILURE() << row.name << ": " << failure.what();
            // Undo the fault all the same, so that the next rows can run.
            try {
                undo(row);
                position = Await(Station1Polled, OutputEnd(), rediscovery);
            } catch (const std::exception&) {
                position = OutputEnd();
            }
        }
    }
    // No row is a device error of the station: CO 97 stays false.
    EXPECT_THAT(Lines(Bus(97, "bool true")), ::testing::IsEmpty());
    EXPECT_EQ(0, StopHost());
}

}  // namespace
}  // namespace Keldra::EndToEnd
