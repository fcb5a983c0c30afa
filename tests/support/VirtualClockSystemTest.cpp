#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>

#include "VirtualClockSystem.h"

using Oru::Testing::VirtualClockSystem;
using ::testing::ElementsAre;

namespace {

// Units for readable durations (boost::chrono has no literals).
constexpr boost::chrono::nanoseconds ns(1);
constexpr boost::chrono::microseconds us(1);
constexpr boost::chrono::milliseconds ms(1);
constexpr boost::chrono::seconds second(1);
constexpr boost::chrono::hours hour(1);

using Duration = VirtualClockSystem::Duration;

struct Fired {
    std::string timer;
    Duration at;  // virtual time since the test began
    boost::system::error_code error;
};

bool operator==(const Fired& a, const Fired& b) { return a.timer == b.timer && a.at == b.at && a.error == b.error; }

std::ostream& operator<<(std::ostream& stream, const Fired& fired)
{
    return stream << fired.timer << " at " << fired.at.count() << "ns: " << fired.error.message();
}

class VirtualClockSystemTest : public ::testing::Test {
protected:
    Oru::WaitableTimer::WaitHandler Record(std::string timer)
    {
        return [this, timer](boost::system::error_code error) {
            _fired.push_back({timer, _clock.GetNow() - _start, error});
        };
    }

    VirtualClockSystem _clock;
    const Oru::ClockSystem::TimePoint _start = _clock.GetNow();
    std::vector<Fired> _fired;
};

TEST_F(VirtualClockSystemTest, TimersFireInExpiryOrderAtTheirOwnTime)
{
    auto late = _clock.CreateTimer();
    auto early = _clock.CreateTimer();
    auto tie = _clock.CreateTimer();
    late->expires_from_now(30 * ms);
    late->async_wait(Record("late"));
    early->expires_from_now(10 * ms);
    early->async_wait(Record("early"));
    tie->expires_from_now(30 * ms);
    tie->async_wait(Record("tie"));
    EXPECT_EQ(3u, _clock.PendingWaitCount());

    _clock.Advance(9 * ms);
    EXPECT_TRUE(_fired.empty());
    _clock.Advance(50 * ms);
    // Equal expiries fire in the order of their waits.
    EXPECT_THAT(_fired, ElementsAre(Fired{"early", 10 * ms, {}}, Fired{"late", 30 * ms, {}}, Fired{"tie", 30 * ms, {}}));
    EXPECT_EQ(Duration(59 * ms), _clock.GetNow() - _start);
    EXPECT_EQ(0u, _clock.PendingWaitCount());
}

TEST_F(VirtualClockSystemTest, AHandlerThatReArmsFiresAgainWithinOneAdvance)
{
    auto timer = _clock.CreateTimer();
    Oru::function<void(boost::system::error_code)> periodic;
    periodic = [&](boost::system::error_code error) {
        _fired.push_back({"periodic", _clock.GetNow() - _start, error});
        if (!error) {
            timer->expires_from_now(10 * ms);
            timer->async_wait(periodic);
        }
    };
    timer->expires_from_now(10 * ms);
    timer->async_wait(periodic);

    _clock.Advance(35 * ms);
    EXPECT_THAT(_fired, ElementsAre(Fired{"periodic", 10 * ms, {}}, Fired{"periodic", 20 * ms, {}},
                                    Fired{"periodic", 30 * ms, {}}));
    timer.reset();
    _clock.RunPending();
    ASSERT_EQ(4u, _fired.size());
    EXPECT_EQ(boost::asio::error::operation_aborted, _fired.back().error);
}

TEST_F(VirtualClockSystemTest, AdvanceEndsAtItsTarget)
{
    _clock.Advance(0 * ms);
    EXPECT_EQ(Duration(0), _clock.GetNow() - _start);
    _clock.Advance(1500 * ms);
    EXPECT_EQ(Duration(1500 * ms), _clock.GetNow() - _start);
    _clock.Advance(1 * ns);
    EXPECT_EQ(Duration(1500000001), _clock.GetNow() - _start);
}

TEST_F(VirtualClockSystemTest, RunPendingRunsPostedWorkWithoutMovingTime)
{
    int runs = 0;
    boost::asio::post(_clock.GetIoService(), [&] {
        ++runs;
        boost::asio::post(_clock.GetIoService(), [&] { ++runs; });
    });
    _clock.RunPending();
    EXPECT_EQ(2, runs);
    EXPECT_EQ(_start, _clock.GetNow());
    // The loop can be run again after it ran out of work.
    boost::asio::post(_clock.GetIoService(), [&] { ++runs; });
    _clock.RunPending();
    EXPECT_EQ(3, runs);
}

TEST_F(VirtualClockSystemTest, CountsTimersAndPendingWaits)
{
    EXPECT_EQ(0u, _clock.TimerCount());
    auto first = _clock.CreateTimer();
    auto other = _clock.CreateTimer();
    EXPECT_EQ(2u, _clock.TimerCount());
    first->expires_from_now(1 * second);
    first->async_wait(Record("first"));
    first->async_wait(Record("first again"));
    EXPECT_EQ(2u, _clock.PendingWaitCount());
    first.reset();
    EXPECT_EQ(1u, _clock.TimerCount());
    EXPECT_EQ(0u, _clock.PendingWaitCount());
    _clock.RunPending();
    EXPECT_THAT(_fired, ElementsAre(Fired{"first", 0 * ns, boost::asio::error::operation_aborted},
                                    Fired{"first again", 0 * ns, boost::asio::error::operation_aborted}));
}

TEST_F(VirtualClockSystemTest, AWaitForeverNeverFiresAndNothingOverflows)
{
    auto never = _clock.CreateTimer();
    auto past = _clock.CreateTimer();
    EXPECT_EQ(0u, never->expires_from_now(Duration::max()));
    never->async_wait(Record("never"));
    EXPECT_GT(never->expires_from_now(), Duration(boost::chrono::hours(24 * 365 * 100)));
    past->expires_from_now(Duration::min());
    past->async_wait(Record("past"));

    _clock.Advance(Duration::max() / 2);
    EXPECT_THAT(_fired, ElementsAre(Fired{"past", 0 * ns, {}}));
    EXPECT_EQ(Duration::max() / 2, _clock.GetNow() - _start);
    EXPECT_EQ(Duration::min(), past->expires_from_now());
    EXPECT_EQ(1u, _clock.PendingWaitCount());
}

TEST(VirtualClockSystemDeathTest, TimeCannotBeMovedBackwards)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    VirtualClockSystem clock;
    EXPECT_DEATH(clock.Advance(-1 * ns), "duration.count\\(\\) >= 0");
}

}  // namespace
