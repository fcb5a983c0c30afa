// The errors of the base station web API that are not transport errors (those
// arrive as the system, misc or SSL error codes of Boost.Asio).
//
// Declared here for the plug-in; defined by the web API library in
// platform/webapi/BaseStationRequestError.cpp.
#pragma once

#include <type_traits>

#include <boost/system/error_code.hpp>

namespace Keldra {

enum class BaseStationRequestError : int {
    UnexpectedHttpStatus = 1,    // the station answered with an HTTP status the request does not expect
    CredentialsRefused = 2,      // the station refused the user name or password
    Timeout = 3,                 // the station did not answer in time
    ResponseTooLarge = 4,        // the answer exceeds the size the web API reads
    InvalidRequestValue = 5,     // a value to send cannot be put into a request (e.g. not a finite number)
    // 6..8 are not used.
    FirmwareVersionUnknown = 9,  // the station's firmware version cannot be determined
    UnusableMessage = 10,        // the answer is not a message of the expected shape
    StationKeyMismatch = 11,     // the station presented another key than the trusted one; nothing was sent
};

// The category of these errors, named "keldrawebapi".
const boost::system::error_category& BaseStationRequestErrorCategory();

inline boost::system::error_code make_error_code(BaseStationRequestError error)
{
    return boost::system::error_code(static_cast<int>(error), BaseStationRequestErrorCategory());
}

}  // namespace Keldra

namespace boost {
namespace system {
template <>
struct is_error_code_enum<Keldra::BaseStationRequestError> : std::true_type {};
}  // namespace system
}  // namespace boost
