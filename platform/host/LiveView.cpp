#include "LiveView.h"

#include <cmath>
#include <fstream>
#include <memory>
#include <map>
#include <vector>

#include <boost/date_time/posix_time/conversion.hpp>
#include <boost/date_time/posix_time/time_formatters.hpp>
#include <openssl/evp.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "CommunicationObjectNames.h"
#include "ConsoleCommand.h"
#include "LiveViewAssets.h"

namespace Oru {
namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

constexpr int BlockLength = 100;
constexpr std::size_t StationIdLength = 10;
constexpr std::size_t ThermostatIdLength = 8;
constexpr std::size_t MaximumStations = 5;
constexpr std::size_t MaximumThermostats = 8;
constexpr std::size_t MaximumSlots = 12;
constexpr int AbsenceModeParameter = 16;
constexpr int LeavingHomeInput = 510;
constexpr int LeavingHomeStatus = 511;

int ThermostatCo(int station, int thermostat, int function) { return (station - 1) * BlockLength + (thermostat - 1) * 3 + function; }
int SlotCo(int station, int slot, int function) { return (station - 1) * BlockLength + (slot - 1) * 5 + function; }

const std::map<std::string, std::string>& Words()
{
    static const std::map<std::string, std::string> words = {
        // The gateway's last error (CO 502) and the station errors it logs.
        {"NoError", "no error"},
        {"MissingBaseSta", "not found yet"},
        {"CommError", "not reachable"},
        {"InvalidCreds", "wrong user name or password"},
        {"UnsupportedFW", "firmware not supported"},
        {"MissingThermos", "a room thermostat is missing"},
        {"MissingActor", "an actor module is missing"},
        {"InvalidResp", "a base station gave an answer that cannot be read"},
        {"UnsupportedVal", "a value is not supported"},
        {"OutOfRangeVal", "a value is out of range"},
        {"UnexpectedErr", "unexpected error"},
        {"FatalError", "fatal error"},
        // The base stations' own errors (CO 504).
        {"-0:NoError", "no error"},
        {"-3:MissingThs", "room thermostat missing"},
        {"-4:ErrActorBus", "actor bus fault"},
        {"-5:ErrSupply", "supply fault"},
        {"-6:ErrReturn", "return fault"},
        {"-7:NoMoreTherm", "no more room thermostats possible"},
        {"-9:BackupBatt", "backup battery low"},
        {"-21:ConnThermo", "room thermostat not connected"},
        {"-22:ThermoBatt", "room thermostat battery low"},
        {"-24:WeakConnTh", "weak room thermostat connection"},
    };
    return words;
}

// "wrong user name or password (InvalidCreds)".
std::string InWords(const std::string& code)
{
    const auto entry = Words().find(code);
    return (entry != Words().end() ? entry->second : "unknown error") + " (" + code + ")";
}

std::string LedInWords(long code)
{
    switch (code) {
    case -1:
        return "no error";
    case 3:
        return "a room thermostat or an actor module is missing";
    case 5:
        return "a base station is not found, not reachable, refuses the user name and password or has "
               "firmware that is not supported";
    default:
        return "code " + std::to_string(code);
    }
}

std::vector<std::string> Split(const std::string& text, std::size_t length, std::size_t most)
{
    std::vector<std::string> parts;
    for (std::size_t at = 0; at + length <= text.size() && parts.size() < most; at += length) {
        parts.push_back(text.substr(at, length));
    }
    return parts;
}

std::string Text(const EtsParameters& parameters, int id)
{
    const auto entry = parameters.texts.find(id);
    return entry == parameters.texts.end() ? "" : entry->second;
}

// The actor module numbers of station n: 4-bit groups of number 2n+5, then
// of 2n+4, lowest first; a group 0 ends the list.
std::vector<int> ActorModules(const EtsParameters& parameters, int station)
{
    std::vector<int> modules;
    for (const int id : {2 * station + 5, 2 * station + 4}) {
        const auto entry = parameters.numbers.find(id);
        auto word = static_cast<std::uint32_t>(entry == parameters.numbers.end() ? 0 : entry->second);
        for (int group = 0; group < (id == 2 * station + 5 ? 8 : 4); ++group, word >>= 4) {
            if ((word & 15) == 0) {
                return modules;
            }
            modules.push_back(static_cast<int>(word & 15));
        }
    }
    return modules;
}

long long Milliseconds(LiveState::Clock::time_point time)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

void String(Writer& json, const std::string& text)
{
    json.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
}

void WriteValue(Writer& json, const BusValue& value)
{
    struct Visitor {
        Writer& json;
        void operator()(const std::string& text) const { String(json, text); }
        void operator()(bool on) const { json.Bool(on); }
        void operator()(unsigned char byte) const { json.Uint(byte); }
        void operator()(float number) const
        {
            if (std::isfinite(number)) {
                json.Double(static_cast<double>(number));
            } else {
                String(json, FormatBusValue(number));
            }
        }
        void operator()(unsigned short word) const { json.Uint(word); }
        void operator()(unsigned long dword) const { json.Uint64(dword); }
        void operator()(long number) const { json.Int64(number); }
        void operator()(const boost::posix_time::ptime&) const {}
        void operator()(const OruApp::TimeOfDay&) const {}
    };
    if (std::holds_alternative<boost::posix_time::ptime>(value) ||
        std::holds_alternative<OruApp::TimeOfDay>(value)) {
        return String(json, FormatBusValue(value));
    }
    std::visit(Visitor{json}, value);
}

// {"value": ..., "time": ms, "co": co} of the CO, null when nothing was sent.
void WriteEntry(Writer& json, const LiveState::Snapshot& state, int co)
{
    const auto entry = state.sent.find(co);
    if (entry == state.sent.end()) {
        return static_cast<void>(json.Null());
    }
    json.StartObject();
    json.Key("value");
    WriteValue(json, entry->second.value);
    if (const auto* text = std::get_if<std::string>(&entry->second.value)) {
        json.Key("words");
        String(json, InWords(*text));
    }
    json.Key("time");
    json.Int64(Milliseconds(entry->second.time));
    json.EndObject();
}

bool AnySentInBlock(const LiveState::Snapshot& state, int station)
{
    const auto first = state.sent.lower_bound((station - 1) * BlockLength + 1);
    return first != state.sent.end() && first->first <= station * BlockLength;
}

std::string StationState(const LiveState::Snapshot& state, int station)
{
    const auto gatewayError = state.stationGatewayErrors.find(station);
    if (gatewayError != state.stationGatewayErrors.end()) {
        return InWords(gatewayError->second.text);
    }
    if (!AnySentInBlock(state, station)) {
        return "not found yet";
    }
    const auto flag = state.sent.find((station - 1) * BlockLength + 97);
    if (flag != state.sent.end() && std::get_if<bool>(&flag->second.value) != nullptr &&
        std::get<bool>(flag->second.value)) {
        std::string words = "station error";
        const auto texts = state.stationErrorTexts.find(station);
        if (texts != state.stationErrorTexts.end()) {
            const char* separator = ": ";
            for (const auto& text : texts->second) {
                words += separator + InWords(text);
                separator = ", ";
            }
        }
        return words;
    }
    return "no error";
}

bool AbsenceMode(const EtsParameters& parameters)
{
    const auto entry = parameters.numbers.find(AbsenceModeParameter);
    return entry != parameters.numbers.end() && entry->second == 1;
}

// The console type of an input CO of the plug-in; empty for other COs.
std::string InputType(int co)
{
    if (co >= 1 && co <= 5 * BlockLength) {
        const int local = (co - 1) % BlockLength + 1;
        if (local <= 24) {
            return (local - 1) % 3 == 1 ? "float" : "";
        }
        if (local >= 37 && local <= 96) {
            const int function = (local - 37) % 5 + 37;
            return function == 37 || function == 39 ? "byte" : function == 41 ? "bool" : "";
        }
        return "";
    }
    switch (co) {
    case LeavingHomeInput:
    case 516:
        return "bool";
    case 512:
        return "datetime";
    case 514:
        return "time";
    default:
        return "";
    }
}

// The file's first bytes, at most `limit`.
std::string ReadFile(const std::string& path, bool& ok, std::size_t limit = 1024 * 1024)
{
    std::ifstream file(path, std::ios::binary);
    ok = static_cast<bool>(file);
    std::string bytes(limit, '\0');
    file.read(&bytes[0], static_cast<std::streamsize>(limit));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    return bytes;
}

// The SHA-256 of the file in hexadecimal; empty when it cannot be read.
std::string Sha256OfFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return {};
    }
    const std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
    std::vector<char> chunk(64 * 1024);
    while (file.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || file.gcount() > 0) {
        EVP_DigestUpdate(context.get(), chunk.data(), static_cast<std::size_t>(file.gcount()));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += digits[digest[i] >> 4];
        text += digits[digest[i] & 15];
    }
    return text;
}

