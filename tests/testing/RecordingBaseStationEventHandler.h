// An IBaseStationManagerEventHandler for tests: keeps every status the base
// station manager forwards, per kind and in order. Safe to read from another
// thread while calls arrive.
#pragma once

#include <mutex>
#include <utility>
#include <vector>

#include "basestations/IBaseStationManagerEventHandler.h"

namespace Keldra {
namespace Testing {

class RecordingBaseStationEventHandler final : public IBaseStationManagerEventHandler {
public:
    struct RoomTemperature {
        BaseStationNumber station;
        RoomThermostat thermostat;
        KeldraJson::ThermostatObject status;
    };
    struct PowerLevelStatus {
        BaseStationNumber station;
        ActorModuleSlot slot;
        KeldraJson::PowerLevelControlObject status;
    };
    struct SystemStatus {
        BaseStationNumber station;
        KeldraJson::SystemObject status;
        bool isSystemMaster;
    };
    struct ErrorStatus {
        BaseStationNumber station;
        KeldraErrorState state;
        bool anyStationHasError;
    };

    void OnRoomTemperatureControlStatus(const BaseStationNumber& station, const RoomThermostat& thermostat,
                                        const KeldraJson::ThermostatObject& status) override
    {
        Add(_roomTemperatures, {station, thermostat, status});
    }
    void OnRoomPowerLevelControlStatus(const BaseStationNumber& station, const ActorModuleSlot& slot,
                                       const KeldraJson::PowerLevelControlObject& status) override
    {
        Add(_powerLevels, {station, slot, status});
    }
    void OnLeavingHomeStatus(const KeldraJson::LeavingHomeObject& status) override { Add(_leavingHome, status); }
    void OnSystemStatus(const BaseStationNumber& station, const KeldraJson::SystemObject& status,
                        bool isSystemMaster) override
    {
        Add(_systems, {station, status, isSystemMaster});
    }
    void OnErrorStatus(const BaseStationNumber& station, const KeldraErrorState& state,
                       bool anyStationHasError) override
    {
        Add(_errors, {station, state, anyStationHasError});
    }
    void OnCoolingModeStatus(const KeldraJson::SettingsObject& settings) override { Add(_coolingModes, settings); }

    std::vector<RoomTemperature> RoomTemperatures() const { return Copy(_roomTemperatures); }
    std::vector<PowerLevelStatus> PowerLevels() const { return Copy(_powerLevels); }
    std::vector<KeldraJson::LeavingHomeObject> LeavingHome() const { return Copy(_leavingHome); }
    std::vector<SystemStatus> Systems() const { return Copy(_systems); }
    std::vector<ErrorStatus> Errors() const { return Copy(_errors); }
    std::vector<KeldraJson::SettingsObject> CoolingModes() const { return Copy(_coolingModes); }

    void Clear()
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _roomTemperatures.clear();
        _powerLevels.clear();
        _leavingHome.clear();
        _systems.clear();
        _errors.clear();
        _coolingModes.clear();
    }

private:
    template <typename T>
    void Add(std::vector<T>& values, T value)
    {
        std::lock_guard<std::mutex> lock(_mutex);
        values.push_back(std::move(value));
    }
    template <typename T>
    std::vector<T> Copy(const std::vector<T>& values) const
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return values;
    }

    mutable std::mutex _mutex;
    std::vector<RoomTemperature> _roomTemperatures;
    std::vector<PowerLevelStatus> _powerLevels;
    std::vector<KeldraJson::LeavingHomeObject> _leavingHome;
    std::vector<SystemStatus> _systems;
    std::vector<ErrorStatus> _errors;
    std::vector<KeldraJson::SettingsObject> _coolingModes;
};

}  // namespace Testing
}  // namespace Keldra
