// Callables, times of day, the instance guard, and the
// programming-error checks, each of which ends the process with its line.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <sstream>
#include <string>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "app/OruApp.h"
#include "support/Assert.h"
#include "support/BoundedTypes.h"
#include "support/Function.h"
#include "support/OperatingSystem.h"
#include "support/UTF8Span.h"

namespace {

// A callable that counts its living instances and its calls.
struct Counted {
    static int alive;
    int calls = 0;
    Counted() { ++alive; }
    Counted(const Counted& other) : calls(other.calls) { ++alive; }
    ~Counted() { --alive; }
    int operator()(int argument) { return argument + ++calls; }
};
int Counted::alive = 0;

// Copies share one callable, which dies with the last copy. Move-only and
// reference arguments pass through; a void function once refused a callable
// that returns a value.
TEST(Function, CopiesShareOneCallableAndArgumentsPassThrough)
{
    {
        auto first = std::make_unique<Oru::function<int(int)>>(Counted());
        Oru::function<int(int)> copy;
        EXPECT_FALSE(copy);
        copy = *first;
        EXPECT_EQ(11, (*first)(10));
        first.reset();
        EXPECT_EQ(1, Counted::alive);
        EXPECT_EQ(12, copy(10));
    }
    EXPECT_EQ(0, Counted::alive);
    const Oru::function<void(std::unique_ptr<int>, int&)> consume(
        [](std::unique_ptr<int> value, int& target) { return target = *value; });
    int target = 0;
    consume(std::make_unique<int>(7), target);
    EXPECT_EQ(7, target);
}

TEST(TimeOfDay, HoursToTwentyThreeAndMinutesToFiftyNinePrintedWithTwoDigits)
{
    const struct {
        int hour, minute;
        bool valid;
    } cases[] = {{0, 0, true},   {23, 59, true},  {-1, 0, false},      {24, 0, false},      {0, -1, false},
                 {0, 60, false}, {23, 60, false}, {INT_MIN, 0, false}, {INT_MAX, 0, false}, {0, INT_MAX, false}};
    for (const auto& c : cases) {
        const auto time = OruApp::TimeOfDay::Create(c.hour, c.minute);
        EXPECT_EQ(c.valid, time && time->GetHour() == c.hour && time->GetMinute() == c.minute)
            << c.hour << ":" << c.minute;
    }
    using boost::posix_time::ptime;
    for (const auto special :
         {boost::date_time::not_a_date_time, boost::date_time::pos_infin, boost::date_time::neg_infin}) {
        EXPECT_FALSE(OruApp::TimeOfDay::FromBoostPosixPtime(ptime(special))) << ptime(special);
    }
    const std::pair<const char*, const char*> times[] = {{"2024-03-01 18:30:59", "18:30"},
                                                         {"2024-03-01 07:05:00", "07:05"},
                                                         {"1999-12-31 00:00:00", "00:00"},
                                                         {"2038-01-19 23:59:59.999", "23:59"}};
    for (const auto& t : times) {
        const auto time = OruApp::TimeOfDay::FromBoostPosixPtime(boost::posix_time::time_from_string(t.first));
        ASSERT_TRUE(time) << t.first;
        std::ostringstream text;
        text << "[" << *time << "|" << 7 << "]";
        EXPECT_EQ("[" + std::string(t.second) + "|7]", text.str()) << "the stream's formatting is left alone";
        EXPECT_EQ(' ', text.fill());
    }
}

void RequireTwo(int value) { ORU_ASSERT2(value == 2); }
void Unreachable() { ORU_UNREACHABLE(); }
constexpr int UnreachableLine = __LINE__ - 1;

// Each programming-error check ends the process: the fatal ones with their
// log line, those inside the support types with the standard assertion message.
TEST(SupportDeathTest, EveryCheckEndsTheProcessWithItsLine)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            const Oru::OperatingSystem first("FirstApp");
            const Oru::OperatingSystem second("SecondApp");
        },
        "FATAL .*Oru::OperatingSystem::OperatingSystem\\(Oru::UTF8Span\\) - "
        "Detected duplicate instance of Oru::OperatingSystem\\. Old name: FirstApp, new name: SecondApp "
        "\\(OperatingSystem:[0-9]+\\)");
    RequireTwo(2);
    EXPECT_DEATH(RequireTwo(3),
                 "FATAL .*RequireTwo\\(int\\) -  ORU_ASSERT2\\(value == 2\\) failed\n  #0 [^\n]+\n  #1 ");
    EXPECT_DEATH(Unreachable(),
                 "FATAL .*This statement should not be executed\\. There is a bug somewhere around SupportTest:" +
                     std::to_string(UnreachableLine) + " ");
    static const char invalid[] = "ok\xFF";
    EXPECT_DEATH(static_cast<void>(Oru::UTF8Span(invalid, *Oru::ByteCount::Create(3))),
                 "Assertion `utf8::is_valid\\(begin\\(\\), end\\(\\)\\)' failed");
    EXPECT_DEATH(static_cast<void>(*Keldra::Room::All().end()), "Assertion `!m_is_end' failed");
    EXPECT_DEATH(static_cast<void>(Oru::function<int(int)>()(1)), "Assertion `m_storage' failed");
}

}  // namespace
