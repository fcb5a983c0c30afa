// The web API contract's rules for firmware versions and leaving-home texts.
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <gtest/gtest.h>

#include "basestations/KeldraWebApi.h"

using namespace Keldra;
using boost::gregorian::date;
using boost::posix_time::hours;
using boost::posix_time::minutes;

namespace {

// The minimum is 1.4.0.
TEST(MinimalVersion, ThreeDecimalNumbersComparedComponentWise)
{
    const std::vector<std::pair<std::string, bool>> cases = {
        {"1.4.0", true}, {"0.4.0", false}, {"2.4.0", true}, {"1.3.0", false}, {"1.5.0", true}, {"1.3.99", false},
        {"1.4.1", true}, {"0.99.99", false}, {"2.0.0", true}, {"1.10.0", true}, {"1.3.100", false},
        // leading zeros are decimal; at most 32 bits each
        {"01.04.00", true}, {"01.03.09", false}, {"1.08.0", true}, {"4294967295.0.0", true},
        {"4294967296.0.0", false}, {"1.4.4294967296", false}, {"99999999999999999999999.0.0", false},
        // not three numbers, or anything but digits and dots
        {"", false}, {"1.4", false}, {"1.4.0.0", false}, {"1..4", false}, {".1.4.0", false}, {"1.4.", false},
        {"v1.4.0", false}, {"1.4.0-beta", false}, {" 1.4.0", false}, {"1.4.0\n", false}, {"-1.4.0", false},
        {"+2.0.0", false}, {"1.-4.0", false}, {std::string("1.4.0\0", 6), false}, {"\xd9\xa3.4.0", false},
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(KeldraWebApi::CheckMinimalVersion(entry.first), entry.second) << '"' << entry.first << '"';
    }
}

TEST(LeavingHomeStrings, TwoDigitYearDateAndHoursAndMinutes)
{
    const std::vector<std::pair<date, std::string>> dates = {
        {date(2024, 5, 17), "24-05-17"}, {date(2000, 1, 1), "00-01-01"}, {date(2099, 12, 31), "99-12-31"},
        // a two-digit year cannot tell these from 2000..2099
        {date(1999, 12, 31), ""}, {date(2100, 1, 1), ""}, {date(boost::date_time::not_a_date_time), ""},
        {date(boost::date_time::pos_infin), ""},
    };
    for (const auto& entry : dates) {
        EXPECT_EQ(KeldraWebApi::GenerateLeavingHomeDateString(entry.first), entry.second) << entry.first;
    }
    const std::vector<std::pair<boost::posix_time::time_duration, std::string>> times = {
        {hours(18) + minutes(30), "18:30"}, {hours(0), "00:00"},
        {hours(9) + minutes(5) + boost::posix_time::seconds(30), "09:05"},
        {hours(24) - boost::posix_time::microseconds(1), "23:59"}, {hours(24), ""}, {hours(100000), ""},
        {-boost::posix_time::microseconds(1), ""}, {boost::posix_time::time_duration(boost::date_time::not_a_date_time), ""},
        {boost::posix_time::time_duration(boost::date_time::neg_infin), ""},
    };
    for (const auto& entry : times) {
        EXPECT_EQ(KeldraWebApi::GenerateLeavingHomeTimeString(entry.first), entry.second) << entry.first;
    }
}

}  // namespace
