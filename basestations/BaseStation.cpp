#include "basestations/BaseStation.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>
#include <tuple>
#include <utility>

#include <boost/asio/error.hpp>
#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/system/error_code.hpp>

#include "platform/host/OruLogging.h"
#include "basestations/BaseStationRequestError.h"
#include "basestations/KeldraWebApi.h"
#include "basestations/PrintableText.h"
#include "support/Format.h"

namespace Keldra {
namespace {

constexpr unsigned short WebApiPort = 443;

struct StationError {
    int code;
    std::uint16_t mask;
    const char* text;
};

// Bit i of the bitfield is entry i.
constexpr StationError StationErrors[] = {
    {-3, 0x001, "-3:MissingThs"},   {-4, 0x002, "-4:ErrActorBus"},  {-5, 0x004, "-5:ErrSupply"},
    {-6, 0x008, "-6:ErrReturn"},    {-7, 0x010, "-7:NoMoreTherm"},  {-9, 0x020, "-9:BackupBatt"},
    {-21, 0x040, "-21:ConnThermo"}, {-22, 0x080, "-22:ThermoBatt"}, {-24, 0x100, "-24:WeakConnTh"},
};

std::string AddressText(const std::shared_ptr<ServiceInfo>& serviceInfo)
{
    if (!serviceInfo) {
        return "-";
    }
    return boost::asio::ip::address_v4(serviceInfo->address).to_string();
}

// The state a failed status request ends in; the first matching row wins.
BaseStationState StateOfStatusError(const boost::system::error_code& error)
{
    using boost::system::errc::make_error_code;
    namespace errc = boost::system::errc;
    const auto& system = boost::system::system_category();
    if (error == make_error_code(errc::bad_message) ||
        error == make_error_code(BaseStationRequestError::UnusableMessage)) {
        return BaseStationState::BadResponse;
    }
    if (error == boost::system::error_code(errc::operation_canceled, system) ||
        error == boost::system::error_code(errc::connection_reset, system) ||
        error == boost::system::error_code(errc::connection_refused, system)) {
        return BaseStationState::CommunicationFailed;
    }
    if (error == boost::system::error_code(errc::host_unreachable, system)) {
        return BaseStationState::Missing;
    }
    // Deliberate: a truncated TLS stream is a communication failure.
    // The transport reports a TLS stream that ends without close_notify as
    // stream_truncated; older TLS libraries call it "short read".
    if ((error.category() == boost::asio::error::get_ssl_category() && error.message() == "short read") ||
        error == boost::asio::ssl::error::stream_truncated) {
        return BaseStationState::CommunicationFailed;
    }
    if (error == make_error_code(BaseStationRequestError::CredentialsRefused)) {
        return BaseStationState::CredentialsRejected;
    }
    // Deliberate: another key is as unreachable as a station that refuses the connection.
    if (error == make_error_code(BaseStationRequestError::StationKeyMismatch)) {
        return BaseStationState::CommunicationFailed;
    }
    return BaseStationState::UnexpectedFailure;
}

// A thermostat ID from a status as the mapping holds IDs: exactly 8 bytes
// of valid UTF-8.
boost::optional<RoomThermostatIDString> ThermostatId(const std::string& id)
{
    if (id.size() != RoomThermostatIDString::MaxLength) {
        return boost::none;
    }
    auto text = Oru::UTF8String::Create(id);
    if (!text) {
        return boost::none;
    }
    return RoomThermostatIDString::Create(std::move(*text));
}

}  // namespace

BaseStation::BaseStation(boost::asio::io_service& ioService, BaseStationProperties properties,
                         TimerFactory timerFactory, IBaseStationStatusHandler& statusHandler,
                         IKeldraConfigurationManager& configManager, OnErrorCallbackHandler callback)
    : _ioService(ioService),
      _properties(std::move(properties)),
      _pollingHandler(timerFactory),
      _statusHandler(statusHandler),
      _configManager(configManager),
      _timerFactory(std::move(timerFactory)),
      _number(_properties.GetBaseStationNumber()),
      _id(_properties.GetBaseStationID()),
      _roomThermostatCount(_properties.GetRoomThermostatMapping().size()),
      _actorModuleCount(_properties.GetActorModuleMapping().size()),
      _selfHandle(this)
{
    RegisterPollingRequests(std::move(callback));
}

BaseStation::~BaseStation()
{
    // Answers that arrive from now on find the station gone.
    _selfHandle.Expire();
}

BaseStation::ServiceInfoUpdate BaseStation::UpdateServiceInfo(std::shared_ptr<ServiceInfo> serviceInfo)
{
    if (!serviceInfo) {
        return ServiceInfoUpdate::Null;
    }
    if (_serviceInfo && *_serviceInfo == *serviceInfo) {
        return ServiceInfoUpdate::Unchanged;
    }
    const bool hadServiceInfo = static_cast<bool>(_serviceInfo);
    _serviceInfo = std::move(serviceInfo);
    return hadServiceInfo ? ServiceInfoUpdate::Changed : ServiceInfoUpdate::First;
}

void BaseStation::UpdateWebApi(const WebApiFactory& factory)
{
    if (!_serviceInfo) {
        ORU_LOG_ERROR("Failed to create web API interface for base station " << _id << ": no device information");
        return;
    }
    // The station's web API always listens on 443, whatever port the
    // announcement names.
    const boost::asio::ip::tcp::endpoint endpoint(boost::asio::ip::address_v4(_serviceInfo->address), WebApiPort);
    BaseStationWebParameters parameters(
        endpoint, _configManager.GetCredentials(static_cast<unsigned char>(_number.ToDifference().Value())),
        _configManager.GetTrustedStationKey(StationId()));
    auto webApi = factory(_ioService, std::move(parameters));
    if (webApi.HasError()) {
        ORU_LOG_ERROR("Failed to create web API interface for base station "
                      << _id << ": " << Oru::LogEntryFormatter(webApi.GetError()));
        return;
    }
    // Writes still on their way to the old object are not sent.
    CancelWrites();
    _webApi = std::move(webApi.GetValue());
    _unansweredPolls = 0;
}

void BaseStation::UpdateCredentials(IKeldraWebApi& webApi) const
{
    const auto wanted =
        _configManager.GetCredentials(static_cast<unsigned char>(_number.ToDifference().Value()));
    if (wanted == webApi.GetCredentials()) {
        return;
    }
    ORU_LOG_INFO("Update Credentials (" << _number << ")");
    webApi.SetCredentials(wanted);
}

void BaseStation::UpdateTrustedStationKey(IKeldraWebApi& webApi) const
{
    if (const auto trusted = _configManager.GetTrustedStationKey(StationId())) {
        webApi.TrustStationKey(*trusted);
    }
}

void BaseStation::NoteStationKey(const IKeldraWebApi& webApi, const boost::system::error_code& error) const
{
    const auto& presented = webApi.GetPresentedStationKey();
    if (!presented) {
        return;
    }
    if (error != make_error_code(BaseStationRequestError::StationKeyMismatch)) {
        _configManager.RememberStationKey(StationId(), *presented);
        return;
    }
    const auto trusted = _configManager.GetTrustedStationKey(StationId());
    ORU_LOG_ERROR("Base station " << _id << " presented another key; nothing was sent to it. Trusted key: "
                                  << (trusted ? *trusted : std::string("(none)")) << ", presented key: "
                                  << (presented->empty() ? std::string("(none)") : *presented));
    if (!presented->empty()) {
        _configManager.RecordPresentedStationKey(StationId(), *presented);
    }
}

void BaseStation::CheckFirmwareVersion(FirmwareCheckResultHandler handler)
{
    if (!_webApi) {
        ResetMappings();
        handler(true);
        return;
    }
    UpdateCredentials(*_webApi);
    UpdateTrustedStationKey(*_webApi);
    _webApi->GetShortInfo(
        [station = GetWeakHandle(), handler, webApi = _webApi,
         serviceInfo = _serviceInfo](Oru::SystemResult<KeldraJson::BaseStationShortInfoMessage> result) {
            auto* const self = station.Get();
            if (!self) {
                return;
            }
            self->NoteStationKey(*webApi, result.GetError());
            self->OnFirmwareResponse(result, handler, serviceInfo);
        },
        nullptr);
}

void BaseStation::OnFirmwareResponse(const Oru::SystemResult<KeldraJson::BaseStationShortInfoMessage>& result,
                                     const FirmwareCheckResultHandler& handler,
                                     const std::shared_ptr<ServiceInfo>& serviceInfo)
{
    if (result.HasError()) {
        ResetMappings();
        ORU_LOG_ERROR("Failed to get short information (" << _id << "/" << AddressText(serviceInfo)
                                                           << "): " << Oru::LogEntryFormatter(result.GetError()));
        handler(result.GetError());
        return;
    }
    const auto& version = result.GetValue().firmwareVersion;
    if (!version) {
        ORU_LOG_ERROR("Cannot determine firmware version (" << _id << "/" << AddressText(serviceInfo) << ")");
        handler(make_error_code(BaseStationRequestError::FirmwareVersionUnknown));
        return;
    }
    if (!KeldraWebApi::CheckMinimalVersion(*version)) {
        ORU_LOG_ERROR("Minimal version requirement not met (" << _id << "/" << AddressText(serviceInfo)
                                                               << "): " << PrintableText(*version));
        handler(false);
        return;
    }
    handler(true);
}

bool BaseStation::ResetDeviceInfo()
{
    if (!_serviceInfo && !_webApi) {
        return false;
    }
    _serviceInfo.reset();
    _webApi.reset();
    CancelWrites();
    // The station's error on the bus says why they are not sent.
    auto parked = std::move(_parkedWrites);
    _parkedWrites.clear();
    for (const auto& entry : parked) {
        entry.second.callback(_number, boost::none);
    }
    UnSetSystemMaster();
    return true;
}

void BaseStation::SetSystemMaster()
{
    if (!_isSystemMaster.exchange(true)) {
        ORU_LOG_INFO("Set system master: " << _id);
    }
}

void BaseStation::UnSetSystemMaster()
{
    if (_isSystemMaster.exchange(false)) {
        ORU_LOG_INFO("Unset system master: " << _id);
    }
}

void BaseStation::StartStatusPolling() { _pollingHandler.Start(); }

void BaseStation::StopStatusPolling() { _pollingHandler.Stop(); }

void BaseStation::ResetMappings()
{
    _properties.ResetRoomThermostatMappings();
    _properties.ResetActorModuleMappings();
}

// ---------------------------------------------------------------------------
// Status polling and configuration update

void BaseStation::RegisterPollingRequests(OnErrorCallbackHandler callback)
{
    // The polling handler belongs to this station and calls only while both
    // are alive.
    _pollingHandler.RegisterPollingFunctionStatus(
        [this, callback](CancellationToken& token) { GetStatus(token, callback); });
}

void BaseStation::GetStatus(CancellationToken& token, OnErrorCallbackHandler callback)
{
    if (!_webApi) {
        ResetMappings();
        callback(_number, BaseStationState::Missing);
        return;
    }
    UpdateCredentials(*_webApi);
    UpdateTrustedStationKey(*_webApi);
    _webApi->GetStatus(
        [station = GetWeakHandle(), callback, webApi = _webApi,
         serviceInfo = _serviceInfo](Oru::SystemResult<KeldraJson::StatusObject> result) {
            auto* const self = station.Get();
            if (!self) {
                return;
            }
            self->NoteStationKey(*webApi, result.GetError());
            self->OnStatusResponse(result, callback, serviceInfo, webApi);
        },
        token);
}

void BaseStation::OnStatusResponse(const Oru::SystemResult<KeldraJson::StatusObject>& result,
                                   const OnErrorCallbackHandler& callback,
                                   const std::shared_ptr<ServiceInfo>& serviceInfo,
                                   const std::shared_ptr<IKeldraWebApi>& webApi)
{
    if (webApi != _webApi) {
        // The answer of a replaced or dropped web API object.
        return;
    }
    if (result.HasValue()) {
        OnStatus(result.GetValue(), callback);
        return;
    }
    const auto error = result.GetError();
    ORU_LOG_ERROR("Failed to get status (" << _id << "/" << AddressText(serviceInfo)
                                           << "): " << Oru::LogEntryFormatter(error));
    // Deliberate: polls that go unanswered again and again are a
    // communication failure, not a general error that comes and goes.
    const bool unanswered = error == CancellationToken::CancelledError() || error == boost::asio::error::timed_out;
    _unansweredPolls = unanswered ? _unansweredPolls + 1 : 0;
    if (_unansweredPolls >= UnansweredPollsOfAnUnreachableStation) {
        ORU_LOG_ERROR("No answer to " << _unansweredPolls << " polls in a row (" << _id << "/"
                                      << AddressText(serviceInfo) << ")");
        _unansweredPolls = 0;
        ResetMappings();
        callback(_number, BaseStationState::CommunicationFailed);
        return;
    }
    if (error == CancellationToken::CancelledError()) {
        // Abandoned for the next poll: nothing to report.
        return;
    }
    ResetMappings();
    callback(_number, StateOfStatusError(error));
}

void BaseStation::OnStatus(const KeldraJson::StatusObject& status, const OnErrorCallbackHandler& callback)
{
    ORU_LOG_DEBUG("@" << _id << ": Received status");
    _unansweredPolls = 0;
    if (!status.system.serialNumber || !status.system.stationName) {
        ORU_LOG_WARN("Expect base station " << _number << " (" << _id << ") to break soon...");
    }
    switch (status.responseCode) {
    case 405:
        ORU_LOG_FATAL("Status request uses wrong method! Abort.");
        callback(_number, BaseStationState::Fatal);
        return;
    case 500:
        ORU_LOG_WARN("Received 'Invalid Token' while request does not require one. Try to continue...");
        break;
    case 510:
        ORU_LOG_WARN("Received 'Missing Parameter' while request does not require one. Try to continue...");
        break;
    case 511:
        ORU_LOG_WARN("Received 'Value Out-Of-Range' while request does not provide a value. Try to continue...");
        break;
    default:
        break;
    }

    callback(_number, UpdateConfiguration(status));
    // Deliberate: writes that waited for their room index go out
    // now (or end, when the status does not name their room either).
    auto parked = std::move(_parkedWrites);
    _parkedWrites.clear();
    _sendingParkedWrites = true;
    for (const auto& entry : parked) {
        entry.second.write(*this);
    }
    _sendingParkedWrites = false;

    const bool isSystemMaster = _isSystemMaster.load();
    _statusHandler.OnSystemStatus(_properties, status.system, isSystemMaster);
    if (isSystemMaster) {
        _statusHandler.OnLeavingHomeStatus(status.leavingHome);
    }
    _statusHandler.OnErrorStatus(_properties, UpdateBaseStationErrorState(status.errors));

    for (const auto& room : status.rooms) {
        if (room.powerLevelControl) {
            if (room.actors.size() != 1) {
                continue;
            }
            const int number = room.actors.front().actorModuleNumber;
            const auto actorModule = ActorModuleNumber::CreateFrom(number);
            if (!actorModule) {
                ORU_LOG_ERROR("Invalid actor module number: " << number);
                continue;
            }
            _statusHandler.OnPowerLevelControlStatus(_properties, *room.powerLevelControl, *actorModule);
        } else if (room.thermostat) {
            _statusHandler.OnRoomTemperatureStatus(_properties, *room.thermostat);
        }
    }
    callback(_number, boost::none);
}

BaseStationState BaseStation::UpdateConfiguration(const KeldraJson::StatusObject& status)
{
    const std::string name = status.system.stationName ? PrintableText(*status.system.stationName) : "???";
    ORU_LOG_DEBUG("Received config of base station " << _id << " (" << name << ")");

    const std::size_t count = status.rooms.size();
    if (!Room::CreateFrom(count)) {
        ORU_LOG_ERROR("Invalid number of rooms received: " << count);
        ResetMappings();
        return BaseStationState::BadResponse;
    }
    const Room configured = _properties.GetNumberRooms();
    if (configured.Value() > count) {
        ORU_LOG_WARN("More rooms (" << configured << ") configured in ETS than currently found (" << count
                                    << ") at base station (" << _id << "/" << name << ")");
    }

    for (std::size_t index = 0; index < count; ++index) {
        const auto& entry = status.rooms[index];
        const Room room = *Room::CreateFrom(index + 1);
        if (entry.thermostat) {
            // A room with a thermostat is never power-level controlled.
            if (const auto id = ThermostatId(entry.thermostat->id)) {
                _properties.UpdateThermostatIdMapping(*id, room);
            } else {
                ORU_LOG_WARN("Skipping invalid room thermostat ID: " << PrintableText(entry.thermostat->id) << " ("
                                                                     << _id << "/" << name << ")");
            }
        } else if (entry.powerLevelControl) {
            if (entry.actors.size() != 1) {
                ORU_LOG_ERROR(
                    "Skipping invalid actor configuration. Only one actor allowed when using power level control "
                    "but got "
                    << entry.actors.size() << " (" << _id << "/" << name << ")");
                continue;
            }
            const int number = entry.actors.front().actorModuleNumber;
            const auto actorModule = ActorModuleNumber::CreateFrom(number);
            if (!actorModule) {
                ORU_LOG_ERROR("Skipping invalid actor module ID: " << number << " (" << _id << "/" << name << ")");
                continue;
            }
            _properties.UpdateActorModuleIdMapping(*actorModule, room);
        } else {
            ORU_LOG_WARN("Invalid room configuration (ID " << room
                                                           << "): No room thermostat or power level control found "
                                                              "for room: "
                                                           << entry.roomNumber << " (" << name << ")");
        }
    }
    return _properties.CheckConfigState();
}

// ---------------------------------------------------------------------------
// Device error bits

boost::optional<std::uint16_t> BaseStation::ErrorToBitfield(int code)
{
    for (const auto& error : StationErrors) {
        if (error.code == code) {
            return error.mask;
        }
    }
    return boost::none;
}

std::uint16_t BaseStation::ConvertToBitfield(const std::vector<KeldraJson::ErrorObject>& errors)
{
    std::uint16_t bits = 0;
    for (const auto& error : errors) {
        bits = static_cast<std::uint16_t>(bits | ErrorToBitfield(error.code).value_or(0));
    }
    return bits;
}

KeldraErrorState BaseStation::UpdateBaseStationErrorState(const std::vector<KeldraJson::ErrorObject>& errors)
{
    const std::uint16_t now = ConvertToBitfield(errors);
    KeldraErrorState state;
    state.hasError = now != 0;
    state.newErrors = static_cast<std::uint16_t>(now & ~_errorBitfield);
    _errorBitfield = now;
    return state;
}

std::vector<std::string> BaseStation::ErrorBitfieldToErrorStrings(std::uint16_t bits)
{
    std::vector<std::string> texts;
    for (const auto& error : StationErrors) {
        if ((bits & error.mask) != 0) {
            texts.emplace_back(error.text);
        }
    }
    return texts;
}

// ---------------------------------------------------------------------------
// Writes

bool BaseStation::ReportMissingWebApi(const OnErrorCallbackHandler& callback)
{
    if (_webApi) {
        return false;
    }
    ResetMappings();
    callback(_number, BaseStationState::Missing);
    return true;
}

void BaseStation::SendWrite(const WriteKey& key, const WebApiWrite& send, const OnErrorCallbackHandler& callback,
                            PublishAccepted publish, AnswerHook onAnswer)
{
    UpdateCredentials(*_webApi);
    auto& token = _writeTokens[key];
    token.Cancel();
    send(*_webApi,
         [station = GetWeakHandle(), callback, publish, onAnswer,
          webApi = _webApi](Oru::SystemResult<WriteResponseStatus> result) {
             auto* const self = station.Get();
             if (!self) {
                 return;
             }
             if (result.HasError() && result.GetError() == CancellationToken::CancelledError()) {
                 self->OnWriteCancelled(webApi, callback);
                 return;
             }
             if (onAnswer) {
                 onAnswer(*self);
             }
             self->OnWriteResponse(result, callback, publish);
         },
         &token);
}

void BaseStation::CancelWrites()
{
    for (auto& entry : _writeTokens) {
        entry.second.Cancel();
    }
}

// Deliberate: a write withdrawn for a newer one of the same value
// ends quietly; one whose web API object was replaced or dropped is not
// sent, and the bus says so.
void BaseStation::OnWriteCancelled(const std::shared_ptr<IKeldraWebApi>& webApi,
                                   const OnErrorCallbackHandler& callback)
{
    if (webApi == _webApi) {
        ORU_LOG_DEBUG("@" << _id << ": Write replaced by a newer one");
        callback(_number, boost::none);
        return;
    }
    ORU_LOG_ERROR("@" << _id << ": Write not sent, the connection to the base station was replaced");
    callback(_number, BaseStationState::UnexpectedFailure);
}

bool BaseStation::ParkUntilNextStatus(const WriteKey& key, ParkedWrite parked)
{
    if (_sendingParkedWrites) {
        return false;
    }
    auto& slot = _parkedWrites[key];
    if (slot.callback) {
        slot.callback(_number, boost::none);
    }
    slot = std::move(parked);
    return true;
}

void BaseStation::OnWriteResponse(const Oru::SystemResult<WriteResponseStatus>& result,
                                  const OnErrorCallbackHandler& callback, const PublishAccepted& publish)
{
    if (result.HasError()) {
        const auto error = result.GetError();
        if (error == make_error_code(BaseStationRequestError::CredentialsRefused)) {
            callback(_number, BaseStationState::CredentialsRejected);
            return;
        }
        // Deliberate: a value the web API cannot put into a request never reached the station.
        if (error == make_error_code(BaseStationRequestError::InvalidRequestValue)) {
            ORU_LOG_ERROR("@" << _id << ": Write refused before sending: " << Oru::LogEntryFormatter(error));
            callback(_number, BaseStationState::ValueOutOfRange);
            return;
        }
        ORU_LOG_DEBUG("Communication error: " << Oru::LogEntryFormatter(error));
        callback(_number, BaseStationState::CommunicationFailed);
        return;
    }
    switch (static_cast<int>(result.GetValue())) {
    case static_cast<int>(WriteResponseStatus::Accepted):
        publish(*this);
        callback(_number, boost::none);
        return;
    case static_cast<int>(WriteResponseStatus::OutOfRange):
        ORU_LOG_ERROR("@" << _id << ": Received response 'Out-Of-Range'");
        callback(_number, BaseStationState::ValueOutOfRange);
        return;
    case static_cast<int>(WriteResponseStatus::InvalidCookie):
        ORU_LOG_ERROR("@" << _id << ": Received response 'Invalid Cookie'");
        callback(_number, BaseStationState::CommunicationFailed);
        return;
    default:
        // Answers the station does not define are ignored.
        return;
    }
}

void BaseStation::SetSetpointTemperature(std::size_t thermostat, const HalfDegreeTemperature& temperature,
                                         OnErrorCallbackHandler callback)
{
    const auto& element = _properties.GetRoomThermostatMapping().at(thermostat);
    if (!element) {
        ORU_LOG_ERROR("Cannot set temperature setpoint of thermostat " << thermostat + 1
                                                                       << ". Invalid room thermostat id configuration");
        return;
    }
    const auto& minimum = element->GetMinimumTemperature();
    const auto& maximum = element->GetMaximumTemperature();
    if (minimum && maximum && (temperature < *minimum || temperature > *maximum)) {
        ORU_LOG_INFO("SetpointTemperature - Value out of range (" << Oru::Format(*minimum) << ","
                                                                  << Oru::Format(*maximum)
                                                                  << "): " << Oru::Format(temperature));
        callback(_number, BaseStationState::ValueOutOfRange);
        return;
    }
    if (ReportMissingWebApi(callback)) {
        return;
    }
    // Deliberate: without a room index (the station's status
    // not read yet) the write waits for the next status.
    if (!element->GetRoomIndex() &&
        ParkUntilNextStatus({WriteTarget::SetpointOfRoom, static_cast<unsigned>(thermostat)},
                            {[thermostat, temperature, callback](BaseStation& station) {
                                 station.SetSetpointTemperature(thermostat, temperature, callback);
                             },
                             callback})) {
        return;
    }
    if (!element->GetRoomIndex()) {
        ORU_LOG_ERROR("Cannot set temperature setpoint of thermostat " << thermostat + 1 << " (" << element->GetID()
                                                                       << "). Missing mapping to room index");
        callback(_number, boost::none);
        return;
    }
    const Room room = *element->GetRoomIndex();
    const double degrees = temperature.Value() * 0.5;

    KeldraJson::ThermostatObject written;
    written.id = element->GetID().Get().Get();
    written.setpointTemperature = degrees;
    const auto token = _optimisticWriteValues.SetThermostatSetpointValue(room, std::move(written));
    SendWrite(
        {WriteTarget::SetpointOfRoom, room.Value()},
        [room, degrees](auto& webApi, auto handler, auto withdrawal) {
            webApi.SetSetpointTemperature(room, degrees, std::move(handler), withdrawal);
        },
        callback,
        [room, token](BaseStation& station) {
            if (!token) {
                return;
            }
            if (const auto value = station._optimisticWriteValues.GetThermostatSetpointValue(room, *token)) {
                station._statusHandler.OnRoomTemperatureStatus(station._properties, *value);
            }
        });
}

void BaseStation::SetPowerLevelValue(std::size_t actorModule, const PowerLevel& level, OnErrorCallbackHandler callback)
{
    WritePowerLevel(actorModule, level, boost::none, callback);
}

void BaseStation::SetPowerLevelPercent(std::size_t actorModule, const KnxBytePercent& percent,
                                       OnErrorCallbackHandler callback)
{
    // Rounded up: 0 gives 0, 1 to 25 give 1, 255 gives 10.
    const unsigned levelRoundedUp = (percent.Value() * 10u + 254u) / 255u;
    WritePowerLevel(actorModule, *PowerLevel::CreateFrom(levelRoundedUp), percent.Value(), callback);
}

void BaseStation::WritePowerLevel(std::size_t actorModule, PowerLevel level,
                                  boost::optional<std::uint8_t> percentage, const OnErrorCallbackHandler& callback)
{
    if (ReportMissingWebApi(callback)) {
        return;
    }
    const auto& element = _properties.GetActorModuleMapping().at(actorModule);
    if (!element.GetRoomIndex() &&
        ParkUntilNextStatus({WriteTarget::PowerLevelOfRoom, static_cast<unsigned>(actorModule)},
                            {[actorModule, level, percentage, callback](BaseStation& station) {
                                 station.WritePowerLevel(actorModule, level, percentage, callback);
                             },
                             callback})) {
        return;
    }
    if (!element.GetRoomIndex()) {
        ORU_LOG_ERROR("Cannot set power level setpoint of actor module "
                      << actorModule + 1 << " (" << element.GetActorModuleNumber()
                      << "). Missing mapping to room index");
        callback(_number, boost::none);
        return;
    }
    const Room room = *element.GetRoomIndex();
    const ActorModuleNumber actorModuleNumber = element.GetActorModuleNumber();

    const auto combiner = _stepCombiners.find(static_cast<unsigned>(actorModule));
    if (combiner != _stepCombiners.end()) {
        combiner->second.SetPendingOperation(level);
    }

    KeldraJson::PowerLevelControlObject written;
    written.powerLevel = level.Value();
    written.percentage = percentage;
    written.minimumLevel = 0;
    written.maximumLevel = 10;
    const auto token = _optimisticWriteValues.SetPowerLevelValue(room, std::move(written));
    SendWrite(
        {WriteTarget::PowerLevelOfRoom, room.Value()},
        [room, level](auto& webApi, auto handler, auto withdrawal) {
            webApi.SetPowerLevel(room, level, std::move(handler), withdrawal);
        },
        callback,
        [room, token, actorModuleNumber](BaseStation& station) {
            if (!token) {
                return;
            }
            if (const auto value = station._optimisticWriteValues.GetPowerLevelValue(room, *token)) {
                station._statusHandler.OnPowerLevelControlStatus(station._properties, *value, actorModuleNumber);
            }
        },
        // Any answer ends the slot's pending absolute write.
        [key = static_cast<unsigned>(actorModule)](BaseStation& station) {
            const auto slotCombiner = station._stepCombiners.find(key);
            if (slotCombiner != station._stepCombiners.end()) {
                slotCombiner->second.ResetPendingOperations();
            }
        });
}

PowerLevelStepCombiner& BaseStation::StepCombinerOf(std::size_t actorModule, const OnErrorCallbackHandler& callback)
{
    const auto key = static_cast<unsigned>(actorModule);
    const auto existing = _stepCombiners.find(key);
    if (existing != _stepCombiners.end()) {
        return existing->second;
    }
    std::ostringstream name;
    name << "(" << _number << "/" << actorModule << ")";
    // The combiner belongs to this station and calls only while both are
    // alive.
    auto setPowerLevel = [this, actorModule, callback](boost::optional<PowerLevel> level) {
        if (level) {
            SetPowerLevelValue(actorModule, *level, callback);
        } else {
            callback(_number, boost::none);
        }
    };
    auto getCurrentSetpoint = [this, actorModule]() -> boost::optional<PowerLevel> {
        const auto& setpoint = _properties.GetActorModuleMapping()[actorModule].GetSetpointPowerLevel();
        if (!setpoint) {
            return boost::none;
        }
        return PowerLevel::Create(*setpoint);
    };
    auto getMinimumPowerLevel = [this, actorModule]() {
        return _properties.GetActorModuleMapping()[actorModule].GetMinimumPowerLevel();
    };
    const auto inserted = _stepCombiners.emplace(
        std::piecewise_construct, std::forward_as_tuple(key),
        std::forward_as_tuple(name.str(), _timerFactory(), std::move(setPowerLevel), std::move(getCurrentSetpoint),
                              std::move(getMinimumPowerLevel)));
    return inserted.first->second;
}

void BaseStation::SetPowerLevelUpDown(std::size_t actorModule, bool up, bool fromCurrent,
                                      OnErrorCallbackHandler callback)
{
    // The combiner reads this slot of the mapping whenever it fires.
    static_cast<void>(_properties.GetActorModuleMapping().at(actorModule));
    auto& combiner = StepCombinerOf(actorModule, callback);
    if (fromCurrent) {
        combiner.SetPendingOperationFromCurrent();
    }
    if (up) {
        ++combiner;
    } else {
        --combiner;
    }
}

void BaseStation::SetLeavingHome(bool active, const boost::optional<boost::posix_time::ptime>& arrival,
                                 OnErrorCallbackHandler callback)
{
    if (ReportMissingWebApi(callback)) {
        return;
    }
    boost::optional<std::uint32_t> token;
    if (_isSystemMaster.load()) {
        KeldraJson::LeavingHomeObject written;
        written.active = active;
        if (arrival) {
            written.date = KeldraWebApi::GenerateLeavingHomeDateString(arrival->date());
            written.time = KeldraWebApi::GenerateLeavingHomeTimeString(arrival->time_of_day());
        }
        token = _optimisticWriteValues.SetLeavingHomeValue(std::move(written));
    }
    SendWrite(
        {WriteTarget::LeavingHome, 0},
        [active, sent = active ? arrival : boost::none](auto& webApi, auto handler, auto withdrawal) {
            webApi.SetLeavingHome(active, sent, std::move(handler), withdrawal);
        },
        callback,
        [token](BaseStation& station) {
            if (!token || !station._isSystemMaster.load()) {
                return;
            }
            if (const auto value = station._optimisticWriteValues.GetLeavingHomeValue(*token)) {
                station._statusHandler.OnLeavingHomeStatus(*value);
            }
        });
}

void BaseStation::SetCoolingMode(bool cooling, OnErrorCallbackHandler callback)
{
    if (ReportMissingWebApi(callback)) {
        return;
    }
    KeldraJson::SettingsObject written;
    written.coolingMode = cooling;
    const auto token = _optimisticWriteValues.SetCoolingModeValue(std::move(written));
    SendWrite(
        {WriteTarget::CoolingMode, 0},
        [cooling](auto& webApi, auto handler, auto withdrawal) {
            webApi.SetCoolingMode(cooling, std::move(handler), withdrawal);
        },
        callback,
        [token](BaseStation& station) {
            if (const auto value = station._optimisticWriteValues.GetCoolingModeValue(token)) {
                station._statusHandler.OnCoolingModeStatus(station._properties, *value);
            }
        });
}

}  // namespace Keldra
