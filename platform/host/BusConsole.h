// The host's bus console output: every value crossing between the bus and
// the plug-in, the LED code and the console's messages, one line each, with
// the time. Safe to use from the host's thread and the plug-in's worker.
#pragma once

#include <mutex>
#include <ostream>
#include <string>

#include "BusValue.h"

namespace Oru {

class BusConsole {
public:
    // Without `showValues` (the service) the values are not printed.
    explicit BusConsole(std::ostream& output, bool showValues = true);

    // "18:00:01.234 app->bus CO 3 (station 1, thermostat 1, room temperature) float 21.5"
    void PrintSent(int co, const BusValue& value);
    // "18:00:01.234 bus->app CO 2 (station 1, thermostat 1, setpoint input) float 21.3"
    void PrintReceived(int co, const BusValue& value);
    // "18:00:01.234 LED error code 3"
    void PrintLedCode(int code);
    // "18:00:01.234 " and the line.
    void PrintLine(const std::string& line);
    // The text as it is, flushed at once.
    void Print(const std::string& text);

private:
    void PrintValue(const char* direction, int co, const BusValue& value);
    void PrintTimed(const std::string& text);

    std::mutex _mutex;
    std::ostream& _output;
    const bool _showValues;
};

}  // namespace Oru
