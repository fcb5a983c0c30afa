// What each of the gateway's communication objects is on the bus: its
// direction and its default datapoint type (which fixes its value type).
#pragma once

#include <boost/optional.hpp>

#include "DatapointType.h"

namespace Oru::Knx {

enum class Direction {
    Input,   // from the bus to the plug-in
    Status,  // from the plug-in to the bus
};

struct CommunicationObjectKind {
    Direction direction;
    DatapointType defaultType;
};

// None for a number that is not one of the plug-in's objects (25, 99, 505, 0, ...).
boost::optional<CommunicationObjectKind> KindOfCommunicationObject(int co);

}  // namespace Oru::Knx
