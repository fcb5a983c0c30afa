// Stations that misbehave, end to end: one lab, two stations, and a table of
// faults, each applied to station 1 (by its simulator, or by the lab) and
// cleared again. Per row: what the bus shows and within what time, that
// station 2's values keep coming meanwhile, and that the bus clears once the
// fault is gone. The table of outcomes and times is printed at the end.
#include <signal.h>

#include <chrono>
#include <functional>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "EndToEndFixture.h"

namespace Keldra::EndToEnd {
namespace {

using Clock = std::chrono::steady_clock;

Pattern Containing(const std::string& text) { return {text, std::regex(Escaped(text))}; }

// The station errors of station 1 as the gateway error (COs 502, 501 and
// the LED), by code and KNX text.
std::vector<Pattern> Station1Error(int code, const std::string& text)
{
    return {Containing("Gateway error: " + text + " (" + std::to_string(code) + ") on base station 1"),
            Bus(502, "text \"" + text + "\""), Bus(501, "bool true"), Led(5)};
}
// A general error (COs 502, 501), which the next good poll of any station
// clears again.
std::vector<Pattern> GeneralError(const std::string& text)
{
    return {Bus(502, "text \"" + text + "\""), Bus(501, "bool true")};
}

class FaultTableTest : public EndToEndTest {
protected:
    // Station 1 as it runs now (the last row starts it anew).
    Station& Station1() { return *_station1; }

    Station* _station1 = nullptr;
};

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

struct Outcome {
    std::string row;
    std::string shown;
    double secondsToShow = -1;
    double secondsToClear = -1;
    std::string failure;
};

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Describe(const std::vector<Pattern>& patterns)
{
    if (patterns.empty()) {
        return "no error; station 1 polled on";
    }
    std::string text;
    for (const auto& pattern : patterns) {
        if (pattern.description.rfind("Gateway error", 0) != 0) {
            text += (text.empty() ? "" : ", ") + std::regex_replace(pattern.description, std::regex("app->bus "), "");
        }
    }
    return text;
}

// Faults on the status request only leave the firmware check of a
// rediscovered station alone.
std::string StatusFault(const std::string& members)
{
    return R"({"path": "/api/v1/status", )" + members + "}";
}

TEST_F(FaultTableTest, EveryFaultOfOneStationShowsOnTheBusAndClears)
{
    // Polls of station 1 without a gateway error in a row that shows nothing.
    constexpr int QuietPolls = 3;
    const auto commError = Station1Error(2, "CommError");
    // A station that was lost is found again by the next search.
    const Seconds rediscovery = DiscoveryTimeout;
    // Three requests in a row that end at their deadline, the first up to
    // one poll period after the fault.
    const Seconds missedPolls{25};
    const std::vector<Row> rows = {
        {"tlsCut", {R"({"kind": "tlsCut"})"}, commError, PollTimeout, rediscovery},
        {"dropAfterRequest", {R"({"kind": "dropAfterRequest"})"}, commError, PollTimeout, rediscovery},
        // The kept-alive connection is cut once, so that a new one is needed.
        {"dropOnAccept", {R"({"kind": "dropOnAccept"})", R"({"kind": "tlsCut", "count": 1})"}, commError, PollTimeout,
         rediscovery},
        {"httpStatus 500", {StatusFault(R"("kind": "httpStatus", "value": 500)")}, GeneralError("InvalidResp"),
         PollTimeout, PollTimeout},
        {"refuseCredentials", {R"({"kind": "refuseCredentials"})"}, Station1Error(3, "InvalidCreds"), PollTimeout,
         rediscovery},
        {"malformedJson", {StatusFault(R"("kind": "malformedJson")")}, GeneralError("InvalidResp"), PollTimeout,
         PollTimeout},
        {"truncatedBody", {StatusFault(R"("kind": "truncatedBody")")}, GeneralError("InvalidResp"), PollTimeout,
         PollTimeout},
        {"largeBody", {StatusFault(R"("kind": "largeBody")")}, GeneralError("InvalidResp"), PollTimeout,
         PollTimeout},
        {"wrongShape", {StatusFault(R"("kind": "wrongShape", "member": "rooms")")}, GeneralError("InvalidResp"),
         PollTimeout, PollTimeout},
        {"thirteenRooms", {StatusFault(R"("kind": "thirteenRooms")")}, GeneralError("InvalidResp"), PollTimeout,
         PollTimeout},
        // A firmware check happens when the station is found again: its
        // status request is cut twice (once is retried on a new
        // connection), so that it is lost and found.
        {"firmwareVersion 1.3.9",
         {R"({"kind": "firmwareVersion", "value": "1.3.9"})", StatusFault(R"("kind": "tlsCut", "count": 2)")},
         Station1Error(4, "UnsupportedFW"),
         rediscovery,
         rediscovery},
        // Not one of the codes the station documents: nothing to report.
        {"responseCode 300", {StatusFault(R"("kind": "responseCode", "value": 300)")}, {}, PollTimeout, PollTimeout},
        // The station's answers stop: requests run into their deadline.
        {"noAnswer", {StatusFault(R"("kind": "noAnswer")")}, commError, missedPolls, rediscovery},
        {"delay 8 s", {StatusFault(R"("kind": "delay", "milliseconds": 8000)")}, commError, missedPolls, rediscovery},
        // The station's process stops: its kernel still accepts connections
        // on 443, but nothing reads them, so TLS handshakes stall.
        {"handshake stall",
         {},
         commError,
         missedPolls,
         rediscovery,
         [this] { Station1().Process().Signal(SIGSTOP); },
         [this] { Station1().Process().Signal(SIGCONT); }},
        // mDNS is needed only to find a station: one that is found goes on.
        {"avahi-daemon of station 1 stopped",
         {},
         {},
         PollTimeout,
         PollTimeout,
         [this] { ASSERT_EQ(0, _lab->Script({"avahi", "st1", "stop"}).status); },
         [this] { ASSERT_EQ(0, _lab->Script({"avahi", "st1", "start"}).status); }},
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
         [this] {
             Station1().Process().Kill();
             for (const char* change : {"del 10.77.13.2/24 dev eth0", "add 10.77.13.12/24 dev eth0"}) {
                 std::vector<std::string> command = {"exec", "st1", "ip", "addr"};
                 std::istringstream words(change);
                 for (std::string word; words >> word;) {
                     command.push_back(word);
                 }
                 const auto result = _lab->Script(command);
                 ASSERT_EQ(0, result.status) << result.output;
             }
         },
         [this] {
             _station1 = &StartStation(
                 "st1", "station1.json",
                 {"--announce", "--address", "10.77.13.12", "--key-file", _directory + "/st1.key"});
         }},
    };

