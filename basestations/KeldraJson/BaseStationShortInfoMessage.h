// What a base station tells about itself without credentials: firmware,
// identity and model.
#pragma once

#include <ostream>
#include <string>

#include <boost/optional.hpp>

#include "Printing.h"

namespace Keldra {
namespace KeldraJson {

struct BaseStationShortInfoMessage {
    boost::optional<std::string> firmwareVersion;  // "MAJOR.MINOR.PATCH" (KeldraWebApi::CheckMinimalVersion)
    boost::optional<std::string> stationId;        // the 10-character base station ID
    boost::optional<std::string> model;            // "Brisgo"

    friend bool operator==(const BaseStationShortInfoMessage& a, const BaseStationShortInfoMessage& b)
    {
        return a.firmwareVersion == b.firmwareVersion && a.stationId == b.stationId && a.model == b.model;
    }
    friend bool operator!=(const BaseStationShortInfoMessage& a, const BaseStationShortInfoMessage& b)
    {
        return !(a == b);
    }

    friend std::ostream& operator<<(std::ostream& stream, const BaseStationShortInfoMessage& info)
    {
        Printing::FieldWriter(stream, "BaseStationShortInfoMessage")
            .Field("firmwareVersion", info.firmwareVersion)
            .Field("stationId", info.stationId)
            .Field("model", info.model);
        return stream;
    }
};

}  // namespace KeldraJson
}  // namespace Keldra
