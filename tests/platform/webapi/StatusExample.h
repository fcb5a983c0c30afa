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
    {"room": 4, "actors": [{"number": 3, "valveOpen": true}],
     "thermostat": {"id": "TH000001", "setpointTemperature": 21.5,
                    "minimumTemperature": 5.0, "maximumTemperature": 30.0,
                    "roomTemperature": 20.8, "relativeHumidity": 45.0, "batteryLow": false}},
    {"room": 7, "actors": [{"number": 4}],
     "powerLevel": {"level": 5, "percent": 128, "minimumLevel": 0, "maximumLevel": 10}}
  ],
  "errors": [{"code": -3, "room": 7, "description": "thermostat missing"}],
  "leavingHome": {"active": false, "date": "24-05-20", "time": "18:30"}
})";
}

inline KeldraJson::StatusObject StatusExampleObject()
{
    using namespace KeldraJson;
    return StatusObject{
        SystemObject{std::string("BS-0042"), std::string("Ground floor"), std::string("0-0"), "24-05-17", "18:30:05",
                     false},
        {RoomObject{4, {ActorObject{3, true}}, ThermostatObject{"TH000001", 21.5, 5.0, 30.0, 20.8, 45.0, false}, {}},
         RoomObject{7, {ActorObject{4, boost::none}}, {}, PowerLevelControlObject{5, 128, 0, 10}}},
        {ErrorObject{-3, 7u, std::string("thermostat missing")}},
        LeavingHomeObject{false, std::string("24-05-20"), std::string("18:30")},
        0};
}

}  // namespace Testing
}  // namespace Keldra
