// The leaving-home (absence) state of the installation with the planned
// arrival, as reported by a base station and as written to it.
#pragma once

#include <ostream>
#include <string>

#include <boost/optional.hpp>

#include "Printing.h"

namespace Keldra {
namespace KeldraJson {

struct LeavingHomeObject {
    bool active = false;
    boost::optional<std::string> date;  // arrival date, "yy-mm-dd" (KeldraWebApi::GenerateLeavingHomeDateString)
    boost::optional<std::string> time;  // arrival time, "hh:mm" (KeldraWebApi::GenerateLeavingHomeTimeString)

    friend bool operator==(const LeavingHomeObject& a, const LeavingHomeObject& b)
    {
        return a.active == b.active && a.date == b.date && a.time == b.time;
    }
    friend bool operator!=(const LeavingHomeObject& a, const LeavingHomeObject& b) { return !(a == b); }

    friend std::ostream& operator<<(std::ostream& stream, const LeavingHomeObject& leavingHome)
    {
        Printing::FieldWriter(stream, "LeavingHomeObject")
            .Field("active", leavingHome.active)
            .Field("date", leavingHome.date)
            .Field("time", leavingHome.time);
        return stream;
    }
};

}  // namespace KeldraJson
}  // namespace Keldra
