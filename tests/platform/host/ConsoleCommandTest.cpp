#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "platform/host/BusValue.h"
#include "platform/host/CommunicationObjectNames.h"
#include "platform/host/ConsoleCommand.h"

using namespace Oru;

namespace {

// What a console line parses to: "<co> <type> <value>" as the console prints
// a value, the error message, "sleep <ms>", "help", "quit" or "" for nothing.
std::string Parsed(const std::string& line)
{
    const ConsoleCommand command = ParseConsoleLine(line);
    if (const auto* deliver = std::get_if<DeliverValueCommand>(&command)) {
        return std::to_string(deliver->co) + " " + BusValueTypeName(deliver->value) + " " +
               FormatBusValue(deliver->value);
    }
    if (const auto* error = std::get_if<ConsoleSyntaxError>(&command)) {
        return error->message;
    }
    if (const auto* sleep = std::get_if<SleepCommand>(&command)) {
        return "sleep " + std::to_string(sleep->duration.count());
    }
    return std::holds_alternative<HelpCommand>(command) ? "help"
           : std::holds_alternative<QuitCommand>(command) ? "quit"
                                                          : "";
}

TEST(ConsoleCommand, ParsesValuesOfAllNineTypesAndCommands)
{
    // Lines that parse to what they say.
    for (const char* line : {"2 float 21.3", "2 float -0.5", "2 float nan", "2 float -inf", "510 bool true",
                             "37 byte 0", "39 byte 255", "5 word 65535", "5 dword 4294967295", "5 long -2147483648",
                             "5 long 2147483647", "512 datetime 2028-02-29T23:59:59", "512 datetime none",
                             "514 time 18:30", "514 time 00:00", "-1 byte 3", "help", "quit", ""}) {
        EXPECT_EQ(line, Parsed(line));
    }
    const std::pair<std::string, std::string> lines[] = {
        {"2 FLOAT 1e3", "2 float 1000"}, {"510 bool False", "510 bool false"}, {"41 bool 1", "41 bool true"},
        {"41 bool off", "41 bool false"}, {"39 byte 0xFF", "39 byte 255"},
        {"512 datetime 2026-12-24T18:00", "512 datetime 2026-12-24T18:00:00"},
        {"504 text hello  world ", "504 text \"hello  world\""}, {"504 text", "504 text \"\""},
        {"0 text x\r", "0 text \"x\""},
        {"504 text \"  exact \\\"bytes\\\" \\xC3\\x28\\n\"", "504 text \"  exact \\\"bytes\\\" \\xC3(\\n\""},
        {"  600   bool   true  ", "600 bool true"}, {" HELP ", "help"}, {"exit", "quit"}, {"sleep 1.5", "sleep 1500"},
        {"   ", ""}, {"\r", ""}, {"# 2 float 1", ""}, {"  # comment", ""},
    };
    for (const auto& [line, parsed] : lines) {
        EXPECT_EQ(parsed, Parsed(line)) << line;
    }
}

TEST(ConsoleCommand, ExplainsWhatIsWrong)
{
    const std::string dateTime = ": expected a date and time such as 2026-12-24T18:00 (or none)";
    const std::pair<std::string, std::string> lines[] = {
        {"37 byte 256", "bad byte value '256': expected 0..255"},
        {"5 word 65536", "bad word value '65536': expected 0..65535"},
        {"5 dword 4294967296", "bad dword value '4294967296': expected 0..4294967295"},
        {"5 long 2147483648", "bad long value '2147483648': expected -2147483648..2147483647"},
        {"510 bool maybe", "bad bool value 'maybe': expected true or false (1/0, on/off)"},
        {"2 float 1e99", "bad float value '1e99': expected a number such as 21.5 (nan and inf are taken too)"},
        {"2 float", "missing value: expected <co> float <value>"},
        {"512 datetime 2026-02-30T18:00", "bad datetime value '2026-02-30T18:00'" + dateTime},
        {"512 datetime 2026-12-24T25:00", "bad datetime value '2026-12-24T25:00'" + dateTime},
        {"514 time 24:00", "bad time value '24:00': expected a time of day such as 18:30"},
        {"2 double 1", "unknown type 'double': expected text, bool, byte, float, word, dword, long, datetime or time"},
        {"99999999999 bool true",
         "unknown command '99999999999': expected <co> <type> <value>, sleep, help or quit"},
        {"2", "missing type and value: expected <co> <type> <value>"},
        {"504 text \"unterminated", "bad text value \"unterminated: the closing quote is missing"},
        {"504 text \"a\\q\"", "bad text value \"a\\q\": unknown escape \\q"},
        {"504 text \"\\x4\"", "bad text value \"\\x4\": \\x takes two hexadecimal digits"},
        {"sleep -1", "bad sleep '-1': expected seconds, 0..86400, such as 1.5"},
    };
    for (const auto& [line, message] : lines) {
        EXPECT_EQ(message, Parsed(line)) << line;
    }
}

TEST(ConsoleCommand, CommunicationObjectsFollowTheProjectNumbering)
{
    const std::pair<int, std::string> meanings[] = {
        {1, "station 1, thermostat 1, room temperature"}, {2, "station 1, thermostat 1, setpoint input"},
        {24, "station 1, thermostat 8, setpoint status"}, {25, "station 1, not assigned"},
        {36, "station 1, not assigned"}, {37, "station 1, slot 1, power level input"},
        {40, "station 1, slot 1, power level percent status"}, {41, "station 1, slot 1, power level step input"},
        {96, "station 1, slot 12, power level step input"}, {97, "station 1, station error"},
        {98, "station 1, system status code other than 0-0"}, {100, "station 1, not assigned"},
        {101, "station 2, thermostat 1, room temperature"}, {142, "station 2, slot 2, power level input"},
        {500, "station 5, not assigned"}, {501, "system, gateway error"},
        {517, "system, heating (true) or cooling status"}, {518, "outside 1..517"}, {0, "outside 1..517"},
    };
    for (const auto& [co, meaning] : meanings) {
        EXPECT_EQ(meaning, DescribeCommunicationObject(co)) << co;
    }
}

}  // namespace
