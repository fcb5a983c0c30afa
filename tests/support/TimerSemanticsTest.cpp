// The timer semantics every timed component relies on, checked on the
// kernel clock (real steady-clock timers on a real event loop, short real
// durations) and on the virtual clock the other tests use.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include <boost/asio/error.hpp>
#include <boost/asio/executor_work_guard.hpp>

#include "VirtualClockSystem.h"
#include "support/KernelClockSystem.h"
#include "support/OperatingSystem.h"

using Duration = Oru::WaitableTimer::Duration;

namespace {

// Units for readable durations (boost::chrono has no literals).
constexpr boost::chrono::nanoseconds ns(1);
constexpr boost::chrono::microseconds us(1);
constexpr boost::chrono::milliseconds ms(1);
constexpr boost::chrono::seconds second(1);
constexpr boost::chrono::hours hour(1);

class KernelClockDriver {
public:
    KernelClockDriver() : _operatingSystem("TimerTest"), _clock(_ioService, _operatingSystem) {}

    Oru::ClockSystem& Clock() { return _clock; }

    // Runs the event loop until done() holds.
    void RunUntil(const std::function<bool()>& done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the expected handlers did not run within five seconds";
                return;
            }
            _ioService.restart();
            _ioService.run_one_for(std::chrono::milliseconds(10));
        }
    }

    // Lets the duration pass, running every handler that becomes due.
    void Pass(Duration duration)
    {
        const auto work = boost::asio::make_work_guard(_ioService);
        _ioService.restart();
        _ioService.run_for(std::chrono::nanoseconds(duration.count()));
    }

    // How late a completion "at once" may run on a busy machine.
    static Duration AtOnce() { return 1 * second; }

private:
    boost::asio::io_service _ioService;
    Oru::OperatingSystem _operatingSystem;
    Oru::KernelClockSystem _clock;
};

class VirtualClockDriver {
public:
    Oru::ClockSystem& Clock() { return _clock; }

    void RunUntil(const std::function<bool()>& done)
    {
        _clock.RunPending();
        for (int step = 0; !done(); ++step) {
            if (step == 3600 * 1000) {
                ADD_FAILURE() << "the expected handlers did not run within an hour of virtual time";
                return;
            }
            _clock.Advance(1 * ms);
        }
    }

    void Pass(Duration duration) { _clock.Advance(duration); }

    static Duration AtOnce() { return 0 * ns; }

private:
    Oru::Testing::VirtualClockSystem _clock;
};

struct Completion {
    boost::system::error_code error;
    Oru::ClockSystem::TimePoint at;
};

template <typename Driver>
class TimerSemantics : public ::testing::Test {
protected:
    // A handler that records its completion in calls.
    Oru::WaitableTimer::WaitHandler Record(std::vector<Completion>& calls)
    {
        return [this, &calls](boost::system::error_code error) { calls.push_back({error, Clock().GetNow()}); };
    }

    Oru::ClockSystem& Clock() { return _driver.Clock(); }
    void RunUntil(const std::function<bool()>& done) { _driver.RunUntil(done); }
    void RunUntilCalled(const std::vector<Completion>& calls, std::size_t count)
    {
        RunUntil([&calls, count] { return calls.size() >= count; });
    }

    static constexpr Duration Period = 20 * ms;
    Driver _driver;
};

using Drivers = ::testing::Types<KernelClockDriver, VirtualClockDriver>;
TYPED_TEST_SUITE(TimerSemantics, Drivers);

TYPED_TEST(TimerSemantics, ANewTimerCompletesAtOnce)
{
    auto timer = this->Clock().CreateTimer();
    EXPECT_EQ(&this->Clock().GetIoService(), &timer->get_io_service());
    std::vector<Completion> calls;
    const auto armed = this->Clock().GetNow();
    timer->async_wait(this->Record(calls));
    EXPECT_TRUE(calls.empty()) << "handlers run on the event loop, never inside async_wait";
    this->RunUntilCalled(calls, 1);
    ASSERT_EQ(1u, calls.size());
    EXPECT_FALSE(calls[0].error);
    EXPECT_LE(calls[0].at - armed, TypeParam::AtOnce());
}

TYPED_TEST(TimerSemantics, ZeroAndNegativeExpiriesCompleteAtOnceWithoutError)
{
    for (const Duration duration : {Duration(0), Duration(-1), Duration(-1 * ms), Duration(-1000 * hour), Duration::min()}) {
        SCOPED_TRACE(duration.count());
        auto timer = this->Clock().CreateTimer();
        EXPECT_EQ(0u, timer->expires_from_now(duration));
        std::vector<Completion> calls;
        const auto armed = this->Clock().GetNow();
        timer->async_wait(this->Record(calls));
        this->RunUntilCalled(calls, 1);
        ASSERT_EQ(1u, calls.size());
        EXPECT_FALSE(calls[0].error);
        EXPECT_LE(calls[0].at - armed, TypeParam::AtOnce());
    }
}

TYPED_TEST(TimerSemantics, SettingTheExpiryAbortsThePendingWaitAndTheNextWaitFiresAfterTheDuration)
{
    auto timer = this->Clock().CreateTimer();
    std::vector<Completion> calls;
    timer->expires_from_now(1 * hour);
    timer->async_wait(this->Record(calls));

    const auto armed = this->Clock().GetNow();
    EXPECT_EQ(1u, timer->expires_from_now(this->Period));
    timer->async_wait(this->Record(calls));
    this->RunUntilCalled(calls, 2);

    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(boost::asio::error::operation_aborted, calls[0].error);
    EXPECT_LE(calls[0].at - armed, TypeParam::AtOnce());
    EXPECT_FALSE(calls[1].error);
    EXPECT_GE(calls[1].at - armed, this->Period);
    EXPECT_LE(calls[1].at - armed, this->Period + TypeParam::AtOnce());
    // Each handler runs exactly once.
    this->_driver.Pass(2 * this->Period);
    EXPECT_EQ(2u, calls.size());
}

