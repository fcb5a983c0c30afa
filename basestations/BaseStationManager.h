// The registry of the installation's base stations: finds them by discovery,
// checks and polls them, elects the system master, turns every station state
// into error-handler calls, forwards status to the application and hands the
// application's writes to the stations. The write commands, Run and Terminate
// are called on the host's thread; everything a station owns is touched on
// the event loop's thread only (docs/threads.md).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <boost/asio/io_service.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/optional.hpp>

#include "basestations/BaseStation.h"
#include "basestations/BaseStationState.h"
#include "basestations/IBaseStationManagerEventHandler.h"
#include "basestations/IBaseStationStatusHandler.h"
#include "discovery/BaseStationDiscoveryService.h"
#include "discovery/IKeldraConfigurationManager.h"
#include "discovery/MDnsFactory.h"
#include "discovery/ServiceInfo.h"
#include "rooms/BaseStationProperties.h"
#include "rooms/IErrorHandler.h"
#include "support/BoundedTypes.h"
#include "support/Function.h"
#include "support/SelfHandle.h"
#include "support/TimerFactory.h"
#include "support/WaitableTimer.h"

namespace Keldra {

class BaseStationManager : public IBaseStationStatusHandler {
public:
    using BaseStation = Keldra::BaseStation;

    BaseStationManager(boost::asio::io_service& ioService, TimerFactory timerFactory, MDnsFactory mDnsFactory,
                       WebApiFactory webApiFactory, IBaseStationManagerEventHandler& eventHandler,
                       std::unique_ptr<IErrorHandler> errorHandler,
                       std::unique_ptr<IKeldraConfigurationManager> configManager);
    BaseStationManager(const BaseStationManager&) = delete;
    BaseStationManager& operator=(const BaseStationManager&) = delete;
    BaseStationManager(BaseStationManager&&) = delete;
    BaseStationManager& operator=(BaseStationManager&&) = delete;
    ~BaseStationManager() override;

    // Before Run, in the order of the station numbers 1, 2, ...
    void AddBaseStation(BaseStationProperties properties);
    void Run();
    // Stops discovery and, through the event loop, the polling of every
    // station.
    void Terminate();
    void EnableDiscovery();
    void DisableDiscovery();

    const std::vector<std::unique_ptr<BaseStation>>& GetBaseStations() const { return _baseStations; }
    // Only while the registry holds 1 to 5 stations.
    BaseStationNumber GetBaseStationCount() const;

    // Write commands, on the host's thread; indices are zero-based. A
    // station index beyond the registry, or a thermostat or actor module
    // index beyond the station's configuration, throws std::out_of_range
    // before anything is handed to the station.
    void SetPowerLevelValue(std::size_t station, std::size_t actorModule, const boost::optional<PowerLevel>& level);
    void SetPowerLevelPercent(std::size_t station, std::size_t actorModule, const KnxBytePercent& percent);
    void SetPowerLevelUpDown(std::size_t station, std::size_t actorModule, bool up);
    void SetSetpointTemperature(std::size_t station, std::size_t thermostat,
                                const boost::optional<HalfDegreeTemperature>& temperature);
    void SetLeavingHome(bool active, const boost::optional<boost::posix_time::ptime>& arrival);
    void SetCoolingMode(bool cooling);

    // IBaseStationStatusHandler, on the event loop's thread.
    void OnSystemStatus(const BaseStationProperties& properties, const KeldraJson::SystemObject& system,
                        bool isSystemMaster) override;
    void OnPowerLevelControlStatus(BaseStationProperties& properties,
                                   const KeldraJson::PowerLevelControlObject& powerLevelControl,
                                   ActorModuleNumber actorModule) override;
    void OnRoomTemperatureStatus(BaseStationProperties& properties,
                                 const KeldraJson::ThermostatObject& thermostat) override;
    void OnLeavingHomeStatus(const KeldraJson::LeavingHomeObject& leavingHome) override;
    void OnErrorStatus(const BaseStationProperties& properties, const KeldraErrorState& errorState) override;
    void OnCoolingModeStatus(const BaseStationProperties& properties,
                             const KeldraJson::SettingsObject& settings) override;

private:
    using StationWork = Oru::function<void(BaseStation&)>;

    void OnServiceDiscovered(const std::shared_ptr<ServiceInfo>& serviceInfo);
    std::vector<std::size_t> AddDeviceInfo(std::shared_ptr<ServiceInfo> serviceInfo);
    FirmwareCheckResultHandler MakeFirmwareCheckResultHandler(std::size_t index);
    void OnFirmwareCheckResult(std::size_t index, const Oru::SystemResult<bool>& result);
    void PostStateResult(BaseStationNumber number, BaseStationState state);
    bool ElectSystemMaster(std::size_t index);
    void InvalidateBaseStation(BaseStationNumber number);
    // With the registry mutex held.
    void RestartDiscovery();
    void OnRediscoveryHoldOffElapsed();
    void OnBaseStationStateResult(BaseStationNumber number, BaseStationState state);

    // True when leaving-home mode was active and has been switched off.
    bool DisableLeavingHomeIfActive();
    BaseStation& StationAt(std::size_t station) const;
    void DispatchToStation(const BaseStation& station, StationWork work);
    // The completion of a write: the state result, then the line logDone
    // writes, both on the event loop.
    OnErrorCallbackHandler WriteCompletion(Oru::function<void(BaseStationNumber)> logDone) const;

    boost::asio::io_service& _ioService;
    // Queued handlers hold its Weak: they find the manager gone.
    Oru::SelfHandle<BaseStationManager> _selfHandle;
    // Guards the missing count, the discovery flag and the rediscovery
    // hold-off; the registry itself is complete before Run and only read
    // from then on.
    std::mutex _mutex;
    std::uint8_t _missingBaseStationCount = 0;
    WebApiFactory _webApiFactory;
    TimerFactory _timerFactory;
    std::vector<std::unique_ptr<BaseStation>> _baseStations;
    // Elected and cleared on the event loop's thread only.
    boost::optional<BaseStationNumber> _systemMaster;
    bool _discoveryEnabled = false;
    BaseStationDiscoveryService _discoveryService;
    // An invalidation restarts discovery at once, a further one within a
    // search period only when that period is over: a station that fails
    // every check is not hammered with requests.
    std::unique_ptr<Oru::WaitableTimer> _rediscoveryTimer;
    bool _rediscoveryHeldOff = false;
    bool _rediscoveryPending = false;
    IBaseStationManagerEventHandler& _eventHandler;
    std::unique_ptr<IErrorHandler> _errorHandler;
    std::unique_ptr<IKeldraConfigurationManager> _configManager;
    std::atomic<bool> _leavingHomeActive{true};
};

}  // namespace Keldra
