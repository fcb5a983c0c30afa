// One entry of the credentials file: the base station's zero-based index,
// its user name and its password as the stored Base64 text.
#pragma once

#include <boost/optional.hpp>
#include <rapidjson/document.h>

#include "support/HighLevelJson/Struct.h"
#include "support/UTF8String.h"

namespace Keldra {

struct BaseStationWithCredentials {
    unsigned char index;
    boost::optional<Oru::UTF8String> username;
    boost::optional<Oru::UTF8String> credentials;

    // "index" (required), "username" and "credentials" (absent or null).
    static Oru::JsonParseResult<BaseStationWithCredentials>::type Parse(const Oru::JsonObject& object);
    // Absent members are left out.
    rapidjson::Value Generate(Oru::JsonAllocator& allocator) const;
};

}  // namespace Keldra
