#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <boost/date_time/gregorian/gregorian_types.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/optional/optional_io.hpp>

#include "LogCapture.h"
#include "VirtualClockSystem.h"
#include "rooms/LeavingHomeManager.h"

using namespace boost::posix_time;
using boost::gregorian::date;
using Keldra::LeavingHomeManager;
using Oru::Testing::LogCapture;
using Oru::Testing::VirtualClockSystem;
using AbsenceMode = LeavingHomeManager::AbsenceMode;

namespace {

const std::string NotMoreThanOneDay = "arrivalDateTime is not more than one day in the future";
const std::string InvalidArrivalDate = "arrivalDate is not a valid date, unable to generate arrivalDateTime";
const std::string InvalidStationTime =
    "baseStationDateTime is not a valid date and time, unable to verify arrivalDateTime";

const date D(2024, 3, 10);

OruApp::TimeOfDay Time(int hour, int minute) { return *OruApp::TimeOfDay::Create(hour, minute); }

// The last info line, or "" when none was logged.
std::string LastInfo(const LogCapture& log)
{
    const auto lines = log.Messages(log4cplus::INFO_LOG_LEVEL);
    return lines.empty() ? std::string() : lines.back();
}

// A clock whose monotonic time the test sets directly, for time points no
// real clock reaches.
class SettableClock final : public Oru::ClockSystem {
public:
    boost::asio::io_service& GetIoService() const override { return _ioService; }
    std::unique_ptr<Oru::WaitableTimer> CreateTimer() override { return nullptr; }
    TimePoint GetNow() override { return now; }

    TimePoint now;

private:
    mutable boost::asio::io_service _ioService;
};

class LeavingHomeManagerTest : public testing::Test {
protected:
    // Station time 10:00 on day D, reported two hours ago: the station's
    // current time is 12:00 on D.
    void ReportStationTenOClockTwoHoursAgo()
    {
        manager.UpdateBaseStationDateTime(ptime(D, hours(10)));
        clock.Advance(boost::chrono::hours(2));
    }

    LogCapture log;
    VirtualClockSystem clock;
    LeavingHomeManager manager{clock, AbsenceMode::OneMeansAbsent};
};

}  // namespace

TEST(LeavingHomeManagerPolarity, ModeDecidesWhichBusValueMeansAbsent)
{
    struct Case {
        AbsenceMode mode;
        const char* configurationLine;
        bool busValue;
        bool leavingHomeActive;
    };
    const Case cases[] = {
        {AbsenceMode::OneMeansAbsent, "Absence mode configuration: 0: at home, 1: absent", false, false},
        {AbsenceMode::OneMeansAbsent, "Absence mode configuration: 0: at home, 1: absent", true, true},
        {AbsenceMode::ZeroMeansAbsent, "Absence mode configuration: 0: absent, 1: at home", false, true},
        {AbsenceMode::ZeroMeansAbsent, "Absence mode configuration: 0: absent, 1: at home", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.configurationLine) + ", bus value " + std::to_string(c.busValue));
        LogCapture log;
        VirtualClockSystem clock;
        const LeavingHomeManager manager(clock, c.mode);
        EXPECT_EQ(log.Messages(log4cplus::INFO_LOG_LEVEL), std::vector<std::string>{c.configurationLine});
        EXPECT_EQ(manager.GetLeavingHomeMode() != c.busValue, c.leavingHomeActive);
    }
}

TEST(LeavingHomeManagerPolarity, ValueOutsideTheEnumerationBehavesAsModeZero)
{
    LogCapture log;
    VirtualClockSystem clock;
    const LeavingHomeManager manager(clock, static_cast<AbsenceMode>(7));
    EXPECT_FALSE(manager.GetLeavingHomeMode());
    EXPECT_EQ(log.Count(log4cplus::INFO_LOG_LEVEL, "Absence mode configuration: 0: at home, 1: absent"), 1u);
}

