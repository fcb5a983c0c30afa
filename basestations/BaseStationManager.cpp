#include "basestations/BaseStationManager.h"

#include <algorithm>
#include <iomanip>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/chrono/duration.hpp>
#include <boost/date_time/posix_time/posix_time_io.hpp>
#include <boost/date_time/posix_time/time_formatters.hpp>

#include "platform/host/OruLogging.h"
#include "basestations/BaseStationRequestError.h"
#include "basestations/PrintableText.h"
#include "support/Assert.h"

namespace Keldra {
namespace {

const char* const InstanceNamePrefix = "plavo-";
const boost::chrono::seconds SearchPeriod(10);

const char* OnOff(bool on) { return on ? "on" : "off"; }

// The handler's calls that raise and clear each error of a station, in the
// order of the error codes 1..6.
const struct {
    void (IErrorHandler::*raise)(const BaseStationNumber&);
    void (IErrorHandler::*clear)(const BaseStationNumber&);
} StationErrorCalls[] = {
    {&IErrorHandler::SetBaseStationMissing, &IErrorHandler::UnSetBaseStationMissing},
    {&IErrorHandler::SetCommunicationError, &IErrorHandler::UnSetCommunicationError},
    {&IErrorHandler::SetInvalidCredentials, &IErrorHandler::UnSetInvalidCredentials},
    {&IErrorHandler::SetUnsupportedFirmware, &IErrorHandler::UnSetUnsupportedFirmware},
    {&IErrorHandler::SetRoomThermostatMissing, &IErrorHandler::UnSetRoomThermostatMissing},
    {&IErrorHandler::SetActorModuleMissing, &IErrorHandler::UnSetActorModuleMissing},
};

// Sets of station errors: one bit per error code.
constexpr unsigned Bit(ErrorCodesBaseStationSpecific code) { return 1u << (static_cast<int>(code) - 1); }
constexpr unsigned StationMissing = Bit(ErrorCodesBaseStationSpecific::BaseStationMissing);
constexpr unsigned CommunicationError = Bit(ErrorCodesBaseStationSpecific::CommunicationError);
constexpr unsigned InvalidCredentials = Bit(ErrorCodesBaseStationSpecific::InvalidCredentials);
constexpr unsigned UnsupportedFirmware = Bit(ErrorCodesBaseStationSpecific::UnsupportedFirmware);
constexpr unsigned ThermostatMissing = Bit(ErrorCodesBaseStationSpecific::RoomThermostatMissing);
constexpr unsigned ActorMissing = Bit(ErrorCodesBaseStationSpecific::ActorModuleMissing);
constexpr unsigned ConnectionErrors = InvalidCredentials | CommunicationError;

// What a station state means: whether the station is given up (and searched
// for again), the station errors it raises (in code order) and clears (in
// reverse code order), and the general error.
struct StateOutcome {
    BaseStationState state;
    bool invalidate;
    unsigned raised;
    unsigned cleared;
    ErrorCodesGeneral general;
};

using State = BaseStationState;
using General = ErrorCodesGeneral;
const StateOutcome StateOutcomes[] = {
    {State::Missing, true, StationMissing, 0, General::NoError},
    {State::CommunicationFailed, true, CommunicationError, 0, General::NoError},
    {State::CredentialsRejected, true, InvalidCredentials, CommunicationError, General::NoError},
    {State::FirmwareUnsupported, true, UnsupportedFirmware, ConnectionErrors, General::NoError},
    {State::BadResponse, false, 0, ConnectionErrors, General::InvalidResponse},
    {State::ValueOutOfRange, false, 0, ConnectionErrors, General::OutOfRangeValue},
    {State::UnexpectedFailure, false, 0, 0, General::UnexpectedError},
    {State::Fatal, false, 0, 0, General::FatalError},
    {State::ThermostatsAndActorsMissing, false, ThermostatMissing | ActorMissing, ConnectionErrors, General::NoError},
    {State::ActorsMissing, false, ActorMissing, ThermostatMissing | ConnectionErrors, General::NoError},
    {State::ThermostatsMissing, false, ThermostatMissing, ActorMissing | ConnectionErrors, General::NoError},
    {State::Complete, false, 0, ActorMissing | ThermostatMissing | ConnectionErrors, General::NoError},
};

StateOutcome OutcomeOf(BaseStationState state)
{
    for (const auto& outcome : StateOutcomes) {
        if (outcome.state == state) {
            return outcome;
        }
    }
    return {state, false, 0, 0, General::NoError};
}

}  // namespace

BaseStationManager::BaseStationManager(boost::asio::io_service& ioService, TimerFactory timerFactory,
                                       MDnsFactory mDnsFactory, WebApiFactory webApiFactory,
                                       IBaseStationManagerEventHandler& eventHandler,
                                       std::unique_ptr<IErrorHandler> errorHandler,
                                       std::unique_ptr<IKeldraConfigurationManager> configManager)
    : _ioService(ioService),
      _selfHandle(this),
      _webApiFactory(std::move(webApiFactory)),
      _timerFactory(timerFactory),
      _discoveryService(std::move(timerFactory), std::move(mDnsFactory), SearchPeriod,
                        // Runs wherever the mDNS client reports; the work is
                        // done on the event loop.
                        [manager = _selfHandle.GetWeak(), ioService = &ioService](std::shared_ptr<ServiceInfo> info) {
                            boost::asio::post(*ioService, [manager, info]() {
                                if (auto* const self = manager.Get()) {
                                    self->OnServiceDiscovered(info);
                                }
                            });
                        }),
      _rediscoveryTimer(_timerFactory()),
      _eventHandler(eventHandler),
      _errorHandler(std::move(errorHandler)),
      _configManager(std::move(configManager))
{
    _baseStations.reserve(5);
    ORU_ASSERT2(_rediscoveryTimer != nullptr);
    ORU_ASSERT2(_errorHandler != nullptr);
    ORU_ASSERT2(_configManager != nullptr);
}

BaseStationManager::~BaseStationManager()
{
    // Handlers still queued find the manager gone.
    _selfHandle.Expire();
    _discoveryService.Stop();
    _configManager.reset();
    _errorHandler.reset();
    _discoveryService.Stop();
}

void BaseStationManager::AddBaseStation(BaseStationProperties properties)
{
    std::lock_guard<std::mutex> lock(_mutex);
    ORU_ASSERT2(properties.GetBaseStationNumber().ToDifference().Value() == _baseStations.size());
    _baseStations.push_back(std::make_unique<BaseStation>(
        _ioService, std::move(properties), _timerFactory, *this, *_configManager,
        [manager = _selfHandle.GetWeak()](BaseStationNumber number, boost::optional<BaseStationState> state) {
            if (!state) {
                return;
            }
            if (auto* const self = manager.Get()) {
                self->OnBaseStationStateResult(number, *state);
            }
        }));
    ++_missingBaseStationCount;
}

BaseStationNumber BaseStationManager::GetBaseStationCount() const
{
    const auto count = BaseStationNumber::CreateFrom(_baseStations.size());
    ORU_ASSERT2(count);
    return *count;
}

void BaseStationManager::Run()
{
    _errorHandler->HandleGeneralError(ErrorCodesGeneral::NoError);
    EnableDiscovery();
}

void BaseStationManager::Terminate()
{
    // Kept on purpose: the discovery service logs its own stop line after this one.
    ORU_LOG_INFO("Stop base station discovery if in progress");
    DisableDiscovery();
    ORU_LOG_INFO("Stop polling base station values");
    for (const auto& station : _baseStations) {
        DispatchToStation(*station, [](BaseStation& target) { target.StopStatusPolling(); });
    }
}

void BaseStationManager::EnableDiscovery()
{
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _discoveryEnabled = true;
        if (_missingBaseStationCount == 0) {
            ORU_LOG_WARN("No base stations configured. Keep discovery disabled.");
            return;
        }
    }
    _discoveryService.Start();
}

