#include "BaseStationProperties.h"

#include <utility>

#include "platform/host/OruLogging.h"
#include "support/Assert.h"
#include "support/HalfDegrees.h"

namespace Keldra {

namespace {

Room CountRooms(const ActorModuleRoomIndexMapping& actorModuleMapping,
                const RoomThermostatRoomIndexMapping& roomThermostatMapping)
{
    const auto numberRooms = Room::CreateFrom(actorModuleMapping.size() + roomThermostatMapping.size());
    ORU_REQUIRE(numberRooms.is_initialized());
    return *numberRooms;
}

}  // namespace

BaseStationProperties::BaseStationProperties(BaseStationNumber number, BaseStationIdString id,
                                             ActorModuleRoomIndexMapping actorModuleMapping,
                                             RoomThermostatRoomIndexMapping roomThermostatMapping)
    : _number(number),
      _id(std::move(id)),
      _numberRooms(CountRooms(actorModuleMapping, roomThermostatMapping)),
      _actorModuleMapping(std::move(actorModuleMapping)),
      _roomThermostatMapping(std::move(roomThermostatMapping))
{
}

void BaseStationProperties::ResetRoomThermostatMappings()
{
    for (auto& thermostat : _roomThermostatMapping) {
        if (thermostat) {
            thermostat->ResetRoomIndex();
        }
    }
}

void BaseStationProperties::ResetActorModuleMappings()
{
    for (auto& actorModule : _actorModuleMapping) {
        actorModule.ResetRoomIndex();
    }
}

bool BaseStationProperties::CheckRoomThermostatMappingComplete() const
{
    for (const auto& thermostat : _roomThermostatMapping) {
        if (!thermostat) {
            return false;
        }
        if (!thermostat->GetRoomIndex()) {
            ORU_LOG_WARN("Missing room thermostat: " << thermostat->GetID());
            return false;
        }
    }
    return true;
}

bool BaseStationProperties::CheckActorModuleMappingComplete() const
{
    for (const auto& actorModule : _actorModuleMapping) {
        if (!actorModule.GetRoomIndex()) {
            ORU_LOG_WARN("Missing actor module: " << actorModule.GetActorModuleNumber());
            return false;
        }
    }
    return true;
}

BaseStationState BaseStationProperties::CheckConfigState() const
{
    const bool thermostatsComplete = CheckRoomThermostatMappingComplete();
    const bool actorModulesComplete = CheckActorModuleMappingComplete();
    if (thermostatsComplete) {
        return actorModulesComplete ? BaseStationState::Complete : BaseStationState::ActorsMissing;
    }
    return actorModulesComplete ? BaseStationState::ThermostatsMissing : BaseStationState::ThermostatsAndActorsMissing;
}

void BaseStationProperties::UpdateThermostatIdMapping(const RoomThermostatIDString& id, Room room)
{
    for (auto& thermostat : _roomThermostatMapping) {
        if (!thermostat || thermostat->GetID() != id) {
            continue;
        }
        if (thermostat->GetRoomIndex() == room) {
            return;
        }
        thermostat->SetRoomIndex(room);
        ORU_LOG_INFO("Room thermostat " << id << " found at room index " << room << " (" << _id << ")");
        return;
    }
}

void BaseStationProperties::UpdateActorModuleIdMapping(ActorModuleNumber number, Room room)
{
    for (auto& actorModule : _actorModuleMapping) {
        if (actorModule.GetActorModuleNumber() != number) {
            continue;
        }
        if (actorModule.GetRoomIndex() == room) {
            return;
        }
        actorModule.SetRoomIndex(room);
        ORU_LOG_INFO("Actor " << number << " found at room index " << room << " (" << _id << ")");
        return;
    }
}

void BaseStationProperties::UpdateAllowedTemperatureRange(const RoomThermostat& thermostat, double minimum,
                                                          double maximum)
{
    if (thermostat.Value() > _roomThermostatMapping.size()) {
        ORU_LOG_ERROR("Cannot update temperature range of non-existing room thermostat " << thermostat);
        return;
    }
    auto& element = _roomThermostatMapping[thermostat.ToDifference().Value()];
    if (!element) {
        return;
    }
    if (const auto halfDegrees = ToHalfDegrees(minimum)) {
        element->SetMinimumTemperature(*halfDegrees);
    }
    if (const auto halfDegrees = ToHalfDegrees(maximum)) {
        element->SetMaximumTemperature(*halfDegrees);
    }
}

ValueChangeState BaseStationProperties::UpdateSetpointPowerLevel(ActorModuleSlot slot, std::uint8_t level,
                                                                  const boost::optional<std::uint8_t>& percentage)
{
    if (slot.Value() > _actorModuleMapping.size()) {
        ORU_LOG_ERROR("Cannot update power level of non-existing actor module " << slot);
        return ValueChangeState::Unchanged;
    }
    if (level > PowerLevel::Max) {
        return ValueChangeState::Unchanged;
    }
    auto& element = _actorModuleMapping[slot.ToDifference().Value()];
    auto result = ValueChangeState::Unchanged;
    if (element.GetSetpointPowerLevel() != level) {
        element.SetSetpointPowerLevel(level);
        result = ValueChangeState::Changed;
    }
    if (percentage && element.GetSetpointPowerLevelPercentage() != percentage) {
        result = ValueChangeState::Changed;
    }
    element.SetSetpointPowerLevelPercentage(percentage);
    return result;
}

}  // namespace Keldra
