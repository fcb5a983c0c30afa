#include "BaseStationPollingHandler.h"

#include <utility>

#include <boost/chrono/duration.hpp>

#include "platform/host/OruLogging.h"
#include "support/Assert.h"

namespace Keldra {
namespace {

const BaseStationPollingHandler::PollingBeacon::Duration InitialDelay = boost::chrono::nanoseconds(0);
const BaseStationPollingHandler::PollingBeacon::Duration PollingPeriod = boost::chrono::seconds(5);

}  // namespace

class BaseStationPollingHandler::PollingBeacon::Loop : public std::enable_shared_from_this<Loop> {
public:
    Loop(const TimerFactory& timerFactory, Duration initialDelay, Duration period, PollingFunction pollingFunction)
        : _timer(timerFactory()),
          _initialDelay(initialDelay),
          _period(period),
          _pollingFunction(std::move(pollingFunction))
    {
        ORU_ASSERT2(_timer != nullptr);
        ORU_ASSERT2(_pollingFunction);
    }

    void Start()
    {
        if (_isActive) {
            return;
        }
        _isActive = true;
        WaitFor(_initialDelay, &Loop::OnFirstWait);
    }

    void Stop()
    {
        _isActive = false;
        // Also forgets an expiry whose completion is already queued: a
        // restart must not poll twice.
        ++_latestWait;
        _timer->cancel();
    }

private:
    using Step = void (Loop::*)();

    // One poll and the wait for the next; only while active. Reached only
    // from a wait's completion, which holds the loop alive.
    void Poll()
    {
        ORU_ASSERT2(_isActive);
        const std::uint64_t wait = _latestWait;
        _pollingFunction(_cancellationToken);
        // The polling function may have stopped, restarted or replaced this
        // beacon; then its wait, if any, is the one that counts.
        if (!_isActive || wait != _latestWait) {
            return;
        }
        WaitFor(_period, &Loop::OnPeriodWait);
    }

    void WaitFor(Duration delay, Step step)
    {
        const std::uint64_t wait = ++_latestWait;
        _timer->expires_from_now(delay);
        _timer->async_wait([weakLoop = weak_from_this(), wait, step](const boost::system::error_code& error) {
            if (error) {
                return;
            }
            const auto loop = weakLoop.lock();
            if (!loop || wait != loop->_latestWait || !loop->_isActive) {
                return;
            }
            ((*loop).*step)();
        });
    }

    void OnFirstWait() { Poll(); }

    void OnPeriodWait()
    {
        // Abandons what the previous poll still has in flight.
        _cancellationToken.Cancel();
        if (_isActive) {
            Poll();
        }
    }

    std::unique_ptr<Oru::WaitableTimer> _timer;
    Duration _initialDelay;
    Duration _period;
    bool _isActive = false;
    CancellationToken _cancellationToken;
    PollingFunction _pollingFunction;
    // Numbers the waits: only the completion of the latest one polls.
    std::uint64_t _latestWait = 0;
};

BaseStationPollingHandler::PollingBeacon::PollingBeacon(const TimerFactory& timerFactory, Duration initialDelay,
                                                        Duration period, PollingFunction pollingFunction)
    : _loop(std::make_shared<Loop>(timerFactory, initialDelay, period, std::move(pollingFunction)))
{
}

BaseStationPollingHandler::PollingBeacon::~PollingBeacon() { _loop->Stop(); }

void BaseStationPollingHandler::PollingBeacon::Start() { _loop->Start(); }

void BaseStationPollingHandler::PollingBeacon::Stop() { _loop->Stop(); }

BaseStationPollingHandler::BaseStationPollingHandler(TimerFactory timerFactory)
    : _timerFactory(std::move(timerFactory))
{
}

BaseStationPollingHandler::~BaseStationPollingHandler() = default;

void BaseStationPollingHandler::RegisterPollingFunctionStatus(PollingFunction pollingFunction)
{
    _pollingBeacon = std::make_unique<PollingBeacon>(_timerFactory, InitialDelay, PollingPeriod,
                                                     std::move(pollingFunction));
}

void BaseStationPollingHandler::Start()
{
    if (_pollingBeacon) {
        _pollingBeacon->Start();
    }
}

void BaseStationPollingHandler::Stop()
{
    if (_pollingBeacon) {
        _pollingBeacon->Stop();
    }
}

CancellationToken& BaseStationPollingHandler::GetCancellationToken() { return _cancellationToken; }

}  // namespace Keldra
