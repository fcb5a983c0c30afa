#include "BusConsole.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "CommunicationObjectNames.h"

namespace Oru {
namespace {

// Local time of day with milliseconds: "18:00:01.234".
std::string Now()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(milliseconds));
    return text;
}

}  // namespace

BusConsole::BusConsole(std::ostream& output, bool showValues) : _output(output), _showValues(showValues) {}

void BusConsole::PrintSent(int co, const BusValue& value) { PrintValue("app->bus", co, value); }

void BusConsole::PrintReceived(int co, const BusValue& value) { PrintValue("bus->app", co, value); }

void BusConsole::PrintLedCode(int code) { PrintTimed("LED error code " + std::to_string(code)); }

void BusConsole::PrintLine(const std::string& line) { PrintTimed(line); }

void BusConsole::Print(const std::string& text)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _output << text << std::flush;
}

void BusConsole::PrintValue(const char* direction, int co, const BusValue& value)
{
    if (!_showValues) {
        return;
    }
    PrintTimed(std::string(direction) + " CO " + std::to_string(co) + " (" + DescribeCommunicationObject(co) + ") " +
               BusValueTypeName(value) + " " + FormatBusValue(value));
}

void BusConsole::PrintTimed(const std::string& text)
{
    const std::string line = Now() + " " + text + "\n";
    std::lock_guard<std::mutex> lock(_mutex);
    _output << line << std::flush;
}

}  // namespace Oru
