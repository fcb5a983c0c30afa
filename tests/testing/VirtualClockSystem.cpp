#include "VirtualClockSystem.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>

#include "support/Assert.h"

namespace Oru {
namespace Testing {

class VirtualTimer;

namespace {

// Time arithmetic saturated at the limits of the nanosecond count, as the
// real timers do it: "never" (Duration::max()) and huge negative durations
// must not overflow.
ClockSystem::TimePoint SaturatedAdd(ClockSystem::TimePoint point, WaitableTimer::Duration duration)
{
    WaitableTimer::Duration::rep sum = 0;
    if (__builtin_add_overflow(point.time_since_epoch().count(), duration.count(), &sum)) {
        return duration.count() > 0 ? ClockSystem::TimePoint::max() : ClockSystem::TimePoint::min();
    }
    return ClockSystem::TimePoint(WaitableTimer::Duration(sum));
}

WaitableTimer::Duration SaturatedDifference(ClockSystem::TimePoint a, ClockSystem::TimePoint b)
{
    WaitableTimer::Duration::rep difference = 0;
    if (__builtin_sub_overflow(a.time_since_epoch().count(), b.time_since_epoch().count(), &difference)) {
        return a > b ? WaitableTimer::Duration::max() : WaitableTimer::Duration::min();
    }
    return WaitableTimer::Duration(difference);
}

}  // namespace

struct VirtualClockSystem::State {
    explicit State(boost::asio::io_service& service) : ioService(service) {}

    struct Wait {
        TimePoint expiry;
        std::uint64_t sequence;
        const VirtualTimer* owner;
        WaitableTimer::WaitHandler handler;
    };

    void Complete(WaitableTimer::WaitHandler handler, boost::system::error_code error)
    {
        boost::asio::post(ioService, [handler, error]() { handler(error); });
    }

    mutable std::mutex mutex;
    boost::asio::io_service& ioService;
    TimePoint now{boost::chrono::hours(1000)};
    std::uint64_t nextSequence = 0;
    std::size_t timerCount = 0;
    std::vector<Wait> waits;
};

class VirtualTimer final : public WaitableTimer {
public:
    explicit VirtualTimer(std::shared_ptr<VirtualClockSystem::State> state) : _state(std::move(state))
    {
        std::lock_guard<std::mutex> lock(_state->mutex);
        ++_state->timerCount;
    }

    ~VirtualTimer() override
    {
        cancel();
        std::lock_guard<std::mutex> lock(_state->mutex);
        --_state->timerCount;
    }

    boost::asio::io_service& get_io_service() override { return _state->ioService; }

    void async_wait(WaitHandler handler) override
    {
        std::lock_guard<std::mutex> lock(_state->mutex);
        if (_expiry <= _state->now) {
            _state->Complete(std::move(handler), {});
            return;
        }
        _state->waits.push_back({_expiry, _state->nextSequence++, this, std::move(handler)});
    }

    std::size_t cancel() override
    {
        std::lock_guard<std::mutex> lock(_state->mutex);
        return CancelLocked();
    }

    std::size_t expires_from_now(const Duration& duration) override
    {
        std::lock_guard<std::mutex> lock(_state->mutex);
        const std::size_t cancelled = CancelLocked();
        _expiry = SaturatedAdd(_state->now, duration);
        return cancelled;
    }

    Duration expires_from_now() const override
    {
        std::lock_guard<std::mutex> lock(_state->mutex);
        return SaturatedDifference(_expiry, _state->now);
    }

private:
    std::size_t CancelLocked()
    {
        auto& waits = _state->waits;
        std::size_t cancelled = 0;
        for (auto wait = waits.begin(); wait != waits.end();) {
            if (wait->owner == this) {
                _state->Complete(std::move(wait->handler), boost::asio::error::operation_aborted);
                wait = waits.erase(wait);
                ++cancelled;
            } else {
                ++wait;
            }
        }
        return cancelled;
    }

    std::shared_ptr<VirtualClockSystem::State> _state;
    ClockSystem::TimePoint _expiry{};
};

VirtualClockSystem::VirtualClockSystem()
    : _ioService(std::make_unique<boost::asio::io_service>()), _state(std::make_shared<State>(*_ioService))
{
}

VirtualClockSystem::~VirtualClockSystem() = default;

boost::asio::io_service& VirtualClockSystem::GetIoService() const { return *_ioService; }

std::unique_ptr<WaitableTimer> VirtualClockSystem::CreateTimer() { return std::make_unique<VirtualTimer>(_state); }

ClockSystem::TimePoint VirtualClockSystem::GetNow()
{
    std::lock_guard<std::mutex> lock(_state->mutex);
    return _state->now;
}

void VirtualClockSystem::Advance(Duration duration)
{
    // Virtual time, like the steady clock, never goes backwards.
    ORU_REQUIRE(duration.count() >= 0);
    TimePoint target;
    {
        std::lock_guard<std::mutex> lock(_state->mutex);
        target = SaturatedAdd(_state->now, duration);
    }
    RunPending();
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(_state->mutex);
            auto& waits = _state->waits;
            const auto earliest = std::min_element(waits.begin(), waits.end(), [](const auto& a, const auto& b) {
                return a.expiry < b.expiry || (a.expiry == b.expiry && a.sequence < b.sequence);
            });
            if (earliest == waits.end() || earliest->expiry > target) {
                _state->now = target;
                break;
            }
            _state->now = std::max(_state->now, earliest->expiry);
            _state->Complete(std::move(earliest->handler), {});
            waits.erase(earliest);
        }
        RunPending();
    }
    RunPending();
}

void VirtualClockSystem::RunPending()
{
    if (_ioService->stopped()) {
        _ioService->restart();
    }
    _ioService->poll();
}

std::size_t VirtualClockSystem::PendingWaitCount() const
{
    std::lock_guard<std::mutex> lock(_state->mutex);
    return _state->waits.size();
}

std::size_t VirtualClockSystem::TimerCount() const
{
    std::lock_guard<std::mutex> lock(_state->mutex);
    return _state->timerCount;
}

}  // namespace Testing
}  // namespace Oru
