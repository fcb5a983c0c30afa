#include "HostConfigurationFile.h"

#include "TextFields.h"

namespace Oru {

HostConfigurationFile ReadHostConfigurationFile(std::istream& input)
{
    HostConfigurationFile file;
    int number = 0;
    for (std::string line; std::getline(input, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed.front() == '#') {
            continue;
        }
        const auto equals = trimmed.find('=');
        const std::string name = Trim(trimmed.substr(0, equals));
        if (equals == std::string::npos || name.empty() || name.find_first_of(Blanks) != std::string::npos) {
            file.errors.push_back("line " + std::to_string(number) + ": expected '<option> = <value>'");
            continue;
        }
        file.arguments.push_back("--" + name + "=" + Trim(trimmed.substr(equals + 1)));
    }
    return file;
}

}  // namespace Oru
