#include "basestations/OptimisticWriteValueManager.h"

#include <utility>

namespace Keldra {

template <typename ValueType>
boost::optional<std::uint32_t> OptimisticWriteValueManager::SetOptimisticWriteValue(RoomValues<ValueType>& values,
                                                                                    const Room& room,
                                                                                    ValueType value)
{
    auto entry = values.find(room);
    if (entry == values.end()) {
        const auto inserted = values.emplace(room, OptimisticValue<ValueType>());
        if (!inserted.second) {
            return boost::none;
        }
        entry = inserted.first;
    }
    return entry->second.SetValue(std::move(value));
}

std::uint32_t OptimisticWriteValueManager::SetLeavingHomeValue(KeldraJson::LeavingHomeObject value)
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _leavingHome.SetValue(std::move(value));
}

boost::optional<KeldraJson::LeavingHomeObject> OptimisticWriteValueManager::GetLeavingHomeValue(
    std::uint32_t validityToken)
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _leavingHome.GetValue(validityToken);
}

std::uint32_t OptimisticWriteValueManager::SetCoolingModeValue(KeldraJson::SettingsObject value)
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _coolingMode.SetValue(std::move(value));
}

boost::optional<KeldraJson::SettingsObject> OptimisticWriteValueManager::GetCoolingModeValue(
    std::uint32_t validityToken)
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _coolingMode.GetValue(validityToken);
}

boost::optional<std::uint32_t> OptimisticWriteValueManager::SetThermostatSetpointValue(
    const Room& room, KeldraJson::ThermostatObject value)
{
    std::lock_guard<std::mutex> lock(_mutex);
    return SetOptimisticWriteValue(_thermostatSetpoints, room, std::move(value));
}

boost::optional<KeldraJson::ThermostatObject> OptimisticWriteValueManager::GetThermostatSetpointValue(
    const Room& room, std::uint32_t validityToken)
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _thermostatSetpoints.at(room).GetValue(validityToken);
}

boost::optional<std::uint32_t> OptimisticWriteValueManager::SetPowerLevelValue(
    const Room& room, KeldraJson::PowerLevelControlObject value)
{
    std::lock_guard<std::mutex> lock(_mutex);
    return SetOptimisticWriteValue(_powerLevels, room, std::move(value));
}

boost::optional<KeldraJson::PowerLevelControlObject> OptimisticWriteValueManager::GetPowerLevelValue(
    const Room& room, std::uint32_t validityToken)
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _powerLevels.at(room).GetValue(validityToken);
}

}  // namespace Keldra
