// The JSON of the station wire protocol, both ways. The first byte chooses
// the message, the rest is its JSON text: i short information, s status,
// w write answer, p setpoint, l power level, h leaving home, c settings
// (any other byte: the status). Whatever decodes must encode to a text that
// decodes again and encodes to the same JSON.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <rapidjson/document.h>

#include "platform/webapi/KeldraJsonCodec.h"

namespace {

using Keldra::KeldraJsonCodec;

// The same JSON, numbers within a relative 1e-12: the decoder may read a
// number one unit in the last place away from the nearest double.
bool SameJson(const rapidjson::Value& a, const rapidjson::Value& b)
{
    if (a.IsNumber() && b.IsNumber()) {
        const double x = a.GetDouble(), y = b.GetDouble();
        return x == y || std::fabs(x - y) <= 1e-12 * std::max(std::fabs(x), std::fabs(y));
    }
    if (a.GetType() != b.GetType()) {
        return false;
    }
    if (a.IsArray()) {
        if (a.Size() != b.Size()) {
            return false;
        }
        for (rapidjson::SizeType index = 0; index < a.Size(); ++index) {
            if (!SameJson(a[index], b[index])) {
                return false;
            }
        }
        return true;
    }
    if (a.IsObject()) {
        if (a.MemberCount() != b.MemberCount()) {
            return false;
        }
        for (auto member = a.MemberBegin(); member != a.MemberEnd(); ++member) {
            const auto other = b.FindMember(member->name);
            if (other == b.MemberEnd() || !SameJson(member->value, other->value)) {
                return false;
            }
        }
        return true;
    }
    return a == b;
}

bool SameJson(const std::string& a, const std::string& b)
{
    rapidjson::Document first, second;
    first.Parse(a.c_str(), a.size());
    second.Parse(b.c_str(), b.size());
    return !first.HasParseError() && !second.HasParseError() && SameJson(first, second);
}

template <typename Decode, typename Encode>
void RoundTrip(const std::string& json, Decode decode, Encode encode)
{
    const auto decoded = decode(json);
    if (decoded.HasError()) {
        return;
    }
    const std::string encoded = encode(decoded.GetValue());
    const auto again = decode(encoded);
    if (again.HasError()) {
        std::fprintf(stderr, "the encoding of a decoded message does not decode: %s\n", encoded.c_str());
        std::abort();
    }
    const std::string reencoded = encode(again.GetValue());
    if (!SameJson(reencoded, encoded)) {
        std::fprintf(stderr, "encode(decode(x)) changed x:\n%s\n%s\n", encoded.c_str(), reencoded.c_str());
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::string json(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0]) {
    case 'i':
        RoundTrip(json, KeldraJsonCodec::DecodeShortInfo, KeldraJsonCodec::EncodeShortInfo);
        break;
    case 'w':
        RoundTrip(json, KeldraJsonCodec::DecodeWriteResponse, KeldraJsonCodec::EncodeWriteResponse);
        break;
    case 'p':
        RoundTrip(json, KeldraJsonCodec::DecodeSetpointRequest,
                  [](double temperature) { return KeldraJsonCodec::EncodeSetpointRequest(temperature).value(); });
        break;
    case 'l':
        RoundTrip(json, KeldraJsonCodec::DecodePowerLevelRequest, KeldraJsonCodec::EncodePowerLevelRequest);
        break;
    case 'h':
        RoundTrip(json, KeldraJsonCodec::DecodeLeavingHomeRequest, KeldraJsonCodec::EncodeLeavingHomeRequest);
        break;
    case 'c':
        RoundTrip(json, KeldraJsonCodec::DecodeSettingsRequest, KeldraJsonCodec::EncodeSettingsRequest);
        break;
    default:
        RoundTrip(json, KeldraJsonCodec::DecodeStatus, KeldraJsonCodec::EncodeStatus);
        break;
    }
    return 0;
}