void BaseStationManager::DisableDiscovery()
{
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _discoveryEnabled = false;
    }
    _discoveryService.Stop();
}

// ---------------------------------------------------------------------------
// Discovery, firmware check, master election, invalidation

void BaseStationManager::OnServiceDiscovered(const std::shared_ptr<ServiceInfo>& serviceInfo)
{
    const auto found = AddDeviceInfo(serviceInfo);
    bool noneMissing = false;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        noneMissing = _missingBaseStationCount == 0;
    }
    if (noneMissing) {
        _discoveryService.Stop();
    }
    for (const auto index : found) {
        _errorHandler->UnSetBaseStationMissing(*BaseStationNumber::CreateFrom(index + 1));
    }
}

std::vector<std::size_t> BaseStationManager::AddDeviceInfo(std::shared_ptr<ServiceInfo> serviceInfo)
{
    std::vector<std::size_t> found;
    if (!serviceInfo) {
        return found;
    }
    std::lock_guard<std::mutex> lock(_mutex);
    bool matched = false;
    for (std::size_t index = 0; index < _baseStations.size(); ++index) {
        auto& station = *_baseStations[index];
        if (InstanceNamePrefix + station.GetBaseStationID().Get() != serviceInfo->name) {
            continue;
        }
        matched = true;
        switch (station.UpdateServiceInfo(serviceInfo)) {
        case BaseStation::ServiceInfoUpdate::First:
            if (_missingBaseStationCount > 0) {
                --_missingBaseStationCount;
            }
            ORU_LOG_INFO("Found missing base station " << index + 1 << ": " << *serviceInfo);
            break;
        case BaseStation::ServiceInfoUpdate::Changed:
            ORU_LOG_INFO("Updated base station " << index + 1 << ": " << *serviceInfo);
            break;
        case BaseStation::ServiceInfoUpdate::Unchanged:
            ORU_LOG_DEBUG("Base station " << index + 1 << " already known: " << *serviceInfo);
            continue;
        case BaseStation::ServiceInfoUpdate::Null:
            continue;
        }
        station.UpdateWebApi(_webApiFactory);
        station.CheckFirmwareVersion(MakeFirmwareCheckResultHandler(index));
        found.push_back(index);
    }
    if (!matched) {
        ORU_LOG_DEBUG("Discovered base station not configured:" << *serviceInfo);
    }
    return found;
}

