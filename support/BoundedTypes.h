// The domain's bounded numbers and strings.
#pragma once

#include <string>

#include "BoundedInt.h"
#include "BoundedString.h"
#include "PeriodicBoundedInt.h"
#include "UTF8String.h"

namespace Keldra {

struct BaseStationTag {};
struct RoomNumberTag {};
struct RoomThermostatTag {};
struct ActorModuleSlotTag {};
struct ActorModuleTag {};
struct PowerLevelTag {};
struct KnxBytePercentTag {};
struct HalfDegreeTemperatureTag {};
struct CoNumberTag {};
struct BaseStationCoTag {};

using BaseStationNumber = Oru::BoundedInt<unsigned int, 1u, 5u, BaseStationTag>;
// The int-typed base station number used while reading the configuration.
using BaseStationConfigurationNumber = Oru::BoundedInt<int, 1, 5, BaseStationTag>;
using Room = Oru::BoundedInt<unsigned int, 1u, 12u, RoomNumberTag>;
using RoomThermostat = Oru::BoundedInt<unsigned int, 1u, 8u, RoomThermostatTag>;
using ActorModuleSlot = Oru::BoundedInt<unsigned int, 1u, 12u, ActorModuleSlotTag>;
using ActorModuleNumber = Oru::BoundedInt<unsigned int, 1u, 12u, ActorModuleTag>;
using PowerLevel = Oru::BoundedInt<unsigned char, 0, 10, PowerLevelTag>;
using KnxBytePercent = Oru::BoundedInt<unsigned char, 0, 255, KnxBytePercentTag>;
// Half degrees Celsius: 10..60 is 5.0 to 30.0 degrees.
using HalfDegreeTemperature = Oru::BoundedInt<unsigned char, 10, 60, HalfDegreeTemperatureTag>;

using BaseStationIndex = BaseStationNumber::DifferenceType;        // 0..4
using RoomThermostatIndex = RoomThermostat::DifferenceType;        // 0..7
using ActorModuleSlotIndex = ActorModuleSlot::DifferenceType;      // 0..11

// Communication objects.
using CoNumber = Oru::BoundedInt<int, 1, 517, CoNumberTag>;
using BaseStationCoOffset = Oru::BoundedInt<int, 1, 100, BaseStationCoTag>;

enum class SystemCoOffsetValue : int {
    GatewayHasError = 501,
    GatewayLastError = 502,
    BaseStationHasError = 503,
    BaseStationErrorText = 504,
    LeavingHome = 510,
    LeavingHomeStatus = 511,
    ArrivalDate = 512,
    ArrivalDateStatus = 513,
    ArrivalTime = 514,
    ArrivalTimeStatus = 515,
    HeatingCooling = 516,
    HeatingCoolingStatus = 517,
};
enum class RoomThermostatCoOffsetValue : int {
    RoomTemperatureStatus = 1,
    SetpointTemperatureInput = 2,
    SetpointTemperatureStatus = 3,
};
enum class PowerLevelCoOffsetValue : int {
    PowerLevelInput = 37,
    PowerLevelStatus = 38,
    PowerLevelPercentInput = 39,
    PowerLevelPercentStatus = 40,
    PowerLevelStep = 41,
};
enum class BaseStationGeneralCoOffsetValue : int {
    BaseStationError = 97,
    SystemCodeStatus = 98,
};

using SystemCo = Oru::BoundedInt<SystemCoOffsetValue, SystemCoOffsetValue::GatewayHasError,
                                 SystemCoOffsetValue::HeatingCoolingStatus, SystemCoOffsetValue>;
using SystemCoNumber = Oru::BoundedInt<int, 1, 517, SystemCoOffsetValue>;
using RoomThermostatCoOffset =
    Oru::BoundedInt<RoomThermostatCoOffsetValue, RoomThermostatCoOffsetValue::RoomTemperatureStatus,
                    RoomThermostatCoOffsetValue::SetpointTemperatureStatus, RoomThermostatCoOffsetValue>;
using PowerLevelCoOffset = Oru::BoundedInt<PowerLevelCoOffsetValue, PowerLevelCoOffsetValue::PowerLevelInput,
                                           PowerLevelCoOffsetValue::PowerLevelStep, PowerLevelCoOffsetValue>;
using BaseStationGeneralCo =
    Oru::BoundedInt<BaseStationGeneralCoOffsetValue, BaseStationGeneralCoOffsetValue::BaseStationError,
                    BaseStationGeneralCoOffsetValue::SystemCodeStatus, BaseStationGeneralCoOffsetValue>;
using BaseStationGeneralCoNumber = Oru::BoundedInt<int, 97, 98, BaseStationGeneralCoOffsetValue>;

// CO blocks: 100 per base station (1..500), 3 per room thermostat (1..24),
// 5 per actor slot (37..96).
using BaseStationCoBlock = Oru::PeriodicBoundedInt<int, BaseStationNumber, BaseStationCoOffset>;
using RoomThermostatCo = Oru::PeriodicBoundedInt<int, RoomThermostat, RoomThermostatCoOffset>;
using PowerLevelCo = Oru::PeriodicBoundedInt<int, ActorModuleSlot, PowerLevelCoOffset>;

// Strings.
using BaseStationIdString = Oru::BoundedString<std::string, 10, 10>;
using RoomThermostatIDString = Oru::BoundedString<Oru::UTF8String, 8, 8>;
using KnxErrorString = Oru::BoundedString<std::string, 1, 14>;

}  // namespace Keldra
