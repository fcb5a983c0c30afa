#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BusValue.h"
#include "CommunicationObjectNames.h"
#include "ConsoleCommand.h"
#include "QuotedText.h"

using namespace Oru;

namespace {

// A value line and the value it delivers, as the console prints it.
struct ValueCase {
    std::string line;
    int co;
    std::string printed;  // "<type> <value>"
};

class ConsoleValueSyntax : public ::testing::TestWithParam<ValueCase> {};

TEST_P(ConsoleValueSyntax, DeliversTheValue)
{
    const ValueCase& value = GetParam();
    const ConsoleCommand command = ParseConsoleLine(value.line);
    const auto* deliver = std::get_if<DeliverValueCommand>(&command);
    ASSERT_NE(nullptr, deliver) << value.line << ": "
                                << (std::holds_alternative<ConsoleSyntaxError>(command)
                                        ? std::get<ConsoleSyntaxError>(command).message
                                        : "not a value");
    EXPECT_EQ(value.co, deliver->co);
    EXPECT_EQ(value.printed, BusValueTypeName(deliver->value) + " " + FormatBusValue(deliver->value));
}

INSTANTIATE_TEST_SUITE_P(
    AllNineTypes, ConsoleValueSyntax,
    ::testing::Values(ValueCase{"2 float 21.3", 2, "float 21.3"},
                      ValueCase{"2 float -0.5", 2, "float -0.5"},
                      ValueCase{"2 float nan", 2, "float nan"},
                      ValueCase{"2 float -inf", 2, "float -inf"},
                      ValueCase{"2 FLOAT 1e3", 2, "float 1000"},
                      ValueCase{"510 bool true", 510, "bool true"},
                      ValueCase{"510 bool False", 510, "bool false"},
                      ValueCase{"41 bool 1", 41, "bool true"},
                      ValueCase{"41 bool off", 41, "bool false"},
                      ValueCase{"37 byte 7", 37, "byte 7"},
                      ValueCase{"37 byte 0", 37, "byte 0"},
                      ValueCase{"39 byte 255", 39, "byte 255"},
                      ValueCase{"39 byte 0xFF", 39, "byte 255"},
                      ValueCase{"5 word 65535", 5, "word 65535"},
                      ValueCase{"5 dword 4294967295", 5, "dword 4294967295"},
                      ValueCase{"5 long -2147483648", 5, "long -2147483648"},
                      ValueCase{"5 long 2147483647", 5, "long 2147483647"},
                      ValueCase{"512 datetime 2026-12-24T18:00", 512, "datetime 2026-12-24T18:00:00"},
                      ValueCase{"512 datetime 2028-02-29T23:59:59", 512, "datetime 2028-02-29T23:59:59"},
                      ValueCase{"512 datetime none", 512, "datetime none"},
                      ValueCase{"514 time 18:30", 514, "time 18:30"},
                      ValueCase{"514 time 00:00", 514, "time 00:00"},
                      ValueCase{"504 text hello  world ", 504, "text \"hello  world\""},
                      ValueCase{"504 text", 504, "text \"\""},
                      ValueCase{"504 text \"  exact \\\"bytes\\\" \\xC3\\x28\\n\"", 504,
                                "text \"  exact \\\"bytes\\\" \\xC3(\\n\""},
                      ValueCase{"  600   bool   true  ", 600, "bool true"},
                      ValueCase{"-1 byte 3", -1, "byte 3"},
                      ValueCase{"0 text x\r", 0, "text \"x\""}));

struct ErrorCase {
    std::string line;
    std::string message;
};

class ConsoleSyntaxErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ConsoleSyntaxErrors, ExplainsWhatIsWrong)
{
    const ConsoleCommand command = ParseConsoleLine(GetParam().line);
    const auto* error = std::get_if<ConsoleSyntaxError>(&command);
    ASSERT_NE(nullptr, error) << GetParam().line;
    EXPECT_EQ(GetParam().message, error->message);
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, ConsoleSyntaxErrors,
    ::testing::Values(
        ErrorCase{"37 byte 256", "bad byte value '256': expected 0..255"},
        ErrorCase{"37 byte -1", "bad byte value '-1': expected 0..255"},
        ErrorCase{"37 byte seven", "bad byte value 'seven': expected 0..255"},
        ErrorCase{"5 word 65536", "bad word value '65536': expected 0..65535"},
        ErrorCase{"5 dword 4294967296", "bad dword value '4294967296': expected 0..4294967295"},
        ErrorCase{"5 dword -1", "bad dword value '-1': expected 0..4294967295"},
        ErrorCase{"5 long 2147483648", "bad long value '2147483648': expected -2147483648..2147483647"},
        ErrorCase{"510 bool maybe", "bad bool value 'maybe': expected true or false (1/0, on/off)"},
        ErrorCase{"2 float 21,3", "bad float value '21,3': expected a number such as 21.5 (nan and inf are taken too)"},
        ErrorCase{"2 float 1e99", "bad float value '1e99': expected a number such as 21.5 (nan and inf are taken too)"},
        ErrorCase{"2 float", "missing value: expected <co> float <value>"},
        ErrorCase{"512 datetime 2026-02-30T18:00",
                  "bad datetime value '2026-02-30T18:00': expected a date and time such as 2026-12-24T18:00 (or none)"},
        ErrorCase{"512 datetime 2026-12-24 18:00",
                  "bad datetime value '2026-12-24 18:00': expected a date and time such as 2026-12-24T18:00 (or none)"},
        ErrorCase{"512 datetime 2026-12-24T25:00",
                  "bad datetime value '2026-12-24T25:00': expected a date and time such as 2026-12-24T18:00 (or none)"},
        ErrorCase{"514 time 24:00", "bad time value '24:00': expected a time of day such as 18:30"},
        ErrorCase{"514 time 18:60", "bad time value '18:60': expected a time of day such as 18:30"},
        ErrorCase{"514 time 8:30", "bad time value '8:30': expected a time of day such as 18:30"},
        ErrorCase{"2 double 1",
                  "unknown type 'double': expected text, bool, byte, float, word, dword, long, datetime or time"},
        ErrorCase{"x float 1", "unknown command 'x': expected <co> <type> <value>, sleep, help or quit"},
        ErrorCase{"99999999999 bool true",
                  "unknown command '99999999999': expected <co> <type> <value>, sleep, help or quit"},
        ErrorCase{"2", "missing type and value: expected <co> <type> <value>"},
        ErrorCase{"504 text \"unterminated", "bad text value \"unterminated: the closing quote is missing"},
        ErrorCase{"504 text \"a\\q\"", "bad text value \"a\\q\": unknown escape \\q"},
        ErrorCase{"504 text \"\\x4\"", "bad text value \"\\x4\": \\x takes two hexadecimal digits"},
        ErrorCase{"sleep -1", "bad sleep '-1': expected seconds, 0..86400, such as 1.5"},
        ErrorCase{"sleep", "bad sleep '': expected seconds, 0..86400, such as 1.5"},
        ErrorCase{"sleep soon", "bad sleep 'soon': expected seconds, 0..86400, such as 1.5"}));