FirmwareCheckResultHandler BaseStationManager::MakeFirmwareCheckResultHandler(std::size_t index)
{
    return [manager = _selfHandle.GetWeak(), index](Oru::SystemResult<bool> result) {
        if (auto* const self = manager.Get()) {
            self->OnFirmwareCheckResult(index, result);
        }
    };
}

void BaseStationManager::OnFirmwareCheckResult(std::size_t index, const Oru::SystemResult<bool>& result)
{
    const BaseStationNumber number = *BaseStationNumber::CreateFrom(index + 1);
    if (result.HasError()) {
        // Posted: the check may report from inside AddDeviceInfo, which
        // holds the registry mutex that the invalidation takes.
        PostStateResult(number, result.GetError() == make_error_code(BaseStationRequestError::CredentialsRefused)
                                    ? BaseStationState::CredentialsRejected
                                    : BaseStationState::CommunicationFailed);
        return;
    }
    if (!result.GetValue()) {
        PostStateResult(number, BaseStationState::FirmwareUnsupported);
        return;
    }
    // Deliberate: a station that reported an unsupported firmware before and
    // passes now (updated) is no longer reported.
    _errorHandler->UnSetUnsupportedFirmware(number);
    auto& station = *_baseStations.at(index);
    if (ElectSystemMaster(index)) {
        station.SetSystemMaster();
    }
    station.StartStatusPolling();
}

void BaseStationManager::PostStateResult(BaseStationNumber number, BaseStationState state)
{
    boost::asio::post(_ioService, [manager = _selfHandle.GetWeak(), number, state]() {
        if (auto* const self = manager.Get()) {
            self->OnBaseStationStateResult(number, state);
        }
    });
}

bool BaseStationManager::ElectSystemMaster(std::size_t index)
{
    if (_systemMaster) {
        return false;
    }
    const auto number = BaseStationNumber::CreateFrom(index + 1);
    if (!number) {
        return false;
    }
    ORU_LOG_INFO("Selecting base station " << index + 1 << " as system master");
    _systemMaster = number;
    return true;
}

