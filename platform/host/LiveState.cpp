#include "LiveState.h"

#include <algorithm>
#include <regex>

namespace Oru {
namespace {

constexpr int BlockLength = 100;
constexpr int StationBlocks = 500;
constexpr int StationErrorObject = 97;
constexpr int GatewayHasError = 501;
constexpr int StationErrorText = 504;
const char* const NoStationError = "-0:NoError";
// Station errors after which the station sends nothing until it is reached
// again: missing, not reachable, credentials, firmware.
constexpr int LastConnectionError = 4;

bool Is(const BusValue& value, bool expected)
{
    const auto* on = std::get_if<bool>(&value);
    return on != nullptr && *on == expected;
}

}  // namespace

void LiveState::RecordSent(int co, const BusValue& value)
{
    std::lock_guard<std::mutex> lock(_mutex);
    const auto now = Clock::now();
    _state.sent[co] = Entry{value, now};
    if (co >= 1 && co <= StationBlocks) {
        const int station = (co - 1) / BlockLength + 1;
        const auto gatewayError = _state.stationGatewayErrors.find(station);
        if (gatewayError != _state.stationGatewayErrors.end() && gatewayError->second.code <= LastConnectionError) {
            _state.stationGatewayErrors.erase(gatewayError);  // it is reached again
        }
        if ((co - 1) % BlockLength + 1 == StationErrorObject) {
            _errorStationOfThread[std::this_thread::get_id()] = station;
            if (Is(value, false)) {
                _state.stationErrorTexts.erase(station);
            }
        }
    } else if (co == GatewayHasError && Is(value, false)) {
        _state.stationGatewayErrors.clear();
    } else if (co == StationErrorText) {
        const auto station = _errorStationOfThread.find(std::this_thread::get_id());
        const auto* text = std::get_if<std::string>(&value);
        if (station != _errorStationOfThread.end() && text != nullptr && *text != NoStationError) {
            auto& texts = _state.stationErrorTexts[station->second];
            if (std::find(texts.begin(), texts.end(), *text) == texts.end()) {
                texts.push_back(*text);
            }
        }
    }
}

void LiveState::RecordLedCode(int code)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _state.ledCode = Entry{static_cast<long>(code), Clock::now()};
}

void LiveState::RecordLogMessage(const std::string& message)
{
    static const std::regex stationError(R"(^ *Gateway error: (\w+) \((\d{1,4})\) on base station (\d{1,4}))");
    std::smatch match;
    if (!std::regex_search(message, match, stationError)) {
        return;
    }
    std::lock_guard<std::mutex> lock(_mutex);
    _state.stationGatewayErrors[std::stoi(match[3])] = {match[1], std::stoi(match[2]), Clock::now()};
}

LiveState::Snapshot LiveState::Take() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _state;
}

}  // namespace Oru
