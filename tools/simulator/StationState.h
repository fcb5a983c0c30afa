// What a simulated base station knows about itself: the values it reports in
// its short information and status, and the settings writes change.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Keldra {
namespace Simulation {

struct StationCredentials {
    std::string username;
    std::string password;
};

struct ActorState {
    int number = 0;
    std::optional<bool> valveOpen;
};

struct ThermostatState {
    std::string id;
    double setpointTemperature = 20.0;
    std::optional<double> minimumTemperature;
    std::optional<double> maximumTemperature;
    std::optional<double> roomTemperature;
    std::optional<double> relativeHumidity;
    std::optional<bool> batteryLow;
};

struct PowerLevelState {
    int level = 0;
    int percent = 0;
    int minimumLevel = 0;
    int maximumLevel = 10;
    // A level write sets percent to the level's share of 255.
    bool percentFollowsLevel = true;
};

struct RoomState {
    unsigned room = 0;
    std::vector<ActorState> actors;
    std::optional<ThermostatState> thermostat;
    std::optional<PowerLevelState> powerLevel;
};

struct StationErrorState {
    int code = 0;
    std::optional<unsigned> room;
    std::optional<std::string> description;
};

struct LeavingHomeState {
    bool active = false;
    std::optional<std::string> date;  // "yy-mm-dd"
    std::optional<std::string> time;  // "hh:mm"
};

// The station's date and time: the machine's UTC time moved by an offset,
// or a fixed date and time.
struct StationClock {
    bool fixed = false;
    std::int64_t offsetSeconds = 0;
    std::string date;  // "yy-mm-dd" when fixed
    std::string time;  // "hh:mm:ss" when fixed
};

struct StationState {
    std::string stationId;
    std::string firmwareVersion;
    std::string vendor = "Keldra";
    std::string model = "Brisgo";
    std::optional<StationCredentials> credentials;  // none: every request is served
    std::optional<std::string> serialNumber;
    std::optional<std::string> stationName;
    std::optional<std::string> code;
    bool cooling = false;
    std::optional<bool> automaticChangeover;
    StationClock clock;
    std::vector<RoomState> rooms;
    std::vector<StationErrorState> errors;
    LeavingHomeState leavingHome;
};

// The KNX percentage a power level 0..10 stands for: level * 255 / 10,
// rounded; levels beyond 10 give 255.
inline int PercentOfLevel(int level)
{
    return level <= 0 ? 0 : level >= 10 ? 255 : (level * 255 + 5) / 10;
}

}  // namespace Simulation
}  // namespace Keldra
