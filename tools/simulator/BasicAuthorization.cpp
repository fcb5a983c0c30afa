#include "BasicAuthorization.h"

#include <cctype>
#include <vector>

#include <openssl/evp.h>

namespace Keldra {
namespace Simulation {

namespace {

constexpr std::size_t s_maximumFieldLength = 4096;

bool IsBase64Character(char character)
{
    return std::isalnum(static_cast<unsigned char>(character)) != 0 || character == '+' || character == '/';
}

std::optional<std::string> DecodeBase64(const std::string& text)
{
    if (text.empty() || text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::size_t padding = 0;
    for (std::size_t index = 0; index < text.size(); ++index) {
        const char character = text[index];
        if (character == '=') {
            ++padding;
        } else if (padding > 0 || !IsBase64Character(character)) {
            return std::nullopt;
        }
    }
    if (padding > 2) {
        return std::nullopt;
    }
    std::vector<unsigned char> decoded(text.size() / 4 * 3 + 1);
    const int length = EVP_DecodeBlock(decoded.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                       static_cast<int>(text.size()));
    if (length < 0 || static_cast<std::size_t>(length) < padding) {
        return std::nullopt;
    }
    return std::string(decoded.begin(), decoded.begin() + (length - static_cast<int>(padding)));
}

}  // namespace

std::optional<StationCredentials> ReadBasicAuthorization(const std::string& field)
{
    if (field.size() > s_maximumFieldLength || field.size() < 6) {
        return std::nullopt;
    }
    static const char s_scheme[] = "basic ";
    for (std::size_t index = 0; index < 6; ++index) {
        if (std::tolower(static_cast<unsigned char>(field[index])) != s_scheme[index]) {
            return std::nullopt;
        }
    }
    std::size_t start = 6;
    while (start < field.size() && field[start] == ' ') {
        ++start;
    }
    const std::optional<std::string> decoded = DecodeBase64(field.substr(start));
    if (!decoded) {
        return std::nullopt;
    }
    const std::size_t colon = decoded->find(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    return StationCredentials{decoded->substr(0, colon), decoded->substr(colon + 1)};
}

bool IsAuthorized(const std::optional<StationCredentials>& expected, const std::string& field)
{
    if (!expected) {
        return true;
    }
    const std::optional<StationCredentials> given = ReadBasicAuthorization(field);
    return given && given->username == expected->username && given->password == expected->password;
}

}  // namespace Simulation
}  // namespace Keldra
