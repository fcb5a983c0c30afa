#pragma once
// The frame of every end-to-end test: a lab with the gateway node "gw" and
// the station nodes "st1" (10.77.13.2) and "st2" (10.77.13.3), the
// simulators, and the gateway host running the plug-in in "gw". Waits on
// the host's output throw WaitFailed, which ends the test as failed; on a
// failure every process's output is kept in a directory the test names.
#include <chrono>
#include <cstddef>
#include <memory>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "Lab.h"
#include "SimulatorProcess.h"

namespace Keldra {
namespace EndToEnd {

using Seconds = std::chrono::seconds;

struct WaitFailed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A line to wait for, and how to name it in a failure.
struct Pattern {
    std::string description;
    std::regex regex;
};

class EndToEndTest : public ::testing::Test {
protected:
    // Discovery lists the stations every 10 s and a resolve may take 5 s.
    static constexpr Seconds DiscoveryTimeout{45};
    // Stations are polled every 5 s.
    static constexpr Seconds PollTimeout{20};
    // A station announced before the host starts is found at once, not at
    // the second search 10 s later.
    static constexpr Seconds AnnouncedStationTimeout{5};
    static constexpr Seconds StartTimeout{60};

    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    // The lab with "gw", "st1" and "st2".
    void StartLab();
    // A simulator in `node` with a scenario of tests/e2e; waits until it serves.
    SimulatorProcess& StartStation(const std::string& node, const std::string& scenario,
                                   std::vector<std::string> options = {"--announce"});
    // The gateway host in "gw" with the installation of ets-parameters.txt
    // and the stations' credentials; waits until the plug-in runs.
    ChildProcess& StartHost();
    // "quit" on the console; the host's exit status.
    int StopHost();

    ChildProcess& Host() { return *_host; }
    // The end of the first host output line at or after `from` that matches.
    std::size_t Await(const Pattern& pattern, std::size_t from, Seconds timeout);
    // Where the host's output ends now.
    std::size_t HostOutputEnd() const { return _host->Output().size(); }

    // A value the plug-in sent on the bus: "app->bus CO <co> (...) <value>",
    // `value` being the type and the value as the console prints them
    // ("bool true", "text \"CommError\"").
    static Pattern BusValue(int co, const std::string& value);
    // A log or console line containing `text`.
    static Pattern Line(const std::string& text);
    static Pattern Led(int code);

    std::unique_ptr<Lab> _lab;
    // Every simulator started, restarted ones too, in start order.
    std::vector<std::unique_ptr<SimulatorProcess>> _stations;
    std::unique_ptr<ChildProcess> _host;
    std::string _directory;

private:
    void KeepOutputs();
};

}  // namespace EndToEnd
}  // namespace Keldra
