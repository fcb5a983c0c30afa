// The default group address layout of an installation, and the two ways the
// host writes a map: as a map file and as an ETS group address import (XML).
//
// Layout: main group = base station n (1..5), 0 for the system objects;
// middle group 0 for the inputs, 1 for the status objects; sub group = the
// CO number within the station's block of 100 (1..98), or CO - 500 for the
// system objects. So CO 2 (station 1, thermostat 1, setpoint input) is 1/0/2
// and CO 517 (heating or cooling status) is 0/1/17.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "GroupAddressMap.h"

namespace Oru::Knx {

struct StationLayout {
    int thermostats;  // room thermostats 1..n
    int slots;        // actor module slots 1..n
};

// Only the objects of the configured thermostats and slots of each station,
// the station's two general objects and the system objects.
GroupAddressMap DefaultGroupAddressMap(const std::vector<StationLayout>& stations);

using DescribeObject = std::function<std::string(int co)>;

// One "co = address type" line per object, each after a comment with its description.
void WriteGroupAddressMap(std::ostream& output, const GroupAddressMap& map, const DescribeObject& describe);

// The ETS group address import (three-level, "DPST-9-1" types), named by
// the description.
void WriteEtsGroupAddresses(std::ostream& output, const GroupAddressMap& map, const DescribeObject& describe);

}  // namespace Oru::Knx
