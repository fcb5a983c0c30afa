// Temperatures in degrees Celsius to the half degrees the stations and the
// bus exchange.
#pragma once

#include <boost/optional.hpp>

#include "support/BoundedTypes.h"

namespace Keldra {

// Degrees Celsius to half degrees, quarter degrees rounding up: the integer
// part of (degrees + 0.25) * 2. Values whose result lies outside 10..60,
// including NaN and the infinities, give nothing.
inline boost::optional<HalfDegreeTemperature> ToHalfDegrees(double degrees)
{
    const double halfDegrees = (degrees + 0.25) * 2.0;
    // Compare before converting: NaN and values beyond the integers are out of range.
    if (!(halfDegrees >= HalfDegreeTemperature::Min && halfDegrees < HalfDegreeTemperature::Max + 1.0)) {
        return boost::none;
    }
    return HalfDegreeTemperature::Create(static_cast<unsigned char>(halfDegrees));
}

}  // namespace Keldra