TEST_F(LeavingHomeManagerTest, EachMissingInputGivesNoArrivalAndItsLine)
{
    struct Case {
        bool date;
        bool time;
        bool stationTime;
        const char* line;
    };
    const Case cases[] = {
        {false, false, false, "arrivalDate is not set, unable to generate arrivalDateTime"},
        {false, true, true, "arrivalDate is not set, unable to generate arrivalDateTime"},
        {true, false, false, "arrivalTime is not set, unable to generate arrivalDateTime"},
        {true, false, true, "arrivalTime is not set, unable to generate arrivalDateTime"},
        {true, true, false, "baseStationDateTime is not set, unable to verify arrivalDateTime"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        LogCapture caseLog;
        LeavingHomeManager fresh(clock, AbsenceMode::OneMeansAbsent);
        if (c.date) {
            fresh.UpdateArrivalDate(ptime(D + boost::gregorian::days(5)));
        }
        if (c.time) {
            fresh.UpdateArrivalTime(Time(12, 0));
        }
        if (c.stationTime) {
            fresh.UpdateBaseStationDateTime(ptime(D, hours(10)));
        }
        caseLog.Clear();
        EXPECT_EQ(fresh.GetArrivalDateTime(), boost::none);
        EXPECT_EQ(caseLog.Messages(log4cplus::INFO_LOG_LEVEL), std::vector<std::string>{c.line});
    }
}

TEST_F(LeavingHomeManagerTest, ArrivalMustLieAtLeastOneDayAfterTheStationsCurrentTime)
{
    ReportStationTenOClockTwoHoursAgo();
    const date nextDay = D + boost::gregorian::days(1);
    manager.UpdateArrivalDate(ptime(nextDay));

    manager.UpdateArrivalTime(Time(11, 59));
    EXPECT_EQ(manager.GetArrivalDateTime(), boost::none);
    EXPECT_EQ(LastInfo(log), NotMoreThanOneDay);

    log.Clear();
    manager.UpdateArrivalTime(Time(12, 0));
    EXPECT_EQ(manager.GetArrivalDateTime(), ptime(nextDay, hours(12)));
    EXPECT_TRUE(log.Messages(log4cplus::INFO_LOG_LEVEL).empty());
}

TEST_F(LeavingHomeManagerTest, ElapsedTimeIsTruncatedToWholeMilliseconds)
{
    manager.UpdateBaseStationDateTime(ptime(D, hours(10)));
    clock.Advance(boost::chrono::hours(2) + boost::chrono::nanoseconds(999999));
    manager.UpdateArrivalDate(ptime(D + boost::gregorian::days(1)));
    manager.UpdateArrivalTime(Time(12, 0));
    EXPECT_EQ(manager.GetArrivalDateTime(), ptime(D + boost::gregorian::days(1), hours(12)));

    clock.Advance(boost::chrono::nanoseconds(1));
    EXPECT_EQ(manager.GetArrivalDateTime(), boost::none);
}

TEST_F(LeavingHomeManagerTest, SecondsOfTheArrivalTimeAreIgnoredButTheDatesTimeOfDayIsKept)
{
    ReportStationTenOClockTwoHoursAgo();
    const date later = D + boost::gregorian::days(3);
    manager.UpdateArrivalTime(*OruApp::TimeOfDay::FromBoostPosixPtime(ptime(later, hours(12) + seconds(59))));

    manager.UpdateArrivalDate(ptime(later));
    EXPECT_EQ(manager.GetArrivalDateTime(), ptime(later, hours(12)));

    manager.UpdateArrivalDate(ptime(later, seconds(30)));
    EXPECT_EQ(manager.GetArrivalDateTime(), ptime(later, hours(12) + seconds(30)));
}

TEST_F(LeavingHomeManagerTest, OnlyTheMonotonicClockAndTheStationsTimeCount)
{
    // Station dates far from the gateway's own date: the result follows the
    // station's report and the monotonic time since, nothing else.
    for (const int year : {1970, 2150, 9000}) {
        SCOPED_TRACE(year);
        const date reported(year, 6, 1);
        manager.UpdateBaseStationDateTime(ptime(reported, hours(8)));
        manager.UpdateArrivalDate(ptime(reported + boost::gregorian::days(3)));
        manager.UpdateArrivalTime(Time(8, 0));
        EXPECT_EQ(manager.GetArrivalDateTime(), ptime(reported + boost::gregorian::days(3), hours(8)));

        clock.Advance(boost::chrono::hours(48));
        EXPECT_EQ(manager.GetArrivalDateTime(), ptime(reported + boost::gregorian::days(3), hours(8)));
        clock.Advance(boost::chrono::milliseconds(1));
        EXPECT_EQ(manager.GetArrivalDateTime(), boost::none);
    }
}

TEST_F(LeavingHomeManagerTest, TimeOfDayLimits)
{
    ReportStationTenOClockTwoHoursAgo();
    struct Case {
        int dayOffset;
        int hour;
        int minute;
        bool accepted;
    };
    const Case cases[] = {
        {1, 0, 0, false}, {1, 23, 59, true}, {2, 0, 0, true}, {2, 23, 59, true}, {0, 23, 59, false},
    };
    for (const auto& c : cases) {
        const ptime expected(D + boost::gregorian::days(c.dayOffset), hours(c.hour) + minutes(c.minute));
        SCOPED_TRACE(to_simple_string(expected));
        manager.UpdateArrivalDate(ptime(D + boost::gregorian::days(c.dayOffset)));
        manager.UpdateArrivalTime(Time(c.hour, c.minute));
        EXPECT_EQ(manager.GetArrivalDateTime(), c.accepted ? boost::optional<ptime>(expected) : boost::none);
    }
}

TEST_F(LeavingHomeManagerTest, SpecialOrOutOfRangeArrivalDatesAreNotAccepted)
{
    ReportStationTenOClockTwoHoursAgo();
    manager.UpdateArrivalTime(Time(12, 0));
    struct Case {
        const char* name;
        ptime arrivalDate;
        std::string line;
    };
    const Case cases[] = {
        {"not a date time", ptime(not_a_date_time), InvalidArrivalDate},
        {"positive infinity", ptime(pos_infin), InvalidArrivalDate},
        {"negative infinity", ptime(neg_infin), InvalidArrivalDate},
        {"before the first date", ptime(date(1400, 1, 1), -hours(1)), InvalidArrivalDate},
        {"after the last date", ptime(date(9999, 12, 31), hours(25)), InvalidArrivalDate},
        {"arrival time pushes it past the last date", ptime(date(9999, 12, 31), hours(12)),
         "arrivalDateTime lies beyond the last valid date, unable to generate arrivalDateTime"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.Clear();
        manager.UpdateArrivalDate(c.arrivalDate);
        EXPECT_EQ(manager.GetArrivalDateTime(), boost::none);
        EXPECT_EQ(log.Messages(log4cplus::INFO_LOG_LEVEL), std::vector<std::string>{c.line});
    }

    // The last minute of the calendar is still a valid arrival.
    manager.UpdateArrivalDate(ptime(date(9999, 12, 31)));
    manager.UpdateArrivalTime(Time(23, 59));
    EXPECT_EQ(manager.GetArrivalDateTime(), ptime(date(9999, 12, 31), hours(23) + minutes(59)));
}

TEST_F(LeavingHomeManagerTest, SpecialStationTimesAreNotAccepted)
{
    manager.UpdateArrivalDate(ptime(D + boost::gregorian::days(5)));
    manager.UpdateArrivalTime(Time(12, 0));
    for (const ptime stationTime : {ptime(not_a_date_time), ptime(pos_infin), ptime(neg_infin)}) {
        SCOPED_TRACE(to_simple_string(stationTime));
        log.Clear();
        manager.UpdateBaseStationDateTime(stationTime);
        EXPECT_EQ(manager.GetArrivalDateTime(), boost::none);
        EXPECT_EQ(log.Messages(log4cplus::INFO_LOG_LEVEL), std::vector<std::string>{InvalidStationTime});
    }

    // A valid report afterwards makes the arrival acceptable again.
    manager.UpdateBaseStationDateTime(ptime(D, hours(10)));
    EXPECT_EQ(manager.GetArrivalDateTime(), ptime(D + boost::gregorian::days(5), hours(12)));
}

TEST_F(LeavingHomeManagerTest, HugeElapsedTimeIsAddedWithoutOverflow)
{
    manager.UpdateBaseStationDateTime(ptime(date(2020, 1, 1), hours(10)));
    // 200 years of monotonic time, close to the limit of a nanosecond count.
    clock.Advance(boost::chrono::hours(24 * 365 * 200));
    manager.UpdateArrivalTime(Time(12, 0));

    manager.UpdateArrivalDate(ptime(date(2100, 1, 1)));
    EXPECT_EQ(manager.GetArrivalDateTime(), boost::none);
    EXPECT_EQ(LastInfo(log), NotMoreThanOneDay);

    manager.UpdateArrivalDate(ptime(date(2230, 1, 1)));
    EXPECT_EQ(manager.GetArrivalDateTime(), ptime(date(2230, 1, 1), hours(12)));
}

TEST(LeavingHomeManagerClock, ElapsedTimeBeyondANanosecondCountIsNotAccepted)
{
    LogCapture log;
    SettableClock clock;
    LeavingHomeManager manager(clock, AbsenceMode::OneMeansAbsent);
    clock.now = Oru::ClockSystem::TimePoint(boost::chrono::nanoseconds(std::numeric_limits<std::int64_t>::min()));
    manager.UpdateBaseStationDateTime(ptime(D, hours(10)));
    clock.now = Oru::ClockSystem::TimePoint(boost::chrono::nanoseconds(std::numeric_limits<std::int64_t>::max()));
    manager.UpdateArrivalDate(ptime(D + boost::gregorian::days(5)));
    manager.UpdateArrivalTime(Time(12, 0));

    EXPECT_EQ(manager.GetArrivalDateTime(), boost::none);
    EXPECT_EQ(LastInfo(log),
              "Time since baseStationDateTime was reported is out of range, unable to verify arrivalDateTime");
}

TEST(LeavingHomeManagerConcurrency, StationTimeUpdatesWhileTheArrivalIsRead)
{
    LogCapture log;
    VirtualClockSystem clock;
    LeavingHomeManager manager(clock, AbsenceMode::OneMeansAbsent);
    const ptime arrival(D + boost::gregorian::days(30), hours(12));
    manager.UpdateArrivalDate(ptime(arrival.date()));
    manager.UpdateArrivalTime(Time(12, 0));
    manager.UpdateBaseStationDateTime(ptime(D, hours(10)));

    constexpr int Rounds = 2000;
    std::atomic<bool> wrongValue{false};
    std::thread worker([&] {
        for (int round = 0; round < Rounds; ++round) {
            clock.Advance(boost::chrono::milliseconds(1));
            manager.UpdateBaseStationDateTime(ptime(D, hours(10) + seconds(round)));
        }
    });
    for (int round = 0; round < Rounds; ++round) {
        manager.UpdateArrivalTime(Time(12, 0));
        const auto result = manager.GetArrivalDateTime();
        if (result != arrival) {
            wrongValue = true;
        }
    }
    worker.join();

    EXPECT_FALSE(wrongValue);
    EXPECT_EQ(manager.GetArrivalDateTime(), arrival);
    EXPECT_EQ(log.CountContaining("unable to"), 0u);
}
