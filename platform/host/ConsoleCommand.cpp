#include "ConsoleCommand.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <sstream>

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/optional.hpp>

#include "QuotedText.h"
#include "TextFields.h"

namespace Oru {
namespace {

std::string Lower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

ConsoleCommand Error(const std::string& message) { return ConsoleSyntaxError{message}; }

ConsoleCommand RangeError(const std::string& type, const std::string& text, const std::string& range)
{
    return Error("bad " + type + " value '" + text + "': expected " + range);
}

// "HH:MM" with 0..23 and 0..59.
boost::optional<OruApp::TimeOfDay> ParseTimeOfDay(const std::string& text)
{
    if (text.size() != 5 || text[2] != ':') {
        return boost::none;
    }
    const auto hour = ParseInteger(text.substr(0, 2), 0, 23);
    const auto minute = ParseInteger(text.substr(3, 2), 0, 59);
    if (!hour || !minute) {
        return boost::none;
    }
    return OruApp::TimeOfDay::Create(static_cast<int>(*hour), static_cast<int>(*minute));
}

// "YYYY-MM-DDTHH:MM" or "YYYY-MM-DDTHH:MM:SS".
boost::optional<boost::posix_time::ptime> ParseDateTime(const std::string& text)
{
    if ((text.size() != 16 && text.size() != 19) || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || (text.size() == 19 && text[16] != ':')) {
        return boost::none;
    }
    const auto year = ParseInteger(text.substr(0, 4), 1400, 9999);
    const auto month = ParseInteger(text.substr(5, 2), 1, 12);
    const auto day = ParseInteger(text.substr(8, 2), 1, 31);
    const auto hour = ParseInteger(text.substr(11, 2), 0, 23);
    const auto minute = ParseInteger(text.substr(14, 2), 0, 59);
    const auto second = text.size() == 19 ? ParseInteger(text.substr(17, 2), 0, 59) : boost::optional<long long>(0);
    if (!year || !month || !day || !hour || !minute || !second) {
        return boost::none;
    }
    try {
        const boost::gregorian::date date(static_cast<unsigned short>(*year), static_cast<unsigned short>(*month),
                                          static_cast<unsigned short>(*day));
        return boost::posix_time::ptime(date, boost::posix_time::hours(*hour) + boost::posix_time::minutes(*minute) +
                                                  boost::posix_time::seconds(*second));
    } catch (const std::out_of_range&) {  // 2026-02-30 and the like
        return boost::none;
    }
}

ConsoleCommand ParseValue(int co, const std::string& type, const std::string& text)
{
    if (type == "text") {
        if (!text.empty() && text.front() == '"') {
            std::string reason;
            const auto unquoted = Unquote(text, &reason);
            if (!unquoted) {
                return Error("bad text value " + text + ": " + reason);
            }
            return DeliverValueCommand{co, *unquoted};
        }
        return DeliverValueCommand{co, text};
    }
    if (type == "bool") {
        const std::string word = Lower(text);
        if (word == "true" || word == "1" || word == "on") {
            return DeliverValueCommand{co, true};
        }
        if (word == "false" || word == "0" || word == "off") {
            return DeliverValueCommand{co, false};
        }
        return RangeError(type, text, "true or false (1/0, on/off)");
    }
    if (type == "byte") {
        const auto value = ParseInteger(text, 0, 255);
        if (!value) {
            return RangeError(type, text, "0..255");
        }
        return DeliverValueCommand{co, static_cast<unsigned char>(*value)};
    }
    if (type == "float") {
        errno = 0;
        char* end = nullptr;
        const float value = std::strtof(text.c_str(), &end);
        if (text.empty() || end != text.c_str() + text.size() || text.find_first_of(Blanks) != std::string::npos ||
            (errno == ERANGE && std::isinf(value))) {
            return RangeError(type, text, "a number such as 21.5 (nan and inf are taken too)");
        }
        return DeliverValueCommand{co, value};
    }
    if (type == "word") {
        const auto value = ParseInteger(text, 0, std::numeric_limits<unsigned short>::max());
        if (!value) {
            return RangeError(type, text, "0..65535");
        }
        return DeliverValueCommand{co, static_cast<unsigned short>(*value)};
    }
    if (type == "dword") {
        const auto value = ParseInteger(text, 0, std::numeric_limits<std::uint32_t>::max());
        if (!value) {
            return RangeError(type, text, "0..4294967295");
        }
        return DeliverValueCommand{co, static_cast<unsigned long>(*value)};
    }
    if (type == "long") {
        const auto value =
            ParseInteger(text, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max());
        if (!value) {
            return RangeError(type, text, "-2147483648..2147483647");
        }
        return DeliverValueCommand{co, static_cast<long>(*value)};
    }
    if (type == "datetime") {
        if (Lower(text) == "none") {
            return DeliverValueCommand{co, boost::posix_time::ptime()};
        }
        const auto value = ParseDateTime(text);
        if (!value) {
            return RangeError(type, text, "a date and time such as 2026-12-24T18:00 (or none)");
        }
        return DeliverValueCommand{co, *value};
    }
    if (type == "time") {
        const auto value = ParseTimeOfDay(text);
        if (!value) {
            return RangeError(type, text, "a time of day such as 18:30");
        }
        return DeliverValueCommand{co, *value};
    }
    return Error("unknown type '" + type + "': expected text, bool, byte, float, word, dword, long, datetime or time");
}

}  // namespace

ConsoleCommand ParseConsoleLine(const std::string& rawLine)
{
    std::string line = rawLine;
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == '#') {
        return EmptyLine{};
    }

