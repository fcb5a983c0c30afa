// The status a base station answers a status request with.
#pragma once

#include <ostream>
#include <vector>

#include "ErrorObject.h"
#include "LeavingHomeObject.h"
#include "Printing.h"
#include "RoomObject.h"
#include "SystemObject.h"

namespace Keldra {
namespace KeldraJson {

struct StatusObject {
    SystemObject system;
    std::vector<RoomObject> rooms;
    std::vector<ErrorObject> errors;
    LeavingHomeObject leavingHome;
    // The station's answer code: 405 wrong method, 500 invalid token,
    // 510 missing parameter, 511 value out of range; anything else is fine.
    int responseCode = 0;

    friend bool operator==(const StatusObject& a, const StatusObject& b)
    {
        return a.system == b.system && a.rooms == b.rooms && a.errors == b.errors &&
               a.leavingHome == b.leavingHome && a.responseCode == b.responseCode;
    }
    friend bool operator!=(const StatusObject& a, const StatusObject& b) { return !(a == b); }

    friend std::ostream& operator<<(std::ostream& stream, const StatusObject& status)
    {
        Printing::FieldWriter(stream, "StatusObject")
            .MessageField("system", status.system)
            .Field("rooms", status.rooms)
            .Field("errors", status.errors)
            .MessageField("leavingHome", status.leavingHome)
            .Field("responseCode", status.responseCode);
        return stream;
    }
};

}  // namespace KeldraJson
}  // namespace Keldra
