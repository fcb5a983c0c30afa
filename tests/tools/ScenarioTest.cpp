// Scenario files load and round-trip, a broken one gives a clear error, and
// the station's clock follows the scenario. (That the station is announced
// over mDNS, every end-to-end test shows: each finds its stations.)
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>

#include "tools/simulator/DateTimeTexts.h"
#include "SimulatorFixture.h"

using namespace Keldra;
using namespace Keldra::Simulation;

namespace {

TEST(ScenarioTest, ExampleRoundTripsAndAMinimalScenarioTakesDefaults)
{
    const ScenarioFormat::Result loaded = ScenarioFormat::Load(ExampleScenario);
    ASSERT_TRUE(loaded.state) << loaded.error;
    const std::string text = ScenarioFormat::ToText(*loaded.state, true);
    const ScenarioFormat::Result again = ScenarioFormat::Parse(text);
    ASSERT_TRUE(again.state) << again.error;
    EXPECT_EQ(text, ScenarioFormat::ToText(*again.state, true));

    const auto minimal = ScenarioFormat::Parse(R"({"stationId": "ABCDEFGHIJ", "firmwareVersion": "1"})");
    ASSERT_TRUE(minimal.state) << minimal.error;
    EXPECT_EQ("Keldra Brisgo", minimal.state->vendor + " " + minimal.state->model);
    EXPECT_FALSE(minimal.state->credentials || !minimal.state->rooms.empty() || minimal.state->leavingHome.active);
}

TEST(ScenarioTest, BrokenScenariosGiveAClearError)
{
    EXPECT_EQ("cannot read scenario file '/nonexistent/scenario.json': No such file or directory",
              ScenarioFormat::Load("/nonexistent/scenario.json").error);
    const std::string path = testing::TempDir() + "broken-scenario-" + std::to_string(getpid()) + ".json";
    std::ofstream(path) << R"({"stationId": "0123456789", "firmwareVersion": "2.4.1", "rooms": [{"room": 1},
                               {"room": 2, "thermostat": {"id": "TH2", "setpointTemperature": "21"}}]})";
    const ScenarioFormat::Result result = ScenarioFormat::Load(path);
    std::remove(path.c_str());
    EXPECT_EQ("scenario file '" + path + "': rooms[1].thermostat.setpointTemperature: expected a number", result.error);

    const std::string station = R"({"stationId": "0123456789", "firmwareVersion": "2.4.1", )";
    const std::pair<std::string, std::string> scenarios[] = {
        {"", "not valid JSON at offset 0: The document is empty."},
        {std::string(40, '[') + std::string(40, ']'), "JSON nested deeper than 32 levels"},
        {R"({"stationId": "01234 6789", "firmwareVersion": "2.4.1"})",
         R"(stationId: expected printable ASCII without blanks, got "01234 6789")"},
        {station + R"("rooms": [{"room":1},{"room":2},{"room":3},{"room":4},{"room":5},{"room":6},{"room":7},)"
                   R"({"room":8},{"room":9},{"room":10},{"room":11},{"room":12},{"room":13}]})",
         "rooms: a station has at most 12 rooms, got 13"},
        {station + R"("leavingHome": {"active": true, "date": "2024-05-20"}})",
         R"(leavingHome.date: expected "yy-mm-dd", got "2024-05-20")"},
    };
    for (const auto& [text, error] : scenarios) {
        const ScenarioFormat::Result parsed = ScenarioFormat::Parse(text);
        EXPECT_FALSE(parsed.state) << text;
        EXPECT_EQ(error, parsed.error) << text;
    }
}

TEST(ScenarioTest, StationClockOffsetMovesTheMachineTimeAndFixedStays)
{
    const auto now = std::chrono::system_clock::from_time_t(1715970605);  // 2024-05-17 18:30:05 UTC
    const ClockTexts later = CurrentClockTexts(StationClock{false, 6 * 3600, {}, {}}, now);
    EXPECT_EQ("24-05-18 00:30:05", later.date + " " + later.time);
    const ClockTexts fixed = CurrentClockTexts(StationClock{true, 0, "99-12-31", "23:59:59"}, now);
    EXPECT_EQ("99-12-31 23:59:59", fixed.date + " " + fixed.time);
    EXPECT_TRUE(IsDateText("24-02-29") && !IsDateText("23-02-29") && IsDateText("00-02-29"));  // leap years
}

}  // namespace
