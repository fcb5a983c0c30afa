#include "ControlApi.h"

#include <chrono>
#include <utility>

#include <boost/beast/http/field.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/verb.hpp>

#include "DateTimeTexts.h"
#include "JsonText.h"
#include "ScenarioFormat.h"

namespace Keldra {
namespace Simulation {

namespace http = boost::beast::http;

namespace {

using rapidjson::Value;
using Allocator = rapidjson::Document::AllocatorType;
using Response = SimulatedStation::Response;

struct Command {
    http::verb method;
    const char* path;
};

const Command s_commands[] = {
    {http::verb::get, "/control/state"},           {http::verb::post, "/control/state"},
    {http::verb::post, "/control/fault"},          {http::verb::post, "/control/clear"},
    {http::verb::post, "/control/reset-counters"}, {http::verb::get, "/control/requests"},
};

Response JsonAnswer(http::status status, std::string body)
{
    Response response(status, 11);
    response.set(http::field::content_type, "application/json");
    response.body() = std::move(body);
    response.body() += "\n";
    response.prepare_payload();
    return response;
}

Response ErrorAnswer(http::status status, const std::string& why)
{
    return JsonAnswer(status, "{\"error\":" + JsonQuoted(why) + "}");
}

Value EndpointToJson(const boost::asio::ip::tcp::endpoint& endpoint, Allocator& allocator)
{
    Value object(rapidjson::kObjectType);
    object.AddMember("address", Value(endpoint.address().to_string().c_str(), allocator), allocator);
    object.AddMember("port", endpoint.port(), allocator);
    return object;
}

Value FaultsToJson(const std::vector<Fault>& faults, Allocator& allocator)
{
    Value list(rapidjson::kArrayType);
    for (const Fault& fault : faults) {
        Value entry;
        fault.ToJson(entry, allocator);
        list.PushBack(entry, allocator);
    }
    return list;
}

Value CountersToJson(const SimulatedStation::Counters& counters, Allocator& allocator)
{
    Value object(rapidjson::kObjectType);
    object.AddMember("connections", Value(static_cast<std::uint64_t>(counters.connections)), allocator);
    object.AddMember("tlsHandshakes", Value(static_cast<std::uint64_t>(counters.tlsHandshakes)), allocator);
    object.AddMember("requests", Value(static_cast<std::uint64_t>(counters.requests)), allocator);
    Value byPath(rapidjson::kObjectType);
    for (const auto& entry : counters.requestsByPath) {
        byPath.AddMember(Value(entry.first.c_str(), allocator), Value(static_cast<std::uint64_t>(entry.second)),
                         allocator);
    }
    object.AddMember("requestsByPath", byPath, allocator);
    return object;
}

}  // namespace

ControlApi::ControlApi(SimulatedStation& station, boost::asio::ip::tcp::endpoint stationEndpoint,
                       boost::asio::ip::tcp::endpoint controlEndpoint)
    : _station(station), _stationEndpoint(std::move(stationEndpoint)), _controlEndpoint(std::move(controlEndpoint))
{
}

Response ControlApi::Handle(const SimulatedStation::Request& request) const
{
    const std::string target(request.target());
    const std::string path = target.substr(0, target.find('?'));
    bool pathKnown = false;
    for (const Command& command : s_commands) {
        if (path != command.path) {
            continue;
        }
        pathKnown = true;
        if (request.method() != command.method) {
            continue;
        }
        if (path == "/control/state" && request.method() == http::verb::get) {
            return StateAnswer();
        }
        if (path == "/control/state") {
            const std::string error = _station.MergeState(request.body());
            return error.empty() ? StateAnswer() : ErrorAnswer(http::status::bad_request, "state: " + error);
        }
        if (path == "/control/fault") {
            const std::string error = _station.AddFault(request.body());
            return error.empty() ? FaultsAnswer() : ErrorAnswer(http::status::bad_request, "fault: " + error);
        }
        if (path == "/control/clear") {
            _station.ClearFaults();
            return FaultsAnswer();
        }
        if (path == "/control/reset-counters") {
            _station.ResetCounters();
            return CountersAnswer();
        }
        return RequestsAnswer();
    }
    if (pathKnown) {
        return ErrorAnswer(http::status::method_not_allowed, "wrong method for " + path);
    }
    return ErrorAnswer(http::status::not_found,
                       "unknown command " + path +
                           "; known: GET /control/state, POST /control/state, POST /control/fault, POST "
                           "/control/clear, POST /control/reset-counters, GET /control/requests");
}

Response ControlApi::StateAnswer() const
{
    const StationState state = _station.State();
    rapidjson::Document document;
    Allocator& allocator = document.GetAllocator();
    document.SetObject();
    Value stateJson;
    ScenarioFormat::ToJson(state, stateJson, allocator);
    document.AddMember("state", stateJson, allocator);
    document.AddMember("faults", FaultsToJson(_station.Faults(), allocator), allocator);
    document.AddMember("counters", CountersToJson(_station.GetCounters(), allocator), allocator);
    Value station = EndpointToJson(_stationEndpoint, allocator);
    const ClockTexts clock = CurrentClockTexts(state.clock, std::chrono::system_clock::now());
    station.AddMember("date", Value(clock.date.c_str(), allocator), allocator);
    station.AddMember("time", Value(clock.time.c_str(), allocator), allocator);
    document.AddMember("station", station, allocator);
    document.AddMember("control", EndpointToJson(_controlEndpoint, allocator), allocator);
    return JsonAnswer(http::status::ok, JsonToText(document));
}

Response ControlApi::FaultsAnswer() const
{
    rapidjson::Document document;
    document.SetObject();
    document.AddMember("faults", FaultsToJson(_station.Faults(), document.GetAllocator()), document.GetAllocator());
    return JsonAnswer(http::status::ok, JsonToText(document));
}

Response ControlApi::CountersAnswer() const
{
    rapidjson::Document document;
    document.SetObject();
    document.AddMember("counters", CountersToJson(_station.GetCounters(), document.GetAllocator()),
                       document.GetAllocator());
    return JsonAnswer(http::status::ok, JsonToText(document));
}

Response ControlApi::RequestsAnswer() const
{
    rapidjson::Document document;
    Allocator& allocator = document.GetAllocator();
    document.SetObject();
    Value list(rapidjson::kArrayType);
    for (const SimulatedStation::LoggedRequest& logged : _station.RequestLog()) {
        Value entry(rapidjson::kObjectType);
        entry.AddMember("method", Value(logged.method.c_str(), allocator), allocator);
        entry.AddMember("path", Value(logged.path.c_str(), allocator), allocator);
        entry.AddMember("body",
                        Value(logged.body.c_str(), static_cast<rapidjson::SizeType>(logged.body.size()), allocator),
                        allocator);
        entry.AddMember("answer", Value(logged.answer.c_str(), allocator), allocator);
        list.PushBack(entry, allocator);
    }
    document.AddMember("requests", list, allocator);
    return JsonAnswer(http::status::ok, JsonToText(document));
}

}  // namespace Simulation
}  // namespace Keldra
