// The source of the event loop, of timers and of monotonic time. Components
// depend on this interface, never on a concrete clock.
#pragma once

#include <memory>

#include <boost/asio/io_service.hpp>
#include <boost/chrono/system_clocks.hpp>

#include "WaitableTimer.h"

namespace Oru {

class ClockSystem {
public:
    using TimePoint = boost::chrono::steady_clock::time_point;

    virtual ~ClockSystem() = default;
    virtual boost::asio::io_service& GetIoService() const = 0;
    virtual std::unique_ptr<WaitableTimer> CreateTimer() = 0;
    // Monotonic: unaffected by changes of the wall clock.
    virtual TimePoint GetNow() = 0;
};

}  // namespace Oru
