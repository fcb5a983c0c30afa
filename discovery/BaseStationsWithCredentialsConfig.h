// The content of the credentials file: the list under "baseStations".
#pragma once

#include <vector>

#include <rapidjson/document.h>

#include "BaseStationWithCredentials.h"
#include "support/HighLevelJson/Struct.h"

namespace Keldra {

struct BaseStationsWithCredentialsConfig {
    std::vector<BaseStationWithCredentials> baseStations;

    static Oru::JsonParseResult<BaseStationsWithCredentialsConfig>::type Parse(const Oru::JsonObject& object);
    rapidjson::Value Generate(Oru::JsonAllocator& allocator) const;
};

}  // namespace Keldra
