// One actor module slot of a base station: the actor module the installer
// configured for it, and the room and power level the station reports.
#pragma once

#include <cstdint>
#include <vector>

#include <boost/optional.hpp>

#include "support/BoundedTypes.h"

namespace Keldra {

class ActorModuleRoomIndexMappingInfo {
public:
    explicit ActorModuleRoomIndexMappingInfo(ActorModuleNumber number) : _number(number) {}

    ActorModuleNumber GetActorModuleNumber() const { return _number; }

    // The station's room of the actor module; empty until reported.
    const boost::optional<Room>& GetRoomIndex() const { return _roomIndex; }
    void SetRoomIndex(Room room) { _roomIndex = room; }
    void ResetRoomIndex() { _roomIndex = boost::none; }

    // The lowest level that power level steps may reach.
    PowerLevel GetMinimumPowerLevel() const { return _minimumPowerLevel; }

    // The level last reported, 0..10, and the same as a KNX byte percentage
    // when the station reported one.
    const boost::optional<std::uint8_t>& GetSetpointPowerLevel() const { return _setpointPowerLevel; }
    const boost::optional<std::uint8_t>& GetSetpointPowerLevelPercentage() const
    {
        return _setpointPowerLevelPercentage;
    }
    void SetSetpointPowerLevel(std::uint8_t level) { _setpointPowerLevel = level; }
    void SetSetpointPowerLevelPercentage(const boost::optional<std::uint8_t>& percentage)
    {
        _setpointPowerLevelPercentage = percentage;
    }

private:
    ActorModuleNumber _number;
    boost::optional<Room> _roomIndex;
    PowerLevel _minimumPowerLevel = PowerLevel::Constant<1>();
    boost::optional<std::uint8_t> _setpointPowerLevel;
    boost::optional<std::uint8_t> _setpointPowerLevelPercentage;
};

// Element i belongs to actor module slot i + 1.
using ActorModuleRoomIndexMapping = std::vector<ActorModuleRoomIndexMappingInfo>;

}  // namespace Keldra
