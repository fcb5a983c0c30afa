#include "StepCombiner.h"

#include <limits>
#include <utility>

#include <boost/chrono/duration.hpp>

#include "OruLogging.h"

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
    : _timer(std::move(timer)), _collection(std::make_shared<Collection>())
{
    _collection->elapsedCallback = std::move(elapsedCallback);
}

// Destroying the timer cancels a pending wait; its completion then finds the
// collection gone.
StepCombiner::~StepCombiner() = default;

void StepCombiner::AddStep(int step)
{
    _collection->steps = SaturatingAdd(_collection->steps, step);
    _collection->aborted = false;
    const std::uint64_t wait = ++_collection->latestWait;
    _timer->expires_from_now(QuietPeriod);
    _timer->async_wait([weakCollection = std::weak_ptr<Collection>(_collection),
                        wait](const boost::system::error_code& error) {
        OnWaitCompleted(weakCollection, wait, error);
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
    _collection->aborted = true;
    _timer->cancel();
    _collection->steps = 0;
}

void StepCombiner::OnWaitCompleted(const std::weak_ptr<Collection>& weakCollection, std::uint64_t wait,
                                   const boost::system::error_code& error)
{
    const auto collection = weakCollection.lock();
    if (!collection) {
        return;
    }
    // A wait replaced by a newer step: the newer wait reports the steps.
    // This also holds when the replaced wait had already expired and its
    // completion was queued behind the step.
    if (wait != collection->latestWait) {
        return;
    }
    if (collection->aborted) {
        ORU_LOG_INFO("Combining of powerlevel steps canceled");
        return;
    }
    if (error) {
        return;
    }
    // Reset before the call, so that a step the callback adds is kept.
    const int steps = std::exchange(collection->steps, 0);
    collection->elapsedCallback(steps);
}

}  // namespace Keldra
