// The numbering of the communication objects: decoding a CO number into the
// system CO or the base station CO it names, and encoding back.
#pragma once

#include <ostream>

#include <boost/optional.hpp>
#include <boost/variant.hpp>

#include "support/BoundedTypes.h"

namespace Keldra {

// A CO of one base station's block of 100: a room thermostat CO (1..24), a
// power level CO (37..96) or a general CO (97..98).
struct BaseStationCo {
    using Function = boost::variant<RoomThermostatCo, PowerLevelCo, BaseStationGeneralCo>;

    BaseStationNumber baseStation;
    Function function;

    friend bool operator==(const BaseStationCo& a, const BaseStationCo& b)
    {
        return a.baseStation == b.baseStation && a.function == b.function;
    }
    friend bool operator!=(const BaseStationCo& a, const BaseStationCo& b) { return !(a == b); }
};

using DecodedCo = boost::variant<SystemCo, BaseStationCo>;

// Empty for the numbers that are not assigned within a base station's block
// (25..36, 99 and 100 of each block). Every number from 501 on is a system
// CO, assigned or not.
boost::optional<DecodedCo> DecodeCo(const CoNumber& co);

// The flat CO numbers 1..500 of base station COs.
CoNumber EncodeCo(const BaseStationNumber& baseStation, const RoomThermostat& thermostat,
                  const RoomThermostatCoOffset& function);
CoNumber EncodeCo(const BaseStationNumber& baseStation, const ActorModuleSlot& slot,
                  const PowerLevelCoOffset& function);
CoNumber EncodeCo(const BaseStationNumber& baseStation, const BaseStationGeneralCo& function);
CoNumber EncodeCo(const BaseStationCo& co);

// "142(BaseStationCo) (2|(2|37)=42)", "97(BaseStationCo) (1|97)".
std::ostream& operator<<(std::ostream& stream, const BaseStationCo& co);

}  // namespace Keldra
