// What the leaving-home (absence) command needs from the bus and the system
// master: the polarity of the leaving-home switch, the arrival date and time
// received, and the master station's own time, against which the arrival is
// accepted only when it lies at least one day ahead.
// Called from the host's thread and the worker thread; locks itself.
#pragma once

#include <mutex>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/optional.hpp>

#include "app/OruApp.h"
#include "support/ClockSystem.h"

namespace Keldra {

class LeavingHomeManager {
public:
    // The application parameter: which bus value of the leaving-home switch
    // means "absent".
    enum class AbsenceMode : int {
        OneMeansAbsent = 0,
        ZeroMeansAbsent = 1,
    };

    LeavingHomeManager(Oru::ClockSystem& clock, AbsenceMode absenceMode);
    LeavingHomeManager(const LeavingHomeManager&) = delete;
    LeavingHomeManager& operator=(const LeavingHomeManager&) = delete;

    // True when bus value 0 means absent: leaving home is active when this
    // differs from the received bit.
    bool GetLeavingHomeMode() const;

    void UpdateArrivalDate(const boost::posix_time::ptime& arrivalDate);
    void UpdateArrivalTime(const OruApp::TimeOfDay& arrivalTime);
    // The master station's current date and time, reported now.
    void UpdateBaseStationDateTime(const boost::posix_time::ptime& baseStationDateTime);

    // The arrival date plus the arrival time (minutes resolution), if both
    // are known, valid, at least one day after the station's current time,
    // estimated from its last report and the monotonic time since, and in a
    // year the station's date carries (2000 to 2099).
    boost::optional<boost::posix_time::ptime> GetArrivalDateTime() const;

private:
    Oru::ClockSystem& _clock;
    mutable std::mutex _mutex;
    boost::optional<boost::posix_time::ptime> _arrivalDate;
    boost::optional<OruApp::TimeOfDay> _arrivalTime;
    boost::optional<boost::posix_time::ptime> _baseStationDateTime;
    boost::optional<Oru::ClockSystem::TimePoint> _lastPolledTimeStamp;
    const AbsenceMode _absenceMode;
};

}  // namespace Keldra
