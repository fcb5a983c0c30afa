// The messages of the wire protocol (docs/wire-protocol.md) as a station
// builds and reads them: the short information and status answers, and the
// four writes with their checks.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include <rapidjson/document.h>

#include "DateTimeTexts.h"
#include "StationState.h"

namespace Keldra {
namespace Simulation {

class StationMessages {
public:
    static void Info(const StationState& state, rapidjson::Document& out);
    static void Status(const StationState& state, const ClockTexts& clock, rapidjson::Document& out);

    // The answer to a write: HTTP 200 with {"status": writeStatus}, or an
    // HTTP error status (400 unusable body, 404 no such room) with the reason.
    struct WriteAnswer {
        unsigned httpStatus = 200;
        int writeStatus = 0;
        std::string error;
    };

    // roomIndex counts from 1. A forced status answers a usable write with
    // that status and leaves the state as it is.
    static WriteAnswer SetSetpoint(StationState& state, std::size_t roomIndex, const rapidjson::Value& body,
                                   std::optional<int> forcedStatus);
    static WriteAnswer SetPowerLevel(StationState& state, std::size_t roomIndex, const rapidjson::Value& body,
                                     std::optional<int> forcedStatus);
    static WriteAnswer SetLeavingHome(StationState& state, const rapidjson::Value& body,
                                      std::optional<int> forcedStatus);
    static WriteAnswer SetSettings(StationState& state, const rapidjson::Value& body, std::optional<int> forcedStatus);
};

}  // namespace Simulation
}  // namespace Keldra
