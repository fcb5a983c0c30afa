// What the base station manager reports to the application: every status
// kind of every station, to be put on the bus.
#pragma once

#include "basestations/KeldraErrorState.h"
#include "basestations/KeldraJson.h"
#include "support/BoundedTypes.h"

namespace Keldra {

class IBaseStationManagerEventHandler {
public:
    virtual ~IBaseStationManagerEventHandler() = default;
    virtual void OnRoomTemperatureControlStatus(const BaseStationNumber& baseStation, const RoomThermostat& thermostat,
                                                const KeldraJson::ThermostatObject& status) = 0;
    virtual void OnRoomPowerLevelControlStatus(const BaseStationNumber& baseStation, const ActorModuleSlot& slot,
                                               const KeldraJson::PowerLevelControlObject& status) = 0;
    virtual void OnLeavingHomeStatus(const KeldraJson::LeavingHomeObject& status) = 0;
    virtual void OnSystemStatus(const BaseStationNumber& baseStation, const KeldraJson::SystemObject& status,
                                bool isSystemMaster) = 0;
    virtual void OnErrorStatus(const BaseStationNumber& baseStation, const KeldraErrorState& state,
                               bool anyStationHasError) = 0;
    virtual void OnCoolingModeStatus(const KeldraJson::SettingsObject& settings) = 0;
};

}  // namespace Keldra
