// HTTP Basic authentication as the station checks it: the user name and
// password an Authorization field carries.
#pragma once

#include <optional>
#include <string>

#include "StationState.h"

namespace Keldra {
namespace Simulation {

// The credentials of a field "Basic base64(username:password)"; empty when
// the field is of another scheme or not valid Base64.
std::optional<StationCredentials> ReadBasicAuthorization(const std::string& field);

// Whether a request with this Authorization field (empty: none) may be
// served by a station expecting these credentials (none: anyone may).
bool IsAuthorized(const std::optional<StationCredentials>& expected, const std::string& field);

}  // namespace Simulation
}  // namespace Keldra
