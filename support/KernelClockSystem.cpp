#include "KernelClockSystem.h"

#include "WaitableTimerWrapper.h"

namespace Oru {

KernelClockSystem::KernelClockSystem(boost::asio::io_service& ioService, OperatingSystem& operatingSystem)
    : _ioService(ioService), _operatingSystem(operatingSystem)
{
}

boost::asio::io_service& KernelClockSystem::GetIoService() const { return _ioService; }

std::unique_ptr<WaitableTimer> KernelClockSystem::CreateTimer()
{
    return std::make_unique<WaitableTimerWrapper<SteadyTimer>>(_ioService);
}

ClockSystem::TimePoint KernelClockSystem::GetNow() { return boost::chrono::steady_clock::now(); }

}  // namespace Oru
