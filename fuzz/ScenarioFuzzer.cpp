// The simulator's scenario format: the input as a scenario and as a partial
// state merged into a station of two rooms. A state must be written as a
// scenario that reads back to the same state (compared as JSON values).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/SameJson.h"
#include "tools/simulator/ScenarioFormat.h"

namespace {

using Keldra::Simulation::ScenarioFormat;
using Keldra::Simulation::StationState;

const char* const BaseScenario = R"({
  "stationId": "0123456789", "firmwareVersion": "2.4.1",
  "credentials": {"username": "admin", "password": "secret"},
  "system": {"serialNumber": "BS-0042", "stationName": "Ground floor", "code": "0-0", "cooling": false},
  "rooms": [
    {"room": 1, "actors": [{"number": 3, "valveOpen": true}],
     "thermostat": {"id": "TH000001", "setpointTemperature": 21.5, "minimumTemperature": 5.0,
                    "maximumTemperature": 30.0, "roomTemperature": 20.8}},
    {"room": 2, "actors": [{"number": 4}], "powerLevel": {"level": 5}}
  ],
  "errors": [{"code": -21, "room": 1}],
  "leavingHome": {"active": true, "date": "26-12-24", "time": "18:30"}})";

void CheckWrittenStateReadsBack(const StationState& state)
{
    const std::string text = ScenarioFormat::ToText(state);
    const auto again = ScenarioFormat::Parse(text);
    if (!again.state) {
        std::fprintf(stderr, "a state written as a scenario does not read: %s\n%s\n", again.error.c_str(),
                     text.c_str());
        std::abort();
    }
    const std::string rewritten = ScenarioFormat::ToText(*again.state);
    if (!Keldra::Fuzzing::SameJson(rewritten, text)) {
        std::fprintf(stderr, "a state read back differs:\n%s\n%s\n", text.c_str(), rewritten.c_str());
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const StationState base = *ScenarioFormat::Parse(BaseScenario).state;
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (const auto parsed = ScenarioFormat::Parse(text); parsed.state) {
        CheckWrittenStateReadsBack(*parsed.state);
    }
    if (const auto merged = ScenarioFormat::Merge(base, text); merged.state) {
        CheckWrittenStateReadsBack(*merged.state);
    }
    return 0;
}
