// Builders and small fakes shared by the base station and manager tests.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <boost/optional.hpp>

#include "basestations/BaseStationState.h"
#include "basestations/IBaseStationStatusHandler.h"
#include "basestations/KeldraJson.h"
#include "discovery/IKeldraConfigurationManager.h"
#include "discovery/ServiceInfo.h"
#include "rooms/BaseStationProperties.h"
#include "support/BoundedTypes.h"
#include "support/Function.h"

namespace Keldra {

// Test messages.
inline std::ostream& operator<<(std::ostream& stream, const Credentials& credentials)
{
    return stream << "Credentials{" << credentials.username << ", " << credentials.password << "}";
}

inline std::ostream& operator<<(std::ostream& stream, BaseStationState state)
{
    static const char* const names[] = {"Missing",      "CommunicationFailed",         "CredentialsRejected",
                                        "FirmwareUnsupported", "BadResponse",          "ValueOutOfRange",
                                        "UnexpectedFailure",   "Fatal",                "ThermostatsAndActorsMissing",
                                        "ActorsMissing",       "ThermostatsMissing",   "Complete"};
    const int value = static_cast<int>(state);
    if (value >= 0 && value < 12) {
        return stream << names[value];
    }
    return stream << "BaseStationState(" << value << ")";
}

namespace Testing {

// Credentials per station index, editable while the code under test runs.
class FakeConfigurationManager final : public IKeldraConfigurationManager {
public:
    boost::optional<Credentials> GetCredentials(unsigned char index) override
    {
        std::lock_guard<std::mutex> lock(_mutex);
        ++_lookups;
        const auto entry = _credentials.find(index);
        return entry == _credentials.end() ? boost::none : boost::optional<Credentials>(entry->second);
    }

    void Set(unsigned char index, const std::string& username, const std::string& password)
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _credentials[index] = Credentials{username, password};
    }
    void Remove(unsigned char index)
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _credentials.erase(index);
    }
    std::size_t Lookups() const
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return _lookups;
    }

private:
    mutable std::mutex _mutex;
    std::map<unsigned char, Credentials> _credentials;
    std::size_t _lookups = 0;
};

inline BaseStationNumber StationNumber(unsigned number) { return *BaseStationNumber::CreateFrom(number); }
inline Room RoomOf(unsigned number) { return *Room::CreateFrom(number); }

inline BaseStationIdString StationId(const std::string& id) { return *BaseStationIdString::Create(id); }

inline RoomThermostatIDString ThermostatIdString(const std::string& id)
{
    return *RoomThermostatIDString::Create(*Oru::UTF8String::Create(id));
}

// thermostats: an empty text is a configured position without an ID.
inline BaseStationProperties MakeProperties(unsigned number, const std::string& id,
                                            const std::vector<unsigned>& actorModules,
                                            const std::vector<std::string>& thermostats)
{
    ActorModuleRoomIndexMapping actorMapping;
    for (const auto actorModule : actorModules) {
        actorMapping.emplace_back(*ActorModuleNumber::CreateFrom(actorModule));
    }
    RoomThermostatRoomIndexMapping thermostatMapping;
    for (const auto& thermostat : thermostats) {
        if (thermostat.empty()) {
            thermostatMapping.emplace_back(boost::none);
        } else {
            thermostatMapping.emplace_back(RoomThermostatRoomIndexMappingInfo(ThermostatIdString(thermostat)));
        }
    }
    return BaseStationProperties(StationNumber(number), StationId(id), std::move(actorMapping),
                                 std::move(thermostatMapping));
}

inline std::shared_ptr<ServiceInfo> MakeServiceInfo(const std::string& stationId, std::uint32_t address,
                                                    std::uint16_t port = 8443)
{
    auto info = std::make_shared<ServiceInfo>();
    info->name = "plavo-" + stationId;
    info->hostName = info->name + ".local";
    info->address = address;
    info->port = port;
    info->txt = {{"Vendor", "Keldra"}, {"Model", "Brisgo"}};
    return info;
}

inline KeldraJson::RoomObject ThermostatRoom(unsigned roomNumber, const std::string& id, double setpoint,
                                             boost::optional<double> minimum = boost::none,
                                             boost::optional<double> maximum = boost::none)
{
    KeldraJson::RoomObject room;
    room.roomNumber = roomNumber;
    KeldraJson::ThermostatObject thermostat;
    thermostat.id = id;
    thermostat.setpointTemperature = setpoint;
    thermostat.minimumTemperature = minimum;
    thermostat.maximumTemperature = maximum;
    room.thermostat = thermostat;
    return room;
}

