// One line of the host's bus console: a value to deliver to the plug-in as
// if it came from the bus, or one of the console's own commands.
#pragma once

#include <chrono>
#include <string>
#include <variant>

#include "BusValue.h"

namespace Oru {

struct DeliverValueCommand {
    int co;
    BusValue value;
};
struct SleepCommand {
    std::chrono::milliseconds duration;
};
struct HelpCommand {};
struct QuitCommand {};
struct EmptyLine {};  // blank or a comment
struct ConsoleSyntaxError {
    std::string message;
};

using ConsoleCommand =
    std::variant<EmptyLine, DeliverValueCommand, SleepCommand, HelpCommand, QuitCommand, ConsoleSyntaxError>;

// Syntax (see ConsoleHelpText):
//   <co> <type> <value>   e.g. "2 float 21.3", "510 bool true"
//   sleep <seconds>       e.g. "sleep 1.5"
//   help | quit | exit | # comment
ConsoleCommand ParseConsoleLine(const std::string& line);

// The text "help" prints.
std::string ConsoleHelpText();

}  // namespace Oru
