#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/UTF8Span.h"
#include "support/UTF8String.h"

namespace {

struct EncodingCase {
    const char* name;
    std::string bytes;
};

std::string Hex(const std::string& bytes)
{
    std::ostringstream text;
    text << std::hex;
    for (const char byte : bytes) {
        text << static_cast<int>(static_cast<unsigned char>(byte)) << ' ';
    }
    return text.str();
}

TEST(UTF8String, RejectsEveryKindOfInvalidSequence)
{
    const EncodingCase cases[] = {
        {"overlong NUL", "\xC0\x80"},
        {"overlong two bytes", "\xC1\xBF"},
        {"overlong three bytes", "\xE0\x80\x80"},
        {"overlong three bytes below U+0800", "\xE0\x9F\xBF"},
        {"overlong four bytes", "\xF0\x80\x80\x80"},
        {"overlong four bytes below U+10000", "\xF0\x8F\xBF\xBF"},
        {"surrogate U+D800", "\xED\xA0\x80"},
        {"surrogate U+DBFF", "\xED\xAF\xBF"},
        {"surrogate U+DC00", "\xED\xB0\x80"},
        {"surrogate U+DFFF", "\xED\xBF\xBF"},
        {"surrogate pair", "\xED\xA0\xBD\xED\xB8\x80"},
        {"U+110000", "\xF4\x90\x80\x80"},
        {"lead F5", "\xF5\x80\x80\x80"},
        {"lead F7", "\xF7\xBF\xBF\xBF"},
        {"five bytes", "\xF8\x88\x80\x80\x80"},
        {"six bytes", "\xFC\x84\x80\x80\x80\x80"},
        {"truncated two bytes", "\xC3"},
        {"truncated three bytes", "\xE2\x82"},
        {"truncated four bytes", "\xF0\x9F\x98"},
        {"truncated at the end", "abc\xE2\x82"},
        {"lead followed by ASCII", "\xC3(" },
        {"lead followed by a lead", "\xE2\xE2\x82\xAC"},
        {"stray continuation 80", "\x80"},
        {"stray continuation BF", "\xBF"},
        {"continuation between letters", "a\x80z"},
        {"extra continuation", "\xC3\xA4\xA4"},
        {"byte FE", "\xFE"},
        {"byte FF", "\xFF"},
        {"byte order mark of UTF-16", "\xFE\xFF"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(Oru::UTF8String::Create(c.bytes)) << c.name;
        EXPECT_FALSE(Oru::UTF8String::Create("valid " + c.bytes + " valid")) << c.name << " inside text";
    }
}

TEST(UTF8String, AcceptsValidText)
{
    const EncodingCase cases[] = {
        {"empty", ""},
        {"ASCII", "Wohnzimmer 21.5"},
        {"NUL byte", std::string("a\0b", 3)},
        {"two bytes", "Gr\xC3\xBC\xC3\x9F" "e"},
        {"U+0080", "\xC2\x80"},
        {"U+07FF", "\xDF\xBF"},
        {"U+0800", "\xE0\xA0\x80"},
        {"euro sign", "\xE2\x82\xAC"},
        {"U+D7FF", "\xED\x9F\xBF"},
        {"U+E000", "\xEE\x80\x80"},
        {"U+FFFF", "\xEF\xBF\xBF"},
        {"U+10000", "\xF0\x90\x80\x80"},
        {"emoji", "\xF0\x9F\x98\x80"},
        {"U+10FFFF", "\xF4\x8F\xBF\xBF"},
        {"CJK", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
    };
    for (const auto& c : cases) {
        const auto text = Oru::UTF8String::Create(c.bytes);
        ASSERT_TRUE(text) << c.name;
        EXPECT_EQ(c.bytes, text->Get()) << c.name;
        EXPECT_EQ(c.bytes.size(), text->size()) << c.name;
    }
}

// Well-formed UTF-8 byte sequences as the Unicode standard tabulates them
// (one code point, lead byte ranges and the allowed second byte per lead).
bool WellFormedCodePoint(const std::vector<unsigned char>& b)
{
    const auto in = [](unsigned char byte, unsigned char low, unsigned char high) { return byte >= low && byte <= high; };
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

std::string Bytes(const std::vector<unsigned char>& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(UTF8String, AgreesWithTheStandardOnEverySequenceOfOneAndTwoBytes)
{
    std::vector<std::string> mismatches;
    for (int first = 0; first < 256; ++first) {
        const std::vector<unsigned char> one{static_cast<unsigned char>(first)};
        if (Oru::UTF8String::Create(Bytes(one)).has_value() != WellFormedCodePoint(one)) {
            mismatches.push_back(Hex(Bytes(one)));
        }
        for (int second = 0; second < 256; ++second) {
            const std::vector<unsigned char> two{static_cast<unsigned char>(first), static_cast<unsigned char>(second)};
            // Two bytes are valid as one code point or as two single bytes.
            const bool valid = WellFormedCodePoint(two) ||
                               (WellFormedCodePoint({two[0]}) && WellFormedCodePoint({two[1]}));
            if (Oru::UTF8String::Create(Bytes(two)).has_value() != valid) {
                mismatches.push_back(Hex(Bytes(two)));
            }
        }
    }
    EXPECT_TRUE(mismatches.empty()) << mismatches.size() << " mismatches, first " << mismatches.front();
}

TEST(UTF8String, AgreesWithTheStandardOnThreeAndFourByteSequences)
{
    // Every lead and second byte of the multi-byte forms, with continuation
    // bytes at the edges of their range and just outside it.
    const unsigned char tails[] = {0x00, 0x7F, 0x80, 0xA5, 0xBF, 0xC0, 0xFF};
    std::vector<std::string> mismatches;
    for (int lead = 0xE0; lead <= 0xFF; ++lead) {
        for (int second = 0; second < 256; ++second) {
            for (const unsigned char third : tails) {
                const std::vector<unsigned char> three{static_cast<unsigned char>(lead),
                                                       static_cast<unsigned char>(second), third};
                if (Oru::UTF8String::Create(Bytes(three)).has_value() != WellFormedCodePoint(three)) {
                    mismatches.push_back(Hex(Bytes(three)));
                }
                for (const unsigned char fourth : tails) {
                    const std::vector<unsigned char> four{static_cast<unsigned char>(lead),
                                                          static_cast<unsigned char>(second), third, fourth};
                    // Leads E0..EF make a three-byte form; a fourth byte is then
                    // valid only as ASCII.
                    const bool valid = WellFormedCodePoint(four) ||
                                       (WellFormedCodePoint(three) && WellFormedCodePoint({fourth}));
                    if (Oru::UTF8String::Create(Bytes(four)).has_value() != valid) {
                        mismatches.push_back(Hex(Bytes(four)));
                    }
                }
            }
        }
    }
    EXPECT_TRUE(mismatches.empty()) << mismatches.size() << " mismatches, first " << mismatches.front();
}

TEST(UTF8String, RejectsEverySurrogateAndEveryCodePointAboveTheUnicodeRange)
{
    const auto threeBytes = [](unsigned int codePoint) {
        return Bytes({static_cast<unsigned char>(0xE0 | (codePoint >> 12)),
                      static_cast<unsigned char>(0x80 | ((codePoint >> 6) & 0x3F)),
                      static_cast<unsigned char>(0x80 | (codePoint & 0x3F))});
    };
    const auto fourBytes = [](unsigned int codePoint) {
        return Bytes({static_cast<unsigned char>(0xF0 | (codePoint >> 18)),
                      static_cast<unsigned char>(0x80 | ((codePoint >> 12) & 0x3F)),
                      static_cast<unsigned char>(0x80 | ((codePoint >> 6) & 0x3F)),
                      static_cast<unsigned char>(0x80 | (codePoint & 0x3F))});
    };
    int accepted = 0;
    for (unsigned int codePoint = 0xD800; codePoint <= 0xDFFF; ++codePoint) {
        accepted += Oru::UTF8String::Create(threeBytes(codePoint)) ? 1 : 0;
    }
    for (unsigned int codePoint = 0x110000; codePoint <= 0x1FFFFF; codePoint += 0x3F) {
        accepted += Oru::UTF8String::Create(fourBytes(codePoint)) ? 1 : 0;
    }
    EXPECT_EQ(0, accepted);
    EXPECT_TRUE(Oru::UTF8String::Create(threeBytes(0xD7FF)));
    EXPECT_TRUE(Oru::UTF8String::Create(threeBytes(0xE000)));
    EXPECT_TRUE(Oru::UTF8String::Create(fourBytes(0x10FFFF)));
}

TEST(UTF8String, ComparesAndPrintsItsBytes)
{
    const auto a = *Oru::UTF8String::Create("K\xC3\xBC" "che");
    const auto b = *Oru::UTF8String::Create("K\xC3\xBC" "che");
    const auto c = *Oru::UTF8String::Create("Bad");
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_LT(c, a);
    std::ostringstream text;
    text << a;
    EXPECT_EQ("K\xC3\xBC" "che", text.str());
}

TEST(UTF8Span, FromALiteral)
{
    const Oru::UTF8Span span("KeldraApp");
    EXPECT_EQ(9u, span.length().Value());
    EXPECT_EQ("KeldraApp", std::string(span.begin(), span.end()));
    std::ostringstream text;
    text << span;
    EXPECT_EQ("KeldraApp", text.str());

    const Oru::UTF8Span empty("");
    EXPECT_EQ(0u, empty.length().Value());
    EXPECT_EQ(empty.begin(), empty.end());
}

TEST(UTF8Span, FromPointerAndLength)
{
    static const std::string bytes = "\xE2\x82\xAC" "uro and more";
    const Oru::UTF8Span euro(bytes.data(), *Oru::ByteCount::Create(6));
    EXPECT_EQ(6u, euro.length().Value());
    EXPECT_EQ(bytes.data(), euro.begin());
    EXPECT_EQ("\xE2\x82\xAC" "uro", std::string(euro.begin(), euro.end()));
    std::ostringstream text;
    text << euro;
    EXPECT_EQ("\xE2\x82\xAC" "uro", text.str());
}

}  // namespace
