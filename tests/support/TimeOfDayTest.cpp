#include <gtest/gtest.h>

#include <climits>
#include <sstream>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "app/OruApp.h"

namespace {

struct CreateCase {
    int hour;
    int minute;
    bool valid;
};

TEST(TimeOfDay, CreateAcceptsHoursToTwentyThreeAndMinutesToFiftyNine)
{
    const CreateCase cases[] = {
        {0, 0, true},   {23, 59, true}, {12, 30, true},     {-1, 0, false},     {24, 0, false},    {0, -1, false},
        {0, 60, false}, {23, 60, false}, {INT_MIN, 0, false}, {INT_MAX, 0, false}, {0, INT_MAX, false},
    };
    for (const auto& c : cases) {
        const auto time = OruApp::TimeOfDay::Create(c.hour, c.minute);
        EXPECT_EQ(c.valid, time.has_value()) << c.hour << ":" << c.minute;
        if (time) {
            EXPECT_EQ(c.hour, time->GetHour());
            EXPECT_EQ(c.minute, time->GetMinute());
        }
    }
}

TEST(TimeOfDay, SpecialPtimeValuesGiveNoTime)
{
    using boost::posix_time::ptime;
    for (const auto special : {boost::date_time::not_a_date_time, boost::date_time::pos_infin,
                               boost::date_time::neg_infin}) {
        EXPECT_FALSE(OruApp::TimeOfDay::FromBoostPosixPtime(ptime(special))) << ptime(special);
    }
}

struct PtimeCase {
    const char* ptime;
    int hour;
    int minute;
    const char* text;
};

TEST(TimeOfDay, NormalPtimesGiveTheirHourAndMinute)
{
    const PtimeCase cases[] = {
        {"2024-03-01 18:30:59", 18, 30, "18:30"},
        {"2024-03-01 07:05:00", 7, 5, "07:05"},
        {"1999-12-31 00:00:00", 0, 0, "00:00"},
        {"2038-01-19 23:59:59.999", 23, 59, "23:59"},
    };
    for (const auto& c : cases) {
        const auto time = OruApp::TimeOfDay::FromBoostPosixPtime(boost::posix_time::time_from_string(c.ptime));
        ASSERT_TRUE(time) << c.ptime;
        EXPECT_EQ(c.hour, time->GetHour());
        EXPECT_EQ(c.minute, time->GetMinute());
        std::ostringstream text;
        text << *time;
        EXPECT_EQ(c.text, text.str());
    }
}

TEST(TimeOfDay, PrintingLeavesTheStreamsFormattingAlone)
{
    std::ostringstream text;
    text << "[" << *OruApp::TimeOfDay::Create(7, 5) << "|" << 7 << "]";
    EXPECT_EQ("[07:05|7]", text.str());
    EXPECT_EQ(' ', text.fill());
}

}  // namespace
