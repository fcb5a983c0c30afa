// The plain fields of the host's text inputs (parameter file, bus console):
// blanks around them, whole-text integers.
#pragma once

#include <limits>
#include <string>

#include <boost/optional.hpp>

namespace Oru {

// What separates fields.
inline constexpr char Blanks[] = " \t";

// The text without the blanks (space, tab) at its ends.
std::string Trim(const std::string& text);

// The whole text as an integer in [minimum, maximum], decimal or, after
// "0x", hexadecimal; none for anything else (blanks included).
boost::optional<long long> ParseInteger(const std::string& text,
                                        long long minimum = std::numeric_limits<long long>::min(),
                                        long long maximum = std::numeric_limits<long long>::max());

}  // namespace Oru
