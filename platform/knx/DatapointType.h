// The KNX datapoint types the gateway host puts on the bus, and which of the
// gateway's value types each one carries.
#pragma once

#include <string>

#include <boost/optional.hpp>

#include "platform/host/BusValue.h"

namespace Oru::Knx {

enum class DatapointType {
    Switch,           // 1.001
    Bool,             // 1.002
    Alarm,            // 1.005
    Step,             // 1.007
    HeatCool,         // 1.100
    Percent,          // 5.001
    Counter,          // 5.010
    Temperature,      // 9.001
    TimeOfDay,        // 10.001
    Date,             // 11.001
    AsciiText,        // 16.000
    Latin1Text,       // 16.001
    DateTime,         // 19.001
};

// "9.001" (also "9.1" and "DPT9.001"); none for a type not listed above.
boost::optional<DatapointType> ParseDatapointType(const std::string& text);
// "9.001"
std::string DatapointTypeName(DatapointType type);
// "DPST-9-1", as the ETS group address import names it.
std::string EtsDatapointTypeName(DatapointType type);
// The index in BusValue of the value type it carries.
std::size_t BusValueIndexOf(DatapointType type);
// Carried in the six low bits of the APCI octet.
bool IsSmall(DatapointType type);

}  // namespace Oru::Knx
