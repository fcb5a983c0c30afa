// Which group address and datapoint type each communication object uses on
// the bus, read from the map file (format: docs/knx-bus.md):
//   # station 1, thermostat 1, setpoint input
//   2 = 1/0/2 9.001
#pragma once

#include <istream>
#include <map>
#include <string>
#include <vector>

#include "CommunicationObjectKinds.h"
#include "DatapointType.h"
#include "GroupAddress.h"

namespace Oru::Knx {

struct GroupAddressAssignment {
    int co;
    GroupAddress address;
    DatapointType type;
    Direction direction;
};

class GroupAddressMap {
public:
    GroupAddressMap() = default;
    // The assignments must be valid (as ParseGroupAddressMap checks them).
    explicit GroupAddressMap(std::vector<GroupAddressAssignment> assignments);

    const GroupAddressAssignment* Find(int co) const;
    // Every object on the address, in CO order.
    std::vector<const GroupAddressAssignment*> OnAddress(GroupAddress address) const;
    // In CO order.
    const std::vector<GroupAddressAssignment>& Assignments() const { return _assignments; }

private:
    std::vector<GroupAddressAssignment> _assignments;
    std::map<int, std::size_t> _byCo;
    std::multimap<GroupAddress, std::size_t> _byAddress;
};

struct GroupAddressMapFile {
    GroupAddressMap map;
    // "line 4: ..." for every line in error; the map is only used without.
    std::vector<std::string> errors;
};

GroupAddressMapFile ParseGroupAddressMap(std::istream& input);

}  // namespace Oru::Knx
