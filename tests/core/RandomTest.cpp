#include "core/RandomUniformLocked.h"

#include <gtest/gtest.h>

namespace GAME {
namespace {

TEST(RandomUniformLocked, SeedOneGivesTheMinimalStandardSequence)
{
    RandomUniformLocked random;
    random.Seed(1);
    EXPECT_EQ(random.GetState(), 16807u);
    random.FGenerate(0.0f, 1.0f);
    EXPECT_EQ(random.GetState(), 282475249u);
    // The third state differs from the textbook generator: 282475249 * 16807 wraps at 32 bits.
    random.FGenerate(0.0f, 1.0f);
    EXPECT_EQ(random.GetState(), 1622647863u);
}

TEST(RandomUniformLocked, TheProductWrapsTo32BitsBeforeTheRemainder)
{
    RandomUniformLocked random;
    random.Seed(282475249); // 282475249 * 16807 overflows 32 bits
    uint32_t expected = static_cast<uint32_t>(282475249u * 16807u) % 2147483647u;
    EXPECT_EQ(random.GetState(), expected);
}

TEST(RandomUniformLocked, IntegerRangeReachesBothEnds)
{
    RandomUniformLocked random(12345);
    bool sawLow = false, sawHigh = false;
    for (int i = 0; i < 2000; ++i) {
        int v = random.IGenerate(0, 10);
        ASSERT_GE(v, 0);
        ASSERT_LE(v, 10);
        sawLow |= v == 0;
        sawHigh |= v == 10;
    }
    EXPECT_TRUE(sawLow);
    EXPECT_TRUE(sawHigh);
}

TEST(RandomUniformLocked, FloatRangeStaysInside)
{
    RandomUniformLocked random(7);
    for (int i = 0; i < 1000; ++i) {
        float v = random.FGenerate(-2.0f, 3.0f);
        ASSERT_GE(v, -2.0f);
        ASSERT_LE(v, 3.0f);
    }
}

TEST(RandomUniformLocked, SeedsThatWouldFixTheStateAtZeroStillProduceASequence)
{
    for (unsigned long seed : {0ul, 2147483647ul}) {
        RandomUniformLocked random;
        random.Seed(seed);
        float a = random.FGenerate(0.0f, 1.0f);
        float b = random.FGenerate(0.0f, 1.0f);
        float c = random.FGenerate(0.0f, 1.0f);
        EXPECT_FALSE(a == b && b == c) << "seed " << seed;
        EXPECT_NE(random.GetState(), 0u);
    }
}

} // namespace
} // namespace GAME