std::string Base64Decoded(const std::string& text)
{
    std::string bytes(text.size(), '\0');
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&bytes[0]),
                                       reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (length < 0) {
        return {};
    }
    bytes.resize(static_cast<std::size_t>(length));
    const auto padding = text.size() - std::min(text.size(), text.find_last_not_of('=') + 1);
    bytes.resize(bytes.size() - std::min(bytes.size(), padding));
    return bytes;
}

void ReplaceAll(std::string& text, const std::string& part, const std::string& by)
{
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + by.size())) {
        text.replace(at, part.size(), by);
    }
}

// Replaces the value of every member named like a password, at any depth;
// collects the removed texts and, for Base64 ones, what they decode to.
void RemovePasswords(rapidjson::Value& value, rapidjson::Document::AllocatorType& allocator,
                     std::vector<std::string>& removed)
{
    if (value.IsArray()) {
        for (auto& element : value.GetArray()) {
            RemovePasswords(element, allocator, removed);
        }
    }
    if (!value.IsObject()) {
        return;
    }
    for (auto& member : value.GetObject()) {
        const std::string name = member.name.GetString();
        if (name == "credentials" || name == "password") {
            if (member.value.IsString()) {
                removed.push_back(member.value.GetString());
                removed.push_back(Base64Decoded(member.value.GetString()));
            }
            member.value.SetString("(removed)", allocator);
        } else {
            RemovePasswords(member.value, allocator, removed);
        }
    }
}

}  // namespace

