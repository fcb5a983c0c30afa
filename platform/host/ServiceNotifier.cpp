#include "ServiceNotifier.h"

#include <systemd/sd-daemon.h>

namespace Oru {

ServiceNotifier::ServiceNotifier(boost::asio::io_service& ioService) : _watchdog(ioService)
{
    uint64_t interval = 0;
    if (sd_watchdog_enabled(0, &interval) > 0) {
        _watchdogInterval = std::chrono::microseconds(interval / 2);
    }
}

void ServiceNotifier::Ready()
{
    sd_notify(0, "READY=1");
    if (_watchdogInterval.count() > 0) {
        sd_notify(0, "WATCHDOG=1");
        ScheduleWatchdog();
    }
}

void ServiceNotifier::Stopping()
{
    _watchdog.cancel();
    sd_notify(0, "STOPPING=1");
}

void ServiceNotifier::ScheduleWatchdog()
{
    _watchdog.expires_after(_watchdogInterval);
    // The timer is a member: cancelled, or destroyed with the notifier before the loop.
    _watchdog.async_wait([this](const boost::system::error_code& error) {
        if (!error) {
            sd_notify(0, "WATCHDOG=1");
            ScheduleWatchdog();
        }
    });
}

}  // namespace Oru