void BaseStationManager::InvalidateBaseStation(BaseStationNumber number)
{
    std::lock_guard<std::mutex> lock(_mutex);
    auto& station = *_baseStations.at(number.ToDifference().Value());
    if (station.ResetDeviceInfo()) {
        station.StopStatusPolling();
        ++_missingBaseStationCount;
        if (_systemMaster == number) {
            _systemMaster = boost::none;
        }
    }
    if (_discoveryEnabled) {
        RestartDiscovery();
    }
}

void BaseStationManager::RestartDiscovery()
{
    // Deliberate: at most one restart per search period, never a tight loop.
    if (_rediscoveryHeldOff) {
        _rediscoveryPending = true;
        return;
    }
    _discoveryService.Start();
    _rediscoveryHeldOff = true;
    _rediscoveryTimer->expires_from_now(SearchPeriod);
    _rediscoveryTimer->async_wait([manager = _selfHandle.GetWeak()](const boost::system::error_code& error) {
        if (error) {
            return;
        }
        if (auto* const self = manager.Get()) {
            self->OnRediscoveryHoldOffElapsed();
        }
    });
}

void BaseStationManager::OnRediscoveryHoldOffElapsed()
{
    std::lock_guard<std::mutex> lock(_mutex);
    _rediscoveryHeldOff = false;
    if (!_rediscoveryPending) {
        return;
    }
    _rediscoveryPending = false;
    if (_discoveryEnabled && _missingBaseStationCount > 0) {
        RestartDiscovery();
    }
}

void BaseStationManager::OnBaseStationStateResult(BaseStationNumber number, BaseStationState state)
{
    const auto outcome = OutcomeOf(state);
    if (outcome.invalidate) {
        InvalidateBaseStation(number);
    }
    auto& errors = *_errorHandler;
    const std::size_t count = std::size(StationErrorCalls);
    for (std::size_t error = 0; error < count; ++error) {
        if ((outcome.raised >> error) & 1u) {
            (errors.*StationErrorCalls[error].raise)(number);
        }
    }
    for (std::size_t error = count; error-- > 0;) {
        if ((outcome.cleared >> error) & 1u) {
            (errors.*StationErrorCalls[error].clear)(number);
        }
    }
    errors.HandleGeneralError(outcome.general);
}

// ---------------------------------------------------------------------------
// Status forwarding

void BaseStationManager::OnSystemStatus(const BaseStationProperties& properties,
                                        const KeldraJson::SystemObject& system, bool isSystemMaster)
{
    _eventHandler.OnSystemStatus(properties.GetBaseStationNumber(), system, isSystemMaster);
}

void BaseStationManager::OnPowerLevelControlStatus(BaseStationProperties& properties,
                                                   const KeldraJson::PowerLevelControlObject& powerLevelControl,
                                                   ActorModuleNumber actorModule)
{
    const auto& mapping = properties.GetActorModuleMapping();
    const auto element = std::find_if(mapping.begin(), mapping.end(), [&actorModule](const auto& info) {
        return info.GetActorModuleNumber() == actorModule;
    });
    if (element == mapping.end()) {
        ORU_LOG_DEBUG("Skipping unknown actor module number: " << actorModule);
        return;
    }
    const std::size_t position = static_cast<std::size_t>(element - mapping.begin()) + 1;
    const auto slot = ActorModuleSlot::CreateFrom(position);
    if (!slot) {
        ORU_LOG_ERROR("Invalid actor module slot: " << position);
        return;
    }
    if (properties.UpdateSetpointPowerLevel(*slot, powerLevelControl.powerLevel, powerLevelControl.percentage) ==
        ValueChangeState::Changed) {
        _eventHandler.OnRoomPowerLevelControlStatus(properties.GetBaseStationNumber(), *slot, powerLevelControl);
    }
}