LiveView::LiveView(Installation installation, const LiveState& state, const LogRing& log, Deliver deliver)
    : _installation(std::move(installation)), _state(state), _log(log), _deliver(std::move(deliver))
{
}

std::string LiveView::Markup() const
{
    return R"html(<section id="live" aria-labelledby="live-title">
<h2 id="live-title">Installation, live</h2>
<p id="live-status">Waiting for the first values…</p>
<p id="live-result" role="status"></p>
<div id="live-gateway"></div>
<div id="live-stations"></div>
<p><button id="live-diagnostics" type="button">Download diagnostics</button></p>
</section>
<link rel="stylesheet" href="/live.css">
<script src="/live.js"></script>
)html";
}

PageFile LiveView::FindFile(const std::string& path) const
{
    if (path == "/live.js") {
        return {"text/javascript; charset=utf-8", &LiveViewScript()};
    }
    if (path == "/live.css") {
        return {"text/css; charset=utf-8", &LiveViewStyle()};
    }
    return {nullptr, nullptr};
}

ProductWebServiceResult LiveView::HandleRequest(const std::string& request, const rapidjson::Value& parameters)
{
    std::string json;
    if (request == "state") {
        json = StateJson();
    } else if (request == "diagnostics") {
        json = DiagnosticsJson();
    } else if (request == "set") {
        return Set(parameters);
    } else {
        return std::monostate();
    }
    rapidjson::Document document;
    document.Parse(json.c_str(), json.size());
    return ProductWebServiceResult(std::move(document));
}

