// The configuration page's sections about trust: each base station's key
// with a button to accept a new one, and the repair of a credentials file
// the plug-in cannot use. Script text run inside the page's own script,
// after its helpers (call, showStatus, load) are defined.
#pragma once

#include <string>

namespace Oru {

// Uses getStationKeys, acceptStationKey, getBaseStationConfigFile and
// resetBaseStationConfig of the product web service.
const std::string& ConfigurationPageSecurityScript();

}  // namespace Oru
