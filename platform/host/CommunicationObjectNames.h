// What a communication object number means in the gateway's KNX project,
// for the bus console: "station 1, thermostat 2, setpoint input".
#pragma once

#include <string>

namespace Oru {

// Every number gets a text; numbers outside the project's objects read
// "not assigned" or "outside 1..517".
std::string DescribeCommunicationObject(int co);

}  // namespace Oru