TEST(ConsoleCommands, HelpQuitSleepAndNothing)
{
    EXPECT_TRUE(std::holds_alternative<HelpCommand>(ParseConsoleLine("help")));
    EXPECT_TRUE(std::holds_alternative<HelpCommand>(ParseConsoleLine(" HELP ")));
    EXPECT_TRUE(std::holds_alternative<QuitCommand>(ParseConsoleLine("quit")));
    EXPECT_TRUE(std::holds_alternative<QuitCommand>(ParseConsoleLine("exit")));
    for (const std::string line : {"", "   ", "\r", "# 2 float 1", "  # comment"}) {
        EXPECT_TRUE(std::holds_alternative<EmptyLine>(ParseConsoleLine(line))) << line;
    }
    const ConsoleCommand sleep = ParseConsoleLine("sleep 1.5");
    ASSERT_TRUE(std::holds_alternative<SleepCommand>(sleep));
    EXPECT_EQ(std::chrono::milliseconds(1500), std::get<SleepCommand>(sleep).duration);
}

TEST(ConsoleCommands, HelpNamesEveryType)
{
    const std::string help = ConsoleHelpText();
    for (const char* type : {"text", "bool", "byte", "float", "word", "dword", "long", "datetime", "time"}) {
        EXPECT_NE(std::string::npos, help.find(std::string(" ") + type + " ")) << type;
    }
}

TEST(QuotedText, QuoteAndUnquoteAreInverse)
{
    const std::string allBytes = [] {
        std::string text;
        for (int byte = 0; byte < 256; ++byte) {
            text += static_cast<char>(byte);
        }
        return text;
    }();
    for (const std::string& text : {std::string(), std::string("plain"), std::string("\"\\\n\t\r"), allBytes}) {
        const auto back = Unquote(Quote(text));
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(text, *back);
    }
    EXPECT_EQ("\"-0:NoError\"", Quote("-0:NoError"));
}

struct CoCase {
    int co;
    std::string meaning;
};

class CommunicationObjectMeaning : public ::testing::TestWithParam<CoCase> {};

TEST_P(CommunicationObjectMeaning, FollowsTheProjectNumbering)
{
    EXPECT_EQ(GetParam().meaning, DescribeCommunicationObject(GetParam().co));
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, CommunicationObjectMeaning,
    ::testing::Values(CoCase{1, "station 1, thermostat 1, room temperature"},
                      CoCase{2, "station 1, thermostat 1, setpoint input"},
                      CoCase{3, "station 1, thermostat 1, setpoint status"},
                      CoCase{23, "station 1, thermostat 8, setpoint input"},
                      CoCase{24, "station 1, thermostat 8, setpoint status"},
                      CoCase{25, "station 1, not assigned"},
                      CoCase{36, "station 1, not assigned"},
                      CoCase{37, "station 1, slot 1, power level input"},
                      CoCase{38, "station 1, slot 1, power level status"},
                      CoCase{39, "station 1, slot 1, power level percent input"},
                      CoCase{40, "station 1, slot 1, power level percent status"},
                      CoCase{41, "station 1, slot 1, power level step input"},
                      CoCase{96, "station 1, slot 12, power level step input"},
                      CoCase{97, "station 1, station error"},
                      CoCase{98, "station 1, system status code other than 0-0"},
                      CoCase{99, "station 1, not assigned"},
                      CoCase{100, "station 1, not assigned"},
                      CoCase{101, "station 2, thermostat 1, room temperature"},
                      CoCase{137, "station 2, slot 1, power level input"},
                      CoCase{142, "station 2, slot 2, power level input"},
                      CoCase{496, "station 5, slot 12, power level step input"},
                      CoCase{500, "station 5, not assigned"},
                      CoCase{501, "system, gateway error"},
                      CoCase{504, "system, base station error text"},
                      CoCase{505, "system, not assigned"},
                      CoCase{510, "system, leaving home input"},
                      CoCase{517, "system, heating (true) or cooling status"},
                      CoCase{0, "outside 1..517"},
                      CoCase{518, "outside 1..517"},
                      CoCase{-5, "outside 1..517"}));

}  // namespace
