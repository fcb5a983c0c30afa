#include "StationMessages.h"

#include <utility>

namespace Keldra {
namespace Simulation {

namespace {

using rapidjson::Value;
using Allocator = rapidjson::Document::AllocatorType;

constexpr int s_writeAccepted = 0;
constexpr int s_writeOutOfRange = 1;

Value Text(const std::string& text, Allocator& allocator)
{
    return Value(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

StationMessages::WriteAnswer Unusable(const std::string& why)
{
    return {400, 0, why};
}

StationMessages::WriteAnswer Answer(int writeStatus)
{
    return {200, writeStatus, {}};
}

// The member if present with the wanted type; wrongType tells whether it
// was present with another one.
const Value* Member(const Value& body, const char* name, bool (Value::*isType)() const, bool& wrongType)
{
    const auto member = body.FindMember(name);
    if (member == body.MemberEnd()) {
        return nullptr;
    }
    if (!(member->value.*isType)()) {
        wrongType = true;
        return nullptr;
    }
    return &member->value;
}

RoomState* FindRoom(StationState& state, std::size_t roomIndex, StationMessages::WriteAnswer& notFound)
{
    if (roomIndex < 1 || roomIndex > state.rooms.size()) {
        notFound = {404, 0, "no room with index " + std::to_string(roomIndex)};
        return nullptr;
    }
    return &state.rooms[roomIndex - 1];
}

}  // namespace

void StationMessages::Info(const StationState& state, rapidjson::Document& out)
{
    Allocator& allocator = out.GetAllocator();
    out.SetObject();
    out.AddMember("stationId", Text(state.stationId, allocator), allocator);
    out.AddMember("model", Text(state.model, allocator), allocator);
    out.AddMember("vendor", Text(state.vendor, allocator), allocator);
    out.AddMember("firmwareVersion", Text(state.firmwareVersion, allocator), allocator);
}

void StationMessages::Status(const StationState& state, const ClockTexts& clock, rapidjson::Document& out)
{
    Allocator& allocator = out.GetAllocator();
    out.SetObject();
    out.AddMember("responseCode", 0, allocator);

    Value system(rapidjson::kObjectType);
    if (state.serialNumber) {
        system.AddMember("serialNumber", Text(*state.serialNumber, allocator), allocator);
    }
    if (state.stationName) {
        system.AddMember("stationName", Text(*state.stationName, allocator), allocator);
    }
    if (state.code) {
        system.AddMember("code", Text(*state.code, allocator), allocator);
    }
    system.AddMember("date", Text(clock.date, allocator), allocator);
    system.AddMember("time", Text(clock.time, allocator), allocator);
    system.AddMember("cooling", state.cooling, allocator);
    out.AddMember("system", system, allocator);

    Value rooms(rapidjson::kArrayType);
    for (const RoomState& room : state.rooms) {
        Value entry(rapidjson::kObjectType);
        entry.AddMember("room", room.room, allocator);
        Value actors(rapidjson::kArrayType);
        for (const ActorState& actor : room.actors) {
            Value actorEntry(rapidjson::kObjectType);
            actorEntry.AddMember("number", actor.number, allocator);
            if (actor.valveOpen) {
                actorEntry.AddMember("valveOpen", *actor.valveOpen, allocator);
            }
            actors.PushBack(actorEntry, allocator);
        }
        entry.AddMember("actors", actors, allocator);
        if (room.thermostat) {
            const ThermostatState& thermostat = *room.thermostat;
            Value object(rapidjson::kObjectType);
            object.AddMember("id", Text(thermostat.id, allocator), allocator);
            object.AddMember("setpointTemperature", thermostat.setpointTemperature, allocator);
            const std::pair<const char*, const std::optional<double>*> numbers[] = {
                {"minimumTemperature", &thermostat.minimumTemperature},
                {"maximumTemperature", &thermostat.maximumTemperature},
                {"roomTemperature", &thermostat.roomTemperature},
                {"relativeHumidity", &thermostat.relativeHumidity},
            };
            for (const auto& number : numbers) {
                if (*number.second) {
                    object.AddMember(rapidjson::StringRef(number.first), **number.second, allocator);
                }
            }
            if (thermostat.batteryLow) {
                object.AddMember("batteryLow", *thermostat.batteryLow, allocator);
            }
            entry.AddMember("thermostat", object, allocator);
        }
        if (room.powerLevel) {
            Value object(rapidjson::kObjectType);
            object.AddMember("level", room.powerLevel->level, allocator);
            object.AddMember("percent", room.powerLevel->percent, allocator);
            object.AddMember("minimumLevel", room.powerLevel->minimumLevel, allocator);
            object.AddMember("maximumLevel", room.powerLevel->maximumLevel, allocator);
            entry.AddMember("powerLevel", object, allocator);
        }
        rooms.PushBack(entry, allocator);
    }
    out.AddMember("rooms", rooms, allocator);

    Value errors(rapidjson::kArrayType);
    for (const StationErrorState& error : state.errors) {
        Value entry(rapidjson::kObjectType);
        entry.AddMember("code", error.code, allocator);
        if (error.room) {
            entry.AddMember("room", *error.room, allocator);
        }
        if (error.description) {
            entry.AddMember("description", Text(*error.description, allocator), allocator);
        }
        errors.PushBack(entry, allocator);
    }
    out.AddMember("errors", errors, allocator);

    Value leavingHome(rapidjson::kObjectType);
    leavingHome.AddMember("active", state.leavingHome.active, allocator);
    if (state.leavingHome.date) {
        leavingHome.AddMember("date", Text(*state.leavingHome.date, allocator), allocator);
    }
    if (state.leavingHome.time) {
        leavingHome.AddMember("time", Text(*state.leavingHome.time, allocator), allocator);
    }
    out.AddMember("leavingHome", leavingHome, allocator);
}

StationMessages::WriteAnswer StationMessages::SetSetpoint(StationState& state, std::size_t roomIndex,
                                                          const rapidjson::Value& body, std::optional<int> forcedStatus)
{
    if (!body.IsObject()) {
        return Unusable("expected a JSON object");
    }
    bool wrongType = false;
    const Value* setpoint = Member(body, "setpointTemperature", &Value::IsNumber, wrongType);
    if (setpoint == nullptr) {
        return Unusable(wrongType ? "setpointTemperature: expected a number" : "setpointTemperature: missing");
    }
    WriteAnswer notFound;
    RoomState* room = FindRoom(state, roomIndex, notFound);
    if (room == nullptr) {
        return notFound;
    }
    if (!room->thermostat) {
        return {404, 0, "room " + std::to_string(roomIndex) + " has no thermostat"};
    }
    if (forcedStatus) {
        return Answer(*forcedStatus);
    }
    const double value = setpoint->GetDouble();
    ThermostatState& thermostat = *room->thermostat;
    if ((thermostat.minimumTemperature && value < *thermostat.minimumTemperature) ||
        (thermostat.maximumTemperature && value > *thermostat.maximumTemperature)) {
        return Answer(s_writeOutOfRange);
    }
    thermostat.setpointTemperature = value;
    return Answer(s_writeAccepted);
}

StationMessages::WriteAnswer StationMessages::SetPowerLevel(StationState& state, std::size_t roomIndex,
                                                            const rapidjson::Value& body,
                                                            std::optional<int> forcedStatus)
{
    if (!body.IsObject()) {
        return Unusable("expected a JSON object");
    }
    bool wrongType = false;
    const Value* level = Member(body, "level", &Value::IsInt64, wrongType);
    const Value* minimum = Member(body, "minimumLevel", &Value::IsInt64, wrongType);
    const Value* maximum = Member(body, "maximumLevel", &Value::IsInt64, wrongType);
    if (wrongType) {
        return Unusable("level, minimumLevel and maximumLevel: expected integers");
    }
    if (level == nullptr) {
        return Unusable("level: missing");
    }
    WriteAnswer notFound;
    RoomState* room = FindRoom(state, roomIndex, notFound);
    if (room == nullptr) {
        return notFound;
    }
    if (!room->powerLevel) {
        return {404, 0, "room " + std::to_string(roomIndex) + " has no power level control"};
    }
    if (forcedStatus) {
        return Answer(*forcedStatus);
    }
    const std::int64_t value = level->GetInt64();
    PowerLevelState& powerLevel = *room->powerLevel;
    // The write's bounds are checked, never taken over as the room's limits.
    if (value < 0 || value > 10 || value < powerLevel.minimumLevel || value > powerLevel.maximumLevel ||
        (minimum != nullptr && value < minimum->GetInt64()) || (maximum != nullptr && value > maximum->GetInt64())) {
        return Answer(s_writeOutOfRange);
    }
    powerLevel.level = static_cast<int>(value);
    if (powerLevel.percentFollowsLevel) {
        powerLevel.percent = PercentOfLevel(powerLevel.level);
    }
    return Answer(s_writeAccepted);
}

StationMessages::WriteAnswer StationMessages::SetLeavingHome(StationState& state, const rapidjson::Value& body,
                                                             std::optional<int> forcedStatus)
{
    if (!body.IsObject()) {
        return Unusable("expected a JSON object");
    }
    bool wrongType = false;
    const Value* active = Member(body, "active", &Value::IsBool, wrongType);
    const Value* date = Member(body, "date", &Value::IsString, wrongType);
    const Value* time = Member(body, "time", &Value::IsString, wrongType);
    if (wrongType) {
        return Unusable("active: expected true or false; date, time: expected strings");
    }
    if (active == nullptr) {
        return Unusable("active: missing");
    }
    if (active->GetBool() && (date == nullptr) != (time == nullptr)) {
        return Unusable("an arrival needs both date and time");
    }
    if (forcedStatus) {
        return Answer(*forcedStatus);
    }
    if (!active->GetBool()) {
        // Switching off keeps the last arrival, which the status goes on reporting.
        state.leavingHome.active = false;
        return Answer(s_writeAccepted);
    }
    if (date == nullptr) {
        state.leavingHome = LeavingHomeState{true, std::nullopt, std::nullopt};
        return Answer(s_writeAccepted);
    }
    const std::string dateText(date->GetString(), date->GetStringLength());
    const std::string timeText(time->GetString(), time->GetStringLength());
    if (!IsDateText(dateText) || !IsTimeOfDayText(timeText)) {
        return Answer(s_writeOutOfRange);
    }
    state.leavingHome = LeavingHomeState{true, dateText, timeText};
    return Answer(s_writeAccepted);
}

StationMessages::WriteAnswer StationMessages::SetSettings(StationState& state, const rapidjson::Value& body,
                                                          std::optional<int> forcedStatus)
{
    if (!body.IsObject()) {
        return Unusable("expected a JSON object");
    }
    bool wrongType = false;
    const Value* cooling = Member(body, "cooling", &Value::IsBool, wrongType);
    const Value* changeover = Member(body, "automaticChangeover", &Value::IsBool, wrongType);
    if (wrongType) {
        return Unusable("cooling, automaticChangeover: expected true or false");
    }
    if (cooling == nullptr) {
        return Unusable("cooling: missing");
    }
    if (forcedStatus) {
        return Answer(*forcedStatus);
    }
    state.cooling = cooling->GetBool();
    if (changeover != nullptr) {
        state.automaticChangeover = changeover->GetBool();
    }
    return Answer(s_writeAccepted);
}

}  // namespace Simulation
}  // namespace Keldra
