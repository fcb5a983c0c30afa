// The host's datapoint type codecs: the first octet chooses the type, the
// rest are the telegram's value octets (the APCI's low bits first). A value
// decoded must encode, and decode again to the same value; its encoding is
// then a fixed point.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <variant>

#include "platform/knx/DatapointCodec.h"

namespace {

using namespace Oru::Knx;
using Oru::BusValue;

constexpr int TypeCount = static_cast<int>(DatapointType::DateTime) + 1;

bool SameValue(const BusValue& left, const BusValue& right)
{
    if (left.index() != right.index()) {
        return false;
    }
    return std::visit(
        [&right](const auto& value) {
            using Value = std::decay_t<decltype(value)>;
            const auto& other = std::get<Value>(right);
            if constexpr (std::is_same_v<Value, OruApp::TimeOfDay>) {
                return value.GetHour() == other.GetHour() && value.GetMinute() == other.GetMinute();
            } else if constexpr (std::is_same_v<Value, float>) {
                // Every 9.001 value but the invalid one is a float exactly, -0 included.
                return std::memcmp(&value, &other, sizeof value) == 0 || value == other;
            } else {
                return value == other;
            }
        },
        left);
}

void Fail(const char* what, DatapointType type, const std::string& detail)
{
    std::fprintf(stderr, "%s (%s): %s\n", what, DatapointTypeName(type).c_str(), detail.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const auto type = static_cast<DatapointType>(data[0] % TypeCount);
    const TelegramData telegram(data + 1, data + size);
    std::string error;
    const auto value = DecodeDatapoint(type, telegram, error);
    if (!value) {
        if (error.empty()) {
            Fail("a telegram refused without a reason", type, "");
        }
        return 0;
    }
    std::string note;
    const auto encoded = EncodeDatapoint(type, *value, note);
    if (!encoded) {
        Fail("a decoded value does not encode", type, note);
    }
    const auto again = DecodeDatapoint(type, *encoded, error);
    if (!again) {
        Fail("an encoded value does not decode", type, error);
    }
    if (!SameValue(*again, *value)) {
        Fail("an encoded value decodes to another", type, Oru::FormatBusValue(*value) + " / " + Oru::FormatBusValue(*again));
    }
    const auto reencoded = EncodeDatapoint(type, *again, note);
    if (!reencoded || *reencoded != *encoded) {
        Fail("a value encodes differently the second time", type, Oru::FormatBusValue(*value));
    }
    return 0;
}
