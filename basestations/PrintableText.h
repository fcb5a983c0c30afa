// Texts from the network as a log line may show them.
// Deliberate: escaped and shortened, so no station writes control characters or megabytes into the log.
#pragma once

#include <cstddef>
#include <iomanip>
#include <sstream>
#include <string>

#include <utf8/core.h>

namespace Keldra {

// Valid UTF-8 without control characters as it is; otherwise the offending
// bytes as \xNN. Texts longer than 64 bytes are cut and end in "...".
inline std::string PrintableText(const std::string& text)
{
    constexpr std::size_t maximumLength = 64;
    const bool validUtf8 = utf8::is_valid(text.begin(), text.end());
    std::ostringstream printable;
    std::size_t written = 0;
    for (const char character : text) {
        if (written == maximumLength) {
            printable << "...";
            break;
        }
        const auto byte = static_cast<unsigned char>(character);
        if (byte < 0x20 || byte == 0x7f || (!validUtf8 && byte >= 0x80)) {
            printable << "\\x" << std::hex << std::setw(2) << std::setfill('0') << static_cast<unsigned>(byte)
                      << std::dec;
        } else {
            printable << character;
        }
        ++written;
    }
    return printable.str();
}

}  // namespace Keldra
