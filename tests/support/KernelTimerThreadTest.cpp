// The real timers with the event loop on a worker thread, as the plug-in
// runs them: handlers run on the worker, the host's thread arms, cancels and
// destroys timers.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include <boost/asio/error.hpp>
#include <boost/asio/executor_work_guard.hpp>

#include "support/KernelClockSystem.h"
#include "support/OperatingSystem.h"


namespace {

// Units for readable durations (boost::chrono has no literals).
constexpr boost::chrono::nanoseconds ns(1);
constexpr boost::chrono::microseconds us(1);
constexpr boost::chrono::milliseconds ms(1);
constexpr boost::chrono::seconds second(1);
constexpr boost::chrono::hours hour(1);

struct Completion {
    std::thread::id thread;
    boost::system::error_code error;
};

class KernelTimerOnAWorkerThread : public ::testing::Test {
protected:
    KernelTimerOnAWorkerThread() : _worker([this] { _ioService.run(); }) {}

    // Timers die before the loop stops, so that their aborted handlers run.
    ~KernelTimerOnAWorkerThread() override
    {
        _timers.clear();
        _work.reset();
        _worker.join();
    }

    Oru::WaitableTimer& NewTimer()
    {
        _timers.push_back(_clock.CreateTimer());
        return *_timers.back();
    }

    // A handler that hands its completion to the host's thread.
    static Oru::WaitableTimer::WaitHandler Deliver(std::shared_ptr<std::promise<Completion>> promise)
    {
        return [promise](boost::system::error_code error) { promise->set_value({std::this_thread::get_id(), error}); };
    }

    static Completion Await(std::future<Completion>& future)
    {
        EXPECT_EQ(std::future_status::ready, future.wait_for(std::chrono::seconds(5)));
        return future.get();
    }

    Oru::OperatingSystem _operatingSystem{"TimerThreadTest"};
    boost::asio::io_service _ioService;
    boost::asio::executor_work_guard<boost::asio::io_service::executor_type> _work{_ioService.get_executor()};
    Oru::KernelClockSystem _clock{_ioService, _operatingSystem};
    std::vector<std::unique_ptr<Oru::WaitableTimer>> _timers;
    std::thread _worker;
};

TEST_F(KernelTimerOnAWorkerThread, HandlersRunOnTheWorkerAndATimerCanBeArmedAgain)
{
    auto& timer = NewTimer();
    for (int round = 0; round < 3; ++round) {
        auto promise = std::make_shared<std::promise<Completion>>();
        auto future = promise->get_future();
        timer.expires_from_now(2 * ms);
        timer.async_wait(Deliver(promise));
        const auto completion = Await(future);
        EXPECT_EQ(_worker.get_id(), completion.thread);
        EXPECT_FALSE(completion.error);
    }
}

TEST_F(KernelTimerOnAWorkerThread, CancelFromTheHostsThreadAbortsTheWaitOnTheWorker)
{
    auto& timer = NewTimer();
    auto promise = std::make_shared<std::promise<Completion>>();
    auto future = promise->get_future();
    timer.expires_from_now(1 * hour);
    timer.async_wait(Deliver(promise));
    EXPECT_EQ(1u, timer.cancel());
    const auto completion = Await(future);
    EXPECT_EQ(_worker.get_id(), completion.thread);
    EXPECT_EQ(boost::asio::error::operation_aborted, completion.error);
}

TEST_F(KernelTimerOnAWorkerThread, DestroyingFromTheHostsThreadAbortsTheWaitOnTheWorker)
{
    auto promise = std::make_shared<std::promise<Completion>>();
    auto future = promise->get_future();
    {
        auto timer = _clock.CreateTimer();
        timer->expires_from_now(1 * hour);
        timer->async_wait(Deliver(promise));
    }
    const auto completion = Await(future);
    EXPECT_EQ(_worker.get_id(), completion.thread);
    EXPECT_EQ(boost::asio::error::operation_aborted, completion.error);
}

TEST_F(KernelTimerOnAWorkerThread, ManyTimersEachFireExactlyOnce)
{
    constexpr int count = 50;
    // Shared with the handlers, which outlive this body if it fails early.
    auto fired = std::make_shared<std::atomic<int>>(0);
    auto failed = std::make_shared<std::atomic<int>>(0);
    auto allFired = std::make_shared<std::promise<Completion>>();
    auto future = allFired->get_future();
    for (int index = 0; index < count; ++index) {
        auto& timer = NewTimer();
        timer.expires_from_now(boost::chrono::microseconds(100 * (index % 10)));
        timer.async_wait([fired, failed, allFired](boost::system::error_code error) {
            if (error) {
                ++*failed;
            }
            if (++*fired == count) {
                allFired->set_value({std::this_thread::get_id(), error});
            }
        });
    }
    Await(future);
    // Give a wrongly repeated completion the chance to show up.
    auto probe = std::make_shared<std::promise<Completion>>();
    auto probed = probe->get_future();
    NewTimer().expires_from_now(5 * ms);
    _timers.back()->async_wait(Deliver(probe));
    Await(probed);
    EXPECT_EQ(count, fired->load());
    EXPECT_EQ(0, failed->load());
}

TEST_F(KernelTimerOnAWorkerThread, GetNowIsMonotonicOnBothThreads)
{
    auto promise = std::make_shared<std::promise<bool>>();
    auto future = promise->get_future();
    const auto hostBefore = _clock.GetNow();
    _ioService.post([this, promise, hostBefore] {
        bool monotonic = _clock.GetNow() >= hostBefore;
        auto previous = _clock.GetNow();
        for (int read = 0; read < 10000; ++read) {
            const auto now = _clock.GetNow();
            monotonic = monotonic && now >= previous;
            previous = now;
        }
        promise->set_value(monotonic);
    });
    ASSERT_EQ(std::future_status::ready, future.wait_for(std::chrono::seconds(5)));
    EXPECT_TRUE(future.get());
}

}  // namespace
