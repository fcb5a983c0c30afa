#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "EtsParameterFile.h"

using Oru::ParseEtsParameters;

namespace {

struct FileCase {
    std::string name;
    std::string content;
    std::map<int, std::string> texts;
    std::map<int, std::int32_t> numbers;
    std::vector<std::string> errors;
};

class EtsParameterFileTest : public ::testing::TestWithParam<FileCase> {};

TEST_P(EtsParameterFileTest, ReadsParametersAndReportsBadLines)
{
    const FileCase& file = GetParam();
    std::istringstream input(file.content);
    const auto parsed = ParseEtsParameters(input);
    EXPECT_EQ(file.texts, parsed.parameters.texts);
    EXPECT_EQ(file.numbers, parsed.parameters.numbers);
    EXPECT_EQ(file.errors, parsed.errors);
}

INSTANTIATE_TEST_SUITE_P(
    Files, EtsParameterFileTest,
    ::testing::Values(
        FileCase{"Example",
                 "# two stations\n"
                 "text 1 = 0123456789ABCDEFGHIJ\n"
                 "text 2 = RT000001RT000002\n"
                 "\n"
                 "number 1 = 3\n"
                 "number 7 = 0x1\n"
                 "number 16 = 0\n",
                 {{1, "0123456789ABCDEFGHIJ"}, {2, "RT000001RT000002"}},
                 {{1, 3}, {7, 1}, {16, 0}},
                 {}},
        FileCase{"BlanksAndCarriageReturns",
                 "  text   3   =   spaced value  \r\n\tnumber\t2\t=\t-5\r\n   # indented comment\n",
                 {{3, "spaced value"}},
                 {{2, -5}},
                 {}},
        FileCase{"QuotedTexts",
                 "text 1 = \"  leading and trailing  \"\n"
                 "text 2 = \"\"\n"
                 "text 3 =\n"
                 "text 4 = \"\\xC3\\x28 invalid UTF-8\"\n"
                 "text 5 = a=b\n",
                 {{1, "  leading and trailing  "}, {2, ""}, {3, ""}, {4, "\xC3\x28 invalid UTF-8"}, {5, "a=b"}},
                 {},
                 {}},
        FileCase{"NumberRange",
                 "number 1 = 2147483647\n"
                 "number 2 = -2147483648\n"
                 "number 3 = 0xFFFFFFFF\n"
                 "number 4 = 4294967295\n"
                 "number 5 = 0x87654321\n"
                 "number 6 = 4294967296\n"
                 "number 7 = -2147483649\n",
                 {},
                 {{1, 2147483647}, {2, -2147483647 - 1}, {3, -1}, {4, -1}, {5, static_cast<std::int32_t>(0x87654321u)}},
                 {"line 6: bad value of number 6 '4294967296': expected an integer -2147483648..4294967295 (or "
                  "0x0..0xFFFFFFFF)",
                  "line 7: bad value of number 7 '-2147483649': expected an integer -2147483648..4294967295 (or "
                  "0x0..0xFFFFFFFF)"}},
        FileCase{"BadLinesAreReportedWithTheirNumber",
                 "text 1 = ok\n"
                 "just some words\n"
                 "flag 1 = 3\n"
                 "number x = 3\n"
                 "number -1 = 3\n"
                 "number 2 = three\n"
                 "number 3 = 3 4\n"
                 "text 4 = \"unterminated\n"
                 "text 5 = \"bad \\q escape\"\n"
                 "text 6 = \"x\" trailing\n"
                 "number = 4\n",
                 {{1, "ok"}},
                 {},
                 {"line 2: expected 'text <id> = <value>' or 'number <id> = <value>'",
                  "line 3: unknown parameter kind 'flag': expected text or number",
                  "line 4: bad parameter id 'x': expected a number 0..2147483647",
                  "line 5: bad parameter id '-1': expected a number 0..2147483647",
                  "line 6: bad value of number 2 'three': expected an integer -2147483648..4294967295 (or "
                  "0x0..0xFFFFFFFF)",
                  "line 7: bad value of number 3 '3 4': expected an integer -2147483648..4294967295 (or "
                  "0x0..0xFFFFFFFF)",
                  "line 8: bad text of text 4: the closing quote is missing",
                  "line 9: bad text of text 5: unknown escape \\q",
                  "line 10: bad text of text 6: nothing may follow the closing quote",
                  "line 11: bad parameter id '': expected a number 0..2147483647"}},
        FileCase{"DefinedTwice",
                 "text 1 = first\n"
                 "number 1 = 1\n"
                 "text 1 = second\n",
                 {{1, "first"}},
                 {{1, 1}},
                 {"line 3: text 1 is defined twice (first on line 1)"}}),
    [](const ::testing::TestParamInfo<FileCase>& testCase) { return testCase.param.name; });

}  // namespace
