// Sums signed steps that arrive close together and reports the sum once no
// further step has come for 300 milliseconds. Used on the event loop's
// thread only.
#pragma once

#include <cstdint>
#include <memory>

#include "support/Function.h"
#include "support/SelfHandle.h"
#include "support/WaitableTimer.h"

namespace Keldra {

class StepCombiner {
public:
    using ElapsedCallback = Oru::function<void(int steps)>;

    StepCombiner(std::unique_ptr<Oru::WaitableTimer> timer, ElapsedCallback elapsedCallback);
    StepCombiner(const StepCombiner&) = delete;
    StepCombiner& operator=(const StepCombiner&) = delete;
    // A wait still pending completes after the combiner is gone and then
    // does nothing at all.
    ~StepCombiner();

    // Adds a step and restarts the quiet period.
    void AddStep(int step);
    StepCombiner& operator++();
    StepCombiner& operator--();

    // Drops the steps collected so far and stops the quiet period.
    void Abort();

private:
    void OnWaitCompleted(std::uint64_t wait, const boost::system::error_code& error);

    std::unique_ptr<Oru::WaitableTimer> _timer;
    ElapsedCallback _elapsedCallback;
    bool _aborted = false;
    int _steps = 0;
    // Numbers the waits: only the completion of the latest one acts.
    std::uint64_t _latestWait = 0;
    // A completion that arrives after the combiner's destruction finds it gone.
    Oru::SelfHandle<StepCombiner> _selfHandle{this};
};

}  // namespace Keldra
