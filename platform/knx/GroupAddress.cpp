#include "GroupAddress.h"

#include <cstdlib>
#include <vector>

namespace Oru::Knx {

boost::optional<GroupAddress> ParseGroupAddress(const std::string& text)
{
    std::vector<long> parts;
    std::size_t start = 0;
    while (true) {
        const auto slash = text.find('/', start);
        const std::string part = text.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part.empty() || part.size() > 5 || part.find_first_not_of("0123456789") != std::string::npos) {
            return boost::none;
        }
        parts.push_back(std::strtol(part.c_str(), nullptr, 10));
        if (slash == std::string::npos) {
            break;
        }
        start = slash + 1;
    }
    long raw = -1;
    if (parts.size() == 1 && parts[0] <= 0xFFFF) {
        raw = parts[0];
    } else if (parts.size() == 2 && parts[0] <= 31 && parts[1] <= 2047) {
        raw = parts[0] << 11 | parts[1];
    } else if (parts.size() == 3 && parts[0] <= 31 && parts[1] <= 7 && parts[2] <= 255) {
        raw = parts[0] << 11 | parts[1] << 8 | parts[2];
    }
    if (raw <= 0) {
        return boost::none;
    }
    return static_cast<GroupAddress>(raw);
}

std::string FormatGroupAddress(GroupAddress address)
{
    return std::to_string(address >> 11) + "/" + std::to_string((address >> 8) & 0x07) + "/" +
           std::to_string(address & 0xFF);
}

std::string FormatIndividualAddress(std::uint16_t address)
{
    return std::to_string(address >> 12) + "." + std::to_string((address >> 8) & 0x0F) + "." +
           std::to_string(address & 0xFF);
}

}  // namespace Oru::Knx
