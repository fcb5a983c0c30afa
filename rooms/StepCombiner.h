// Sums signed steps that arrive close together and reports the sum once no
// further step has come for 300 milliseconds. Used on the event loop's
// thread only.
#pragma once

#include <cstdint>
#include <memory>

#include "support/Function.h"
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
    // What the wait's completion handler uses. The handler holds it weakly,
    // so a completion that arrives after the combiner's destruction finds
    // it gone.
    struct Collection {
        bool aborted = false;
        ElapsedCallback elapsedCallback;
        int steps = 0;
        // Numbers the waits: only the completion of the latest one acts.
        std::uint64_t latestWait = 0;
    };

    static void OnWaitCompleted(const std::weak_ptr<Collection>& weakCollection, std::uint64_t wait,
                                const boost::system::error_code& error);

    std::unique_ptr<Oru::WaitableTimer> _timer;
    std::shared_ptr<Collection> _collection;
};

}  // namespace Keldra
