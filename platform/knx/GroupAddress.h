// A KNX group address: 16 bits, written three-level (main/middle/sub,
// 31/7/255), two-level (main/sub, 31/2047) or free (0..65535).
#pragma once

#include <cstdint>
#include <string>

#include <boost/optional.hpp>

namespace Oru::Knx {

using GroupAddress = std::uint16_t;

// None when the text is none of the three forms, a part is out of its range,
// or it is 0/0/0 (the broadcast address, not a group).
boost::optional<GroupAddress> ParseGroupAddress(const std::string& text);
// Three-level: "1/0/2".
std::string FormatGroupAddress(GroupAddress address);
// The individual address of a device: "1.1.5".
std::string FormatIndividualAddress(std::uint16_t address);

}  // namespace Oru::Knx
