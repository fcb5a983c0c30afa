// Oru::WaitableTimer over an asio timer, forwarding each operation to it.
#pragma once

#include <limits>

#include <boost/asio/basic_waitable_timer.hpp>
#include <boost/chrono/system_clocks.hpp>

#include "WaitableTimer.h"

namespace Oru {

template <typename AsioTimer>
class WaitableTimerWrapper final : public WaitableTimer {
public:
    explicit WaitableTimerWrapper(boost::asio::io_service& ioService) : _timer(ioService) {}

    boost::asio::io_service& get_io_service() override
    {
        return static_cast<boost::asio::io_service&>(_timer.get_executor().context());
    }

    void async_wait(WaitHandler handler) override { _timer.async_wait(std::move(handler)); }

    std::size_t cancel() override { return _timer.cancel(); }

    std::size_t expires_from_now(const Duration& duration) override
    {
        return _timer.expires_from_now(boost::chrono::duration_cast<typename AsioTimer::duration>(duration));
    }

    Duration expires_from_now() const override
    {
        // Saturated at the limits of a signed 64-bit nanosecond count. The
        // subtraction happens in the wide type: an expiry set with a huge
        // negative duration lies near the clock's minimum.
        using Wide = boost::chrono::duration<long double, boost::nano>;
        const Wide expiry = _timer.expiry().time_since_epoch();
        const Wide now = AsioTimer::clock_type::now().time_since_epoch();
        const long double count = (expiry - now).count();
        constexpr auto maximum = std::numeric_limits<Duration::rep>::max();
        constexpr auto minimum = std::numeric_limits<Duration::rep>::min();
        if (count >= static_cast<long double>(maximum)) {
            return Duration(maximum);
        }
        if (count <= static_cast<long double>(minimum)) {
            return Duration(minimum);
        }
        return Duration(static_cast<Duration::rep>(count));
    }

private:
    AsioTimer _timer;
};

using SteadyTimer = boost::asio::basic_waitable_timer<boost::chrono::steady_clock>;

}  // namespace Oru
