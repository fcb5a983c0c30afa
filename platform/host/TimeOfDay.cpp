#include "app/OruApp.h"

#include <iomanip>

namespace OruApp {

TimeOfDay::TimeOfDay(int hour, int minute) : _hour(hour), _minute(minute) {}

boost::optional<TimeOfDay> TimeOfDay::Create(int hour, int minute)
{
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59) {
        return boost::none;
    }
    return TimeOfDay(hour, minute);
}

boost::optional<TimeOfDay> TimeOfDay::FromBoostPosixPtime(const boost::posix_time::ptime& time)
{
    if (time.is_special()) {
        return boost::none;
    }
    const auto timeOfDay = time.time_of_day();
    return Create(static_cast<int>(timeOfDay.hours()), static_cast<int>(timeOfDay.minutes()));
}

int TimeOfDay::GetHour() const { return _hour; }

int TimeOfDay::GetMinute() const { return _minute; }

std::ostream& operator<<(std::ostream& stream, const TimeOfDay& time)
{
    const char fill = stream.fill('0');
    stream << std::setw(2) << time.GetHour() << ':' << std::setw(2) << time.GetMinute();
    stream.fill(fill);
    return stream;
}

}  // namespace OruApp
