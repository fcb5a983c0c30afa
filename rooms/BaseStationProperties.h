// The room model of one base station: its number and ID, the room
// thermostats and actor module slots the installer configured, and what the
// station reports about them (their rooms, temperature ranges and power
// levels). A value type without a lock: used on the worker thread only.
#pragma once

#include <cstdint>

#include <boost/optional.hpp>

#include "ActorModuleRoomIndexMappingInfo.h"
#include "RoomThermostatRoomIndexMappingInfo.h"
#include "ValueChangeState.h"
#include "basestations/BaseStationState.h"
#include "support/BoundedTypes.h"

namespace Keldra {

class BaseStationProperties {
public:
    // Together the mappings must hold 1 to 12 elements; other counts are
    // rejected by the caller, and end the program here.
    BaseStationProperties(BaseStationNumber number, BaseStationIdString id,
                          ActorModuleRoomIndexMapping actorModuleMapping,
                          RoomThermostatRoomIndexMapping roomThermostatMapping);

    BaseStationNumber GetBaseStationNumber() const { return _number; }
    const BaseStationIdString& GetBaseStationID() const { return _id; }
    Room GetNumberRooms() const { return _numberRooms; }
    const ActorModuleRoomIndexMapping& GetActorModuleMapping() const { return _actorModuleMapping; }
    const RoomThermostatRoomIndexMapping& GetRoomThermostatMapping() const { return _roomThermostatMapping; }

    // Forget the rooms reported; IDs, ranges and power levels stay.
    void ResetRoomThermostatMappings();
    void ResetActorModuleMappings();

    bool CheckRoomThermostatMappingComplete() const;
    bool CheckActorModuleMappingComplete() const;
    // One of ThermostatsAndActorsMissing, ActorsMissing, ThermostatsMissing
    // and Complete.
    BaseStationState CheckConfigState() const;

    void UpdateThermostatIdMapping(const RoomThermostatIDString& id, Room room);
    void UpdateActorModuleIdMapping(ActorModuleNumber number, Room room);
    // Degrees Celsius; a limit outside 5.0..30.0 (after rounding to half
    // degrees) or not a number leaves that limit as it was.
    void UpdateAllowedTemperatureRange(const RoomThermostat& thermostat, double minimum, double maximum);
    ValueChangeState UpdateSetpointPowerLevel(ActorModuleSlot slot, std::uint8_t level,
                                              const boost::optional<std::uint8_t>& percentage);

private:
    BaseStationNumber _number;
    BaseStationIdString _id;
    Room _numberRooms;
    ActorModuleRoomIndexMapping _actorModuleMapping;
    RoomThermostatRoomIndexMapping _roomThermostatMapping;
};

}  // namespace Keldra
