// The error category of the base station web API.
#include "basestations/BaseStationRequestError.h"

#include <string>

namespace Keldra {

namespace {

// Boost's error_category has a non-virtual destructor; categories are never
// destroyed through a base pointer.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class BaseStationRequestErrorCategoryImplementation final : public boost::system::error_category {
public:
    const char* name() const noexcept override { return "keldrawebapi"; }

    std::string message(int value) const override
    {
        switch (static_cast<BaseStationRequestError>(value)) {
        case BaseStationRequestError::UnexpectedHttpStatus:
            return "The base station answered with an unexpected HTTP status";
        case BaseStationRequestError::CredentialsRefused:
            return "The base station refused the credentials";
        case BaseStationRequestError::Timeout:
            return "The base station did not answer in time";
        case BaseStationRequestError::ResponseTooLarge:
            return "The answer of the base station is too large";
        case BaseStationRequestError::InvalidRequestValue:
            return "A value of the request cannot be sent to the base station";
        case BaseStationRequestError::FirmwareVersionUnknown:
            return "The firmware version of the base station cannot be determined";
        case BaseStationRequestError::UnusableMessage:
            return "The answer of the base station is not a usable message";
        case BaseStationRequestError::StationKeyMismatch:
            return "The base station presented another key than the trusted one";
        }
        return "Unknown base station request error " + std::to_string(value);
    }
};
#pragma GCC diagnostic pop

}  // namespace

const boost::system::error_category& BaseStationRequestErrorCategory()
{
    static const BaseStationRequestErrorCategoryImplementation s_category;
    return s_category;
}

}  // namespace Keldra