inline KeldraJson::RoomObject PowerLevelRoom(unsigned roomNumber, const std::vector<int>& actors, std::uint8_t level,
                                             boost::optional<std::uint8_t> percentage = boost::none)
{
    KeldraJson::RoomObject room;
    room.roomNumber = roomNumber;
    for (const int actor : actors) {
        KeldraJson::ActorObject entry;
        entry.actorModuleNumber = actor;
        room.actors.push_back(entry);
    }
    KeldraJson::PowerLevelControlObject control;
    control.powerLevel = level;
    control.percentage = percentage;
    room.powerLevelControl = control;
    return room;
}

inline KeldraJson::StatusObject MakeStatus(std::vector<KeldraJson::RoomObject> rooms,
                                           std::vector<int> errorCodes = {}, bool leavingHome = false)
{
    KeldraJson::StatusObject status;
    status.system.serialNumber = std::string("SN-0001");
    status.system.stationName = std::string("Ground floor");
    status.system.date = "24-05-20";
    status.system.time = "18:30:00";
    status.rooms = std::move(rooms);
    for (const int code : errorCodes) {
        KeldraJson::ErrorObject error;
        error.code = code;
        status.errors.push_back(error);
    }
    status.leavingHome.active = leavingHome;
    return status;
}

// What a station reports through its OnErrorCallbackHandler.
class RecordingStateCallback {
public:
    using Entry = std::pair<unsigned, boost::optional<BaseStationState>>;

    Oru::function<void(BaseStationNumber, boost::optional<BaseStationState>)> Callback()
    {
        return [entries = _entries](BaseStationNumber number, boost::optional<BaseStationState> state) {
            std::lock_guard<std::mutex> lock(entries->mutex);
            entries->values.emplace_back(number.Value(), state);
        };
    }
    std::vector<Entry> Entries() const
    {
        std::lock_guard<std::mutex> lock(_entries->mutex);
        return _entries->values;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(_entries->mutex);
        _entries->values.clear();
    }

private:
    struct Store {
        std::mutex mutex;
        std::vector<Entry> values;
    };
    std::shared_ptr<Store> _entries = std::make_shared<Store>();
};

// The station's side of the manager, recorded. Like the manager, it keeps
// the reported temperature ranges and power levels in the station's room
// mapping.
class RecordingStatusHandler final : public IBaseStationStatusHandler {
public:
    void OnSystemStatus(const BaseStationProperties&, const KeldraJson::SystemObject& system,
                        bool isSystemMaster) override
    {
        systems.emplace_back(system, isSystemMaster);
    }
    void OnPowerLevelControlStatus(BaseStationProperties& properties, const KeldraJson::PowerLevelControlObject& control,
                                   ActorModuleNumber actorModule) override
    {
        powerLevels.emplace_back(control, actorModule.Value());
        const auto& mapping = properties.GetActorModuleMapping();
        for (std::size_t index = 0; index < mapping.size(); ++index) {
            if (mapping[index].GetActorModuleNumber() == actorModule) {
                properties.UpdateSetpointPowerLevel(*ActorModuleSlot::CreateFrom(index + 1), control.powerLevel,
                                                    control.percentage);
                return;
            }
        }
    }
    void OnRoomTemperatureStatus(BaseStationProperties& properties, const KeldraJson::ThermostatObject& thermostat) override
    {
        thermostats.push_back(thermostat);
        const auto& mapping = properties.GetRoomThermostatMapping();
        for (std::size_t index = 0; index < mapping.size(); ++index) {
            if (mapping[index] && mapping[index]->GetID().Get().Get() == thermostat.id &&
                thermostat.minimumTemperature && thermostat.maximumTemperature) {
                properties.UpdateAllowedTemperatureRange(*RoomThermostat::CreateFrom(index + 1),
                                                         *thermostat.minimumTemperature,
                                                         *thermostat.maximumTemperature);
                return;
            }
        }
    }
    void OnLeavingHomeStatus(const KeldraJson::LeavingHomeObject& leavingHome) override
    {
        leavingHomes.push_back(leavingHome);
    }
    void OnErrorStatus(const BaseStationProperties&, const KeldraErrorState& state) override
    {
        errors.push_back(state);
    }
    void OnCoolingModeStatus(const BaseStationProperties&, const KeldraJson::SettingsObject& settings) override
    {
        coolingModes.push_back(settings);
    }

    void Clear()
    {
        systems.clear();
        powerLevels.clear();
        thermostats.clear();
        leavingHomes.clear();
        errors.clear();
        coolingModes.clear();
    }

    std::vector<std::pair<KeldraJson::SystemObject, bool>> systems;
    std::vector<std::pair<KeldraJson::PowerLevelControlObject, unsigned>> powerLevels;
    std::vector<KeldraJson::ThermostatObject> thermostats;
    std::vector<KeldraJson::LeavingHomeObject> leavingHomes;
    std::vector<KeldraErrorState> errors;
    std::vector<KeldraJson::SettingsObject> coolingModes;
};

}  // namespace Testing
}  // namespace Keldra