ProductWebServiceResult LiveView::Set(const rapidjson::Value& parameters)
{
    if (!parameters.IsObject() || !parameters.HasMember("co") || !parameters["co"].IsInt() ||
        !parameters.HasMember("value") || !parameters["value"].IsString()) {
        return std::string("InvalidRequest");
    }
    const int co = parameters["co"].GetInt();
    const std::string type = InputType(co);
    if (type.empty()) {
        return std::string("NotAnInput");
    }
    const std::string value = parameters["value"].GetString();
    if (value.find_first_of("\r\n") != std::string::npos) {
        return std::string("InvalidValue");
    }
    const auto command = ParseConsoleLine(std::to_string(co) + " " + type + " " + value);
    const auto* deliver = std::get_if<DeliverValueCommand>(&command);
    if (deliver == nullptr) {
        return std::string("InvalidValue");
    }
    BusValue delivered = deliver->value;
    if (co == LeavingHomeInput) {
        // The page says whether to leave; the absence mode decides the bit.
        delivered = std::get<bool>(delivered) != AbsenceMode(_installation.parameters);
    }
    _deliver(co, delivered);
    rapidjson::Document answer;
    answer.SetObject();
    return ProductWebServiceResult(std::move(answer));
}

std::string LiveView::StateJson() const
{
    const auto state = _state.Take();
    const auto& parameters = _installation.parameters;
    rapidjson::StringBuffer buffer;
    Writer json(buffer);
    json.StartObject();
    json.Key("now");
    json.Int64(Milliseconds(LiveState::Clock::now()));

    json.Key("gateway");
    json.StartObject();
    for (const auto& [name, co] : std::vector<std::pair<const char*, int>>{
             {"hasError", 501}, {"lastError", 502}, {"stationError", 503}, {"stationErrorText", 504},
             {"arrivalDate", 513}, {"arrivalTime", 515}, {"heating", 517}}) {
        json.Key(name);
        WriteEntry(json, state, co);
    }
    json.Key("leavingHome");
    const auto leaving = state.sent.find(LeavingHomeStatus);
    if (leaving != state.sent.end() && std::holds_alternative<bool>(leaving->second.value)) {
        json.StartObject();
        json.Key("value");
        json.Bool(std::get<bool>(leaving->second.value) != AbsenceMode(parameters));
        json.Key("time");
        json.Int64(Milliseconds(leaving->second.time));
        json.EndObject();
    } else {
        json.Null();
    }
    json.Key("led");
    if (state.ledCode) {
        const long code = std::get<long>(state.ledCode->value);
        json.StartObject();
        json.Key("value");
        json.Int64(code);
        json.Key("words");
        String(json, LedInWords(code));
        json.Key("time");
        json.Int64(Milliseconds(state.ledCode->time));
        json.EndObject();
    } else {
        json.Null();
    }
    json.EndObject();

    json.Key("stations");
    json.StartArray();
    const auto ids = Split(Text(parameters, 1), StationIdLength, MaximumStations);
    for (std::size_t index = 0; index < ids.size(); ++index) {
        const int station = static_cast<int>(index) + 1;
        json.StartObject();
        json.Key("number");
        json.Int(station);
        json.Key("id");
        String(json, ids[index]);
        json.Key("state");
        String(json, StationState(state, station));
        json.Key("error");
        WriteEntry(json, state, (station - 1) * BlockLength + 97);
        json.Key("systemCode");
        WriteEntry(json, state, (station - 1) * BlockLength + 98);
        json.Key("thermostats");
        json.StartArray();
        const auto thermostats = Split(Text(parameters, station + 1), ThermostatIdLength, MaximumThermostats);
        for (std::size_t t = 0; t < thermostats.size(); ++t) {
            const int thermostat = static_cast<int>(t) + 1;
            json.StartObject();
            json.Key("number");
            json.Int(thermostat);
            json.Key("id");
            String(json, thermostats[t]);
            json.Key("temperature");
            WriteEntry(json, state, ThermostatCo(station, thermostat, 1));
            json.Key("setpoint");
            WriteEntry(json, state, ThermostatCo(station, thermostat, 3));
            json.Key("setpointInput");
            json.Int(ThermostatCo(station, thermostat, 2));
            json.EndObject();
        }
        json.EndArray();
        json.Key("slots");
        json.StartArray();
        const auto modules = ActorModules(parameters, station);
        for (std::size_t s = 0; s < modules.size() && s < MaximumSlots; ++s) {
            const int slot = static_cast<int>(s) + 1;
            json.StartObject();
            json.Key("number");
            json.Int(slot);
            json.Key("actorModule");
            json.Int(modules[s]);
            json.Key("level");
            WriteEntry(json, state, SlotCo(station, slot, 38));
            json.Key("percent");
            WriteEntry(json, state, SlotCo(station, slot, 40));
            json.Key("levelInput");
            json.Int(SlotCo(station, slot, 37));
            json.EndObject();
        }
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    return {buffer.GetString(), buffer.GetSize()};
}

std::string LiveView::DiagnosticsJson() const
{
    const auto state = _state.Take();
    rapidjson::StringBuffer buffer;
    Writer json(buffer);
    json.StartObject();
    json.Key("host");
    json.StartObject();
    json.Key("version");
    json.String(KELDRA_HOST_VERSION);
    json.EndObject();

    json.Key("plugIn");
    json.StartObject();
    json.Key("path");
    String(json, _installation.pluginPath);
    if (_pluginDigest.empty()) {  // the library does not change while it is loaded
        _pluginDigest = Sha256OfFile(_installation.pluginPath);
    }
    json.Key("sha256");
    String(json, _pluginDigest.empty() ? "unreadable" : _pluginDigest);
    json.EndObject();

    json.Key("etsParameters");
    json.StartObject();
    json.Key("text");
    json.StartObject();
    for (const auto& [id, text] : _installation.parameters.texts) {
        json.Key(std::to_string(id).c_str());
        String(json, text);
    }
    json.EndObject();
    json.Key("number");
    json.StartObject();
    for (const auto& [id, number] : _installation.parameters.numbers) {
        json.Key(std::to_string(id).c_str());
        json.Int(number);
    }
    json.EndObject();
    json.EndObject();

    json.Key("credentialsFile");
    json.StartObject();
    json.Key("path");
    String(json, _installation.credentialsFile);
    bool readable = false;
    const std::string credentials = ReadFile(_installation.credentialsFile, readable);
    rapidjson::Document file;
    file.Parse(credentials.c_str(), credentials.size());
    std::vector<std::string> passwords;
    if (!readable) {
        json.Key("error");
        json.String("cannot be read");
    } else if (file.HasParseError()) {
        json.Key("error");
        json.String("not JSON (content left out: it may hold passwords)");
    } else {
        RemovePasswords(file, file.GetAllocator(), passwords);
        json.Key("content");
        file.Accept(json);
    }
    json.EndObject();

    json.Key("values");
    json.StartArray();
    for (const auto& [co, entry] : state.sent) {
        json.StartObject();
        json.Key("co");
        json.Int(co);
        json.Key("name");
        String(json, DescribeCommunicationObject(co));
        json.Key("type");
        String(json, BusValueTypeName(entry.value));
        json.Key("value");
        WriteValue(json, entry.value);
        json.Key("time");
        String(json, boost::posix_time::to_iso_extended_string(
                         boost::posix_time::from_time_t(LiveState::Clock::to_time_t(entry.time))) + "Z");
        json.EndObject();
    }
    json.EndArray();
    json.Key("ledCode");
    if (state.ledCode) {
        json.Int64(std::get<long>(state.ledCode->value));
    } else {
        json.Null();
    }

    json.Key("log");
    json.StartArray();
    for (std::string line : _log.Lines()) {
        // Also a password the log names without a field name.
        for (const auto& password : passwords) {
            if (password.size() >= 4) {
                ReplaceAll(line, password, "(removed)");
            }
        }
        String(json, line);
    }
    json.EndArray();
    json.EndObject();
    return {buffer.GetString(), buffer.GetSize()};
}

}  // namespace Oru