    // Station 1 keeps its key when it is started again, as a real station does.
    _station1 = &StartStation("st1", "station1.json", {"--announce", "--key-file", _directory + "/st1.key"});
    StartStation("st2", "station2.json");
    StartHost();
    std::size_t position = AwaitInOrder(0, {Station1Found, Station1Polled});
    AwaitAll(0, {Station2Found, Station2Polled});

    std::vector<Outcome> outcomes;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Outcome outcome;
        outcome.row = row.name;
        outcome.shown = Describe(row.shows);
        try {
            // Both stations polled before the row begins.
            position = AwaitInOrder(position, {Station1Polled, Station2Polled});
            const auto applied = OutputEnd();
            const auto start = Clock::now();
            for (const auto& fault : row.simulatorFaults) {
                Station1().Control("POST", "/control/fault", fault);
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
            outcome.secondsToShow = SecondsSince(start);
            // Station 2 goes on meanwhile.
            AwaitInOrder(shown, {Station2Polled, Bus(103, "float 19.5")});

            const auto cleared = OutputEnd();
            const auto clearing = Clock::now();
            if (row.clear) {
                row.clear();
            } else {
                Station1().Control("POST", "/control/clear");
            }
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
            outcome.secondsToClear = SecondsSince(clearing);
            position = OutputEnd();
        } catch (const std::exception& failure) {
            outcome.failure = failure.what();
            ADD_FAILURE() << row.name << ": " << failure.what();
            // Undo the fault all the same, so that the next rows can run.
            try {
                if (row.clear) {
                    row.clear();
                } else {
                    Station1().Control("POST", "/control/clear");
                }
                position = Await(Station1Polled, OutputEnd(), rediscovery);
            } catch (const std::exception&) {
                position = OutputEnd();
            }
        }
        outcomes.push_back(outcome);
    }

    std::ostringstream table;
    table << "| row | bus shows | time to show (s) | time to clear (s) |\n|---|---|---|---|\n";
    for (const auto& outcome : outcomes) {
        table << "| " << outcome.row << " | " << (outcome.failure.empty() ? outcome.shown : "FAILED: " + outcome.failure)
              << " | " << std::fixed << std::setprecision(1) << outcome.secondsToShow << " | "
              << outcome.secondsToClear << " |\n";
    }
    std::cout << table.str();
    // No row is a device error of the station: CO 97 stays false.
    EXPECT_THAT(Lines(Bus(97, "bool true")), ::testing::IsEmpty());
    EXPECT_EQ(0, StopHost());
}

}  // namespace
}  // namespace Keldra::EndToEnd