    // The first two words; the value is the rest of the line, so that a
    // text keeps its inner blanks.
    const auto firstEnd = trimmed.find_first_of(Blanks);
    const std::string first = trimmed.substr(0, firstEnd);
    const std::string afterFirst = firstEnd == std::string::npos ? std::string() : Trim(trimmed.substr(firstEnd));

    const std::string command = Lower(first);
    if (command == "help" || command == "?") {
        return HelpCommand{};
    }
    if (command == "quit" || command == "exit") {
        return QuitCommand{};
    }
    if (command == "sleep") {
        char* end = nullptr;
        const double seconds = std::strtod(afterFirst.c_str(), &end);
        if (afterFirst.empty() || end != afterFirst.c_str() + afterFirst.size() || !(seconds >= 0.0) ||
            seconds > 86400.0) {
            return Error("bad sleep '" + afterFirst + "': expected seconds, 0..86400, such as 1.5");
        }
        return SleepCommand{std::chrono::milliseconds(std::llround(seconds * 1000.0))};
    }

    const auto co = ParseInteger(first, std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    if (!co) {
        return Error("unknown command '" + first + "': expected <co> <type> <value>, sleep, help or quit");
    }
    if (afterFirst.empty()) {
        return Error("missing type and value: expected <co> <type> <value>");
    }
    const auto typeEnd = afterFirst.find_first_of(Blanks);
    const std::string type = Lower(afterFirst.substr(0, typeEnd));
    const std::string value = typeEnd == std::string::npos ? std::string() : Trim(afterFirst.substr(typeEnd));
    if (value.empty() && type != "text") {
        return Error("missing value: expected <co> " + type + " <value>");
    }
    return ParseValue(static_cast<int>(*co), type, value);
}

std::string ConsoleHelpText()
{
    return R"(Bus console: values typed here reach the plug-in as if they came from the bus.
  <co> <type> <value>    deliver a value on a communication object, e.g.
      2 float 21.3             setpoint of station 1, thermostat 1 (nan, inf taken)
      37 byte 7                power level of station 1, slot 1 (0..255)
      41 bool true             power level step up (true/false, 1/0, on/off)
      510 bool true            leaving home
      512 datetime 2026-12-24T18:00     arrival date (seconds optional; "none" for no date)
      514 time 18:30           arrival time (HH:MM)
      516 bool false           cooling
      5 text hello world       the rest of the line, without blanks around it;
                               "..." for exact bytes (\" \\ \n \t \xHH)
      5 word 65535   5 dword 4294967295   5 long -2147483648
  sleep <seconds>        pause before the next line (scripts), e.g. sleep 1.5
  help                   this text
  quit                   stop the host (as SIGINT/SIGTERM do)
  # ...                  a comment
Values the plug-in sends are printed as: time app->bus CO <co> (<meaning>) <type> <value>.
)";
}

}  // namespace Oru
