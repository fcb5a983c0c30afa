// The clock system of a running plug-in: timers on the event loop over the
// steady clock, served by the kernel (epoll and timerfd through asio).
#pragma once

#include "ClockSystem.h"
#include "OperatingSystem.h"

namespace Oru {

class KernelClockSystem final : public ClockSystem {
public:
    KernelClockSystem(boost::asio::io_service& ioService, OperatingSystem& operatingSystem);

    boost::asio::io_service& GetIoService() const override;
    std::unique_ptr<WaitableTimer> CreateTimer() override;
    TimePoint GetNow() override;

private:
    boost::asio::io_service& _ioService;
    OperatingSystem& _operatingSystem;
};

}  // namespace Oru
