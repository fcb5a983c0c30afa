// The writes a base station accepts. Each reports its outcome, once, through
// the callback it is given: the station's number and the state the write
// ended in (empty when there is nothing to report).
#pragma once

#include <cstddef>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/optional.hpp>

#include "basestations/BaseStationState.h"
#include "support/BoundedTypes.h"
#include "support/Function.h"

namespace Keldra {

class IBaseStationWebApiHandler {
public:
    using OnErrorCallbackHandler = Oru::function<void(BaseStationNumber, boost::optional<BaseStationState>)>;

    virtual ~IBaseStationWebApiHandler() = default;
    virtual void SetPowerLevelValue(std::size_t actorModule, const PowerLevel& level,
                                    OnErrorCallbackHandler callback) = 0;
    virtual void SetPowerLevelPercent(std::size_t actorModule, const KnxBytePercent& percent,
                                      OnErrorCallbackHandler callback) = 0;
    virtual void SetPowerLevelUpDown(std::size_t actorModule, bool up, bool fromCurrent,
                                     OnErrorCallbackHandler callback) = 0;
    virtual void SetSetpointTemperature(std::size_t thermostat, const HalfDegreeTemperature& temperature,
                                        OnErrorCallbackHandler callback) = 0;
    virtual void SetLeavingHome(bool active, const boost::optional<boost::posix_time::ptime>& arrival,
                                OnErrorCallbackHandler callback) = 0;
    virtual void SetCoolingMode(bool cooling, OnErrorCallbackHandler callback) = 0;
};

using OnErrorCallbackHandler = IBaseStationWebApiHandler::OnErrorCallbackHandler;

}  // namespace Keldra
