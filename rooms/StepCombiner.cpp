#include "StepCombiner.h"

#include <limits>
#include <utility>

#include <boost/chrono/duration.hpp>

#include "platform/host/OruLogging.h"

namespace Keldra {
namespace {

const Oru::WaitableTimer::Duration QuietPeriod = boost::chrono::milliseconds(300);

// The running sum saturates instead of overflowing.
int SaturatingAdd(int sum, int step)
{
    int result = 0;
    if (__builtin_add_overflow(sum, step, &result)) {
        return step > 0 ? std::numeric_limits<int>::max() : std::numeric_limits<int>::min();
    }
    return result;
}

}  // namespace

StepCombiner::StepCombiner(std::unique_ptr<Oru::WaitableTimer> timer, ElapsedCallback elapsedCallback)
    : _timer(std::move(timer)), _elapsedCallback(std::move(elapsedCallback))
{
}

// Destroying the timer cancels a pending wait; its completion then finds the
// combiner gone.
StepCombiner::~StepCombiner() = default;

void StepCombiner::AddStep(int step)
{
    _steps = SaturatingAdd(_steps, step);
    _aborted = false;
    const std::uint64_t wait = ++_latestWait;
    _timer->expires_from_now(QuietPeriod);
    _timer->async_wait([combiner = _selfHandle.GetWeak(), wait](const boost::system::error_code& error) {
        if (auto* const self = combiner.Get()) {
            self->OnWaitCompleted(wait, error);
        }
    });
}

StepCombiner& StepCombiner::operator++()
{
    AddStep(1);
    return *this;
}

StepCombiner& StepCombiner::operator--()
{
    AddStep(-1);
    return *this;
}

void StepCombiner::Abort()
{
    _aborted = true;
    _timer->cancel();
    _steps = 0;
}

void StepCombiner::OnWaitCompleted(std::uint64_t wait, const boost::system::error_code& error)
{
    // A wait replaced by a newer step: the newer wait reports the steps.
    // This also holds when the replaced wait had already expired and its
    // completion was queued behind the step.
    if (wait != _latestWait) {
        return;
    }
    if (_aborted) {
        ORU_LOG_INFO("Combining of powerlevel steps canceled");
        return;
    }
    if (error) {
        return;
    }
    // Reset before the call, so that a step the callback adds is kept; the
    // copy lets the callback live on should it destroy this combiner.
    const int steps = std::exchange(_steps, 0);
    const ElapsedCallback elapsedCallback = _elapsedCallback;
    elapsedCallback(steps);
}

}  // namespace Keldra
