// The gateway's error outputs as the error handler drives them: the text of
// the last error, whether any error is present, a fatal error and the LED
// error code. Implemented by the application object.
#pragma once

#include "support/BoundedTypes.h"

namespace Keldra {

class IKnxErrorIndication {
public:
    virtual ~IKnxErrorIndication() = default;
    virtual void OnGatewayLastError(const KnxErrorString& text) = 0;
    virtual void OnGatewayHasError(bool hasError) = 0;
    virtual void OnGatewayFatalError() = 0;
    // -1 for no error, 5 or 3 for an error of a base station.
    virtual void OnLedErrorCode(int code) = 0;
};

}  // namespace Keldra