void BaseStationManager::OnRoomTemperatureStatus(BaseStationProperties& properties,
                                                 const KeldraJson::ThermostatObject& thermostat)
{
    const auto& mapping = properties.GetRoomThermostatMapping();
    const auto element = std::find_if(mapping.begin(), mapping.end(), [&thermostat](const auto& info) {
        return info && info->GetID().Get().Get() == thermostat.id;
    });
    if (element == mapping.end()) {
        ORU_LOG_DEBUG("Skipping unknown room thermostat ID: " << PrintableText(thermostat.id));
        return;
    }
    const std::size_t position = static_cast<std::size_t>(element - mapping.begin()) + 1;
    const auto number = RoomThermostat::CreateFrom(position);
    if (!number) {
        ORU_LOG_ERROR("Invalid room thermostat number: " << position);
        return;
    }
    if (thermostat.minimumTemperature && thermostat.maximumTemperature) {
        properties.UpdateAllowedTemperatureRange(*number, *thermostat.minimumTemperature,
                                                 *thermostat.maximumTemperature);
    }
    _eventHandler.OnRoomTemperatureControlStatus(properties.GetBaseStationNumber(), *number, thermostat);
}

void BaseStationManager::OnLeavingHomeStatus(const KeldraJson::LeavingHomeObject& leavingHome)
{
    _leavingHomeActive.store(leavingHome.active);
    _eventHandler.OnLeavingHomeStatus(leavingHome);
}

void BaseStationManager::OnErrorStatus(const BaseStationProperties& properties, const KeldraErrorState& errorState)
{
    const bool anyStationHasError =
        errorState.hasError || std::any_of(_baseStations.begin(), _baseStations.end(),
                                           [](const auto& station) { return station->HasError(); });
    _eventHandler.OnErrorStatus(properties.GetBaseStationNumber(), errorState, anyStationHasError);
}

void BaseStationManager::OnCoolingModeStatus(const BaseStationProperties& /*properties*/,
                                             const KeldraJson::SettingsObject& settings)
{
    _eventHandler.OnCoolingModeStatus(settings);
}

// ---------------------------------------------------------------------------
// Write commands

bool BaseStationManager::DisableLeavingHomeIfActive()
{
    if (!_leavingHomeActive.load()) {
        return false;
    }
    ORU_LOG_INFO("Auto-disabling leaving home mode");
    SetLeavingHome(false, boost::none);
    return true;
}

BaseStation& BaseStationManager::StationAt(std::size_t station) const
{
    // The registry is complete before Run; from then on it is only read.
    return *_baseStations.at(station);
}

void BaseStationManager::DispatchToStation(const BaseStation& station, StationWork work)
{
    // Deliberate: the station's part of a write runs on the worker thread, which owns it.
    boost::asio::dispatch(_ioService, [target = station.GetWeakHandle(), work]() {
        if (auto* const self = target.Get()) {
            work(*self);
        }
    });
}

OnErrorCallbackHandler BaseStationManager::WriteCompletion(Oru::function<void(BaseStationNumber)> logDone) const
{
    return [manager = _selfHandle.GetWeak(), ioService = &_ioService, logDone](
               BaseStationNumber number, boost::optional<BaseStationState> state) {
        boost::asio::post(*ioService, [manager, logDone, number, state]() {
            auto* const self = manager.Get();
            if (!self) {
                return;
            }
            if (state) {
                self->OnBaseStationStateResult(number, *state);
            }
            logDone(number);
        });
    };
}

void BaseStationManager::SetPowerLevelValue(std::size_t station, std::size_t actorModule,
                                            const boost::optional<PowerLevel>& level)
{
    DisableLeavingHomeIfActive();
    if (!level) {
        _errorHandler->HandleGeneralError(ErrorCodesGeneral::OutOfRangeValue);
        return;
    }
    // Kept on purpose: the stream stays hexadecimal for the station and slot.
    ORU_LOG_INFO("Set power level setpoint to '" << std::hex << std::setw(2) << std::setfill('0')
                                                 << static_cast<unsigned>(level->Value()) << "' (" << station << "/"
                                                 << actorModule << ")");
    auto& target = StationAt(station);
    if (actorModule >= target.GetActorModuleCount()) {
        throw std::out_of_range("actor module index beyond the base station's configuration");
    }
    DispatchToStation(target, [actorModule, level = *level,
                               callback = WriteCompletion([station, actorModule](BaseStationNumber) {
                                   ORU_LOG_INFO("   # set power level (" << station << "/" << actorModule
                                                                         << ") done");
                               })](BaseStation& baseStation) {
        baseStation.SetPowerLevelValue(actorModule, level, callback);
    });
}

