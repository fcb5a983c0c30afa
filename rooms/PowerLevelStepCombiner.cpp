#include "PowerLevelStepCombiner.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/host/OruLogging.h"

namespace Keldra {
namespace {

// "0x0a"
std::string Hex(const PowerLevel& level)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", static_cast<unsigned>(level.Value()));
    return text;
}

}  // namespace

PowerLevelStepCombiner::PowerLevelStepCombiner(std::string name, std::unique_ptr<Oru::WaitableTimer> timer,
                                               SetPowerLevelCallback setPowerLevel,
                                               GetCurrentSetpointCallback getCurrentSetpoint,
                                               GetMinimumPowerLevelCallback getMinimumPowerLevel)
    : _name(std::move(name)),
      _setPowerLevel(std::move(setPowerLevel)),
      _getCurrentSetpoint(std::move(getCurrentSetpoint)),
      _getMinimumPowerLevel(std::move(getMinimumPowerLevel)),
      _stepCombiner(std::move(timer), [this](int steps) { Elapsed(steps); })
{
}

PowerLevelStepCombiner& PowerLevelStepCombiner::operator++()
{
    ++_stepCombiner;
    return *this;
}

PowerLevelStepCombiner& PowerLevelStepCombiner::operator--()
{
    --_stepCombiner;
    return *this;
}

void PowerLevelStepCombiner::SetPendingOperation(PowerLevel level)
{
    ORU_LOG_INFO("   # Stepping cancelled due to absolute value " << _name);
    _stepCombiner.Abort();
    _pendingPowerLevel = level;
}

void PowerLevelStepCombiner::SetPendingOperationFromCurrent()
{
    _pendingPowerLevel = _getCurrentSetpoint();
    if (_pendingPowerLevel) {
        ORU_LOG_INFO("   # Set power level steps start value: " << *_pendingPowerLevel << " " << _name);
    } else {
        ORU_LOG_INFO("   # Set power level steps start value: none " << _name);
    }
}

void PowerLevelStepCombiner::ResetPendingOperations() { _pendingPowerLevel = boost::none; }

void PowerLevelStepCombiner::Elapsed(int steps)
{
    ORU_LOG_INFO("   # Set power level steps: " << steps << " " << _name);
    if (steps == 0) {
        _setPowerLevel(boost::none);
        return;
    }

    const auto current = _getCurrentSetpoint();
    if (!current) {
        ORU_LOG_ERROR("Cannot change power level relative b/c current setpoint is unknown " << _name);
        _setPowerLevel(boost::none);
        return;
    }

    const PowerLevel base = _pendingPowerLevel ? *_pendingPowerLevel : *current;
    const long long unclamped = static_cast<long long>(base.Value()) + steps;
    const long long clamped = std::clamp<long long>(unclamped, PowerLevel::Min, PowerLevel::Max);
    const PowerLevel target = std::max(*PowerLevel::CreateFrom(clamped), _getMinimumPowerLevel());

    if (target == base) {
        ORU_LOG_INFO("   # Power level unchanged: " << target << " " << _name);
        _setPowerLevel(boost::none);
        return;
    }
    ORU_LOG_INFO("   # New Power level: " << Hex(target) << " " << _name);
    _setPowerLevel(target);
}

}  // namespace Keldra
