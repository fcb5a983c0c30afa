#include "ScenarioFormat.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <sstream>

#include "DateTimeTexts.h"
#include "JsonText.h"

namespace Keldra {
namespace Simulation {

namespace {

using rapidjson::Value;
using Allocator = rapidjson::Document::AllocatorType;

constexpr std::size_t s_maximumRooms = 12;
constexpr std::size_t s_maximumErrors = 64;
constexpr std::size_t s_maximumActors = 16;
constexpr std::size_t s_stationIdLength = 10;
constexpr std::size_t s_maximumTextLength = 256;
// A clock offset of up to a century either way.
constexpr std::int64_t s_maximumOffsetSeconds = 100LL * 366 * 24 * 3600;

// Reads the members of the JSON form; the first failure is kept in
// _error with the path of the value it concerns.
class StateReader {
public:
    const std::string& Error() const { return _error; }

    bool Fail(const std::string& path, const std::string& what)
    {
        if (_error.empty()) {
            _error = path + ": " + what;
        }
        return false;
    }

    bool Object(const Value& value, const std::string& path, std::initializer_list<const char*> allowed)
    {
        if (!value.IsObject()) {
            return Fail(path, "expected an object");
        }
        for (auto member = value.MemberBegin(); member != value.MemberEnd(); ++member) {
            bool known = false;
            for (const char* name : allowed) {
                known = known || std::strcmp(member->name.GetString(), name) == 0;
            }
            if (!known) {
                return Fail(path, "unknown member " + JsonQuoted(member->name.GetString()));
            }
        }
        return true;
    }

    // Optional members: absent and null leave out empty.
    const Value* Member(const Value& object, const char* name)
    {
        const auto member = object.FindMember(name);
        if (member == object.MemberEnd() || member->value.IsNull()) {
            return nullptr;
        }
        return &member->value;
    }

    bool Text(const Value& object, const char* name, const std::string& path, std::optional<std::string>& out)
    {
        const Value* value = Member(object, name);
        if (value == nullptr) {
            return true;
        }
        if (!value->IsString()) {
            return Fail(Join(path, name), "expected a string");
        }
        if (value->GetStringLength() > s_maximumTextLength) {
            return Fail(Join(path, name), "longer than " + std::to_string(s_maximumTextLength) + " bytes");
        }
        out = std::string(value->GetString(), value->GetStringLength());
        return true;
    }

    bool Number(const Value& object, const char* name, const std::string& path, std::optional<double>& out)
    {
        const Value* value = Member(object, name);
        if (value == nullptr) {
            return true;
        }
        if (!value->IsNumber()) {
            return Fail(Join(path, name), "expected a number");
        }
        out = value->GetDouble();
        return true;
    }

    bool Bool(const Value& object, const char* name, const std::string& path, std::optional<bool>& out)
    {
        const Value* value = Member(object, name);
        if (value == nullptr) {
            return true;
        }
        if (!value->IsBool()) {
            return Fail(Join(path, name), "expected true or false");
        }
        out = value->GetBool();
        return true;
    }

    bool Integer(const Value& object, const char* name, const std::string& path, std::int64_t minimum,
                 std::int64_t maximum, std::optional<std::int64_t>& out)
    {
        const Value* value = Member(object, name);
        if (value == nullptr) {
            return true;
        }
        if (!value->IsInt64()) {
            return Fail(Join(path, name), "expected an integer");
        }
        const std::int64_t number = value->GetInt64();
        if (number < minimum || number > maximum) {
            return Fail(Join(path, name),
                        "expected an integer from " + std::to_string(minimum) + " to " + std::to_string(maximum));
        }
        out = number;
        return true;
    }

    template <typename T>
    bool Required(const std::optional<T>& value, const std::string& path, const char* name)
    {
        return value ? true : Fail(Join(path, name), "missing");
    }

    static std::string Join(const std::string& path, const char* name)
    {
        return path.empty() ? std::string(name) : path + "." + name;
    }

