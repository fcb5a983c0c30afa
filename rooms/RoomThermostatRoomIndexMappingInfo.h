// One configured room thermostat of a base station: the ID the installer
// gave it, and the room and temperature range the station reports for it.
#pragma once

#include <utility>
#include <vector>

#include <boost/optional.hpp>

#include "support/BoundedTypes.h"

namespace Keldra {

class RoomThermostatRoomIndexMappingInfo {
public:
    explicit RoomThermostatRoomIndexMappingInfo(RoomThermostatIDString id) : _id(std::move(id)) {}

    const RoomThermostatIDString& GetID() const { return _id; }

    // The station's room of the thermostat; empty until reported.
    const boost::optional<Room>& GetRoomIndex() const { return _roomIndex; }
    void SetRoomIndex(Room room) { _roomIndex = room; }
    void ResetRoomIndex() { _roomIndex = boost::none; }

    // The setpoint range the thermostat allows; empty until reported.
    const boost::optional<HalfDegreeTemperature>& GetMinimumTemperature() const { return _minimumTemperature; }
    const boost::optional<HalfDegreeTemperature>& GetMaximumTemperature() const { return _maximumTemperature; }
    void SetMinimumTemperature(HalfDegreeTemperature temperature) { _minimumTemperature = temperature; }
    void SetMaximumTemperature(HalfDegreeTemperature temperature) { _maximumTemperature = temperature; }

private:
    RoomThermostatIDString _id;
    boost::optional<Room> _roomIndex;
    boost::optional<HalfDegreeTemperature> _minimumTemperature;
    boost::optional<HalfDegreeTemperature> _maximumTemperature;
};

// Element i belongs to room thermostat i + 1; an empty element is a
// configured position without a usable ID.
using RoomThermostatRoomIndexMapping = std::vector<boost::optional<RoomThermostatRoomIndexMappingInfo>>;

}  // namespace Keldra
