// The JSON of the station wire protocol, both ways. The first byte chooses
// the message, the rest is its JSON text: i short information, s status,
// w write answer, p setpoint, l power level, h leaving home, c settings
// (any other byte: the status). Whatever decodes must encode to a text that
// decodes again and encodes to the same JSON.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/SameJson.h"
#include "platform/webapi/KeldraJsonCodec.h"

namespace {

using Keldra::KeldraJsonCodec;
using Keldra::Fuzzing::SameJson;

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
