// The one kind of timer of the system, served by the event loop. The calling
// order of every client: expires_from_now(period), then async_wait(handler);
// a handler that receives a set error code (operation_aborted when
// cancelled) does nothing.
#pragma once

#include <cstddef>

#include <boost/asio/io_service.hpp>
#include <boost/chrono/duration.hpp>
#include <boost/system/error_code.hpp>

#include "Function.h"

namespace Oru {

class WaitableTimer {
public:
    using Duration = boost::chrono::nanoseconds;
    using WaitHandler = Oru::function<void(boost::system::error_code)>;

    virtual ~WaitableTimer() = default;
    virtual boost::asio::io_service& get_io_service() = 0;
    // Registers the handler for the current expiry; it runs exactly once on
    // the event loop: empty error at expiry, operation_aborted when cancelled.
    virtual void async_wait(WaitHandler handler) = 0;
    // Completes every pending wait with operation_aborted; returns how many.
    virtual std::size_t cancel() = 0;
    // Cancels pending waits and sets the expiry to now + duration.
    virtual std::size_t expires_from_now(const Duration& duration) = 0;
    // Time left until the expiry; negative once it has passed.
    virtual Duration expires_from_now() const = 0;
};

}  // namespace Oru
