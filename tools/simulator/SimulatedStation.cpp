#include "SimulatedStation.h"

#include <algorithm>
#include <utility>

#include <boost/beast/http/field.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/verb.hpp>

#include "BasicAuthorization.h"
#include "DateTimeTexts.h"
#include "JsonText.h"
#include "ScenarioFormat.h"
#include "StationMessages.h"

namespace Keldra {
namespace Simulation {

namespace http = boost::beast::http;

namespace {

using Kind = Fault::Kind;
using Response = SimulatedStation::Response;

constexpr std::size_t s_maximumCountedPaths = 64;
constexpr const char* s_otherPaths = "(other)";
constexpr std::size_t s_maximumLoggedRequests = 100;
constexpr std::size_t s_maximumLoggedBody = 2048;
constexpr std::size_t s_maximumFaults = 64;
constexpr const char* s_serverName = "Brisgo";

const std::string s_infoPath = "/api/v1/info";
const std::string s_statusPath = "/api/v1/status";
const std::string s_leavingHomePath = "/api/v1/leavinghome";
const std::string s_settingsPath = "/api/v1/settings";
const std::string s_roomsPrefix = "/api/v1/rooms/";

Response MakeResponse(http::status status, std::string body, const char* contentType = "application/json")
{
    Response response(status, 11);
    response.set(http::field::server, s_serverName);
    response.set(http::field::content_type, contentType);
    response.body() = std::move(body);
    response.prepare_payload();
    return response;
}

Response ErrorResponse(http::status status, const std::string& why)
{
    return MakeResponse(status, "{\"error\":" + JsonQuoted(why) + "}");
}

Response MethodNotAllowed(http::verb allowed)
{
    Response response =
        ErrorResponse(http::status::method_not_allowed, std::string("use ") + std::string(http::to_string(allowed)));
    response.set(http::field::allow, http::to_string(allowed));
    return response;
}

// The room index of "/api/v1/rooms/{room}/<setting>" and the setting.
bool ReadRoomPath(const std::string& path, std::size_t& roomIndex, std::string& setting)
{
    if (path.compare(0, s_roomsPrefix.size(), s_roomsPrefix) != 0) {
        return false;
    }
    const std::size_t slash = path.find('/', s_roomsPrefix.size());
    if (slash == std::string::npos) {
        return false;
    }
    const std::string digits = path.substr(s_roomsPrefix.size(), slash - s_roomsPrefix.size());
    if (digits.empty() || digits.size() > 3 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    roomIndex = std::stoul(digits);
    setting = path.substr(slash + 1);
    return setting == "setpoint" || setting == "powerlevel";
}

// Changes the member a wrongShape fault names; a path that does not lead
// to a member leaves the document as it is.
void ApplyWrongShape(rapidjson::Document& document, const Fault& fault)
{
    std::vector<std::string> steps;
    std::size_t start = 0;
    while (start <= fault.member.size()) {
        const std::size_t dot = std::min(fault.member.find('.', start), fault.member.size());
        steps.push_back(fault.member.substr(start, dot - start));
        start = dot + 1;
    }
    rapidjson::Document replacement;
    std::string ignored;
    if (!fault.remove && !ParseJson(fault.replacement, replacement, ignored)) {
        return;
    }
    auto& allocator = document.GetAllocator();
    rapidjson::Value* parent = &document;
    for (std::size_t index = 0; index < steps.size(); ++index) {
        const std::string& step = steps[index];
        const bool last = index + 1 == steps.size();
        rapidjson::Value* next = nullptr;
        if (parent->IsObject()) {
            const rapidjson::Value name(
                rapidjson::StringRef(step.data(), static_cast<rapidjson::SizeType>(step.size())));
            const auto member = parent->FindMember(name);
            if (last) {
                if (fault.remove) {
                    if (member != parent->MemberEnd()) {
                        parent->EraseMember(member);
                    }
                } else if (member != parent->MemberEnd()) {
                    member->value.CopyFrom(replacement, allocator);
                } else {
                    parent->AddMember(rapidjson::Value(step.c_str(), allocator),
                                      rapidjson::Value(replacement, allocator), allocator);
                }
                return;
            }
            next = member == parent->MemberEnd() ? nullptr : &member->value;
        } else if (parent->IsArray()) {
            const bool digits = !step.empty() && step.size() <= 4 &&
                                std::all_of(step.begin(), step.end(), [](char c) { return c >= '0' && c <= '9'; });
            if (!digits || std::stoul(step) >= parent->Size()) {
                return;
            }
            const auto position = static_cast<rapidjson::SizeType>(std::stoul(step));
            if (last) {
                if (fault.remove) {
                    parent->Erase(parent->Begin() + position);
                } else {
                    (*parent)[position].CopyFrom(replacement, allocator);
                }
                return;
            }
            next = &(*parent)[position];
        }
        if (next == nullptr) {
            return;
        }
        parent = next;
    }
}

// Pads the status's rooms to thirteen with made-up thermostat rooms.
void AddRoomsUpToThirteen(rapidjson::Document& status)
{
    auto& allocator = status.GetAllocator();
    const auto rooms = status.FindMember("rooms");
    if (rooms == status.MemberEnd() || !rooms->value.IsArray()) {
        return;
    }
    for (unsigned number = rooms->value.Size() + 1; rooms->value.Size() < 13; ++number) {
        rapidjson::Value room(rapidjson::kObjectType);
        room.AddMember("room", number, allocator);
        room.AddMember("actors", rapidjson::Value(rapidjson::kArrayType), allocator);
        rapidjson::Value thermostat(rapidjson::kObjectType);
        const std::string id = "TX0000" + std::string(number < 10 ? "0" : "") + std::to_string(number);
        thermostat.AddMember("id", rapidjson::Value(id.c_str(), allocator), allocator);
        thermostat.AddMember("setpointTemperature", 20.0, allocator);
        room.AddMember("thermostat", thermostat, allocator);
        rooms->value.PushBack(room, allocator);
    }
}

std::string Truncated(const std::string& text, std::size_t length)
{
    return text.size() <= length ? text : text.substr(0, length) + "...";
}

}  // namespace

SimulatedStation::SimulatedStation(StationState state) : _state(std::move(state)) {}

bool SimulatedStation::OnConnection()
{
    std::lock_guard<std::mutex> lock(_mutex);
    ++_counters.connections;
    return TakeFault({}, {Kind::DropOnAccept}).has_value();
}

void SimulatedStation::OnHandshake()
{
    std::lock_guard<std::mutex> lock(_mutex);
    ++_counters.tlsHandshakes;
}

SimulatedStation::Reaction SimulatedStation::Handle(const Request& request)
{
    std::lock_guard<std::mutex> lock(_mutex);
    const std::string target(request.target());
    const std::string path = ValidUtf8(target.substr(0, target.find('?')));
    Count(path);

    Reaction reaction;
    reaction.delay = TakeDelays(path);
    if (const std::optional<Fault> transport =
            TakeFault(path, {Kind::TlsCut, Kind::DropAfterRequest, Kind::NoAnswer})) {
        switch (transport->kind) {
        case Kind::TlsCut:
            reaction.kind = Reaction::Kind::CutTls;
            Log(request, path, "cut without close_notify");
            break;
        case Kind::DropAfterRequest:
            reaction.kind = Reaction::Kind::Close;
            Log(request, path, "closed without answer");
            break;
        default:
            reaction.kind = Reaction::Kind::NoAnswer;
            Log(request, path, "never answered");
            break;
        }
        return reaction;
    }
    if (const std::optional<Fault> status = TakeFault(path, {Kind::HttpStatus})) {
        reaction.response = MakeResponse(static_cast<http::status>(status->value),
                                         "simulated HTTP status " + std::to_string(status->value) + "\n", "text/plain");
        if (TakeFault(path, {Kind::Chunked})) {
            reaction.response.chunked(true);
        }
        Log(request, path, std::to_string(status->value));
        return reaction;
    }

    reaction.response = Route(request, path);
    if (reaction.response.result() == http::status::ok) {
        if (const std::optional<Fault> body = TakeFault(path, {Kind::MalformedJson, Kind::TruncatedBody})) {
            std::string& text = reaction.response.body();
            if (body->kind == Kind::MalformedJson) {
                text = text.empty() ? "{" : text.substr(0, text.size() - 1) + ",";
                reaction.response.prepare_payload();
            } else {
                reaction.kind = Reaction::Kind::TruncatedAnswer;
                reaction.rawAnswer =
                    "HTTP/1.1 200 OK\r\nServer: " + std::string(s_serverName) +
                    "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(text.size() + 16) +
                    "\r\n\r\n" + text.substr(0, text.size() / 2);
                Log(request, path, "truncated 200");
                return reaction;
            }
        }
    }
    if (TakeFault(path, {Kind::Chunked})) {
        reaction.response.chunked(true);
    }
    Log(request, path, std::to_string(reaction.response.result_int()));
    return reaction;
}

SimulatedStation::Response SimulatedStation::Route(const Request& request, const std::string& path)
{
    const std::string authorization(request[http::field::authorization]);
    if (TakeFault(path, {Kind::RefuseCredentials}) || !IsAuthorized(_state.credentials, authorization)) {
        Response response = ErrorResponse(http::status::unauthorized, "credentials missing or refused");
        response.set(http::field::www_authenticate, "Basic realm=\"Brisgo\"");
        return response;
    }

    rapidjson::Document answer;
    if (path == s_infoPath || path == s_statusPath) {
        if (request.method() != http::verb::get) {
            return MethodNotAllowed(http::verb::get);
        }
        if (path == s_infoPath) {
            StationMessages::Info(_state, answer);
            if (const std::optional<Fault> firmware = TakeFault(path, {Kind::FirmwareVersion})) {
                answer.RemoveMember("firmwareVersion");
                if (firmware->firmwareVersion) {
                    answer.AddMember("firmwareVersion",
                                     rapidjson::Value(firmware->firmwareVersion->c_str(), answer.GetAllocator()),
                                     answer.GetAllocator());
                }
            }
        } else {
            StationMessages::Status(_state, CurrentClockTexts(_state.clock, std::chrono::system_clock::now()), answer);
            if (const std::optional<Fault> code = TakeFault(path, {Kind::ResponseCode})) {
                answer["responseCode"].SetInt(code->value);
            }
            if (TakeFault(path, {Kind::ThirteenRooms})) {
                AddRoomsUpToThirteen(answer);
            }
        }
    } else {
        int writeStatus = 0;
        Response written = RouteWrite(request, path, writeStatus);
        if (written.result() != http::status::ok) {
            return written;
        }
        answer.SetObject();
        answer.AddMember("status", writeStatus, answer.GetAllocator());
    }
    if (const std::optional<Fault> shape = TakeFault(path, {Kind::WrongShape})) {
        ApplyWrongShape(answer, *shape);
    }
    if (answer.IsObject()) {
        if (const std::optional<Fault> large = TakeFault(path, {Kind::LargeBody})) {
            const std::string padding(large->bytes, 'x');
            answer.AddMember("padding", rapidjson::Value(padding.c_str(), large->bytes, answer.GetAllocator()),
                             answer.GetAllocator());
        }
    }
    return MakeResponse(http::status::ok, JsonToText(answer));
}

SimulatedStation::Response SimulatedStation::RouteWrite(const Request& request, const std::string& path,
                                                        int& writeStatus)
{
    std::size_t roomIndex = 0;
    std::string setting;
    const bool isRoomWrite = ReadRoomPath(path, roomIndex, setting);
    if (!isRoomWrite && path != s_leavingHomePath && path != s_settingsPath) {
        return ErrorResponse(http::status::not_found, "no such resource: " + path);
    }
    if (request.method() != http::verb::put) {
        return MethodNotAllowed(http::verb::put);
    }
    rapidjson::Document body;
    std::string error;
    if (!ParseJson(request.body(), body, error)) {
        return ErrorResponse(http::status::bad_request, error);
    }
    // A forced write status is used up only by a write the station would
    // otherwise carry out or reject for its value.
    const Fault* forced = FindFault(path, {Kind::WriteStatus});
    const std::optional<int> forcedStatus = forced != nullptr ? std::optional<int>(forced->value) : std::nullopt;
    StationMessages::WriteAnswer result;
    if (isRoomWrite && setting == "setpoint") {
        result = StationMessages::SetSetpoint(_state, roomIndex, body, forcedStatus);
    } else if (isRoomWrite) {
        result = StationMessages::SetPowerLevel(_state, roomIndex, body, forcedStatus);
    } else if (path == s_leavingHomePath) {
        result = StationMessages::SetLeavingHome(_state, body, forcedStatus);
    } else {
        result = StationMessages::SetSettings(_state, body, forcedStatus);
    }
    if (result.httpStatus != 200) {
        return ErrorResponse(static_cast<http::status>(result.httpStatus), result.error);
    }
    if (forced != nullptr) {
        TakeFault(path, {Kind::WriteStatus});
    }
    writeStatus = result.writeStatus;
    return MakeResponse(http::status::ok, {});
}

const Fault* SimulatedStation::FindFault(const std::string& path, std::initializer_list<Kind> kinds) const
{
    for (const Fault& fault : _faults) {
        if (std::find(kinds.begin(), kinds.end(), fault.kind) != kinds.end() && fault.Concerns(path)) {
            return &fault;
        }
    }
    return nullptr;
}

std::optional<Fault> SimulatedStation::TakeFault(const std::string& path, std::initializer_list<Kind> kinds)
{
    for (auto fault = _faults.begin(); fault != _faults.end(); ++fault) {
        if (std::find(kinds.begin(), kinds.end(), fault->kind) == kinds.end() || !fault->Concerns(path)) {
            continue;
        }
        const Fault taken = *fault;
        if (fault->remaining && --*fault->remaining == 0) {
            _faults.erase(fault);
        }
        return taken;
    }
    return std::nullopt;
}

std::chrono::milliseconds SimulatedStation::TakeDelays(const std::string& path)
{
    std::chrono::milliseconds delay(0);
    for (auto fault = _faults.begin(); fault != _faults.end();) {
        if (fault->kind != Kind::Delay || !fault->Concerns(path)) {
            ++fault;
            continue;
        }
        delay += std::chrono::milliseconds(fault->milliseconds);
        if (fault->remaining && --*fault->remaining == 0) {
            fault = _faults.erase(fault);
        } else {
            ++fault;
        }
    }
    return delay;
}

void SimulatedStation::Count(const std::string& path)
{
    ++_counters.requests;
    auto& byPath = _counters.requestsByPath;
    if (byPath.count(path) > 0 || byPath.size() < s_maximumCountedPaths) {
        ++byPath[path];
    } else {
        ++byPath[s_otherPaths];
    }
}

void SimulatedStation::Log(const Request& request, const std::string& path, const std::string& answer)
{
    if (_log.size() == s_maximumLoggedRequests) {
        _log.pop_front();
    }
    _log.push_back({std::string(request.method_string()), Truncated(path, 256),
                    ValidUtf8(Truncated(request.body(), s_maximumLoggedBody)), answer});
}

StationState SimulatedStation::State() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _state;
}

std::string SimulatedStation::MergeState(const std::string& patchText)
{
    std::lock_guard<std::mutex> lock(_mutex);
    ScenarioFormat::Result merged = ScenarioFormat::Merge(_state, patchText);
    if (!merged.state) {
        return merged.error;
    }
    _state = std::move(*merged.state);
    return {};
}

std::string SimulatedStation::AddFault(const std::string& faultText)
{
    std::string error;
    std::optional<Fault> fault = Fault::Parse(faultText, error);
    if (!fault) {
        return error;
    }
    std::lock_guard<std::mutex> lock(_mutex);
    if (_faults.size() >= s_maximumFaults) {
        return "at most " + std::to_string(s_maximumFaults) + " faults at a time; clear them first";
    }
    _faults.push_back(std::move(*fault));
    return {};
}

void SimulatedStation::ClearFaults()
{
    std::lock_guard<std::mutex> lock(_mutex);
    _faults.clear();
}

std::vector<Fault> SimulatedStation::Faults() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _faults;
}

SimulatedStation::Counters SimulatedStation::GetCounters() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _counters;
}

void SimulatedStation::ResetCounters()
{
    std::lock_guard<std::mutex> lock(_mutex);
    _counters = Counters{};
}

std::vector<SimulatedStation::LoggedRequest> SimulatedStation::RequestLog() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return std::vector<LoggedRequest>(_log.begin(), _log.end());
}

}  // namespace Simulation
}  // namespace Keldra
