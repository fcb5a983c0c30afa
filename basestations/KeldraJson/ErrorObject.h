// One device error in the error list of a base station's status.
#pragma once

#include <ostream>
#include <string>

#include <boost/optional.hpp>

#include "Printing.h"

namespace Keldra {
namespace KeldraJson {

struct ErrorObject {
    int code = 0;                             // the station's error code, e.g. -3 for a missing thermostat
    boost::optional<unsigned int> room;       // the station's room number the error concerns
    boost::optional<std::string> description; // the station's own text

    friend bool operator==(const ErrorObject& a, const ErrorObject& b)
    {
        return a.code == b.code && a.room == b.room && a.description == b.description;
    }
    friend bool operator!=(const ErrorObject& a, const ErrorObject& b) { return !(a == b); }

    friend std::ostream& operator<<(std::ostream& stream, const ErrorObject& error)
    {
        Printing::FieldWriter(stream, "ErrorObject")
            .Field("code", error.code)
            .Field("room", error.room)
            .Field("description", error.description);
        return stream;
    }
};

}  // namespace KeldraJson
}  // namespace Keldra
