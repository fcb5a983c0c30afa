// Builders shared by the base station, manager and application tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <boost/optional.hpp>

#include "basestations/KeldraJson.h"
#include "discovery/ServiceInfo.h"
#include "rooms/BaseStationProperties.h"

namespace Keldra {
namespace Testing {

inline BaseStationNumber StationNumber(unsigned number) { return *BaseStationNumber::CreateFrom(number); }
inline Room RoomOf(unsigned number) { return *Room::CreateFrom(number); }

// thermostats: an empty text is a configured position without an ID.
inline BaseStationProperties MakeProperties(unsigned number, const std::string& id, const std::vector<unsigned>& actors,
                                            const std::vector<std::string>& thermostats)
{
    ActorModuleRoomIndexMapping actorMapping;
    for (const auto actor : actors) {
        actorMapping.emplace_back(*ActorModuleNumber::CreateFrom(actor));
    }
    RoomThermostatRoomIndexMapping thermostatMapping;
    for (const auto& thermostat : thermostats) {
        thermostatMapping.emplace_back(boost::none);
        if (!thermostat.empty()) {
            thermostatMapping.back() = RoomThermostatRoomIndexMappingInfo(
                *RoomThermostatIDString::Create(*Oru::UTF8String::Create(thermostat)));
        }
    }
    return BaseStationProperties(StationNumber(number), *BaseStationIdString::Create(id), std::move(actorMapping),
                                 std::move(thermostatMapping));
}

inline std::shared_ptr<ServiceInfo> MakeServiceInfo(const std::string& stationId, std::uint32_t address)
{
    const std::string name = "plavo-" + stationId;
    return std::make_shared<ServiceInfo>(
        ServiceInfo{name, name + ".local", address, 8443, {{"Vendor", "Keldra"}, {"Model", "Brisgo"}}});
}

inline KeldraJson::RoomObject ThermostatRoom(unsigned roomNumber, const std::string& id, double setpoint,
                                             boost::optional<double> minimum = boost::none,
                                             boost::optional<double> maximum = boost::none)
{
    return KeldraJson::RoomObject{roomNumber, {}, KeldraJson::ThermostatObject{id, setpoint, minimum, maximum, {}, {}, {}},
                                  boost::none};
}

inline KeldraJson::RoomObject PowerLevelRoom(unsigned roomNumber, const std::vector<int>& actors, std::uint8_t level,
                                             boost::optional<std::uint8_t> percentage = boost::none)
{
    KeldraJson::RoomObject room{roomNumber, {}, boost::none, KeldraJson::PowerLevelControlObject{level, percentage, {}, {}}};
    for (const int actor : actors) {
        room.actors.push_back(KeldraJson::ActorObject{actor, boost::none});
    }
    return room;
}

inline KeldraJson::StatusObject MakeStatus(std::vector<KeldraJson::RoomObject> rooms, std::vector<int> errorCodes = {},
                                           bool leavingHome = false)
{
    KeldraJson::StatusObject status;
    status.system = {std::string("SN-0001"), std::string("Ground floor"), boost::none, "24-05-20", "18:30:00", false};
    status.rooms = std::move(rooms);
    for (const int code : errorCodes) {
        status.errors.push_back(KeldraJson::ErrorObject{code, boost::none, boost::none});
    }
    status.leavingHome.active = leavingHome;
    return status;
}

}  // namespace Testing
}  // namespace Keldra
