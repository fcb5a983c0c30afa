// The power level of a power-level-controlled room as a base station reports
// it in a status, and the level written to it.
#pragma once

#include <cstdint>
#include <ostream>

#include <boost/optional.hpp>

#include "Printing.h"

namespace Keldra {
namespace KeldraJson {

struct PowerLevelControlObject {
    std::uint8_t powerLevel = 0;                 // 0..10 when valid
    boost::optional<std::uint8_t> percentage;    // the same level as a KNX byte percentage, 0..255
    boost::optional<std::uint8_t> minimumLevel;  // lowest level the room may be set to; a write sends 0
    boost::optional<std::uint8_t> maximumLevel;  // highest level the room may be set to; a write sends 10

    friend bool operator==(const PowerLevelControlObject& a, const PowerLevelControlObject& b)
    {
        return a.powerLevel == b.powerLevel && a.percentage == b.percentage && a.minimumLevel == b.minimumLevel &&
               a.maximumLevel == b.maximumLevel;
    }
    friend bool operator!=(const PowerLevelControlObject& a, const PowerLevelControlObject& b) { return !(a == b); }

    friend std::ostream& operator<<(std::ostream& stream, const PowerLevelControlObject& control)
    {
        Printing::FieldWriter(stream, "PowerLevelControlObject")
            .Field("powerLevel", control.powerLevel)
            .Field("percentage", control.percentage)
            .Field("minimumLevel", control.minimumLevel)
            .Field("maximumLevel", control.maximumLevel);
        return stream;
    }
};

}  // namespace KeldraJson
}  // namespace Keldra
