#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/UTF8String.h"

namespace {

using Bytes = std::vector<unsigned char>;

// One code point in well-formed UTF-8, as the Unicode standard tabulates it:
// the lead byte ranges and the allowed second byte per lead.
bool WellFormed(const Bytes& b)
{
    const auto in = [](unsigned char byte, int low, int high) { return byte >= low && byte <= high; };
    switch (b.size()) {
    case 1:
        return b[0] <= 0x7F;
    case 2:
        return in(b[0], 0xC2, 0xDF) && in(b[1], 0x80, 0xBF);
    case 3:
        return ((b[0] == 0xE0 && in(b[1], 0xA0, 0xBF)) || (in(b[0], 0xE1, 0xEC) && in(b[1], 0x80, 0xBF)) ||
                (b[0] == 0xED && in(b[1], 0x80, 0x9F)) || (in(b[0], 0xEE, 0xEF) && in(b[1], 0x80, 0xBF))) &&
               in(b[2], 0x80, 0xBF);
    case 4:
        return ((b[0] == 0xF0 && in(b[1], 0x90, 0xBF)) || (in(b[0], 0xF1, 0xF3) && in(b[1], 0x80, 0xBF)) ||
                (b[0] == 0xF4 && in(b[1], 0x80, 0x8F))) &&
               in(b[2], 0x80, 0xBF) && in(b[3], 0x80, 0xBF);
    default:
        return false;
    }
}

// Overlong forms, surrogates, code points above U+10FFFF, truncated
// sequences and stray continuation bytes are all refused; valid text is kept
// byte for byte.
TEST(UTF8String, AgreesWithTheWellFormednessTable)
{
    std::vector<std::string> mismatches;
    const auto check = [&mismatches](const Bytes& bytes, bool valid) {
        const std::string text(bytes.begin(), bytes.end());
        const auto created = Oru::UTF8String::Create(text);
        if (created.has_value() != valid || (created && (created->Get() != text || created->size() != text.size()))) {
            std::ostringstream hex;
            for (const unsigned char byte : bytes) {
                hex << std::hex << +byte << ' ';
            }
            mismatches.push_back(hex.str());
        }
    };
    // Every sequence of one and two bytes: two bytes are one code point or two.
    for (int a = 0; a <= 0xFF; ++a) {
        const auto first = static_cast<unsigned char>(a);
        check({first}, WellFormed({first}));
        for (int b = 0; b <= 0xFF; ++b) {
            const auto second = static_cast<unsigned char>(b);
            check({first, second}, WellFormed({first, second}) || (WellFormed({first}) && WellFormed({second})));
        }
    }
    // Every lead and second byte of the longer forms, with continuation bytes
    // at the edges of their range and just outside it.
    const unsigned char tails[] = {0x00, 0x7F, 0x80, 0xA5, 0xBF, 0xC0, 0xFF};
    for (int lead = 0xE0; lead <= 0xFF; ++lead) {
        for (int second = 0; second <= 0xFF; ++second) {
            for (const unsigned char third : tails) {
                const Bytes three{static_cast<unsigned char>(lead), static_cast<unsigned char>(second), third};
                check(three, WellFormed(three));
                for (const unsigned char fourth : tails) {
                    // After a three-byte form a fourth byte is valid only as ASCII.
                    check({three[0], three[1], third, fourth},
                          WellFormed({three[0], three[1], third, fourth}) || (WellFormed(three) && fourth <= 0x7F));
                }
            }
        }
    }
    EXPECT_TRUE(mismatches.empty()) << mismatches.size() << " mismatches, the first: " << mismatches.front();
}

}  // namespace
