#include "TextFields.h"

#include <cerrno>
#include <cstdlib>

namespace Oru {

std::string Trim(const std::string& text)
{
    const auto begin = text.find_first_not_of(Blanks);
    if (begin == std::string::npos) {
        return {};
    }
    return text.substr(begin, text.find_last_not_of(Blanks) - begin + 1);
}

boost::optional<long long> ParseInteger(const std::string& text, long long minimum, long long maximum)
{
    if (text.empty() || text.find_first_of(Blanks) != std::string::npos) {
        return boost::none;
    }
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || end != text.c_str() + text.size() || value < minimum || value > maximum) {
        return boost::none;
    }
    return value;
}

}  // namespace Oru