    static std::string Index(const std::string& path, std::size_t index)
    {
        return path + "[" + std::to_string(index) + "]";
    }

private:
    std::string _error;
};

bool ReadCredentials(StateReader& reader, const Value& value, StationState& state)
{
    const std::string path = "credentials";
    std::optional<std::string> username;
    std::optional<std::string> password;
    if (!reader.Object(value, path, {"username", "password"}) || !reader.Text(value, "username", path, username) ||
        !reader.Text(value, "password", path, password) || !reader.Required(username, path, "username") ||
        !reader.Required(password, path, "password")) {
        return false;
    }
    state.credentials = StationCredentials{*username, *password};
    return true;
}

bool ReadSystem(StateReader& reader, const Value& value, StationState& state)
{
    const std::string path = "system";
    std::optional<bool> cooling;
    if (!reader.Object(value, path, {"serialNumber", "stationName", "code", "cooling", "automaticChangeover"}) ||
        !reader.Text(value, "serialNumber", path, state.serialNumber) ||
        !reader.Text(value, "stationName", path, state.stationName) || !reader.Text(value, "code", path, state.code) ||
        !reader.Bool(value, "cooling", path, cooling) ||
        !reader.Bool(value, "automaticChangeover", path, state.automaticChangeover)) {
        return false;
    }
    state.cooling = cooling.value_or(false);
    return true;
}

bool ReadClock(StateReader& reader, const Value& value, StationState& state)
{
    const std::string path = "clock";
    std::optional<std::int64_t> offset;
    std::optional<std::string> date;
    std::optional<std::string> time;
    if (!reader.Object(value, path, {"offsetSeconds", "date", "time"}) ||
        !reader.Integer(value, "offsetSeconds", path, -s_maximumOffsetSeconds, s_maximumOffsetSeconds, offset) ||
        !reader.Text(value, "date", path, date) || !reader.Text(value, "time", path, time)) {
        return false;
    }
    if (offset && (date || time)) {
        return reader.Fail(path, "either \"offsetSeconds\" or \"date\" and \"time\", not both");
    }
    if (date || time) {
        if (!reader.Required(date, path, "date") || !reader.Required(time, path, "time")) {
            return false;
        }
        if (!IsDateText(*date)) {
            return reader.Fail(path + ".date", "expected \"yy-mm-dd\", got " + JsonQuoted(*date));
        }
        if (!IsClockTimeText(*time)) {
            return reader.Fail(path + ".time", "expected \"hh:mm:ss\", got " + JsonQuoted(*time));
        }
        state.clock = StationClock{true, 0, *date, *time};
    } else {
        state.clock = StationClock{false, offset.value_or(0), {}, {}};
    }
    return true;
}

bool ReadActors(StateReader& reader, const Value& object, const std::string& roomPath, RoomState& room)
{
    const Value* actors = reader.Member(object, "actors");
    if (actors == nullptr) {
        return true;
    }
    const std::string path = StateReader::Join(roomPath, "actors");
    if (!actors->IsArray()) {
        return reader.Fail(path, "expected an array");
    }
    if (actors->Size() > s_maximumActors) {
        return reader.Fail(path, "more than " + std::to_string(s_maximumActors) + " actors");
    }
    for (rapidjson::SizeType index = 0; index < actors->Size(); ++index) {
        const Value& actor = (*actors)[index];
        const std::string actorPath = StateReader::Index(path, index);
        std::optional<std::int64_t> number;
        ActorState state;
        if (!reader.Object(actor, actorPath, {"number", "valveOpen"}) ||
            !reader.Integer(actor, "number", actorPath, std::numeric_limits<int>::min(),
                            std::numeric_limits<int>::max(), number) ||
            !reader.Required(number, actorPath, "number") ||
            !reader.Bool(actor, "valveOpen", actorPath, state.valveOpen)) {
            return false;
        }
        state.number = static_cast<int>(*number);
        room.actors.push_back(state);
    }
    return true;
}

bool ReadThermostat(StateReader& reader, const Value& value, const std::string& path, RoomState& room)
{
    ThermostatState thermostat;
    std::optional<std::string> id;
    std::optional<double> setpoint;
    if (!reader.Object(value, path,
                       {"id", "setpointTemperature", "minimumTemperature", "maximumTemperature", "roomTemperature",
                        "relativeHumidity", "batteryLow"}) ||
        !reader.Text(value, "id", path, id) || !reader.Required(id, path, "id") ||
        !reader.Number(value, "setpointTemperature", path, setpoint) ||
        !reader.Required(setpoint, path, "setpointTemperature") ||
        !reader.Number(value, "minimumTemperature", path, thermostat.minimumTemperature) ||
        !reader.Number(value, "maximumTemperature", path, thermostat.maximumTemperature) ||
        !reader.Number(value, "roomTemperature", path, thermostat.roomTemperature) ||
        !reader.Number(value, "relativeHumidity", path, thermostat.relativeHumidity) ||
        !reader.Bool(value, "batteryLow", path, thermostat.batteryLow)) {
        return false;
    }
    thermostat.id = *id;
    thermostat.setpointTemperature = *setpoint;
    room.thermostat = thermostat;
    return true;
}

bool ReadPowerLevel(StateReader& reader, const Value& value, const std::string& path, RoomState& room)
{
    std::optional<std::int64_t> level;
    std::optional<std::int64_t> percent;
    std::optional<std::int64_t> minimum;
    std::optional<std::int64_t> maximum;
    std::optional<bool> follows;
    if (!reader.Object(value, path, {"level", "percent", "minimumLevel", "maximumLevel", "percentFollowsLevel"}) ||
        !reader.Integer(value, "level", path, 0, 255, level) || !reader.Required(level, path, "level") ||
        !reader.Integer(value, "percent", path, 0, 255, percent) ||
        !reader.Integer(value, "minimumLevel", path, 0, 255, minimum) ||
        !reader.Integer(value, "maximumLevel", path, 0, 255, maximum) ||
        !reader.Bool(value, "percentFollowsLevel", path, follows)) {
        return false;
    }
    PowerLevelState powerLevel;
    powerLevel.level = static_cast<int>(*level);
    powerLevel.percent = static_cast<int>(percent.value_or(PercentOfLevel(powerLevel.level)));
    powerLevel.minimumLevel = static_cast<int>(minimum.value_or(0));
    powerLevel.maximumLevel = static_cast<int>(maximum.value_or(10));
    powerLevel.percentFollowsLevel = follows.value_or(true);
    room.powerLevel = powerLevel;
    return true;
}

bool ReadRooms(StateReader& reader, const Value& value, StationState& state)
{
    if (!value.IsArray()) {
        return reader.Fail("rooms", "expected an array");
    }
    if (value.Size() > s_maximumRooms) {
        return reader.Fail("rooms", "a station has at most 12 rooms, got " + std::to_string(value.Size()));
    }
    for (rapidjson::SizeType index = 0; index < value.Size(); ++index) {
        const Value& entry = value[index];
        const std::string path = StateReader::Index("rooms", index);
        std::optional<std::int64_t> number;
        RoomState room;
        if (!reader.Object(entry, path, {"room", "actors", "thermostat", "powerLevel"}) ||
            !reader.Integer(entry, "room", path, 0, std::numeric_limits<unsigned>::max(), number) ||
            !reader.Required(number, path, "room") || !ReadActors(reader, entry, path, room)) {
            return false;
        }
        room.room = static_cast<unsigned>(*number);
        if (const Value* thermostat = reader.Member(entry, "thermostat")) {
            if (!ReadThermostat(reader, *thermostat, StateReader::Join(path, "thermostat"), room)) {
                return false;
            }
        }
        if (const Value* powerLevel = reader.Member(entry, "powerLevel")) {
            if (!ReadPowerLevel(reader, *powerLevel, StateReader::Join(path, "powerLevel"), room)) {
                return false;
            }
        }
        state.rooms.push_back(room);
    }
    return true;
}

bool ReadErrors(StateReader& reader, const Value& value, StationState& state)
{
    if (!value.IsArray()) {
        return reader.Fail("errors", "expected an array");
    }
    if (value.Size() > s_maximumErrors) {
        return reader.Fail("errors", "more than " + std::to_string(s_maximumErrors) + " errors");
    }
    for (rapidjson::SizeType index = 0; index < value.Size(); ++index) {
        const Value& entry = value[index];
        const std::string path = StateReader::Index("errors", index);
        std::optional<std::int64_t> code;
        std::optional<std::int64_t> room;
        StationErrorState error;
        if (!reader.Object(entry, path, {"code", "room", "description"}) ||
            !reader.Integer(entry, "code", path, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(),
                            code) ||
            !reader.Required(code, path, "code") ||
            !reader.Integer(entry, "room", path, 0, std::numeric_limits<unsigned>::max(), room) ||
            !reader.Text(entry, "description", path, error.description)) {
            return false;
        }
        error.code = static_cast<int>(*code);
        if (room) {
            error.room = static_cast<unsigned>(*room);
        }
        state.errors.push_back(error);
    }
    return true;
}

bool ReadLeavingHome(StateReader& reader, const Value& value, StationState& state)
{
    const std::string path = "leavingHome";
    std::optional<bool> active;
    LeavingHomeState leavingHome;
    if (!reader.Object(value, path, {"active", "date", "time"}) || !reader.Bool(value, "active", path, active) ||
        !reader.Required(active, path, "active") || !reader.Text(value, "date", path, leavingHome.date) ||
        !reader.Text(value, "time", path, leavingHome.time)) {
        return false;
    }
    if (leavingHome.date && !IsDateText(*leavingHome.date)) {
        return reader.Fail(path + ".date", "expected \"yy-mm-dd\", got " + JsonQuoted(*leavingHome.date));
    }
    if (leavingHome.time && !IsTimeOfDayText(*leavingHome.time)) {
        return reader.Fail(path + ".time", "expected \"hh:mm\", got " + JsonQuoted(*leavingHome.time));
    }
    leavingHome.active = *active;
    state.leavingHome = leavingHome;
    return true;
}

bool ReadState(StateReader& reader, const Value& value, StationState& state)
{
    std::optional<std::string> stationId;
    std::optional<std::string> firmwareVersion;
    std::optional<std::string> vendor;
    std::optional<std::string> model;
    if (!reader.Object(value, "top level",
                       {"stationId", "firmwareVersion", "vendor", "model", "credentials", "system", "clock", "rooms",
                        "errors", "leavingHome"}) ||
        !reader.Text(value, "stationId", "", stationId) || !reader.Required(stationId, "", "stationId") ||
        !reader.Text(value, "firmwareVersion", "", firmwareVersion) ||
        !reader.Required(firmwareVersion, "", "firmwareVersion") || !reader.Text(value, "vendor", "", vendor) ||
        !reader.Text(value, "model", "", model)) {
        return false;
    }
    if (stationId->size() != s_stationIdLength) {
        return reader.Fail("stationId", "expected 10 characters, got " + JsonQuoted(*stationId));
    }
    for (const char character : *stationId) {
        if (static_cast<unsigned char>(character) <= ' ' || static_cast<unsigned char>(character) >= 0x7f) {
            return reader.Fail("stationId", "expected printable ASCII without blanks, got " + JsonQuoted(*stationId));
        }
    }
    state.stationId = *stationId;
    state.firmwareVersion = *firmwareVersion;
    state.vendor = vendor.value_or("Keldra");
    state.model = model.value_or("Brisgo");
    if (const Value* credentials = reader.Member(value, "credentials")) {
        if (!ReadCredentials(reader, *credentials, state)) {
            return false;
        }
    }
    if (const Value* system = reader.Member(value, "system")) {
        if (!ReadSystem(reader, *system, state)) {
            return false;
        }
    }
    if (const Value* clock = reader.Member(value, "clock")) {
        if (!ReadClock(reader, *clock, state)) {
            return false;
        }
    }
    if (const Value* rooms = reader.Member(value, "rooms")) {
        if (!ReadRooms(reader, *rooms, state)) {
            return false;
        }
    }
    if (const Value* errors = reader.Member(value, "errors")) {
        if (!ReadErrors(reader, *errors, state)) {
            return false;
        }
    }
    if (const Value* leavingHome = reader.Member(value, "leavingHome")) {
        if (!ReadLeavingHome(reader, *leavingHome, state)) {
            return false;
        }
    }
    return true;
}

void AddText(Value& object, const char* name, const std::string& text, Allocator& allocator)
{
    object.AddMember(rapidjson::StringRef(name),
                     Value(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), allocator), allocator);
}

template <typename T>
void AddOptional(Value& object, const char* name, const std::optional<T>& value, Allocator& allocator)
{
    if (value) {
        object.AddMember(rapidjson::StringRef(name), Value(*value), allocator);
    }
}

void AddOptionalText(Value& object, const char* name, const std::optional<std::string>& text, Allocator& allocator)
{
    if (text) {
        AddText(object, name, *text, allocator);
    }
}

Value RoomToJson(const RoomState& room, Allocator& allocator)
{
    Value entry(rapidjson::kObjectType);
    entry.AddMember("room", room.room, allocator);
    Value actors(rapidjson::kArrayType);
    for (const ActorState& actor : room.actors) {
        Value entryActor(rapidjson::kObjectType);
        entryActor.AddMember("number", actor.number, allocator);
        AddOptional(entryActor, "valveOpen", actor.valveOpen, allocator);
        actors.PushBack(entryActor, allocator);
    }
    entry.AddMember("actors", actors, allocator);
    if (room.thermostat) {
        const ThermostatState& thermostat = *room.thermostat;
        Value object(rapidjson::kObjectType);
        AddText(object, "id", thermostat.id, allocator);
        object.AddMember("setpointTemperature", thermostat.setpointTemperature, allocator);
        AddOptional(object, "minimumTemperature", thermostat.minimumTemperature, allocator);
        AddOptional(object, "maximumTemperature", thermostat.maximumTemperature, allocator);
        AddOptional(object, "roomTemperature", thermostat.roomTemperature, allocator);
        AddOptional(object, "relativeHumidity", thermostat.relativeHumidity, allocator);
        AddOptional(object, "batteryLow", thermostat.batteryLow, allocator);
        entry.AddMember("thermostat", object, allocator);
    }
    if (room.powerLevel) {
        const PowerLevelState& powerLevel = *room.powerLevel;
        Value object(rapidjson::kObjectType);
        object.AddMember("level", powerLevel.level, allocator);
        // A percent that follows the level is left out, so that merging a
        // new level into this form recomputes it.
        if (!powerLevel.percentFollowsLevel || powerLevel.percent != PercentOfLevel(powerLevel.level)) {
            object.AddMember("percent", powerLevel.percent, allocator);
        }
        object.AddMember("minimumLevel", powerLevel.minimumLevel, allocator);
        object.AddMember("maximumLevel", powerLevel.maximumLevel, allocator);
        object.AddMember("percentFollowsLevel", powerLevel.percentFollowsLevel, allocator);
        entry.AddMember("powerLevel", object, allocator);
    }
    return entry;
}

// Merges patch into target as ScenarioFormat::Merge describes, below the
// top level: members replace, objects merge, null removes.
void MergeObject(Value& target, const Value& patch, Allocator& allocator)
{
    for (auto member = patch.MemberBegin(); member != patch.MemberEnd(); ++member) {
        const auto existing = target.FindMember(member->name);
        if (member->value.IsNull()) {
            if (existing != target.MemberEnd()) {
                target.EraseMember(existing);
            }
        } else if (existing != target.MemberEnd() && existing->value.IsObject() && member->value.IsObject()) {
            MergeObject(existing->value, member->value, allocator);
        } else if (existing != target.MemberEnd()) {
            existing->value.CopyFrom(member->value, allocator);
        } else {
            target.AddMember(Value(member->name, allocator), Value(member->value, allocator), allocator);
        }
    }
}

// Merges a "rooms" object keyed by room index into the rooms array.
bool MergeRooms(Value& rooms, const Value& patch, Allocator& allocator, std::string& error)
{
    for (auto member = patch.MemberBegin(); member != patch.MemberEnd(); ++member) {
        const std::string key(member->name.GetString(), member->name.GetStringLength());
        std::size_t index = 0;
        bool digits = !key.empty() && key.size() <= 2;
        for (const char character : key) {
            digits = digits && character >= '0' && character <= '9';
            index = index * 10 + static_cast<std::size_t>(character - '0');
        }
        if (!digits || index < 1 || index > rooms.Size()) {
            error = "rooms: no room with index " + JsonQuoted(key) + " to merge into (the station has " +
                    std::to_string(rooms.Size()) + " rooms, indexes from \"1\")";
            return false;
        }
        if (!member->value.IsObject()) {
            error = "rooms." + key + ": expected an object";
            return false;
        }
        MergeObject(rooms[static_cast<rapidjson::SizeType>(index - 1)], member->value, allocator);
    }
    return true;
}

}  // namespace

ScenarioFormat::Result ScenarioFormat::Parse(const std::string& text)
{
    rapidjson::Document document;
    std::string error;
    if (!ParseJson(text, document, error)) {
        return {std::nullopt, error};
    }
    return ParseValue(document);
}

ScenarioFormat::Result ScenarioFormat::ParseValue(const rapidjson::Value& value)
{
    StateReader reader;
    StationState state;
    if (!ReadState(reader, value, state)) {
        return {std::nullopt, reader.Error()};
    }
    return {state, {}};
}

ScenarioFormat::Result ScenarioFormat::Load(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return {std::nullopt, "cannot read scenario file '" + path + "': " + std::strerror(errno)};
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        return {std::nullopt, "cannot read scenario file '" + path + "'"};
    }
    Result result = Parse(text.str());
    if (!result.state) {
        result.error = "scenario file '" + path + "': " + result.error;
    }
    return result;
}

