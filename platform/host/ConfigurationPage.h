// The HTML page of the gateway's configuration for the base station
// credentials, served by ConfigurationPageServer.
#pragma once

#include <string>

namespace Oru {

// Lists the stations (POST /api/getBaseStationConfig) and has a form per
// station that sends user name and Base64 password to
// POST /api/setBaseStationConfig; error codes are shown with an explanation.
const std::string& ConfigurationPageHtml();

}  // namespace Oru
