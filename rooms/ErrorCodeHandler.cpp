#include "ErrorCodeHandler.h"

#include <utility>

#include <boost/system/error_code.hpp>
#include <boost/thread/lock_guard.hpp>

#include "platform/host/OruLogging.h"

namespace Keldra {

namespace {

int Numeric(ErrorCodesBaseStationSpecific code) { return static_cast<int>(code); }
int Numeric(ErrorCodesGeneral code) { return static_cast<int>(code); }

// General codes above this are fatal: logged when reported, never passed on
// as a request to end the process.
constexpr int s_highestNonFatalGeneralCode = 255;

int LedErrorCode(ErrorCodesBaseStationSpecific code)
{
    switch (code) {
    case ErrorCodesBaseStationSpecific::BaseStationMissing:
    case ErrorCodesBaseStationSpecific::CommunicationError:
    case ErrorCodesBaseStationSpecific::InvalidCredentials:
    case ErrorCodesBaseStationSpecific::UnsupportedFirmware:
        return 5;
    case ErrorCodesBaseStationSpecific::RoomThermostatMissing:
    case ErrorCodesBaseStationSpecific::ActorModuleMissing:
        return 3;
    case ErrorCodesBaseStationSpecific::NoError:
        return -1;
    }
    ORU_UNREACHABLE();
}

// The station errors below BaseStationMissing, most significant first.
constexpr ErrorCodesBaseStationSpecific s_errorsByPriority[] = {
    ErrorCodesBaseStationSpecific::CommunicationError,
    ErrorCodesBaseStationSpecific::InvalidCredentials,
    ErrorCodesBaseStationSpecific::UnsupportedFirmware,
    ErrorCodesBaseStationSpecific::RoomThermostatMissing,
    ErrorCodesBaseStationSpecific::ActorModuleMissing,
};

}  // namespace

boost::mutex ErrorHandler::s_mutexErrorHandling;

ErrorHandler::ErrorHandler(TimerFactory timerFactory, IKnxErrorIndication& errorIndication,
                           const BaseStationNumber& baseStationCount)
    : _errorIndication(errorIndication),
      _initialErrorSent(false),
      _baseStationMissingEnabled(false),
      _timer(timerFactory()),
      _errorBitfields(baseStationCount.Value(), GetErrorMask(ErrorCodesBaseStationSpecific::BaseStationMissing)),
      _lastError(ErrorCodesBaseStationSpecific::BaseStationMissing),
      _selfHandle(this)
{
    ORU_ASSERT2(_timer != nullptr);
}

ErrorHandler::~ErrorHandler()
{
    // A grace-period completion that is already queued finds the error
    // handler gone and leaves the destroyed object alone.
    boost::lock_guard<boost::mutex> lock(s_mutexErrorHandling);
    _selfHandle.Expire();
}

void ErrorHandler::SetBaseStationMissing(const BaseStationNumber& baseStation)
{
    DoSetBit(baseStation, ErrorCodesBaseStationSpecific::BaseStationMissing);
}

void ErrorHandler::UnSetBaseStationMissing(const BaseStationNumber& baseStation)
{
    DoUnSetBit(baseStation, ErrorCodesBaseStationSpecific::BaseStationMissing);
}

void ErrorHandler::SetCommunicationError(const BaseStationNumber& baseStation)
{
    DoSetBit(baseStation, ErrorCodesBaseStationSpecific::CommunicationError);
}

void ErrorHandler::UnSetCommunicationError(const BaseStationNumber& baseStation)
{
    DoUnSetBit(baseStation, ErrorCodesBaseStationSpecific::CommunicationError);
}

void ErrorHandler::SetInvalidCredentials(const BaseStationNumber& baseStation)
{
    DoSetBit(baseStation, ErrorCodesBaseStationSpecific::InvalidCredentials);
}

void ErrorHandler::UnSetInvalidCredentials(const BaseStationNumber& baseStation)
{
    DoUnSetBit(baseStation, ErrorCodesBaseStationSpecific::InvalidCredentials);
}

void ErrorHandler::SetUnsupportedFirmware(const BaseStationNumber& baseStation)
{
    DoSetBit(baseStation, ErrorCodesBaseStationSpecific::UnsupportedFirmware);
}

void ErrorHandler::UnSetUnsupportedFirmware(const BaseStationNumber& baseStation)
{
    DoUnSetBit(baseStation, ErrorCodesBaseStationSpecific::UnsupportedFirmware);
}

void ErrorHandler::SetRoomThermostatMissing(const BaseStationNumber& baseStation)
{
    DoSetBit(baseStation, ErrorCodesBaseStationSpecific::RoomThermostatMissing);
}

void ErrorHandler::UnSetRoomThermostatMissing(const BaseStationNumber& baseStation)
{
    DoUnSetBit(baseStation, ErrorCodesBaseStationSpecific::RoomThermostatMissing);
}

void ErrorHandler::SetActorModuleMissing(const BaseStationNumber& baseStation)
{
    DoSetBit(baseStation, ErrorCodesBaseStationSpecific::ActorModuleMissing);
}

void ErrorHandler::UnSetActorModuleMissing(const BaseStationNumber& baseStation)
{
    DoUnSetBit(baseStation, ErrorCodesBaseStationSpecific::ActorModuleMissing);
}

void ErrorHandler::HandleGeneralError(ErrorCodesGeneral code)
{
    if (Numeric(code) > s_highestNonFatalGeneralCode) {
        ORU_LOG_ERROR("Gateway error: " << ErrorCodeToString(code) << " (" << Numeric(code) << ")");
    }
    // Deliberate: a fatal station state reaches the bus, not OnGatewayFatalError.
    // A fatal state of a station is shown like any other general error; it
    // must not end the gateway, which a misbehaving station would otherwise
    // restart at every poll.
    boost::lock_guard<boost::mutex> lock(s_mutexErrorHandling);
    IndicateError(code);
}

KnxErrorString ErrorHandler::ErrorCodeToString(ErrorCode code)
{
    return boost::apply_visitor(ErrorCodeToStringVisitor(), code);
}

int ErrorHandler::GetErrorPosition(ErrorCodesBaseStationSpecific code) const
{
    switch (code) {
    case ErrorCodesBaseStationSpecific::NoError: return 0;
    case ErrorCodesBaseStationSpecific::BaseStationMissing: return 7;
    case ErrorCodesBaseStationSpecific::CommunicationError: return 6;
    case ErrorCodesBaseStationSpecific::InvalidCredentials: return 5;
    case ErrorCodesBaseStationSpecific::UnsupportedFirmware: return 4;
    case ErrorCodesBaseStationSpecific::RoomThermostatMissing: return 3;
    case ErrorCodesBaseStationSpecific::ActorModuleMissing: return 2;
    }
    ORU_UNREACHABLE();
}

ErrorCodesBaseStationSpecific ErrorHandler::GetSignificantBaseStationError() const
{
    boost::lock_guard<boost::mutex> lock(s_mutexErrorHandling);
    return SignificantBaseStationError();
}

std::uint32_t ErrorHandler::GetErrorMask(ErrorCodesBaseStationSpecific code) const
{
    const int position = GetErrorPosition(code);
    ORU_ASSERT2(position > 0);
    return std::uint32_t{1} << (position - 1);
}

void ErrorHandler::DoSetBit(const BaseStationNumber& baseStation, ErrorCodesBaseStationSpecific code)
{
    boost::lock_guard<boost::mutex> lock(s_mutexErrorHandling);
    const std::uint32_t mask = GetErrorMask(code);
    std::uint32_t& bitfield = _errorBitfields.at(baseStation.ToDifference().Value());
    if ((bitfield & mask) != 0) {
        return;
    }
    ORU_LOG_ERROR("Gateway error: " << ErrorCodeToString(code) << " (" << Numeric(code) << ")"
                                    << " on base station " << baseStation);
    bitfield |= mask;
    IndicateError(ErrorCodesGeneral::NoError);
}

void ErrorHandler::DoUnSetBit(const BaseStationNumber& baseStation, ErrorCodesBaseStationSpecific code)
{
    boost::lock_guard<boost::mutex> lock(s_mutexErrorHandling);
    const std::uint32_t mask = GetErrorMask(code);
    std::uint32_t& bitfield = _errorBitfields.at(baseStation.ToDifference().Value());
    if ((bitfield & mask) == 0) {
        return;
    }
    bitfield &= ~mask;
    IndicateError(ErrorCodesGeneral::NoError);
}

ErrorCodesBaseStationSpecific ErrorHandler::SignificantBaseStationError() const
{
    const std::uint32_t missingMask = GetErrorMask(ErrorCodesBaseStationSpecific::BaseStationMissing);
    auto result = ErrorCodesBaseStationSpecific::NoError;
    for (const std::uint32_t bitfield : _errorBitfields) {
        if (_baseStationMissingEnabled && (bitfield & missingMask) != 0) {
            return ErrorCodesBaseStationSpecific::BaseStationMissing;
        }
        for (const auto code : s_errorsByPriority) {
            if ((bitfield & GetErrorMask(code)) != 0) {
                if (result == ErrorCodesBaseStationSpecific::NoError || Numeric(result) > Numeric(code)) {
                    result = code;
                }
                break;
            }
        }
    }
    return result;
}

void ErrorHandler::IndicateError(ErrorCodesGeneral general)
{
    const ErrorCodesBaseStationSpecific significant = SignificantBaseStationError();
    if (significant != ErrorCodesBaseStationSpecific::NoError) {
        if (_lastError == ErrorCode(significant)) {
            return;
        }
        _lastError = significant;
        const KnxErrorString text = ErrorCodeToString(significant);
        ORU_LOG_ERROR("Gateway error: " << text << " (" << Numeric(significant) << ")");
        _errorIndication.OnGatewayLastError(text);
        _errorIndication.OnGatewayHasError(true);
        _errorIndication.OnLedErrorCode(LedErrorCode(significant));
        return;
    }

    if (_lastError == ErrorCode(general)) {
        return;
    }
    _lastError = general;
    switch (general) {
    case ErrorCodesGeneral::NoError:
        if (!_initialErrorSent) {
            _initialErrorSent = true;
            _errorIndication.OnGatewayLastError(ErrorCodeToString(general));
            StartBaseStationMissingGracePeriod();
        }
        _errorIndication.OnGatewayHasError(false);
        _errorIndication.OnLedErrorCode(LedErrorCode(ErrorCodesBaseStationSpecific::NoError));
        return;
    case ErrorCodesGeneral::InvalidResponse:
    case ErrorCodesGeneral::UnsupportedValue:
    case ErrorCodesGeneral::OutOfRangeValue:
    case ErrorCodesGeneral::UnexpectedError:
    case ErrorCodesGeneral::FatalError:
        _errorIndication.OnGatewayLastError(ErrorCodeToString(general));
        _errorIndication.OnGatewayHasError(true);
        return;
    }
    ORU_UNREACHABLE();
}

void ErrorHandler::StartBaseStationMissingGracePeriod()
{
    _timer->expires_from_now(s_baseStationMissingGracePeriod);
    _timer->async_wait([errorHandler = _selfHandle.GetWeak()](boost::system::error_code error) {
        if (error) {
            return;
        }
        boost::lock_guard<boost::mutex> lock(s_mutexErrorHandling);
        if (auto* const self = errorHandler.Get()) {
            self->OnBaseStationMissingGracePeriodExpired();
        }
    });
}

void ErrorHandler::OnBaseStationMissingGracePeriodExpired()
{
    _baseStationMissingEnabled = true;
    IndicateError(ErrorCodesGeneral::NoError);
}

}  // namespace Keldra
