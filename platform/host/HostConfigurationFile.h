// The gateway host's configuration file, /etc/keldra/gateway.conf for the
// service: one setting per line, named as the long command-line option
//   # the plug-in's configuration directory
//   config-dir = /opt/userdata/oruAppConfigRoot/1
//   log-level = info
// Blank lines and lines starting with '#' are ignored.
#pragma once

#include <istream>
#include <string>
#include <vector>

namespace Oru {

struct HostConfigurationFile {
    // "--name=value" for each setting, in file order.
    std::vector<std::string> arguments;
    // "line 4: ..." for each line that could not be read.
    std::vector<std::string> errors;
};

HostConfigurationFile ReadHostConfigurationFile(std::istream& input);

}  // namespace Oru
