// The programming-error checks: each ends the process with its message.
#include <gtest/gtest.h>

#include <string>

#include "support/Assert.h"
#include "support/BoundedTypes.h"
#include "support/Function.h"
#include "support/UTF8Span.h"

namespace {

class SupportDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(SupportDeathTest, ASpanOverInvalidBytesFailsItsCheck)
{
    static const char invalid[] = "ok\xFF";
    EXPECT_DEATH(
        {
            const Oru::UTF8Span span(invalid, *Oru::ByteCount::Create(3));
            static_cast<void>(span);
        },
        "Assertion `utf8::is_valid\\(begin\\(\\), end\\(\\)\\)' failed");
    EXPECT_DEATH(static_cast<void>(Oru::UTF8Span("\xC0\x80")), "utf8::is_valid\\(begin\\(\\), end\\(\\)\\)");
}

TEST_F(SupportDeathTest, DereferencingAnEndIteratorFailsItsCheck)
{
    EXPECT_DEATH(static_cast<void>(*Keldra::Room::All().end()), "Assertion `!m_is_end' failed");
    auto last = Keldra::PowerLevel::All().begin();
    for (int step = 0; step <= 10; ++step) {
        ++last;
    }
    EXPECT_DEATH(static_cast<void>(last->Value()), "!m_is_end");
}

TEST_F(SupportDeathTest, CallingAnEmptyFunctionFailsItsCheck)
{
    const Oru::function<int(int)> empty;
    EXPECT_DEATH(static_cast<void>(empty(1)), "Assertion `m_storage' failed");
}

void RequireTwo(int value) { ORU_ASSERT2(value == 2); }

TEST_F(SupportDeathTest, AFailedAssertionLogsTheExpressionAndTheBacktraceAtFatalLevel)
{
    RequireTwo(2);
    EXPECT_DEATH(RequireTwo(3),
                 "FATAL .*RequireTwo\\(int\\) -  ORU_ASSERT2\\(value == 2\\) failed\n  #0 [^\n]+\n  #1 ");
}

enum class Colour { Red, Green };

const char* ColourName(Colour colour)
{
    switch (colour) {
    case Colour::Red: return "red";
    case Colour::Green: return "green";
    }
    ORU_UNREACHABLE();
}
constexpr int UnreachableLine = __LINE__ - 2;

TEST_F(SupportDeathTest, AnUnreachableStatementNamesItsPlace)
{
    EXPECT_STREQ("green", ColourName(Colour::Green));
    EXPECT_DEATH(ColourName(static_cast<Colour>(7)),
                 "FATAL .*This statement should not be executed\\. There is a bug somewhere around SupportDeathTest:" +
                     std::to_string(UnreachableLine) + " ");
}

}  // namespace
