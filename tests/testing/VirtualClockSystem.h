// A clock system for tests: virtual time that moves only when the test
// advances it. Timers fire in expiry order; their handlers run on the event
// loop, which Advance() and RunPending() run on the calling thread.
#pragma once

#include <cstdint>
#include <memory>

#include <boost/asio/io_service.hpp>

#include "support/ClockSystem.h"

namespace Oru {
namespace Testing {

class VirtualClockSystem final : public ClockSystem {
public:
    using Duration = WaitableTimer::Duration;

    VirtualClockSystem();
    ~VirtualClockSystem() override;

    boost::asio::io_service& GetIoService() const override;
    std::unique_ptr<WaitableTimer> CreateTimer() override;
    TimePoint GetNow() override;

    // Moves time forward by duration, firing every wait that expires on the
    // way at its own expiry time and running the handlers after each.
    void Advance(Duration duration);
    // Moves time forward by duration and queues the completions of every
    // wait that expires on the way without running them: as on a real event
    // loop, where a completion may be queued when its timer is re-armed,
    // cancelled or destroyed. RunPending() runs them.
    void ExpireWithoutRunning(Duration duration);
    // Runs every handler that is ready now, including those they post.
    void RunPending();
    // Waits registered and not yet fired or cancelled.
    std::size_t PendingWaitCount() const;
    // The number of timers alive.
    std::size_t TimerCount() const;

    struct State;

private:
    std::unique_ptr<boost::asio::io_service> _ioService;
    std::shared_ptr<State> _state;
};

}  // namespace Testing
}  // namespace Oru
