#include "BaseStationWithCredentials.h"

#include <utility>

namespace Keldra {

using OptionalText = boost::optional<Oru::UTF8String>;

Oru::JsonParseResult<BaseStationWithCredentials>::type BaseStationWithCredentials::Parse(
    const Oru::JsonObject& object)
{
    auto index = Oru::StructElementParser<unsigned char>::ParseStructElement(object, "index");
    if (const auto* mismatch = Oru::GetMismatch(index)) {
        return *mismatch;
    }
    auto username = Oru::StructElementParser<OptionalText>::ParseStructElement(object, "username");
    if (const auto* mismatch = Oru::GetMismatch(username)) {
        return *mismatch;
    }
    auto credentials = Oru::StructElementParser<OptionalText>::ParseStructElement(object, "credentials");
    if (const auto* mismatch = Oru::GetMismatch(credentials)) {
        return *mismatch;
    }
    return BaseStationWithCredentials{boost::get<unsigned char>(index), std::move(boost::get<OptionalText>(username)),
                                      std::move(boost::get<OptionalText>(credentials))};
}

rapidjson::Value BaseStationWithCredentials::Generate(Oru::JsonAllocator& allocator) const
{
    rapidjson::Value object(rapidjson::kObjectType);
    Oru::GenerateStructElement(object, "index", index, allocator);
    Oru::GenerateStructElement(object, "username", username, allocator);
    Oru::GenerateStructElement(object, "credentials", credentials, allocator);
    return object;
}

}  // namespace Keldra
