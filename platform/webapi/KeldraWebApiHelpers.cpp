// The web API's rules for firmware versions and leaving-home texts.
#include "basestations/KeldraWebApi.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <limits>

namespace Keldra {

namespace {

using Version = std::array<std::uint32_t, 3>;

const char* const s_minimalVersion = "1.4.0";

// Three decimal numbers separated by dots, nothing before, between or after.
boost::optional<Version> ParseVersion(const std::string& text)
{
    Version version{};
    std::size_t component = 0;
    std::size_t digits = 0;
    std::uint64_t value = 0;
    for (const char character : text) {
        if (character == '.') {
            if (digits == 0 || component + 1 == version.size()) {
                return boost::none;
            }
            version[component++] = static_cast<std::uint32_t>(value);
            digits = 0;
            value = 0;
        } else if (character >= '0' && character <= '9') {
            value = value * 10 + static_cast<std::uint64_t>(character - '0');
            if (value > std::numeric_limits<std::uint32_t>::max()) {
                return boost::none;
            }
            ++digits;
        } else {
            return boost::none;
        }
    }
    if (digits == 0 || component + 1 != version.size()) {
        return boost::none;
    }
    version[component] = static_cast<std::uint32_t>(value);
    return version;
}

// Numbers 0..99 as two digits each, joined by the separator.
std::string JoinTwoDigitNumbers(std::initializer_list<long> numbers, char separator)
{
    std::string text;
    for (const long number : numbers) {
        if (!text.empty()) {
            text += separator;
        }
        text += static_cast<char>('0' + number / 10);
        text += static_cast<char>('0' + number % 10);
    }
    return text;
}

}  // namespace

const char* KeldraWebApi::MinimalVersion() { return s_minimalVersion; }

bool KeldraWebApi::CheckMinimalVersion(const std::string& version)
{
    const auto parsed = ParseVersion(version);
    // Named: Boost 1.74's optional<array> dereferenced as a temporary compares
    // garbage in optimised builds (GCC 12, -O2 -DNDEBUG).
    const auto minimal = ParseVersion(s_minimalVersion);
    return parsed && minimal && *parsed >= *minimal;
}

std::string KeldraWebApi::GenerateLeavingHomeDateString(boost::gregorian::date date)
{
    if (date.is_special() || date.year() < 2000 || date.year() > 2099) {
        return std::string();
    }
    return JoinTwoDigitNumbers({date.year() - 2000, date.month().as_number(), date.day().as_number()}, '-');
}

std::string KeldraWebApi::GenerateLeavingHomeTimeString(boost::posix_time::time_duration timeOfDay)
{
    if (timeOfDay.is_special() || timeOfDay.is_negative() || timeOfDay >= boost::posix_time::hours(24)) {
        return std::string();
    }
    return JoinTwoDigitNumbers({static_cast<long>(timeOfDay.hours()), static_cast<long>(timeOfDay.minutes())}, ':');
}

}  // namespace Keldra
