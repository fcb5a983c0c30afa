// Where a base station delivers what it learned from a status poll or an
// accepted write: the base station manager, which forwards it to the
// application.
#pragma once

#include "basestations/KeldraErrorState.h"
#include "basestations/KeldraJson.h"
#include "support/BoundedTypes.h"

namespace Keldra {

class BaseStationProperties;

class IBaseStationStatusHandler {
public:
    virtual ~IBaseStationStatusHandler() = default;
    virtual void OnSystemStatus(const BaseStationProperties& properties, const KeldraJson::SystemObject& system,
                                bool isSystemMaster) = 0;
    virtual void OnPowerLevelControlStatus(BaseStationProperties& properties,
                                           const KeldraJson::PowerLevelControlObject& powerLevelControl,
                                           ActorModuleNumber actorModule) = 0;
    virtual void OnRoomTemperatureStatus(BaseStationProperties& properties,
                                         const KeldraJson::ThermostatObject& thermostat) = 0;
    virtual void OnLeavingHomeStatus(const KeldraJson::LeavingHomeObject& leavingHome) = 0;
    virtual void OnErrorStatus(const BaseStationProperties& properties, const KeldraErrorState& errorState) = 0;
    virtual void OnCoolingModeStatus(const BaseStationProperties& properties,
                                     const KeldraJson::SettingsObject& settings) = 0;
};

}  // namespace Keldra
