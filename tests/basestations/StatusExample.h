// The status answer of docs/wire-protocol.md, as text and as the message it
// decodes to.
#pragma once

#include <string>

#include "basestations/KeldraJson.h"

namespace Keldra {
namespace Testing {

inline std::string StatusExampleJson()
{
    return R"({
  "responseCode": 0,
  "system": {"serialNumber": "BS-0042", "stationName": "Ground floor", "code": "0-0",
             "date": "24-05-17", "time": "18:30:05", "cooling": false},
  "rooms": [
    {"room": 1, "actors": [{"number": 3, "valveOpen": true}],
     "thermostat": {"id": "TH000001", "setpointTemperature": 21.5,
                    "minimumTemperature": 5.0, "maximumTemperature": 30.0,
                    "roomTemperature": 20.8, "relativeHumidity": 45.0, "batteryLow": false}},
    {"room": 2, "actors": [{"number": 4}],
     "powerLevel": {"level": 5, "percent": 128, "minimumLevel": 0, "maximumLevel": 10}}
  ],
  "errors": [{"code": -3, "room": 2, "description": "thermostat missing"}],
  "leavingHome": {"active": false, "date": "24-05-20", "time": "18:30"}
})";
}

inline KeldraJson::StatusObject StatusExampleObject()
{
    KeldraJson::StatusObject status;
    status.responseCode = 0;
    status.system.serialNumber = std::string("BS-0042");
    status.system.stationName = std::string("Ground floor");
    status.system.code = std::string("0-0");
    status.system.date = "24-05-17";
    status.system.time = "18:30:05";
    status.system.cooling = false;

    KeldraJson::RoomObject thermostatRoom;
    thermostatRoom.roomNumber = 1;
    thermostatRoom.actors.push_back(KeldraJson::ActorObject{3, true});
    KeldraJson::ThermostatObject thermostat;
    thermostat.id = "TH000001";
    thermostat.setpointTemperature = 21.5;
    thermostat.minimumTemperature = 5.0;
    thermostat.maximumTemperature = 30.0;
    thermostat.roomTemperature = 20.8;
    thermostat.relativeHumidity = 45.0;
    thermostat.batteryLow = false;
    thermostatRoom.thermostat = thermostat;
    status.rooms.push_back(thermostatRoom);

    KeldraJson::RoomObject powerLevelRoom;
    powerLevelRoom.roomNumber = 2;
    powerLevelRoom.actors.push_back(KeldraJson::ActorObject{4, boost::none});
    KeldraJson::PowerLevelControlObject powerLevel;
    powerLevel.powerLevel = 5;
    powerLevel.percentage = 128;
    powerLevel.minimumLevel = 0;
    powerLevel.maximumLevel = 10;
    powerLevelRoom.powerLevelControl = powerLevel;
    status.rooms.push_back(powerLevelRoom);

    status.errors.push_back(KeldraJson::ErrorObject{-3, 2u, std::string("thermostat missing")});
    status.leavingHome.active = false;
    status.leavingHome.date = std::string("24-05-20");
    status.leavingHome.time = std::string("18:30");
    return status;
}

}  // namespace Testing
}  // namespace Keldra
