// Where the base station management reports errors: the six errors of one
// base station, each raised and cleared on its own, and the general errors of
// the gateway.
#pragma once

#include "ErrorCodes.h"
#include "support/BoundedTypes.h"

namespace Keldra {

class IErrorHandler {
public:
    virtual ~IErrorHandler() = default;
    virtual void SetBaseStationMissing(const BaseStationNumber& baseStation) = 0;
    virtual void UnSetBaseStationMissing(const BaseStationNumber& baseStation) = 0;
    virtual void SetCommunicationError(const BaseStationNumber& baseStation) = 0;
    virtual void UnSetCommunicationError(const BaseStationNumber& baseStation) = 0;
    virtual void SetInvalidCredentials(const BaseStationNumber& baseStation) = 0;
    virtual void UnSetInvalidCredentials(const BaseStationNumber& baseStation) = 0;
    virtual void SetUnsupportedFirmware(const BaseStationNumber& baseStation) = 0;
    virtual void UnSetUnsupportedFirmware(const BaseStationNumber& baseStation) = 0;
    virtual void SetRoomThermostatMissing(const BaseStationNumber& baseStation) = 0;
    virtual void UnSetRoomThermostatMissing(const BaseStationNumber& baseStation) = 0;
    virtual void SetActorModuleMissing(const BaseStationNumber& baseStation) = 0;
    virtual void UnSetActorModuleMissing(const BaseStationNumber& baseStation) = 0;
    virtual void HandleGeneralError(ErrorCodesGeneral code) = 0;
};

}  // namespace Keldra
