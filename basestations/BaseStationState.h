// What a base station reports about itself after a firmware check, a status
// poll or a write. The numbers are fixed.
#pragma once

namespace Keldra {

enum class BaseStationState : int {
    Missing = 0,                      // no web API object: never found, or lost
    CommunicationFailed = 1,          // transport or protocol error
    CredentialsRejected = 2,
    FirmwareUnsupported = 3,
    BadResponse = 4,                  // unusable answer
    ValueOutOfRange = 5,              // a written value was rejected
    UnexpectedFailure = 6,
    Fatal = 7,                        // status requested with the wrong method
    ThermostatsAndActorsMissing = 8,  // status read; both mappings incomplete
    ActorsMissing = 9,                // status read; actor module mapping incomplete
    ThermostatsMissing = 10,          // status read; room thermostat mapping incomplete
    Complete = 11,                    // status read; both mappings complete
};

}  // namespace Keldra
