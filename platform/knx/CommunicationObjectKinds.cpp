#include "CommunicationObjectKinds.h"

namespace Oru::Knx {
namespace {

using D = DatapointType;
constexpr Direction In = Direction::Input;
constexpr Direction Out = Direction::Status;

// Room thermostat t: 3 (t - 1) + 1..3 of a station's block.
const CommunicationObjectKind ThermostatObjects[] = {
    {Out, D::Temperature}, {In, D::Temperature}, {Out, D::Temperature}};
// Actor module slot s: 5 (s - 1) + 37..41.
const CommunicationObjectKind SlotObjects[] = {
    {In, D::Counter}, {Out, D::Counter}, {In, D::Percent}, {Out, D::Percent}, {In, D::Step}};
// 97, 98 of a station's block.
const CommunicationObjectKind GeneralObjects[] = {{Out, D::Alarm}, {Out, D::Bool}};
// 501..517; 505..509 are not assigned.
const boost::optional<CommunicationObjectKind> SystemObjects[] = {
    CommunicationObjectKind{Out, D::Alarm},      CommunicationObjectKind{Out, D::Latin1Text},
    CommunicationObjectKind{Out, D::Alarm},      CommunicationObjectKind{Out, D::Latin1Text},
    boost::none, boost::none, boost::none, boost::none, boost::none,
    CommunicationObjectKind{In, D::Switch},      CommunicationObjectKind{Out, D::Switch},
    CommunicationObjectKind{In, D::Date},        CommunicationObjectKind{Out, D::DateTime},
    CommunicationObjectKind{In, D::TimeOfDay},   CommunicationObjectKind{Out, D::TimeOfDay},
    CommunicationObjectKind{In, D::HeatCool},    CommunicationObjectKind{Out, D::HeatCool},
};

}  // namespace

boost::optional<CommunicationObjectKind> KindOfCommunicationObject(int co)
{
    if (co < 1 || co > 517) {
        return boost::none;
    }
    if (co > 500) {
        return SystemObjects[co - 501];
    }
    const int local = (co - 1) % 100 + 1;
    if (local <= 24) {
        return ThermostatObjects[(local - 1) % 3];
    }
    if (local >= 37 && local <= 96) {
        return SlotObjects[(local - 37) % 5];
    }
    if (local >= 97 && local <= 98) {
        return GeneralObjects[local - 97];
    }
    return boost::none;
}

}  // namespace Oru::Knx
