#include "VirtualClockSystem.h"

#include <map>
#include <mutex>

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>

#include "support/Assert.h"

namespace Oru {
namespace Testing {

struct VirtualClockSystem::State {
    explicit State(boost::asio::io_service& service) : ioService(service) {}

    // Saturated at the limits of the nanosecond count, as the real timers do
    // it: "never" (Duration::max()) and huge negative durations must not overflow.
    static TimePoint Plus(TimePoint point, Duration duration)
    {
        Duration::rep sum = 0;
        const bool overflow = __builtin_add_overflow(point.time_since_epoch().count(), duration.count(), &sum);
        return TimePoint(overflow ? (duration.count() > 0 ? Duration::max() : Duration::min()) : Duration(sum));
    }

    template <typename F>
    auto Locked(F f)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        return f();
    }

    // Handlers run on the event loop, never inside the call that completes them.
    void Complete(WaitableTimer::WaitHandler handler, boost::system::error_code error)
    {
        boost::asio::post(ioService, [handler, error] { handler(error); });
    }

    struct Wait {
        const WaitableTimer* owner;
        WaitableTimer::WaitHandler handler;
    };

    std::mutex mutex;
    boost::asio::io_service& ioService;
    TimePoint now{boost::chrono::hours(1000)};
    std::size_t timerCount = 0;
    std::multimap<TimePoint, Wait> waits;  // equal expiries stay in the order of their waits
};

namespace {

class VirtualTimer final : public WaitableTimer {
public:
    using State = VirtualClockSystem::State;

    explicit VirtualTimer(std::shared_ptr<State> state) : _state(std::move(state))
    {
        _state->Locked([this] { ++_state->timerCount; });
    }

    ~VirtualTimer() override
    {
        _state->Locked([this] {
            CancelLocked();
            --_state->timerCount;
        });
    }

    boost::asio::io_service& get_io_service() override { return _state->ioService; }

    void async_wait(WaitHandler handler) override
    {
        _state->Locked([&] {
            if (_expiry <= _state->now) {
                _state->Complete(std::move(handler), {});
            } else {
                _state->waits.emplace(_expiry, State::Wait{this, std::move(handler)});
            }
        });
    }

    std::size_t cancel() override { return _state->Locked([this] { return CancelLocked(); }); }

    std::size_t expires_from_now(const Duration& duration) override
    {
        return _state->Locked([&] {
            _expiry = State::Plus(_state->now, duration);
            return CancelLocked();
        });
    }

    Duration expires_from_now() const override
    {
        return _state->Locked(
            [this] { return State::Plus(_expiry, -_state->now.time_since_epoch()).time_since_epoch(); });
    }

private:
    std::size_t CancelLocked()
    {
        std::size_t cancelled = 0;
        for (auto wait = _state->waits.begin(); wait != _state->waits.end();) {
            if (wait->second.owner == this) {
                _state->Complete(std::move(wait->second.handler), boost::asio::error::operation_aborted);
                wait = _state->waits.erase(wait);
                ++cancelled;
            } else {
                ++wait;
            }
        }
        return cancelled;
    }

    std::shared_ptr<State> _state;
    ClockSystem::TimePoint _expiry{};
};

}  // namespace

VirtualClockSystem::VirtualClockSystem()
    : _ioService(std::make_unique<boost::asio::io_service>()), _state(std::make_shared<State>(*_ioService))
{
}

VirtualClockSystem::~VirtualClockSystem() = default;

boost::asio::io_service& VirtualClockSystem::GetIoService() const { return *_ioService; }

std::unique_ptr<WaitableTimer> VirtualClockSystem::CreateTimer() { return std::make_unique<VirtualTimer>(_state); }

ClockSystem::TimePoint VirtualClockSystem::GetNow() { return _state->Locked([this] { return _state->now; }); }

void VirtualClockSystem::Advance(Duration duration)
{
    // Virtual time, like the steady clock, never goes backwards.
    ORU_REQUIRE(duration.count() >= 0);
    const TimePoint target = State::Plus(GetNow(), duration);
    for (;;) {
        RunPending();
        const std::lock_guard<std::mutex> lock(_state->mutex);
        const auto earliest = _state->waits.begin();
        if (earliest == _state->waits.end() || earliest->first > target) {
            _state->now = target;
            break;
        }
        // Each wait fires at its own expiry, after the handlers of those before it ran.
        _state->now = earliest->first;
        _state->Complete(std::move(earliest->second.handler), {});
        _state->waits.erase(earliest);
    }
    RunPending();
}

void VirtualClockSystem::ExpireWithoutRunning(Duration duration)
{
    ORU_REQUIRE(duration.count() >= 0);
    const std::lock_guard<std::mutex> lock(_state->mutex);
    _state->now = State::Plus(_state->now, duration);
    for (auto wait = _state->waits.begin(); wait != _state->waits.end() && wait->first <= _state->now;) {
        _state->Complete(std::move(wait->second.handler), {});
        wait = _state->waits.erase(wait);
    }
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
    return _state->Locked([this] { return _state->waits.size(); });
}

std::size_t VirtualClockSystem::TimerCount() const
{
    return _state->Locked([this] { return _state->timerCount; });
}

}  // namespace Testing
}  // namespace Oru
