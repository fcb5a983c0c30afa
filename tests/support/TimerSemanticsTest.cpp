// The timer semantics every timed component relies on, checked on the kernel
// clock (real timers on a real event loop, short real durations) and on the
// virtual clock the other tests use.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include <boost/asio/error.hpp>
#include <boost/asio/executor_work_guard.hpp>

#include "tests/testing/VirtualClockSystem.h"
#include "support/KernelClockSystem.h"
#include "support/OperatingSystem.h"

using Duration = Oru::WaitableTimer::Duration;
using Handler = Oru::WaitableTimer::WaitHandler;
using TimePoint = Oru::ClockSystem::TimePoint;
using boost::system::error_code;

namespace {

constexpr boost::chrono::milliseconds ms(1);
constexpr boost::chrono::hours hour(1);
const error_code aborted = boost::asio::error::operation_aborted;

// Each driver runs its event loop one step, of a millisecond or less, at a time.
class KernelClockDriver {
public:
    Oru::ClockSystem& Clock() { return _clock; }

    void Step()
    {
        const auto work = boost::asio::make_work_guard(_ioService);
        _ioService.restart();
        _ioService.run_one_for(std::chrono::milliseconds(1));
    }

    static constexpr Duration AtOnce = boost::chrono::seconds(1);  // how late "at once" may be on a busy machine

private:
    boost::asio::io_service _ioService;
    Oru::OperatingSystem _operatingSystem{"TimerTest"};
    Oru::KernelClockSystem _clock{_ioService, _operatingSystem};
};

class VirtualClockDriver {
public:
    Oru::ClockSystem& Clock() { return _clock; }
    void Step() { _clock.Advance(1 * ms); }
    static constexpr Duration AtOnce = Duration(0);

private:
    Oru::Testing::VirtualClockSystem _clock;
};

struct Completion {
    error_code error;
    TimePoint at;
};

template <typename Driver>
class TimerSemantics : public ::testing::Test {
protected:
    Oru::ClockSystem& Clock() { return _driver.Clock(); }

    Handler Record(std::vector<Completion>& calls)
    {
        return [this, &calls](error_code error) { calls.push_back({error, Clock().GetNow()}); };
    }

    void RunUntil(const std::function<bool()>& done)
    {
        for (int step = 0; !done(); ++step) {
            ASSERT_LT(step, 10000) << "the handlers did not run within ten thousand steps";
            _driver.Step();
        }
    }

    void RunUntilCalled(const std::vector<Completion>& calls, std::size_t count)
    {
        RunUntil([&calls, count] { return calls.size() >= count; });
        ASSERT_EQ(count, calls.size());
    }

    void Pass(Duration duration)
    {
        const auto end = Clock().GetNow() + duration;
        RunUntil([this, end] { return Clock().GetNow() >= end; });
    }

    // The call completed with error no sooner than after past start, and at once then.
    static void ExpectCall(const Completion& call, error_code error, TimePoint start, Duration after)
    {
        EXPECT_EQ(error, call.error);
        EXPECT_GE(call.at - start, after);
        EXPECT_LE(call.at - start, after + Driver::AtOnce);
    }

    static constexpr Duration Period = 20 * ms;
    Driver _driver;
};

using Drivers = ::testing::Types<KernelClockDriver, VirtualClockDriver>;
TYPED_TEST_SUITE(TimerSemantics, Drivers);

TYPED_TEST(TimerSemantics, ExpiredWaitsCompleteAtOnceWithoutErrorOnTheLoop)
{
    // Duration::max() stands for a new timer, whose expiry lies at the clock's epoch.
    for (const Duration expiry :
         {Duration::max(), Duration(0), Duration(-1), Duration(-1 * ms), Duration(-1000 * hour), Duration::min()}) {
        SCOPED_TRACE(expiry.count());
        auto timer = this->Clock().CreateTimer();
        EXPECT_LT(timer->expires_from_now(), Duration(0)) << "a new timer's expiry lies at the clock's epoch";
        EXPECT_EQ(0u, expiry == Duration::max() ? 0u : timer->expires_from_now(expiry));
        std::vector<Completion> calls;
        const auto armed = this->Clock().GetNow();
        timer->async_wait(this->Record(calls));
        EXPECT_TRUE(calls.empty()) << "handlers run on the event loop, never inside async_wait";
        this->RunUntilCalled(calls, 1);
        this->ExpectCall(calls.at(0), {}, armed, Duration(0));
    }
}

TYPED_TEST(TimerSemantics, ReArmingCancellingOrDestroyingAbortsEveryPendingWaitAndNothingElse)
{
    auto timer = this->Clock().CreateTimer();
    EXPECT_EQ(0u, timer->cancel());
    // The time left saturates at the limits of the nanosecond count.
    timer->expires_from_now(Duration::max());
    EXPECT_GT(timer->expires_from_now(), Duration(24 * 365 * 100 * hour));
    timer->expires_from_now(Duration::min());
    this->Pass(1 * ms);
    EXPECT_EQ(Duration::min(), timer->expires_from_now());
    timer->expires_from_now(1 * hour);
    EXPECT_LE(timer->expires_from_now(), Duration(1 * hour));
    EXPECT_GE(timer->expires_from_now(), Duration(1 * hour) - TypeParam::AtOnce);
    std::vector<Completion> calls;
    timer->async_wait(this->Record(calls));
    timer->async_wait(this->Record(calls));
    const auto cancelled = this->Clock().GetNow();
    EXPECT_EQ(2u, timer->cancel());
    EXPECT_TRUE(calls.empty()) << "handlers run on the event loop, never inside cancel";
    EXPECT_EQ(0u, timer->cancel());
    // The expiry outlives the cancel; setting it again aborts the next wait.
    timer->async_wait(this->Record(calls));
    const auto armed = this->Clock().GetNow();
    EXPECT_EQ(1u, timer->expires_from_now(this->Period));
    EXPECT_EQ(0u, timer->cancel());
    timer->async_wait(this->Record(calls));
    this->RunUntilCalled(calls, 4);
    this->ExpectCall(calls[0], aborted, cancelled, Duration(0));
    this->ExpectCall(calls[1], aborted, cancelled, Duration(0));
    this->ExpectCall(calls[2], aborted, armed, Duration(0));
    this->ExpectCall(calls[3], {}, armed, this->Period);
    // Idle after the completion; each handler ran exactly once; the time left is negative.
    EXPECT_EQ(0u, timer->cancel());
    this->Pass(2 * this->Period);
    EXPECT_EQ(4u, calls.size());
    EXPECT_LT(timer->expires_from_now(), Duration(0));
    // Destroying the timer aborts its pending wait, whose handler runs after the timer is gone.
    timer->expires_from_now(1 * hour);
    timer->async_wait(this->Record(calls));
    const auto destroyed = this->Clock().GetNow();
    timer.reset();
    EXPECT_EQ(4u, calls.size());
    this->RunUntilCalled(calls, 5);
    this->ExpectCall(calls[4], aborted, destroyed, Duration(0));
}

}  // namespace
