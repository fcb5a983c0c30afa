#include <gtest/gtest.h>

#include "support/Format.h"

namespace {

struct FormatCase {
    unsigned char halfDegrees;
    const char* text;
};

TEST(Format, HalfDegreeTemperatureInDegreesCelsius)
{
    const FormatCase cases[] = {{10, "5"}, {11, "5.5"}, {40, "20"}, {41, "20.5"}, {43, "21.5"}, {60, "30"}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.text, Oru::Format(*Keldra::HalfDegreeTemperature::Create(c.halfDegrees))) << +c.halfDegrees;
    }
}

}  // namespace
