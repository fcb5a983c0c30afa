#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <boost/date_time/gregorian/gregorian_types.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/optional/optional_io.hpp>

#include "tests/testing/LogCapture.h"
#include "tests/testing/VirtualClockSystem.h"
#include "rooms/LeavingHomeManager.h"

using namespace boost::posix_time;
using boost::gregorian::date;
using boost::gregorian::days;
using Keldra::LeavingHomeManager;
using Oru::Testing::LogCapture;
using Oru::Testing::VirtualClockSystem;
using Lines = std::vector<std::string>;
using Nanoseconds = boost::chrono::nanoseconds;
const auto Info = log4cplus::INFO_LOG_LEVEL;

namespace {

const date D(2024, 3, 10);
const boost::optional<ptime> None;
OruApp::TimeOfDay Time(int hhmm) { return *OruApp::TimeOfDay::Create(hhmm / 100, hhmm % 100); }

TEST(LeavingHomeManager, AbsenceModeAndItsConfigurationLine)
{
    const std::string oneAbsent = "Absence mode configuration: 0: at home, 1: absent",
                      zeroAbsent = "Absence mode configuration: 0: absent, 1: at home";
    // A value outside the enumeration behaves as mode 0.
    for (const auto& [mode, zeroMeansAbsent, line] : {std::make_tuple(0, false, oneAbsent),
                                                      std::make_tuple(1, true, zeroAbsent),
                                                      std::make_tuple(7, false, oneAbsent)}) {
        LogCapture log;
        VirtualClockSystem clock;
        const LeavingHomeManager manager(clock, static_cast<LeavingHomeManager::AbsenceMode>(mode));
        EXPECT_EQ(log.Messages(Info), Lines{line});
        EXPECT_EQ(manager.GetLeavingHomeMode(), zeroMeansAbsent) << mode;
    }
}

// The arrival is accepted only when it lies at least one day after the
// station's current time: its last report plus the monotonic time since,
// in whole milliseconds. Anything else gives no arrival and one info line.
TEST(LeavingHomeManager, ArrivalDateTime)
{
    struct Case {
        const char* name;
        boost::optional<ptime> station;  // reported at the start
        Nanoseconds elapsed;
        boost::optional<ptime> arrivalDate;
        int arrivalTime;  // hhmm, -1: not set
        boost::optional<ptime> arrival;
        std::string line;
    };
    const ptime S(D, hours(10));
    const std::string dateNotSet = "arrivalDate is not set, unable to generate arrivalDateTime",
                      notAhead = "arrivalDateTime is not more than one day in the future",
                      badDate = "arrivalDate is not a valid date, unable to generate arrivalDateTime",
                      badStation = "baseStationDateTime is not a valid date and time, unable to verify arrivalDateTime",
                      notCarried = "arrivalDateTime cannot be carried by the base station's two-digit year, unable "
                                   "to generate arrivalDateTime";
    const Nanoseconds twoHours = boost::chrono::hours(2), ms = boost::chrono::milliseconds(1);
    const Case cases[] = {
        {"nothing set", None, {}, None, -1, None, dateNotSet},
        {"no time", S, {}, ptime(D + days(5)), -1, None, "arrivalTime is not set, unable to generate arrivalDateTime"},
        {"no station time", None, {}, ptime(D + days(5)), 1200, None,
         "baseStationDateTime is not set, unable to verify arrivalDateTime"},
        {"a minute short", S, twoHours, ptime(D + days(1)), 1159, None, notAhead},
        {"elapsed time in whole ms", S, twoHours + ms - Nanoseconds(1), ptime(D + days(1)), 1200,
         ptime(D + days(1), hours(12)), ""},
        {"one ms late", S, twoHours + ms, ptime(D + days(1)), 1200, None, notAhead},
        {"the date keeps its time of day", S, twoHours, ptime(D + days(3), seconds(30)), 1200,
         ptime(D + days(3), hours(12) + seconds(30)), ""},
        {"only the station's date counts", ptime(date(2090, 6, 1), hours(8)), boost::chrono::hours(48),
         ptime(date(2090, 6, 4)), 800, ptime(date(2090, 6, 4), hours(8)), ""},
        {"200 years elapsed", ptime(date(2020, 1, 1), hours(10)), boost::chrono::hours(24 * 365 * 200),
         ptime(date(2100, 1, 1)), 1200, None, notAhead},
        {"not a date", S, {}, ptime(not_a_date_time), 1200, None, badDate},
        {"before the first date", S, {}, ptime(date(1400, 1, 1), -hours(1)), 1200, None, badDate},
        {"after the last date", S, {}, ptime(date(9999, 12, 31), hours(25)), 1200, None, badDate},
        {"time pushes it past the last date", S, {}, ptime(date(9999, 12, 31), hours(12)), 1200, None,
         "arrivalDateTime lies beyond the last valid date, unable to generate arrivalDateTime"},
        // The station's date has a two-digit year: 2000 to 2099.
        {"the last minute it carries", S, {}, ptime(date(2099, 12, 31)), 2359,
         ptime(date(2099, 12, 31), hours(23) + minutes(59)), ""},
        {"after 2099", S, {}, ptime(date(2100, 1, 2)), 1200, None, notCarried},
        {"station time not a date", ptime(not_a_date_time), {}, ptime(D + days(5)), 1200, None, badStation},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualClockSystem clock;
        LeavingHomeManager manager(clock, LeavingHomeManager::AbsenceMode::OneMeansAbsent);
        if (c.station) {
            manager.UpdateBaseStationDateTime(*c.station);
        }
        clock.Advance(c.elapsed);
        if (c.arrivalDate) {
            manager.UpdateArrivalDate(*c.arrivalDate);
        }
        if (c.arrivalTime >= 0) {
            manager.UpdateArrivalTime(Time(c.arrivalTime));
        }
        LogCapture log;
        EXPECT_EQ(manager.GetArrivalDateTime(), c.arrival);
        EXPECT_EQ(log.Messages(Info), c.line.empty() ? Lines{} : Lines{c.line});
    }
}

TEST(LeavingHomeManager, StationTimeUpdatesWhileTheArrivalIsRead)
{
    LogCapture log;
    VirtualClockSystem clock;
    LeavingHomeManager manager(clock, LeavingHomeManager::AbsenceMode::OneMeansAbsent);
    const ptime arrival(D + days(30), hours(12));
    manager.UpdateArrivalDate(ptime(arrival.date()));
    manager.UpdateBaseStationDateTime(ptime(D, hours(10)));
    std::thread worker([&] {
        for (int round = 0; round < 2000; ++round) {
            clock.Advance(boost::chrono::milliseconds(1));
            manager.UpdateBaseStationDateTime(ptime(D, hours(10) + seconds(round)));
        }
    });
    for (int round = 0; round < 2000; ++round) {
        manager.UpdateArrivalTime(Time(1200));
        EXPECT_EQ(manager.GetArrivalDateTime(), arrival);
    }
    worker.join();
    EXPECT_EQ(log.CountContaining("unable to"), 0u);
}

}  // namespace
