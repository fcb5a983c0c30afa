// One room of a base station's status: how the station controls it.
#pragma once

#include <ostream>
#include <vector>

#include <boost/optional.hpp>

#include "ActorObject.h"
#include "PowerLevelControlObject.h"
#include "Printing.h"
#include "ThermostatObject.h"

namespace Keldra {
namespace KeldraJson {

struct RoomObject {
    unsigned int roomNumber = 0;                                 // the station's own number of the room
    std::vector<ActorObject> actors;                             // the actor modules driving the room
    boost::optional<ThermostatObject> thermostat;                // temperature-controlled rooms
    boost::optional<PowerLevelControlObject> powerLevelControl;  // power-level-controlled rooms

    friend bool operator==(const RoomObject& a, const RoomObject& b)
    {
        return a.roomNumber == b.roomNumber && a.actors == b.actors && a.thermostat == b.thermostat &&
               a.powerLevelControl == b.powerLevelControl;
    }
    friend bool operator!=(const RoomObject& a, const RoomObject& b) { return !(a == b); }

    friend std::ostream& operator<<(std::ostream& stream, const RoomObject& room)
    {
        Printing::FieldWriter(stream, "RoomObject")
            .Field("roomNumber", room.roomNumber)
            .Field("actors", room.actors)
            .MessageField("thermostat", room.thermostat)
            .MessageField("powerLevelControl", room.powerLevelControl);
        return stream;
    }
};

}  // namespace KeldraJson
}  // namespace Keldra
