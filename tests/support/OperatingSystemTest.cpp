#include <gtest/gtest.h>

#include <string>

#include "support/OperatingSystem.h"

namespace {

TEST(OperatingSystem, CanBeCreatedAgainAfterItWasDestroyed)
{
    for (int round = 0; round < 3; ++round) {
        const Oru::OperatingSystem operatingSystem("KeldraApp");
        const auto name = operatingSystem.GetName();
        EXPECT_EQ("KeldraApp", std::string(name.begin(), name.end()));
    }
}

TEST(OperatingSystemDeathTest, ASecondLiveInstanceEndsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            const Oru::OperatingSystem first("FirstApp");
            const Oru::OperatingSystem second("SecondApp");
        },
        "FATAL .*Oru::OperatingSystem::OperatingSystem\\(Oru::UTF8Span\\) - "
        "Detected duplicate instance of Oru::OperatingSystem\\. Old name: FirstApp, new name: SecondApp "
        "\\(OperatingSystem:[0-9]+\\)");
}

}  // namespace
