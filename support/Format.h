// Text forms of domain values for log lines and messages.
#pragma once

#include <sstream>
#include <string>

#include "BoundedTypes.h"

namespace Oru {

// A temperature in degrees Celsius as a default-formatted double: 43 gives
// "21.5", 40 gives "20".
inline std::string Format(const Keldra::HalfDegreeTemperature& temperature)
{
    std::ostringstream text;
    text << temperature.Value() * 0.5;
    return text.str();
}

}  // namespace Oru
