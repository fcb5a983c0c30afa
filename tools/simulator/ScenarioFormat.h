// The JSON form of a StationState: the scenario files the simulator starts
// from, the state the control interface shows, and partial states merged
// into the running one. tools/simulator/README.md describes the format.
#pragma once

#include <optional>
#include <string>

#include <rapidjson/document.h>

#include "StationState.h"

namespace Keldra {
namespace Simulation {

class ScenarioFormat {
public:
    // A state, or why there is none (e.g. "rooms[1].thermostat.id: expected a string").
    struct Result {
        std::optional<StationState> state;
        std::string error;
    };

    static Result Parse(const std::string& text);
    static Result ParseValue(const rapidjson::Value& value);
    // Reads and parses a scenario file; errors name the file.
    static Result Load(const std::string& path);

    static void ToJson(const StationState& state, rapidjson::Value& out, rapidjson::Document::AllocatorType& allocator);
    static std::string ToText(const StationState& state, bool pretty = false);

    // current with the partial state patch merged in: members replace
    // members, objects merge member by member, null removes a member,
    // "clock" and arrays are replaced whole, and "rooms" given as an object
    // keyed by room index ("1".."12") merges into those rooms.
    static Result Merge(const StationState& current, const std::string& patchText);
};

}  // namespace Simulation
}  // namespace Keldra
