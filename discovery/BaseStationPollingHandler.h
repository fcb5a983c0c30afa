// Calls a base station's status polling function at once when started and
// then every 5 seconds, with a cancellation token that abandons a poll still
// running when the next one is due. Used on the event loop's thread only.
#pragma once

#include <memory>

#include "basestations/CancellationToken.h"
#include "support/Function.h"
#include "support/TimerFactory.h"
#include "support/WaitableTimer.h"

namespace Keldra {

class BaseStationPollingHandler {
public:
    using PollingFunction = Oru::function<void(CancellationToken&)>;

    // The timer loop of one registered polling function: the first poll after
    // the initial delay, each further one a period after the previous poll
    // returned. Every poll from the second on first cancels the token the
    // previous poll was handed.
    class PollingBeacon {
    public:
        using Duration = Oru::WaitableTimer::Duration;

        PollingBeacon(const TimerFactory& timerFactory, Duration initialDelay, Duration period,
                      PollingFunction pollingFunction);
        PollingBeacon(const PollingBeacon&) = delete;
        PollingBeacon& operator=(const PollingBeacon&) = delete;
        // Stops polling; a wait still pending completes as cancelled and
        // touches nothing.
        ~PollingBeacon();

        void Start();
        void Stop();

    private:
        // The state the wait's completion handlers reach through a weak
        // pointer, so that a completion arriving after the beacon's
        // destruction finds it gone.
        class Loop;

        std::shared_ptr<Loop> _loop;
    };

    explicit BaseStationPollingHandler(TimerFactory timerFactory);
    BaseStationPollingHandler(const BaseStationPollingHandler&) = delete;
    BaseStationPollingHandler& operator=(const BaseStationPollingHandler&) = delete;
    ~BaseStationPollingHandler();

    // Replaces the current polling function (and stops its polling); the new
    // one is polled only after Start().
    void RegisterPollingFunctionStatus(PollingFunction pollingFunction);
    // Both do nothing while no polling function is registered.
    void Start();
    void Stop();
    CancellationToken& GetCancellationToken();

private:
    TimerFactory _timerFactory;
    CancellationToken _cancellationToken;
    std::unique_ptr<PollingBeacon> _pollingBeacon;
};

}  // namespace Keldra