TYPED_TEST(TimerSemantics, CancelOnAnIdleTimerReturnsZeroAndCallsNothing)
{
    auto timer = this->Clock().CreateTimer();
    EXPECT_EQ(0u, timer->cancel());
    timer->expires_from_now(this->Period);
    EXPECT_EQ(0u, timer->cancel());

    // The idle cancel left the expiry alone: the next wait fires normally.
    std::vector<Completion> calls;
    timer->async_wait(this->Record(calls));
    this->RunUntilCalled(calls, 1);
    ASSERT_EQ(1u, calls.size());
    EXPECT_FALSE(calls[0].error);

    // Idle again after the completion.
    EXPECT_EQ(0u, timer->cancel());
    this->_driver.Pass(this->Period);
    EXPECT_EQ(1u, calls.size());
}

TYPED_TEST(TimerSemantics, CancelCompletesEveryPendingWaitWithOperationAborted)
{
    auto timer = this->Clock().CreateTimer();
    timer->expires_from_now(1 * hour);
    std::vector<Completion> calls;
    timer->async_wait(this->Record(calls));
    timer->async_wait(this->Record(calls));
    const auto cancelled = this->Clock().GetNow();
    EXPECT_EQ(2u, timer->cancel());
    EXPECT_TRUE(calls.empty()) << "handlers run on the event loop, never inside cancel";
    EXPECT_EQ(0u, timer->cancel());
    this->RunUntilCalled(calls, 2);
    ASSERT_EQ(2u, calls.size());
    for (const auto& call : calls) {
        EXPECT_EQ(boost::asio::error::operation_aborted, call.error);
        EXPECT_LE(call.at - cancelled, TypeParam::AtOnce());
    }
}

TYPED_TEST(TimerSemantics, DestroyingTheTimerAbortsItsPendingWaitWhichRunsAfterTheTimerIsGone)
{
    auto timer = this->Clock().CreateTimer();
    timer->expires_from_now(1 * hour);
    bool timerAlive = true;
    std::vector<bool> aliveWhenCalled;
    std::vector<boost::system::error_code> errors;
    timer->async_wait([&](boost::system::error_code error) {
        aliveWhenCalled.push_back(timerAlive);
        errors.push_back(error);
    });
    timer.reset();
    timerAlive = false;
    this->RunUntil([&] { return !errors.empty(); });
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(boost::asio::error::operation_aborted, errors[0]);
    EXPECT_FALSE(aliveWhenCalled[0]);
}

TYPED_TEST(TimerSemantics, ExpiresFromNowTellsTheTimeLeftAndIsNegativeAfterTheExpiry)
{
    auto timer = this->Clock().CreateTimer();
    EXPECT_LT(timer->expires_from_now(), Duration(0)) << "a new timer's expiry lies at the clock's epoch";

    timer->expires_from_now(1 * hour);
    const Duration left = timer->expires_from_now();
    EXPECT_LE(left, Duration(1 * hour));
    EXPECT_GE(left, Duration(1 * hour) - TypeParam::AtOnce());

    timer->expires_from_now(this->Period);
    std::vector<Completion> calls;
    timer->async_wait(this->Record(calls));
    this->RunUntilCalled(calls, 1);
    EXPECT_LE(timer->expires_from_now(), Duration(0));
    this->_driver.Pass(1 * ms);
    EXPECT_LT(timer->expires_from_now(), Duration(0));
}

TYPED_TEST(TimerSemantics, ExtremeExpiriesSaturateInsteadOfOverflowing)
{
    auto timer = this->Clock().CreateTimer();
    timer->expires_from_now(Duration::max());
    EXPECT_GT(timer->expires_from_now(), Duration(boost::chrono::hours(24 * 365 * 100)));
    timer->expires_from_now(Duration::min());
    this->_driver.Pass(1 * ms);
    EXPECT_EQ(Duration::min(), timer->expires_from_now());
}

TYPED_TEST(TimerSemantics, APeriodicActivityReArmsFromItsHandler)
{
    auto timer = this->Clock().CreateTimer();
    std::vector<Completion> calls;
    std::vector<Oru::ClockSystem::TimePoint> armedAt;
    Oru::WaitableTimer::WaitHandler onTick;
    onTick = [&](boost::system::error_code error) {
        calls.push_back({error, this->Clock().GetNow()});
        if (error || calls.size() == 3) {
            return;
        }
        timer->expires_from_now(this->Period);
        armedAt.push_back(this->Clock().GetNow());
        timer->async_wait(onTick);
    };
    timer->expires_from_now(this->Period);
    armedAt.push_back(this->Clock().GetNow());
    timer->async_wait(onTick);
    this->RunUntilCalled(calls, 3);
    ASSERT_EQ(3u, calls.size());
    for (std::size_t tick = 0; tick < calls.size(); ++tick) {
        EXPECT_FALSE(calls[tick].error);
        EXPECT_GE(calls[tick].at - armedAt[tick], this->Period) << tick;
    }
}

TYPED_TEST(TimerSemantics, GetNowNeverGoesBackwards)
{
    auto previous = this->Clock().GetNow();
    for (int round = 0; round < 20; ++round) {
        for (int read = 0; read < 1000; ++read) {
            const auto now = this->Clock().GetNow();
            ASSERT_LE(previous, now);
            previous = now;
        }
        this->_driver.Pass(100 * us);
    }
    EXPECT_GE(this->Clock().GetNow(), previous);
}

}  // namespace
