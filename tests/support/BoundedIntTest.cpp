#include <gtest/gtest.h>

#include <vector>

#include "support/BoundedTypes.h"

using namespace Keldra;

TEST(BoundedInt, FactoryAcceptsExactlyTheRange)
{
    EXPECT_FALSE(Room::Create(0));
    EXPECT_TRUE(Room::Create(1));
    EXPECT_TRUE(Room::Create(12));
    EXPECT_FALSE(Room::Create(13));
}
