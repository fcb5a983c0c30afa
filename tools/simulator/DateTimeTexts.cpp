#include "DateTimeTexts.h"

#include <cstdio>
#include <ctime>
#include <initializer_list>

namespace Keldra {
namespace Simulation {

namespace {

// The two-digit numbers of a text laid out as "dd?dd?dd", each separated by
// the separator; false when the layout does not match.
bool ReadTwoDigitGroups(const std::string& text, char separator, std::initializer_list<int*> numbers)
{
    if (text.size() != numbers.size() * 3 - 1) {
        return false;
    }
    std::size_t position = 0;
    for (int* number : numbers) {
        if (position > 0) {
            if (text[position - 1] != separator) {
                return false;
            }
        }
        const char high = text[position];
        const char low = text[position + 1];
        if (high < '0' || high > '9' || low < '0' || low > '9') {
            return false;
        }
        *number = (high - '0') * 10 + (low - '0');
        position += 3;
    }
    return true;
}

int DaysInMonth(int year, int month)
{
    static const int s_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : s_days[month - 1];
}

std::string TwoDigitGroups(char separator, std::initializer_list<int> numbers)
{
    std::string text;
    for (int number : numbers) {
        if (!text.empty()) {
            text += separator;
        }
        text += static_cast<char>('0' + number / 10 % 10);
        text += static_cast<char>('0' + number % 10);
    }
    return text;
}

}  // namespace

bool IsDateText(const std::string& text)
{
    int year = 0;
    int month = 0;
    int day = 0;
    if (!ReadTwoDigitGroups(text, '-', {&year, &month, &day})) {
        return false;
    }
    return month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(2000 + year, month);
}

bool IsTimeOfDayText(const std::string& text)
{
    int hour = 0;
    int minute = 0;
    return ReadTwoDigitGroups(text, ':', {&hour, &minute}) && hour < 24 && minute < 60;
}

bool IsClockTimeText(const std::string& text)
{
    int hour = 0;
    int minute = 0;
    int second = 0;
    return ReadTwoDigitGroups(text, ':', {&hour, &minute, &second}) && hour < 24 && minute < 60 && second < 60;
}

ClockTexts CurrentClockTexts(const StationClock& clock, std::chrono::system_clock::time_point now)
{
    if (clock.fixed) {
        return {clock.date, clock.time};
    }
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now) + clock.offsetSeconds;
    std::tm parts{};
    if (gmtime_r(&seconds, &parts) == nullptr) {
        return {"00-01-01", "00:00:00"};
    }
    const int yearOfCentury = ((parts.tm_year + 1900) % 100 + 100) % 100;
    return {TwoDigitGroups('-', {yearOfCentury, parts.tm_mon + 1, parts.tm_mday}),
            TwoDigitGroups(':', {parts.tm_hour, parts.tm_min, parts.tm_sec})};
}

}  // namespace Simulation
}  // namespace Keldra
