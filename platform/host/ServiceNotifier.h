// Tells systemd how the service is doing (sd_notify): ready once the plug-in
// runs, stopping when it is asked to stop, and alive at half the unit's
// watchdog interval from the event loop, so that a stuck loop is restarted.
// Does nothing outside a unit (no NOTIFY_SOCKET).
#pragma once

#include <chrono>

#include <boost/asio/io_service.hpp>
#include <boost/asio/steady_timer.hpp>

namespace Oru {

class ServiceNotifier {
public:
    explicit ServiceNotifier(boost::asio::io_service& ioService);

    void Ready();
    void Stopping();

private:
    void ScheduleWatchdog();

    boost::asio::steady_timer _watchdog;
    std::chrono::microseconds _watchdogInterval{0};
};

}  // namespace Oru
