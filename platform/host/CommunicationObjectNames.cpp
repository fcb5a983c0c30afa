#include "CommunicationObjectNames.h"

#include <map>

namespace Oru {
namespace {

// Each of the five base stations has a block of 100 objects: room
// thermostats 1..8 at 1..24 (three each), actor module slots 1..12 at 37..96
// (five each), and two general objects at 97 and 98.
constexpr int BlockLength = 100;
constexpr int BaseStationCount = 5;
constexpr int ThermostatCount = 8;
constexpr int ObjectsPerThermostat = 3;
constexpr int FirstSlotObject = 37;
constexpr int SlotCount = 12;
constexpr int ObjectsPerSlot = 5;

const char* const ThermostatFunctions[ObjectsPerThermostat] = {"room temperature", "setpoint input",
                                                               "setpoint status"};
const char* const SlotFunctions[ObjectsPerSlot] = {"power level input", "power level status",
                                                   "power level percent input", "power level percent status",
                                                   "power level step input"};

const std::map<int, std::string>& SystemObjects()
{
    static const std::map<int, std::string> objects = {
        {501, "gateway error"},
        {502, "gateway error text"},
        {503, "base station error"},
        {504, "base station error text"},
        {510, "leaving home input"},
        {511, "leaving home status"},
        {512, "arrival date input"},
        {513, "arrival date and time status"},
        {514, "arrival time input"},
        {515, "arrival time status"},
        {516, "heating (true) or cooling input"},
        {517, "heating (true) or cooling status"},
    };
    return objects;
}

}  // namespace

std::string DescribeCommunicationObject(int co)
{
    if (co < 1 || co > 517) {
        return "outside 1..517";
    }
    if (co > BlockLength * BaseStationCount) {
        const auto entry = SystemObjects().find(co);
        return entry != SystemObjects().end() ? "system, " + entry->second : "system, not assigned";
    }
    const int station = (co - 1) / BlockLength + 1;
    const int local = (co - 1) % BlockLength + 1;
    const std::string prefix = "station " + std::to_string(station) + ", ";
    if (local <= ThermostatCount * ObjectsPerThermostat) {
        const int thermostat = (local - 1) / ObjectsPerThermostat + 1;
        return prefix + "thermostat " + std::to_string(thermostat) + ", " +
               ThermostatFunctions[(local - 1) % ObjectsPerThermostat];
    }
    if (local >= FirstSlotObject && local < FirstSlotObject + SlotCount * ObjectsPerSlot) {
        const int slot = (local - FirstSlotObject) / ObjectsPerSlot + 1;
        return prefix + "slot " + std::to_string(slot) + ", " + SlotFunctions[(local - FirstSlotObject) % ObjectsPerSlot];
    }
    if (local == 97) {
        return prefix + "station error";
    }
    if (local == 98) {
        return prefix + "system status code other than 0-0";
    }
    return prefix + "not assigned";
}

}  // namespace Oru
