// The installation-wide settings written to a base station: heating or
// cooling.
#pragma once

#include <ostream>

#include <boost/optional.hpp>

#include "Printing.h"

namespace Keldra {
namespace KeldraJson {

struct SettingsObject {
    bool coolingMode = false;                    // true: cooling, false: heating
    boost::optional<bool> automaticChangeover;   // the station switches between heating and cooling by itself; left out of writes when empty

    friend bool operator==(const SettingsObject& a, const SettingsObject& b)
    {
        return a.coolingMode == b.coolingMode && a.automaticChangeover == b.automaticChangeover;
    }
    friend bool operator!=(const SettingsObject& a, const SettingsObject& b) { return !(a == b); }

    friend std::ostream& operator<<(std::ostream& stream, const SettingsObject& settings)
    {
        Printing::FieldWriter(stream, "SettingsObject")
            .Field("coolingMode", settings.coolingMode)
            .Field("automaticChangeover", settings.automaticChangeover);
        return stream;
    }
};

}  // namespace KeldraJson
}  // namespace Keldra
