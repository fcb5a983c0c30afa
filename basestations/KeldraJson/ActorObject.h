// One actor module entry of a room in a base station's status.
#pragma once

#include <ostream>

#include <boost/optional.hpp>

#include "Printing.h"

namespace Keldra {
namespace KeldraJson {

struct ActorObject {
    int actorModuleNumber = 0;          // 1..12 when valid
    boost::optional<bool> valveOpen;    // the actor currently drives its valves open

    friend bool operator==(const ActorObject& a, const ActorObject& b)
    {
        return a.actorModuleNumber == b.actorModuleNumber && a.valveOpen == b.valveOpen;
    }
    friend bool operator!=(const ActorObject& a, const ActorObject& b) { return !(a == b); }

    friend std::ostream& operator<<(std::ostream& stream, const ActorObject& actor)
    {
        Printing::FieldWriter(stream, "ActorObject")
            .Field("actorModuleNumber", actor.actorModuleNumber)
            .Field("valveOpen", actor.valveOpen);
        return stream;
    }
};

}  // namespace KeldraJson
}  // namespace Keldra
