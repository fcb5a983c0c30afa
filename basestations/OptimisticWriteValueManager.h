// The values a base station has written and not yet seen confirmed, each
// under the validity token of its latest write (one leaving-home and one
// cooling-mode value per station, one setpoint and one power level per
// room). Safe to use from several threads.
#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_map>

#include <boost/optional.hpp>

#include "basestations/KeldraJson.h"
#include "rooms/OptimisticValue.h"
#include "support/BoundedTypes.h"

namespace Keldra {

class OptimisticWriteValueManager {
public:
    OptimisticWriteValueManager() = default;
    OptimisticWriteValueManager(const OptimisticWriteValueManager&) = delete;
    OptimisticWriteValueManager& operator=(const OptimisticWriteValueManager&) = delete;

    std::uint32_t SetLeavingHomeValue(KeldraJson::LeavingHomeObject value);
    boost::optional<KeldraJson::LeavingHomeObject> GetLeavingHomeValue(std::uint32_t validityToken);

    std::uint32_t SetCoolingModeValue(KeldraJson::SettingsObject value);
    boost::optional<KeldraJson::SettingsObject> GetCoolingModeValue(std::uint32_t validityToken);

    // Tokens are counted per room: the first value of a room gets token 1.
    boost::optional<std::uint32_t> SetThermostatSetpointValue(const Room& room, KeldraJson::ThermostatObject value);
    // Throws std::out_of_range for a room that has never been written.
    boost::optional<KeldraJson::ThermostatObject> GetThermostatSetpointValue(const Room& room,
                                                                             std::uint32_t validityToken);

    boost::optional<std::uint32_t> SetPowerLevelValue(const Room& room, KeldraJson::PowerLevelControlObject value);
    // Throws std::out_of_range for a room that has never been written.
    boost::optional<KeldraJson::PowerLevelControlObject> GetPowerLevelValue(const Room& room,
                                                                           std::uint32_t validityToken);

private:
    template <typename ValueType>
    using RoomValues = std::unordered_map<Room, OptimisticValue<ValueType>>;

    template <typename ValueType>
    static boost::optional<std::uint32_t> SetOptimisticWriteValue(RoomValues<ValueType>& values, const Room& room,
                                                                  ValueType value);

    std::mutex _mutex;
    OptimisticValue<KeldraJson::LeavingHomeObject> _leavingHome;
    OptimisticValue<KeldraJson::SettingsObject> _coolingMode;
    RoomValues<KeldraJson::ThermostatObject> _thermostatSetpoints;
    RoomValues<KeldraJson::PowerLevelControlObject> _powerLevels;
};

}  // namespace Keldra
