// The ETS application parameters the host serves to the plug-in, read from
// a text file (format: docs/ets-parameters.md):
//   text 1 = 0123456789ABCDEFGHIJ
//   number 1 = 3
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <string>
#include <vector>

namespace Oru {

struct EtsParameters {
    std::map<int, std::string> texts;
    std::map<int, std::int32_t> numbers;
};

struct EtsParameterFile {
    EtsParameters parameters;
    // "line 4: ..." for every line that could not be read; the parameters
    // hold the good lines.
    std::vector<std::string> errors;
};

EtsParameterFile ParseEtsParameters(std::istream& input);

}  // namespace Oru
