#include "KeldraJsonCodec.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <utf8/core.h>

#include "basestations/BaseStationRequestError.h"

namespace Keldra {

namespace {

using KeldraJson::ActorObject;
using KeldraJson::BaseStationShortInfoMessage;
using KeldraJson::ErrorObject;
using KeldraJson::LeavingHomeObject;
using KeldraJson::PowerLevelControlObject;
using KeldraJson::RoomObject;
using KeldraJson::SettingsObject;
using KeldraJson::StatusObject;
using KeldraJson::SystemObject;
using KeldraJson::ThermostatObject;

using Value = rapidjson::Value;
using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

// Iterative parsing keeps deeply nested input off the stack; the document's
// pool allocator frees the tree without recursion. Not full precision: that
// path of RapidJSON 1.1 has undefined behaviour on a zero with a large
// exponent ("0e279"); the fast path may miss the nearest double by a unit
// in the last place.
constexpr unsigned s_parseFlags = rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag;

boost::system::error_code Unusable() { return make_error_code(BaseStationRequestError::UnusableMessage); }

// Each Read* returns false when the member does not fit; the optional
// variants accept an absent member and leave the target empty.
const Value* FindMember(const Value& object, const char* name)
{
    const auto member = object.FindMember(name);
    return member == object.MemberEnd() ? nullptr : &member->value;
}

bool ReadString(const Value& value, std::string& target)
{
    if (!value.IsString()) {
        return false;
    }
    target.assign(value.GetString(), value.GetStringLength());
    // Deliberate: the parser checks the raw bytes only; a lone surrogate escape such as
    // "\udfff" becomes bytes that are no UTF-8.
    return utf8::is_valid(target.begin(), target.end());
}

bool ReadBool(const Value& value, bool& target)
{
    if (!value.IsBool()) {
        return false;
    }
    target = value.GetBool();
    return true;
}

bool ReadNumber(const Value& value, double& target)
{
    if (!value.IsNumber()) {
        return false;
    }
    target = value.GetDouble();
    return std::isfinite(target);
}

template <typename Int>
bool ReadInteger(const Value& value, Int& target, std::int64_t minimum = std::numeric_limits<Int>::min(),
                 std::int64_t maximum = std::numeric_limits<Int>::max())
{
    if (!value.IsInt64()) {
        return false;
    }
    const auto number = value.GetInt64();
    if (number < minimum || number > maximum) {
        return false;
    }
    target = static_cast<Int>(number);
    return true;
}

template <typename T, typename Read>
bool ReadRequired(const Value& object, const char* name, T& target, Read read)
{
    const auto* member = FindMember(object, name);
    return member != nullptr && read(*member, target);
}

template <typename T, typename Read>
bool ReadOptional(const Value& object, const char* name, boost::optional<T>& target, Read read)
{
    const auto* member = FindMember(object, name);
    if (member == nullptr) {
        target = boost::none;
        return true;
    }
    T value{};
    if (!read(*member, value)) {
        return false;
    }
    target = std::move(value);
    return true;
}

const auto s_string = [](const Value& value, std::string& target) { return ReadString(value, target); };
const auto s_bool = [](const Value& value, bool& target) { return ReadBool(value, target); };
const auto s_number = [](const Value& value, double& target) { return ReadNumber(value, target); };
const auto s_int = [](const Value& value, int& target) { return ReadInteger(value, target); };
const auto s_unsigned = [](const Value& value, unsigned int& target) { return ReadInteger(value, target); };
const auto s_byte = [](const Value& value, std::uint8_t& target) { return ReadInteger(value, target); };

template <typename Element, typename Read>
bool ReadArray(const Value& object, const char* name, std::vector<Element>& target, Read read)
{
    const auto* member = FindMember(object, name);
    if (member == nullptr || !member->IsArray()) {
        return false;
    }
    target.clear();
    target.reserve(member->Size());
    for (const auto& entry : member->GetArray()) {
        Element element;
        if (!entry.IsObject() || !read(entry, element)) {
            return false;
        }
        target.push_back(std::move(element));
    }
    return true;
}

template <typename Read>
bool ReadObject(const Value& object, const char* name, Read read)
{
    const auto* member = FindMember(object, name);
    return member != nullptr && member->IsObject() && read(*member);
}

bool ReadActor(const Value& object, ActorObject& actor)
{
    return ReadRequired(object, "number", actor.actorModuleNumber, s_int) &&
           ReadOptional(object, "valveOpen", actor.valveOpen, s_bool);
}

bool ReadThermostat(const Value& object, ThermostatObject& thermostat)
{
    return ReadRequired(object, "id", thermostat.id, s_string) &&
           ReadRequired(object, "setpointTemperature", thermostat.setpointTemperature, s_number) &&
           ReadOptional(object, "minimumTemperature", thermostat.minimumTemperature, s_number) &&
           ReadOptional(object, "maximumTemperature", thermostat.maximumTemperature, s_number) &&
           ReadOptional(object, "roomTemperature", thermostat.roomTemperature, s_number) &&
           ReadOptional(object, "relativeHumidity", thermostat.relativeHumidity, s_number) &&
           ReadOptional(object, "batteryLow", thermostat.batteryLow, s_bool);
}

bool ReadPowerLevel(const Value& object, PowerLevelControlObject& powerLevel)
{
    return ReadRequired(object, "level", powerLevel.powerLevel, s_byte) &&
           ReadOptional(object, "percent", powerLevel.percentage, s_byte) &&
           ReadOptional(object, "minimumLevel", powerLevel.minimumLevel, s_byte) &&
           ReadOptional(object, "maximumLevel", powerLevel.maximumLevel, s_byte);
}

// The optional object members of a room: absent, or an object that fits.
template <typename T, typename Read>
bool ReadOptionalObject(const Value& object, const char* name, boost::optional<T>& target, Read read)
{
    return ReadOptional(object, name, target, [&read](const Value& value, T& element) {
        return value.IsObject() && read(value, element);
    });
}

bool ReadRoom(const Value& object, RoomObject& room)
{
    return ReadRequired(object, "room", room.roomNumber, s_unsigned) &&
           ReadArray(object, "actors", room.actors, ReadActor) &&
           ReadOptionalObject(object, "thermostat", room.thermostat, ReadThermostat) &&
           ReadOptionalObject(object, "powerLevel", room.powerLevelControl, ReadPowerLevel);
}

bool ReadError(const Value& object, ErrorObject& error)
{
    return ReadRequired(object, "code", error.code, s_int) && ReadOptional(object, "room", error.room, s_unsigned) &&
           ReadOptional(object, "description", error.description, s_string);
}

bool ReadSystem(const Value& object, SystemObject& system)
{
    return ReadOptional(object, "serialNumber", system.serialNumber, s_string) &&
           ReadOptional(object, "stationName", system.stationName, s_string) &&
           ReadOptional(object, "code", system.code, s_string) &&
           ReadRequired(object, "date", system.date, s_string) &&
           ReadRequired(object, "time", system.time, s_string) &&
           ReadRequired(object, "cooling", system.cooling, s_bool);
}

bool ReadLeavingHome(const Value& object, LeavingHomeObject& leavingHome)
{
    return ReadRequired(object, "active", leavingHome.active, s_bool) &&
           ReadOptional(object, "date", leavingHome.date, s_string) &&
           ReadOptional(object, "time", leavingHome.time, s_string);
}

// Parses the text as one JSON object and reads the message from it.
template <typename Message, typename Read>
Oru::SystemResult<Message> Decode(const std::string& json, Read read)
{
    // JSON text holds no raw NUL byte; the parser would take one for the end.
    if (json.find('\0') != std::string::npos) {
        return Unusable();
    }
    rapidjson::Document document;
    document.Parse<s_parseFlags>(json.data(), json.size());
    if (document.HasParseError() || !document.IsObject()) {
        return Unusable();
    }
    Message message{};
    if (!read(static_cast<const Value&>(document), message)) {
        return Unusable();
    }
    return message;
}

void WriteNumber(Writer& writer, double value)
{
    if (std::isfinite(value)) {
        writer.Double(value);
    } else {
        writer.Null();
    }
}

void WriteString(Writer& writer, const std::string& text)
{
    writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

template <typename T, typename Write>
void WriteOptional(Writer& writer, const char* name, const boost::optional<T>& value, Write write)
{
    if (value) {
        writer.Key(name);
        write(writer, *value);
    }
}

const auto s_writeString = [](Writer& writer, const std::string& text) { WriteString(writer, text); };
const auto s_writeNumber = [](Writer& writer, double value) { WriteNumber(writer, value); };
const auto s_writeBool = [](Writer& writer, bool value) { writer.Bool(value); };
const auto s_writeByte = [](Writer& writer, std::uint8_t value) { writer.Uint(value); };
const auto s_writeUnsigned = [](Writer& writer, unsigned int value) { writer.Uint(value); };

void WriteLeavingHome(Writer& writer, const LeavingHomeObject& leavingHome)
{
    writer.StartObject();
    writer.Key("active");
    writer.Bool(leavingHome.active);
    WriteOptional(writer, "date", leavingHome.date, s_writeString);
    WriteOptional(writer, "time", leavingHome.time, s_writeString);
    writer.EndObject();
}

void WriteThermostat(Writer& writer, const ThermostatObject& thermostat)
{
    writer.StartObject();
    writer.Key("id");
    WriteString(writer, thermostat.id);
    writer.Key("setpointTemperature");
    WriteNumber(writer, thermostat.setpointTemperature);
    WriteOptional(writer, "minimumTemperature", thermostat.minimumTemperature, s_writeNumber);
    WriteOptional(writer, "maximumTemperature", thermostat.maximumTemperature, s_writeNumber);
    WriteOptional(writer, "roomTemperature", thermostat.roomTemperature, s_writeNumber);
    WriteOptional(writer, "relativeHumidity", thermostat.relativeHumidity, s_writeNumber);
    WriteOptional(writer, "batteryLow", thermostat.batteryLow, s_writeBool);
    writer.EndObject();
}

void WritePowerLevel(Writer& writer, const PowerLevelControlObject& powerLevel, bool withPercentage)
{
    writer.StartObject();
    writer.Key("level");
    writer.Uint(powerLevel.powerLevel);
    if (withPercentage) {
        WriteOptional(writer, "percent", powerLevel.percentage, s_writeByte);
    }
    WriteOptional(writer, "minimumLevel", powerLevel.minimumLevel, s_writeByte);
    WriteOptional(writer, "maximumLevel", powerLevel.maximumLevel, s_writeByte);
    writer.EndObject();
}

void WriteRoom(Writer& writer, const RoomObject& room)
{
    writer.StartObject();
    writer.Key("room");
    writer.Uint(room.roomNumber);
    writer.Key("actors");
    writer.StartArray();
    for (const auto& actor : room.actors) {
        writer.StartObject();
        writer.Key("number");
        writer.Int(actor.actorModuleNumber);
        WriteOptional(writer, "valveOpen", actor.valveOpen, s_writeBool);
        writer.EndObject();
    }
    writer.EndArray();
    if (room.thermostat) {
        writer.Key("thermostat");
        WriteThermostat(writer, *room.thermostat);
    }
    if (room.powerLevelControl) {
        writer.Key("powerLevel");
        WritePowerLevel(writer, *room.powerLevelControl, true);
    }
    writer.EndObject();
}

// Runs write on a fresh writer and returns the text.
template <typename Write>
std::string Encode(Write write)
{
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    write(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace

Oru::SystemResult<BaseStationShortInfoMessage> KeldraJsonCodec::DecodeShortInfo(const std::string& json)
{
    return Decode<BaseStationShortInfoMessage>(json, [](const Value& object, BaseStationShortInfoMessage& info) {
        boost::optional<std::string> vendor;
        return ReadOptional(object, "stationId", info.stationId, s_string) &&
               ReadOptional(object, "model", info.model, s_string) &&
               ReadOptional(object, "vendor", vendor, s_string) &&
               ReadOptional(object, "firmwareVersion", info.firmwareVersion, s_string);
    });
}

Oru::SystemResult<StatusObject> KeldraJsonCodec::DecodeStatus(const std::string& json)
{
    return Decode<StatusObject>(json, [](const Value& object, StatusObject& status) {
        return ReadRequired(object, "responseCode", status.responseCode, s_int) &&
               ReadObject(object, "system", [&](const Value& system) { return ReadSystem(system, status.system); }) &&
               ReadArray(object, "rooms", status.rooms, ReadRoom) &&
               ReadArray(object, "errors", status.errors, ReadError) &&
               ReadObject(object, "leavingHome",
                          [&](const Value& leavingHome) { return ReadLeavingHome(leavingHome, status.leavingHome); });
    });
}

Oru::SystemResult<WriteResponseStatus> KeldraJsonCodec::DecodeWriteResponse(const std::string& json)
{
    return Decode<WriteResponseStatus>(json, [](const Value& object, WriteResponseStatus& status) {
        int number = 0;
        if (!ReadRequired(object, "status", number, s_int)) {
            return false;
        }
        status = static_cast<WriteResponseStatus>(number);
        return true;
    });
}

std::string KeldraJsonCodec::EncodeShortInfo(const BaseStationShortInfoMessage& info)
{
    return Encode([&info](Writer& writer) {
        writer.StartObject();
        WriteOptional(writer, "stationId", info.stationId, s_writeString);
        WriteOptional(writer, "model", info.model, s_writeString);
        writer.Key("vendor");
        writer.String("Keldra");
        WriteOptional(writer, "firmwareVersion", info.firmwareVersion, s_writeString);
        writer.EndObject();
    });
}

std::string KeldraJsonCodec::EncodeStatus(const StatusObject& status)
{
    return Encode([&status](Writer& writer) {
        writer.StartObject();
        writer.Key("responseCode");
        writer.Int(status.responseCode);

        writer.Key("system");
        writer.StartObject();
        WriteOptional(writer, "serialNumber", status.system.serialNumber, s_writeString);
        WriteOptional(writer, "stationName", status.system.stationName, s_writeString);
        WriteOptional(writer, "code", status.system.code, s_writeString);
        writer.Key("date");
        WriteString(writer, status.system.date);
        writer.Key("time");
        WriteString(writer, status.system.time);
        writer.Key("cooling");
        writer.Bool(status.system.cooling);
        writer.EndObject();

        writer.Key("rooms");
        writer.StartArray();
        for (const auto& room : status.rooms) {
            WriteRoom(writer, room);
        }
        writer.EndArray();

        writer.Key("errors");
        writer.StartArray();
        for (const auto& error : status.errors) {
            writer.StartObject();
            writer.Key("code");
            writer.Int(error.code);
            WriteOptional(writer, "room", error.room, s_writeUnsigned);
            WriteOptional(writer, "description", error.description, s_writeString);
            writer.EndObject();
        }
        writer.EndArray();

        writer.Key("leavingHome");
        WriteLeavingHome(writer, status.leavingHome);
        writer.EndObject();
    });
}

std::string KeldraJsonCodec::EncodeWriteResponse(WriteResponseStatus status)
{
    return Encode([status](Writer& writer) {
        writer.StartObject();
        writer.Key("status");
        writer.Int(static_cast<int>(status));
        writer.EndObject();
    });
}

boost::optional<std::string> KeldraJsonCodec::EncodeSetpointRequest(double temperature)
{
    if (!std::isfinite(temperature)) {
        return boost::none;
    }
    return Encode([temperature](Writer& writer) {
        writer.StartObject();
        writer.Key("setpointTemperature");
        writer.Double(temperature);
        writer.EndObject();
    });
}

std::string KeldraJsonCodec::EncodePowerLevelRequest(const PowerLevelControlObject& powerLevel)
{
    return Encode([&powerLevel](Writer& writer) { WritePowerLevel(writer, powerLevel, false); });
}

std::string KeldraJsonCodec::EncodeLeavingHomeRequest(const LeavingHomeObject& leavingHome)
{
    return Encode([&leavingHome](Writer& writer) { WriteLeavingHome(writer, leavingHome); });
}

std::string KeldraJsonCodec::EncodeSettingsRequest(const SettingsObject& settings)
{
    return Encode([&settings](Writer& writer) {
        writer.StartObject();
        writer.Key("cooling");
        writer.Bool(settings.coolingMode);
        WriteOptional(writer, "automaticChangeover", settings.automaticChangeover, s_writeBool);
        writer.EndObject();
    });
}

Oru::SystemResult<double> KeldraJsonCodec::DecodeSetpointRequest(const std::string& json)
{
    return Decode<double>(json, [](const Value& object, double& temperature) {
        return ReadRequired(object, "setpointTemperature", temperature, s_number);
    });
}

Oru::SystemResult<PowerLevelControlObject> KeldraJsonCodec::DecodePowerLevelRequest(const std::string& json)
{
    return Decode<PowerLevelControlObject>(json, [](const Value& object, PowerLevelControlObject& powerLevel) {
        return ReadRequired(object, "level", powerLevel.powerLevel, s_byte) &&
               ReadOptional(object, "minimumLevel", powerLevel.minimumLevel, s_byte) &&
               ReadOptional(object, "maximumLevel", powerLevel.maximumLevel, s_byte);
    });
}

Oru::SystemResult<LeavingHomeObject> KeldraJsonCodec::DecodeLeavingHomeRequest(const std::string& json)
{
    return Decode<LeavingHomeObject>(json, ReadLeavingHome);
}

Oru::SystemResult<SettingsObject> KeldraJsonCodec::DecodeSettingsRequest(const std::string& json)
{
    return Decode<SettingsObject>(json, [](const Value& object, SettingsObject& settings) {
        return ReadRequired(object, "cooling", settings.coolingMode, s_bool) &&
               ReadOptional(object, "automaticChangeover", settings.automaticChangeover, s_bool);
    });
}

}  // namespace Keldra
