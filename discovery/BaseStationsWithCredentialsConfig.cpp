#include "BaseStationsWithCredentialsConfig.h"

#include <utility>

namespace Keldra {

using Entries = std::vector<BaseStationWithCredentials>;

Oru::JsonParseResult<BaseStationsWithCredentialsConfig>::type BaseStationsWithCredentialsConfig::Parse(
    const Oru::JsonObject& object)
{
    auto baseStations = Oru::StructElementParser<Entries>::ParseStructElement(object, "baseStations");
    if (const auto* mismatch = Oru::GetMismatch(baseStations)) {
        return *mismatch;
    }
    return BaseStationsWithCredentialsConfig{std::move(boost::get<Entries>(baseStations))};
}

rapidjson::Value BaseStationsWithCredentialsConfig::Generate(Oru::JsonAllocator& allocator) const
{
    rapidjson::Value object(rapidjson::kObjectType);
    Oru::GenerateStructElement(object, "baseStations", baseStations, allocator);
    return object;
}

}  // namespace Keldra
