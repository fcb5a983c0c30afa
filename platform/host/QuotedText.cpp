#include "QuotedText.h"

#include <cstdio>

namespace Oru {
namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

boost::optional<std::string> Fail(std::string* error, const std::string& reason)
{
    if (error != nullptr) {
        *error = reason;
    }
    return boost::none;
}

}  // namespace

boost::optional<std::string> Unquote(const std::string& quoted, std::string* error)
{
    if (quoted.empty() || quoted.front() != '"') {
        return Fail(error, "a quoted text starts with \"");
    }
    std::string text;
    for (std::size_t i = 1; i < quoted.size(); ++i) {
        const char c = quoted[i];
        if (c == '"') {
            if (i + 1 != quoted.size()) {
                return Fail(error, "nothing may follow the closing quote");
            }
            return text;
        }
        if (c != '\\') {
            text += c;
            continue;
        }
        if (++i == quoted.size()) {
            break;
        }
        switch (quoted[i]) {
        case '"':
            text += '"';
            break;
        case '\\':
            text += '\\';
            break;
        case 'n':
            text += '\n';
            break;
        case 'r':
            text += '\r';
            break;
        case 't':
            text += '\t';
            break;
        case 'x': {
            const int high = i + 1 < quoted.size() ? HexDigit(quoted[i + 1]) : -1;
            const int low = i + 2 < quoted.size() ? HexDigit(quoted[i + 2]) : -1;
            if (high < 0 || low < 0) {
                return Fail(error, "\\x takes two hexadecimal digits");
            }
            text += static_cast<char>(high * 16 + low);
            i += 2;
            break;
        }
        default:
            return Fail(error, std::string("unknown escape \\") + quoted[i]);
        }
    }
    return Fail(error, "the closing quote is missing");
}

std::string Quote(const std::string& text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            quoted += "\\\"";
            break;
        case '\\':
            quoted += "\\\\";
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '\r':
            quoted += "\\r";
            break;
        case '\t':
            quoted += "\\t";
            break;
        default:
            if (byte < 0x20 || byte >= 0x7F) {
                char escaped[5];
                std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
                quoted += escaped;
            } else {
                quoted += c;
            }
        }
    }
    return quoted + "\"";
}

}  // namespace Oru
