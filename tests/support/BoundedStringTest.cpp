#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "support/BoundedTypes.h"

using namespace Keldra;

namespace {

struct LengthCase {
    std::size_t length;
    bool accepted;
};

TEST(BoundedString, KnxErrorStringHoldsOneToFourteenBytes)
{
    const LengthCase cases[] = {{0, false}, {1, true}, {2, true}, {13, true}, {14, true}, {15, false}, {200, false}};
    for (const auto& c : cases) {
        const std::string text(c.length, 'x');
        const auto created = KnxErrorString::Create(text);
        EXPECT_EQ(c.accepted, created.has_value()) << c.length;
        if (created) {
            EXPECT_EQ(text, created->Get());
        }
    }
}

TEST(BoundedString, LengthIsCountedInBytes)
{
    // "-3:MissingThs" is 13 bytes; seven two-byte umlauts are 14 bytes.
    EXPECT_TRUE(KnxErrorString::Create("-3:MissingThs"));
    EXPECT_TRUE(KnxErrorString::Create("\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4"));
    EXPECT_FALSE(KnxErrorString::Create("\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4x"));
}

TEST(BoundedString, RoomThermostatIdHasExactlyEightBytes)
{
    const LengthCase cases[] = {{0, false}, {7, false}, {8, true}, {9, false}};
    for (const auto& c : cases) {
        const auto created = RoomThermostatIDString::Create(*Oru::UTF8String::Create(std::string(c.length, '7')));
        EXPECT_EQ(c.accepted, created.has_value()) << c.length;
    }
    // Eight bytes, seven characters.
    const auto umlaut = RoomThermostatIDString::Create(*Oru::UTF8String::Create("B\xC3\xA4" "der12"));
    ASSERT_TRUE(umlaut);
    EXPECT_EQ("B\xC3\xA4" "der12", umlaut->Get().Get());
}

TEST(BoundedString, BaseStationIdHasExactlyTenBytes)
{
    const LengthCase cases[] = {{0, false}, {9, false}, {10, true}, {11, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.accepted, BaseStationIdString::Create(std::string(c.length, 'A')).has_value()) << c.length;
    }
}

TEST(BoundedString, ComparesAndPrintsTheText)
{
    const auto a = *KnxErrorString::Create("-0:NoError");
    const auto b = *KnxErrorString::Create("-0:NoError");
    const auto c = *KnxErrorString::Create("-3:MissingThs");
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    std::ostringstream text;
    text << a;
    EXPECT_EQ("-0:NoError", text.str());
}

}  // namespace
