#include "LeavingHomeManager.h"

#include <cstdint>

#include "basestations/KeldraWebApi.h"
#include "support/Assert.h"

namespace Keldra {
namespace {

const boost::posix_time::time_duration OneDay = boost::posix_time::hours(24);

const char* AbsenceText(bool absent) { return absent ? "absent" : "at home"; }

// A date and time that can be turned into calendar fields: neither a special
// value (not-a-date-time, infinity) nor outside the calendar's range.
// Deliberate: any other gives no arrival and an info line instead of throwing.
bool IsRepresentable(const boost::posix_time::ptime& time)
{
    return !time.is_special() && time >= boost::posix_time::ptime(boost::posix_time::min_date_time) &&
           time <= boost::posix_time::ptime(boost::posix_time::max_date_time);
}

}  // namespace

LeavingHomeManager::LeavingHomeManager(Oru::ClockSystem& clock, AbsenceMode absenceMode)
    : _clock(clock), _absenceMode(absenceMode)
{
    const bool zeroMeansAbsent = GetLeavingHomeMode();
    ORU_LOG_INFO("Absence mode configuration: 0: " << AbsenceText(zeroMeansAbsent)
                                                    << ", 1: " << AbsenceText(!zeroMeansAbsent));
}

bool LeavingHomeManager::GetLeavingHomeMode() const { return _absenceMode == AbsenceMode::ZeroMeansAbsent; }

void LeavingHomeManager::UpdateArrivalDate(const boost::posix_time::ptime& arrivalDate)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _arrivalDate = arrivalDate;
}

void LeavingHomeManager::UpdateArrivalTime(const OruApp::TimeOfDay& arrivalTime)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _arrivalTime = arrivalTime;
}

void LeavingHomeManager::UpdateBaseStationDateTime(const boost::posix_time::ptime& baseStationDateTime)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _lastPolledTimeStamp = _clock.GetNow();
    _baseStationDateTime = baseStationDateTime;
}

boost::optional<boost::posix_time::ptime> LeavingHomeManager::GetArrivalDateTime() const
{
    boost::optional<boost::posix_time::ptime> arrivalDate;
    boost::optional<OruApp::TimeOfDay> arrivalTime;
    boost::optional<boost::posix_time::ptime> baseStationDateTime;
    boost::optional<Oru::ClockSystem::TimePoint> lastPolledTimeStamp;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        arrivalDate = _arrivalDate;
        arrivalTime = _arrivalTime;
        baseStationDateTime = _baseStationDateTime;
        lastPolledTimeStamp = _lastPolledTimeStamp;
    }

    if (!arrivalDate) {
        ORU_LOG_INFO("arrivalDate is not set, unable to generate arrivalDateTime");
        return boost::none;
    }
    if (!arrivalTime) {
        ORU_LOG_INFO("arrivalTime is not set, unable to generate arrivalDateTime");
        return boost::none;
    }
    if (!baseStationDateTime) {
        ORU_LOG_INFO("baseStationDateTime is not set, unable to verify arrivalDateTime");
        return boost::none;
    }
    ORU_ASSERT2(lastPolledTimeStamp.is_initialized());

    if (!IsRepresentable(*arrivalDate)) {
        ORU_LOG_INFO("arrivalDate is not a valid date, unable to generate arrivalDateTime");
        return boost::none;
    }
    if (!IsRepresentable(*baseStationDateTime)) {
        ORU_LOG_INFO("baseStationDateTime is not a valid date and time, unable to verify arrivalDateTime");
        return boost::none;
    }

    // Seconds of the time value are not carried; the date keeps whatever
    // time of day it holds.
    const boost::posix_time::ptime arrival = *arrivalDate + boost::posix_time::hours(arrivalTime->GetHour()) +
                                             boost::posix_time::minutes(arrivalTime->GetMinute());
    if (!IsRepresentable(arrival)) {
        ORU_LOG_INFO("arrivalDateTime lies beyond the last valid date, unable to generate arrivalDateTime");
        return boost::none;
    }

    std::int64_t elapsedNanoseconds = 0;
    if (__builtin_sub_overflow(_clock.GetNow().time_since_epoch().count(),
                               lastPolledTimeStamp->time_since_epoch().count(), &elapsedNanoseconds)) {
        ORU_LOG_INFO("Time since baseStationDateTime was reported is out of range, unable to verify arrivalDateTime");
        return boost::none;
    }
    // At most 2^63 ns, about 292 years: far from the limits of a ptime's
    // microsecond count, so neither sum below can overflow.
    const boost::posix_time::ptime stationNow =
        *baseStationDateTime + boost::posix_time::milliseconds(elapsedNanoseconds / 1000000);

    if (arrival < stationNow + OneDay) {
        ORU_LOG_INFO("arrivalDateTime is not more than one day in the future");
        return boost::none;
    }
    // Deliberate: an arrival the leaving-home command cannot carry is no arrival.
    if (KeldraWebApi::GenerateLeavingHomeDateString(arrival.date()).empty()) {
        ORU_LOG_INFO("arrivalDateTime cannot be carried by the base station's two-digit year, unable to generate "
                     "arrivalDateTime");
        return boost::none;
    }
    return arrival;
}

}  // namespace Keldra
