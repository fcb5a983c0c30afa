// Turns the up and down steps of one actor slot's power level into one
// absolute power level write once the steps have come to rest. Steps start
// from the level last written and not yet answered, else from the slot's
// current setpoint. Used on the event loop's thread only.
#pragma once

#include <memory>
#include <string>

#include <boost/optional.hpp>

#include "StepCombiner.h"
#include "support/BoundedTypes.h"
#include "support/Function.h"
#include "support/WaitableTimer.h"

namespace Keldra {

class PowerLevelStepCombiner {
public:
    // Given a level, write it to the station; given none, only report the
    // command as finished.
    using SetPowerLevelCallback = Oru::function<void(boost::optional<PowerLevel>)>;
    using GetCurrentSetpointCallback = Oru::function<boost::optional<PowerLevel>()>;
    using GetMinimumPowerLevelCallback = Oru::function<PowerLevel()>;

    PowerLevelStepCombiner(std::string name, std::unique_ptr<Oru::WaitableTimer> timer,
                           SetPowerLevelCallback setPowerLevel, GetCurrentSetpointCallback getCurrentSetpoint,
                           GetMinimumPowerLevelCallback getMinimumPowerLevel);
    PowerLevelStepCombiner(const PowerLevelStepCombiner&) = delete;
    PowerLevelStepCombiner& operator=(const PowerLevelStepCombiner&) = delete;

    PowerLevelStepCombiner& operator++();
    PowerLevelStepCombiner& operator--();

    // An absolute level is about to be written: collected steps are dropped
    // and later steps start from this level.
    void SetPendingOperation(PowerLevel level);
    // Later steps start from the current setpoint.
    void SetPendingOperationFromCurrent();
    // The response to a power level write of the slot has arrived.
    void ResetPendingOperations();

    void Elapsed(int steps);

private:
    std::string _name;
    boost::optional<PowerLevel> _pendingPowerLevel;
    SetPowerLevelCallback _setPowerLevel;
    GetCurrentSetpointCallback _getCurrentSetpoint;
    GetMinimumPowerLevelCallback _getMinimumPowerLevel;
    StepCombiner _stepCombiner;
};

}  // namespace Keldra