void ScenarioFormat::ToJson(const StationState& state, rapidjson::Value& out, Allocator& allocator)
{
    out.SetObject();
    AddText(out, "stationId", state.stationId, allocator);
    AddText(out, "firmwareVersion", state.firmwareVersion, allocator);
    AddText(out, "vendor", state.vendor, allocator);
    AddText(out, "model", state.model, allocator);
    if (state.credentials) {
        Value credentials(rapidjson::kObjectType);
        AddText(credentials, "username", state.credentials->username, allocator);
        AddText(credentials, "password", state.credentials->password, allocator);
        out.AddMember("credentials", credentials, allocator);
    }
    Value system(rapidjson::kObjectType);
    AddOptionalText(system, "serialNumber", state.serialNumber, allocator);
    AddOptionalText(system, "stationName", state.stationName, allocator);
    AddOptionalText(system, "code", state.code, allocator);
    system.AddMember("cooling", state.cooling, allocator);
    AddOptional(system, "automaticChangeover", state.automaticChangeover, allocator);
    out.AddMember("system", system, allocator);
    Value clock(rapidjson::kObjectType);
    if (state.clock.fixed) {
        AddText(clock, "date", state.clock.date, allocator);
        AddText(clock, "time", state.clock.time, allocator);
    } else {
        clock.AddMember("offsetSeconds", state.clock.offsetSeconds, allocator);
    }
    out.AddMember("clock", clock, allocator);
    Value rooms(rapidjson::kArrayType);
    for (const RoomState& room : state.rooms) {
        rooms.PushBack(RoomToJson(room, allocator), allocator);
    }
    out.AddMember("rooms", rooms, allocator);
    Value errors(rapidjson::kArrayType);
    for (const StationErrorState& error : state.errors) {
        Value entry(rapidjson::kObjectType);
        entry.AddMember("code", error.code, allocator);
        AddOptional(entry, "room", error.room, allocator);
        AddOptionalText(entry, "description", error.description, allocator);
        errors.PushBack(entry, allocator);
    }
    out.AddMember("errors", errors, allocator);
    Value leavingHome(rapidjson::kObjectType);
    leavingHome.AddMember("active", state.leavingHome.active, allocator);
    AddOptionalText(leavingHome, "date", state.leavingHome.date, allocator);
    AddOptionalText(leavingHome, "time", state.leavingHome.time, allocator);
    out.AddMember("leavingHome", leavingHome, allocator);
}

