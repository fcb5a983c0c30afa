// Encoding and decoding of group telegram values, as the KNX standard
// defines each datapoint type.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <boost/optional.hpp>

#include "platform/host/BusValue.h"
#include "DatapointType.h"

namespace Oru::Knx {

// The value octets of a group telegram: the first holds the six low bits of
// the APCI octet (a 1-bit type's value, 0 for the others), the octets after
// the APCI follow.
using TelegramData = std::vector<std::uint8_t>;

// None with the reason in `error` when the data's length or content does
// not fit the type (the invalid 9.001 value 0x7FFF, a 19.001 with its fault
// flag, ...).
boost::optional<BusValue> DecodeDatapoint(DatapointType type, const TelegramData& data, std::string& error);

// None with the reason in `note` when the value cannot be written in the
// type; a text longer than 14 characters is cut, with the note saying so.
boost::optional<TelegramData> EncodeDatapoint(DatapointType type, const BusValue& value, std::string& note);

}  // namespace Oru::Knx
