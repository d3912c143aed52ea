#include "core/Time.h"
#include "core/Timer.h"

#include <gtest/gtest.h>

namespace GAME {
namespace {

// A machine clock the test moves by hand.
class FakeClock : public MachineClock
{
public:
    bool HasPerformanceCounter() const override { return hasCounter; }
    uint64_t GetPerformanceCounter() const override { return counter; }
    uint64_t GetPerformanceFrequency() const override { return 1000000; }
    uint32_t GetMilliseconds() const override { return milliseconds; }

    void Advance(int ms)
    {
        counter += static_cast<uint64_t>(ms) * 1000;
        milliseconds += static_cast<uint32_t>(ms);
    }

    bool hasCounter = true;
    uint64_t counter = 5000000000ull;
    uint32_t milliseconds = 123456;
};

int g_resetHookCalls = 0;

class TimeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetTimeSystem();
        SetMachineClock(&clock);
        g_resetHookCalls = 0;
        SetGameTimerResetHook([] { ++g_resetHookCalls; });
        InitializeTimeSystem();
    }
    void TearDown() override
    {
        SetGameTimerResetHook(nullptr);
        SetMachineClock(nullptr);
        ResetTimeSystem();
    }
    void Frame(int ms)
    {
        clock.Advance(ms);
        UpdateTime();
    }

    FakeClock clock;
};

TEST_F(TimeTest, GameTimeStaysZeroUntilUnpausedWhileSystemTimeAdvances)
{
    Frame(100);
    Frame(50);
    EXPECT_EQ(GetSystemTime(), 150);
    EXPECT_EQ(GetGameTime(), 0);
    EXPECT_TRUE(IsGameTimePaused());

    UnpauseGameTime();
    EXPECT_EQ(g_resetHookCalls, 1);
    Frame(40);
    EXPECT_EQ(GetGameTime(), 40);
    EXPECT_EQ(GetSystemTime(), 190);
}

TEST_F(TimeTest, PauseIsNotCountedInGameTimeNorInTheNextSmoothedDelta)
{
    UnpauseGameTime();
    GameTimer timer;
    for (int i = 0; i < 5; ++i) {
        Frame(16);
        timer.Update(true);
    }
    EXPECT_EQ(GetGameTime(), 80);
    EXPECT_EQ(timer.GetElapsedTime(), 16);

    PauseGameTime();
    Frame(5000);
    EXPECT_EQ(GetGameTime(), 80);
    UnpauseGameTime();
    Frame(16);
    timer.Update(true);
    EXPECT_EQ(GetGameTime(), 96);
    EXPECT_EQ(timer.GetElapsedTime(), 16);
}

TEST_F(TimeTest, TimeScaleMultipliesAndTruncatesEachAdvance)
{
    UnpauseGameTime();
    SetTimeScale(2.0f);
    Frame(16);
    EXPECT_EQ(GetGameTime(), 32);

    // Half speed with 1 ms frames loses the fraction of every frame.
    SetTimeScale(0.5f);
    for (int i = 0; i < 10; ++i)
        Frame(1);
    EXPECT_EQ(GetGameTime(), 32);
    SetTimeScale(1.0f);
}

TEST_F(TimeTest, GameTimeKeepsAdvancingAfterDaysOfPlay)
{
    UnpauseGameTime();
    // Three days in one-second steps, then single 16 ms frames must still count.
    for (int i = 0; i < 3 * 24 * 3600; ++i)
        Frame(1000);
    int before = GetGameTime();
    EXPECT_EQ(before, 3 * 24 * 3600 * 1000);
    Frame(16);
    EXPECT_EQ(GetGameTime(), before + 16);
}

TEST_F(TimeTest, MachineTimeFallsBackToTheMillisecondClock)
{
    clock.hasCounter = false;
    InitializeTimeSystem();
    int start = GetMachineTime();
    clock.milliseconds += 250;
    EXPECT_EQ(GetMachineTime() - start, 250);
    EXPECT_EQ(GetMachineClockTicks(), static_cast<unsigned int>(GetMachineTime()));
}

TEST_F(TimeTest, ElapsedMillisecondsUsesTheCounterFrequency)
{
    EXPECT_FLOAT_EQ(ElapsedMilliseconds(1000000, 1250000), 250.0f);
    EXPECT_FLOAT_EQ(ElapsedMilliseconds(0, 1500), 1.5f);
    EXPECT_FLOAT_EQ(ElapsedMilliseconds(1250000, 1000000), -250.0f);
    // Long intervals: ticks times a million no longer fit 64 bits.
    EXPECT_FLOAT_EQ(ElapsedMilliseconds(0, 20000000000000LL), 2.0e10f);
    EXPECT_FLOAT_EQ(ElapsedMilliseconds(-9000000000000000000LL, 9000000000000000000LL), 1.8e16f);
}

TEST_F(TimeTest, SmoothingAveragesOnlyTheLastTenDeltasAndUnsmoothedResets)
{
    SystemTimer timer;
    // Twelve frames: two long ones first, then ten of 10 ms.
    Frame(1000);
    timer.Update(true);
    Frame(1000);
    timer.Update(true);
    for (int i = 0; i < 10; ++i) {
        Frame(10);
        timer.Update(true);
    }
    EXPECT_EQ(timer.GetElapsedTime(), 10);

    Frame(30);
    timer.Update(false);
    EXPECT_EQ(timer.GetElapsedTime(), 30);
    // The history was dropped: the next smoothed frame averages itself alone.
    Frame(20);
    timer.Update(true);
    EXPECT_EQ(timer.GetElapsedTime(), 20);
}

TEST_F(TimeTest, TotalElapsedTimeCountsFromReset)
{
    SystemTimer timer;
    Frame(70);
    Frame(30);
    EXPECT_EQ(timer.GetTotalElapsedTime(), 100);
    timer.Reset();
    EXPECT_EQ(timer.GetTotalElapsedTime(), 0);
    EXPECT_EQ(timer.GetElapsedTime(), 0);
}

} // namespace
} // namespace GAME
