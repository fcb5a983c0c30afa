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
        RoomThermostat thermostat;
        KeldraJson::ThermostatObject status;
    };
    struct ErrorStatus {
        BaseStationNumber station;
        KeldraErrorState state;
        bool anyStationHasError;
    };

    void OnRoomTemperatureControlStatus(const BaseStationNumber& /*station*/, const RoomThermostat& thermostat,
                                        const KeldraJson::ThermostatObject& status) override
    {
        Add(_roomTemperatures, {thermostat, status});
    }
    void OnRoomPowerLevelControlStatus(const BaseStationNumber& /*station*/, const ActorModuleSlot& slot,
                                       const KeldraJson::PowerLevelControlObject& /*status*/) override
    {
        Add(_powerLevels, slot);
    }
    void OnLeavingHomeStatus(const KeldraJson::LeavingHomeObject& status) override { Add(_leavingHome, status); }
    void OnSystemStatus(const BaseStationNumber& /*station*/, const KeldraJson::SystemObject& /*status*/,
                        bool isSystemMaster) override
    {
        Add(_systems, isSystemMaster);
    }
    void OnErrorStatus(const BaseStationNumber& station, const KeldraErrorState& state,
                       bool anyStationHasError) override
    {
        Add(_errors, {station, state, anyStationHasError});
    }
    void OnCoolingModeStatus(const KeldraJson::SettingsObject& settings) override { Add(_coolingModes, settings); }

    std::vector<RoomTemperature> RoomTemperatures() const { return Copy(_roomTemperatures); }
    // The slots whose power level was forwarded.
    std::vector<ActorModuleSlot> PowerLevels() const { return Copy(_powerLevels); }
    std::vector<KeldraJson::LeavingHomeObject> LeavingHome() const { return Copy(_leavingHome); }
    // Per system status: whether it came from the system master.
    std::vector<bool> Systems() const { return Copy(_systems); }
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
    std::vector<ActorModuleSlot> _powerLevels;
    std::vector<KeldraJson::LeavingHomeObject> _leavingHome;
    std::vector<bool> _systems;
    std::vector<ErrorStatus> _errors;
    std::vector<KeldraJson::SettingsObject> _coolingModes;
};

}  // namespace Testing
}  // namespace Keldra