void BaseStationManager::SetPowerLevelPercent(std::size_t station, std::size_t actorModule,
                                              const KnxBytePercent& percent)
{
    DisableLeavingHomeIfActive();
    // Kept on purpose: the stream stays hexadecimal for the station and slot.
    ORU_LOG_INFO("Set power level percent setpoint to '" << std::hex << std::setw(2) << std::setfill('0')
                                                         << static_cast<unsigned>(percent.Value()) << "' (" << station
                                                         << "/" << actorModule << ")");
    auto& target = StationAt(station);
    if (actorModule >= target.GetActorModuleCount()) {
        throw std::out_of_range("actor module index beyond the base station's configuration");
    }
    DispatchToStation(target, [actorModule, percent,
                               callback = WriteCompletion([station, actorModule](BaseStationNumber) {
                                   ORU_LOG_INFO("   # set power level percent (" << station << "/" << actorModule
                                                                                 << ") done");
                               })](BaseStation& baseStation) {
        baseStation.SetPowerLevelPercent(actorModule, percent, callback);
    });
}

void BaseStationManager::SetPowerLevelUpDown(std::size_t station, std::size_t actorModule, bool up)
{
    const bool fromCurrent = DisableLeavingHomeIfActive();
    ORU_LOG_INFO("Set power level step '" << (up ? "up" : "down") << "' (" << station << "/" << actorModule << ")");
    auto& target = StationAt(station);
    if (actorModule >= target.GetActorModuleCount()) {
        throw std::out_of_range("actor module index beyond the base station's configuration");
    }
    DispatchToStation(target, [actorModule, up, fromCurrent,
                               callback = WriteCompletion([station, actorModule](BaseStationNumber) {
                                   ORU_LOG_INFO("   # set power level step (" << station << "/" << actorModule
                                                                              << ") done");
                               })](BaseStation& baseStation) {
        baseStation.SetPowerLevelUpDown(actorModule, up, fromCurrent, callback);
    });
}

void BaseStationManager::SetSetpointTemperature(std::size_t station, std::size_t thermostat,
                                                const boost::optional<HalfDegreeTemperature>& temperature)
{
    DisableLeavingHomeIfActive();
    if (!temperature) {
        _errorHandler->HandleGeneralError(ErrorCodesGeneral::OutOfRangeValue);
        return;
    }
    ORU_LOG_INFO("Set temperature setpoint to '" << temperature->Value() * 0.5 << "' (" << station << "/"
                                                 << thermostat << ")");
    auto& target = StationAt(station);
    if (thermostat >= target.GetRoomThermostatCount()) {
        throw std::out_of_range("room thermostat index beyond the base station's configuration");
    }
    DispatchToStation(target, [thermostat, temperature = *temperature,
                               callback = WriteCompletion([station, thermostat](BaseStationNumber) {
                                   ORU_LOG_INFO("   # set temperature (" << station << "/" << thermostat << ") done");
                               })](BaseStation& baseStation) {
        baseStation.SetSetpointTemperature(thermostat, temperature, callback);
    });
}

void BaseStationManager::SetLeavingHome(bool active, const boost::optional<boost::posix_time::ptime>& arrival)
{
    ORU_LOG_INFO("Set leaving home to '" << OnOff(active) << "'");
    if (arrival) {
        ORU_LOG_INFO("   # arrival time: " << boost::posix_time::to_simple_string(*arrival));
    }
    const auto callback = WriteCompletion([](BaseStationNumber number) {
        ORU_LOG_INFO("   # leaving home set: base station " << number << " done");
    });
    for (const auto& station : _baseStations) {
        DispatchToStation(*station, [active, arrival, callback](BaseStation& baseStation) {
            baseStation.SetLeavingHome(active, arrival, callback);
        });
    }
}

void BaseStationManager::SetCoolingMode(bool cooling)
{
    ORU_LOG_INFO("Set cooling mode to '" << OnOff(cooling) << "'");
    const auto callback = WriteCompletion([](BaseStationNumber number) {
        ORU_LOG_INFO("   # cooling mode set : base station " << number << " done");
    });
    for (const auto& station : _baseStations) {
        DispatchToStation(*station, [cooling, callback](BaseStation& baseStation) {
            baseStation.SetCoolingMode(cooling, callback);
        });
    }
}

}  // namespace Keldra
