// A room thermostat as a base station reports it in a status, and the
// setpoint written to it.
#pragma once

#include <ostream>
#include <string>

#include <boost/optional.hpp>

#include "Printing.h"

namespace Keldra {
namespace KeldraJson {

struct ThermostatObject {
    std::string id;                              // the thermostat's ID, 8 characters when valid
    double setpointTemperature = 0.0;            // degrees Celsius
    boost::optional<double> minimumTemperature;  // lowest setpoint the thermostat accepts, degrees Celsius
    boost::optional<double> maximumTemperature;  // highest setpoint the thermostat accepts, degrees Celsius
    boost::optional<double> roomTemperature;     // measured, degrees Celsius
    boost::optional<double> relativeHumidity;    // measured, percent
    boost::optional<bool> batteryLow;            // battery-powered thermostats only

    friend bool operator==(const ThermostatObject& a, const ThermostatObject& b)
    {
        return a.id == b.id && a.setpointTemperature == b.setpointTemperature &&
               a.minimumTemperature == b.minimumTemperature && a.maximumTemperature == b.maximumTemperature &&
               a.roomTemperature == b.roomTemperature && a.relativeHumidity == b.relativeHumidity &&
               a.batteryLow == b.batteryLow;
    }
    friend bool operator!=(const ThermostatObject& a, const ThermostatObject& b) { return !(a == b); }

    friend std::ostream& operator<<(std::ostream& stream, const ThermostatObject& thermostat)
    {
        Printing::FieldWriter(stream, "ThermostatObject")
            .Field("id", thermostat.id)
            .Field("setpointTemperature", thermostat.setpointTemperature)
            .Field("minimumTemperature", thermostat.minimumTemperature)
            .Field("maximumTemperature", thermostat.maximumTemperature)
            .Field("roomTemperature", thermostat.roomTemperature)
            .Field("relativeHumidity", thermostat.relativeHumidity)
            .Field("batteryLow", thermostat.batteryLow);
        return stream;
    }
};

}  // namespace KeldraJson
}  // namespace Keldra
