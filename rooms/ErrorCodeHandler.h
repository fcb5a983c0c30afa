// The one error handler of the gateway: keeps an error word per base station,
// condenses the words and the general errors into the gateway's error outputs
// and gives stations that are never found 27 seconds before they count.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <boost/chrono/duration.hpp>
#include <boost/thread/mutex.hpp>

#include "ErrorCodes.h"
#include "IErrorHandler.h"
#include "IKnxErrorIndication.h"
#include "support/BoundedTypes.h"
#include "support/Function.h"
#include "support/SelfHandle.h"
#include "support/WaitableTimer.h"

namespace Keldra {

class ErrorHandler final : public IErrorHandler {
public:
    using TimerFactory = Oru::function<std::unique_ptr<Oru::WaitableTimer>()>;

    // How long after the first no-error indication a station that has not
    // been found starts to count as an error.
    static constexpr boost::chrono::seconds s_baseStationMissingGracePeriod{27};

    // baseStationCount is the number of configured stations (1..5).
    ErrorHandler(TimerFactory timerFactory, IKnxErrorIndication& errorIndication,
                 const BaseStationNumber& baseStationCount);
    ~ErrorHandler() override;
    ErrorHandler(const ErrorHandler&) = delete;
    ErrorHandler& operator=(const ErrorHandler&) = delete;

    // A station number beyond the configured count throws std::out_of_range
    // and changes nothing.
    void SetBaseStationMissing(const BaseStationNumber& baseStation) override;
    void UnSetBaseStationMissing(const BaseStationNumber& baseStation) override;
    void SetCommunicationError(const BaseStationNumber& baseStation) override;
    void UnSetCommunicationError(const BaseStationNumber& baseStation) override;
    void SetInvalidCredentials(const BaseStationNumber& baseStation) override;
    void UnSetInvalidCredentials(const BaseStationNumber& baseStation) override;
    void SetUnsupportedFirmware(const BaseStationNumber& baseStation) override;
    void UnSetUnsupportedFirmware(const BaseStationNumber& baseStation) override;
    void SetRoomThermostatMissing(const BaseStationNumber& baseStation) override;
    void UnSetRoomThermostatMissing(const BaseStationNumber& baseStation) override;
    void SetActorModuleMissing(const BaseStationNumber& baseStation) override;
    void UnSetActorModuleMissing(const BaseStationNumber& baseStation) override;
    void HandleGeneralError(ErrorCodesGeneral code) override;

    static KnxErrorString ErrorCodeToString(ErrorCode code);
    // The one-based bit position of a station error in a station's word;
    // 0 for NoError, which has no bit.
    int GetErrorPosition(ErrorCodesBaseStationSpecific code) const;
    // The most significant error of all stations, NoError when there is none.
    ErrorCodesBaseStationSpecific GetSignificantBaseStationError() const;

private:
    // The entry of these is serialised on s_mutexErrorHandling.
    void DoSetBit(const BaseStationNumber& baseStation, ErrorCodesBaseStationSpecific code);
    void DoUnSetBit(const BaseStationNumber& baseStation, ErrorCodesBaseStationSpecific code);
    // The callers hold s_mutexErrorHandling.
    void IndicateError(ErrorCodesGeneral general);
    ErrorCodesBaseStationSpecific SignificantBaseStationError() const;
    std::uint32_t GetErrorMask(ErrorCodesBaseStationSpecific code) const;
    void StartBaseStationMissingGracePeriod();
    void OnBaseStationMissingGracePeriodExpired();

    static boost::mutex s_mutexErrorHandling;

    IKnxErrorIndication& _errorIndication;
    bool _initialErrorSent;
    bool _baseStationMissingEnabled;
    std::unique_ptr<Oru::WaitableTimer> _timer;
    std::vector<std::uint32_t> _errorBitfields;  // index = station number - 1
    ErrorCode _lastError;
    // The grace-period wait may complete after this object is gone; its
    // Weak is read, and the handle expired, under s_mutexErrorHandling.
    Oru::SelfHandle<ErrorHandler> _selfHandle;
};

}  // namespace Keldra
