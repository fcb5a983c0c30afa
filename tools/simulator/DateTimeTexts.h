// The date and time texts a station speaks: "yy-mm-dd", "hh:mm" and
// "hh:mm:ss", checked strictly (two digits each, real dates and times), and
// the station clock's current texts.
#pragma once

#include <chrono>
#include <string>

#include "StationState.h"

namespace Keldra {
namespace Simulation {

// "yy-mm-dd" of a real date in 2000..2099.
bool IsDateText(const std::string& text);
// "hh:mm" from 00:00 to 23:59.
bool IsTimeOfDayText(const std::string& text);
// "hh:mm:ss" from 00:00:00 to 23:59:59.
bool IsClockTimeText(const std::string& text);

struct ClockTexts {
    std::string date;  // "yy-mm-dd"
    std::string time;  // "hh:mm:ss"
};

ClockTexts CurrentClockTexts(const StationClock& clock, std::chrono::system_clock::time_point now);

}  // namespace Simulation
}  // namespace Keldra
