// The station-wide part of a base station's status: identity, system code,
// the station's clock and heating or cooling.
#pragma once

#include <ostream>
#include <string>

#include <boost/optional.hpp>

#include "Printing.h"

namespace Keldra {
namespace KeldraJson {

struct SystemObject {
    boost::optional<std::string> serialNumber;  // the station's serial number
    boost::optional<std::string> stationName;   // the name the installer gave the station
    boost::optional<std::string> code;          // system code; "0-0" when the system is fine
    std::string date;                           // the station's date, "yy-mm-dd"
    std::string time;                           // the station's time of day, "hh:mm:ss"
    bool cooling = false;                       // true: cooling, false: heating

    friend bool operator==(const SystemObject& a, const SystemObject& b)
    {
        return a.serialNumber == b.serialNumber && a.stationName == b.stationName && a.code == b.code &&
               a.date == b.date && a.time == b.time && a.cooling == b.cooling;
    }
    friend bool operator!=(const SystemObject& a, const SystemObject& b) { return !(a == b); }

    friend std::ostream& operator<<(std::ostream& stream, const SystemObject& system)
    {
        Printing::FieldWriter(stream, "SystemObject")
            .Field("serialNumber", system.serialNumber)
            .Field("stationName", system.stationName)
            .Field("code", system.code)
            .Field("date", system.date)
            .Field("time", system.time)
            .Field("cooling", system.cooling);
        return stream;
    }
};

}  // namespace KeldraJson
}  // namespace Keldra
