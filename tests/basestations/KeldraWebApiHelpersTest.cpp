#include <gtest/gtest.h>

#include <locale>
#include <sstream>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "basestations/KeldraWebApi.h"

using namespace Keldra;
using boost::gregorian::date;
using boost::posix_time::hours;
using boost::posix_time::minutes;
using boost::posix_time::seconds;
using boost::posix_time::time_duration;

namespace {

struct VersionCase {
    std::string version;
    bool atLeastMinimum;
};

std::ostream& operator<<(std::ostream& stream, const VersionCase& versionCase)
{
    return stream << '"' << versionCase.version << "\" -> " << versionCase.atLeastMinimum;
}

class MinimalVersion : public testing::TestWithParam<VersionCase> {};

TEST_P(MinimalVersion, ComparesNumbersComponentWise)
{
    EXPECT_EQ(KeldraWebApi::CheckMinimalVersion(GetParam().version), GetParam().atLeastMinimum);
}

// The minimum is 1.4.0.
INSTANTIATE_TEST_SUITE_P(
    Table, MinimalVersion,
    testing::Values(
        // equal, older and newer in each component
        VersionCase{"1.4.0", true}, VersionCase{"0.4.0", false}, VersionCase{"2.4.0", true},
        VersionCase{"1.3.0", false}, VersionCase{"1.5.0", true}, VersionCase{"1.3.99", false},
        VersionCase{"1.4.1", true}, VersionCase{"0.99.99", false}, VersionCase{"2.0.0", true},
        // numbers, not texts
        VersionCase{"1.10.0", true}, VersionCase{"10.0.0", true}, VersionCase{"1.3.100", false},
        // leading zeros are decimal
        VersionCase{"01.04.00", true}, VersionCase{"0001.0004.0000", true}, VersionCase{"01.03.09", false},
        VersionCase{"1.08.0", true},
        // largest numbers and overflow
        VersionCase{"4294967295.0.0", true}, VersionCase{"4294967296.0.0", false},
        VersionCase{"1.4.4294967296", false}, VersionCase{"99999999999999999999999.0.0", false},
        VersionCase{"1.99999999999999999999999.0", false},
        // not three numbers
        VersionCase{"", false}, VersionCase{"1", false}, VersionCase{"1.4", false}, VersionCase{"1.4.0.0", false},
        VersionCase{"2.0.0.1", false}, VersionCase{"..", false}, VersionCase{"1..4", false},
        VersionCase{".1.4.0", false}, VersionCase{"1.4.0.", false}, VersionCase{"1.4.", false},
        // anything but digits and dots
        VersionCase{"a.b.c", false}, VersionCase{"v1.4.0", false}, VersionCase{"1.4.0a", false},
        VersionCase{"1.4.0-beta", false}, VersionCase{" 1.4.0", false}, VersionCase{"1.4.0 ", false},
        VersionCase{"1.4.0\n", false}, VersionCase{"-1.4.0", false}, VersionCase{"+2.0.0", false},
        VersionCase{"1.-4.0", false}, VersionCase{"1,4,0", false}, VersionCase{"2.0.0 (build 7)", false},
        VersionCase{std::string("1.4.0\0", 6), false}, VersionCase{"\xd9\xa3.4.0", false}));

TEST(MinimalVersion, TheMinimumItselfIsAccepted)
{
    EXPECT_STREQ(KeldraWebApi::MinimalVersion(), "1.4.0");
    EXPECT_TRUE(KeldraWebApi::CheckMinimalVersion(KeldraWebApi::MinimalVersion()));
}

TEST(LeavingHomeDateString, IsTwoDigitYearMonthDay)
{
    struct Case {
        date value;
        std::string text;
    };
    const std::vector<Case> cases = {
        {date(2024, 5, 17), "24-05-17"},
        {date(2000, 1, 1), "00-01-01"},
        {date(2099, 12, 31), "99-12-31"},
        {date(2031, 11, 9), "31-11-09"},
        // a two-digit year cannot tell these from 2000..2099
        {date(1999, 12, 31), ""},
        {date(2100, 1, 1), ""},
        {date(1400, 1, 1), ""},
        {date(9999, 12, 31), ""},
        {date(boost::date_time::not_a_date_time), ""},
        {date(boost::date_time::pos_infin), ""},
        {date(boost::date_time::neg_infin), ""},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(KeldraWebApi::GenerateLeavingHomeDateString(testCase.value), testCase.text) << testCase.value;
    }
}

TEST(LeavingHomeTimeString, IsHoursAndMinutesOfTheDay)
{
    struct Case {
        time_duration value;
        std::string text;
    };
    const std::vector<Case> cases = {
        {hours(18) + minutes(30), "18:30"},
        {hours(0), "00:00"},
        {hours(9) + minutes(5) + seconds(30), "09:05"},
        {hours(23) + minutes(59) + seconds(59) + boost::posix_time::microseconds(999999), "23:59"},
        {hours(24), ""},
        {hours(25), ""},
        {hours(100000), ""},
        {-minutes(1), ""},
        {-boost::posix_time::microseconds(1), ""},
        {time_duration(boost::date_time::not_a_date_time), ""},
        {time_duration(boost::date_time::pos_infin), ""},
        {time_duration(boost::date_time::neg_infin), ""},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(KeldraWebApi::GenerateLeavingHomeTimeString(testCase.value), testCase.text) << testCase.value;
    }
}

// The texts written are read back, from the station's leaving-home status, with
// the arrival format "%y-%m-%dT%H:%M".
TEST(LeavingHomeStrings, ReadBackWithTheArrivalFormatGiveTheArrival)
{
    for (const auto arrival : {boost::posix_time::ptime(date(2024, 5, 17), hours(18) + minutes(30)),
                               boost::posix_time::ptime(date(2000, 1, 1), hours(0)),
                               boost::posix_time::ptime(date(2099, 12, 31), hours(23) + minutes(59))}) {
        const std::string text = KeldraWebApi::GenerateLeavingHomeDateString(arrival.date()) + "T" +
                                 KeldraWebApi::GenerateLeavingHomeTimeString(arrival.time_of_day());
        std::istringstream stream(text);
        stream.imbue(std::locale(std::locale::classic(),
                                 new boost::posix_time::time_input_facet("%y-%m-%dT%H:%M")));
        boost::posix_time::ptime readBack(boost::date_time::not_a_date_time);
        stream >> readBack;
        EXPECT_EQ(readBack, arrival) << text;
    }
}

}  // namespace