std::string ScenarioFormat::ToText(const StationState& state, bool pretty)
{
    rapidjson::Document document;
    ToJson(state, document, document.GetAllocator());
    return JsonToText(document, pretty);
}

ScenarioFormat::Result ScenarioFormat::Merge(const StationState& current, const std::string& patchText)
{
    rapidjson::Document patch;
    std::string error;
    if (!ParseJson(patchText, patch, error)) {
        return {std::nullopt, error};
    }
    if (!patch.IsObject()) {
        return {std::nullopt, "expected an object with the members to change"};
    }
    rapidjson::Document merged;
    Allocator& allocator = merged.GetAllocator();
    ToJson(current, merged, allocator);
    for (auto member = patch.MemberBegin(); member != patch.MemberEnd(); ++member) {
        const auto existing = merged.FindMember(member->name);
        const bool isRooms = std::strcmp(member->name.GetString(), "rooms") == 0;
        const bool isClock = std::strcmp(member->name.GetString(), "clock") == 0;
        if (member->value.IsNull()) {
            if (existing != merged.MemberEnd()) {
                merged.EraseMember(existing);
            }
        } else if (isRooms && member->value.IsObject()) {
            if (existing == merged.MemberEnd() || !existing->value.IsArray()) {
                return {std::nullopt, "rooms: no rooms to merge into"};
            }
            if (!MergeRooms(existing->value, member->value, allocator, error)) {
                return {std::nullopt, error};
            }
        } else if (existing != merged.MemberEnd() && !isClock && existing->value.IsObject() &&
                   member->value.IsObject()) {
            MergeObject(existing->value, member->value, allocator);
        } else if (existing != merged.MemberEnd()) {
            existing->value.CopyFrom(member->value, allocator);
        } else {
            merged.AddMember(Value(member->name, allocator), Value(member->value, allocator), allocator);
        }
    }
    return ParseValue(merged);
}

}  // namespace Simulation
}  // namespace Keldra
