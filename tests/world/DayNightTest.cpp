#include "core/Time.h"
#include "world/DayNightManager.h"

#include <cmath>
#include <gtest/gtest.h>

namespace GAME {
namespace {

class DayClock : public MachineClock
{
public:
    bool HasPerformanceCounter() const override { return true; }
    uint64_t GetPerformanceCounter() const override { return counter; }
    uint64_t GetPerformanceFrequency() const override { return 1000; }
    uint32_t GetMilliseconds() const override { return static_cast<uint32_t>(counter); }
    uint64_t counter = 1000;
};

class DayNightTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetTimeSystem();
        SetMachineClock(&clock);
        InitializeTimeSystem();
        UnpauseGameTime();
        DayNightManager::Destroy();
        dayNight = DayNightManager::Get();
    }
    void TearDown() override
    {
        DayNightManager::Destroy();
        SetMachineClock(nullptr);
        ResetTimeSystem();
    }
    void Play(uint64_t ms)
    {
        clock.counter += ms;
        UpdateTime();
    }

    DayClock clock;
    DayNightManager* dayNight = nullptr;
};

TEST_F(DayNightTest, TwoGameMinutesMakeOneHour)
{
    Play(5000);
    EXPECT_FLOAT_EQ(dayNight->GetTimeInHours(), 9.0f); // the first reading only stamps the clock
    Play(120000);
    EXPECT_NEAR(dayNight->GetTimeInHours(), 10.0f, 1e-4);

    dayNight->Enable(false);
    Play(120000);
    EXPECT_NEAR(dayNight->GetTimeInHours(), 10.0f, 1e-4);
    dayNight->Enable(true);
    EXPECT_NEAR(dayNight->GetTimeInHours(), 10.0f, 1e-4); // no jump for the time disabled
    Play(60000);
    EXPECT_NEAR(dayNight->GetTimeInHours(), 10.5f, 1e-4);

    dayNight->SetTime(25.5f);
    EXPECT_FLOAT_EQ(dayNight->GetTimeInHours(), 1.5f);
    dayNight->SetTime(-1.0f);
    EXPECT_FLOAT_EQ(dayNight->GetTimeInHours(), 23.0f);
}

TEST_F(DayNightTest, TimeKeepsAdvancingAfterLongPlay)
{
    dayNight->GetTimeInHours();
    // A thousand game hours in frames of 16 ms would take long; whole minutes show the same drift.
    for (int i = 0; i < 30000; ++i) {
        Play(120000);
        dayNight->GetTimeInHours();
    }
    const float before = dayNight->GetTimeInHours();
    Play(16);
    const float after = dayNight->GetTimeInHours();
    EXPECT_NEAR(before, 9.0f, 1e-2); // 30000 whole hours later
    EXPECT_NEAR(after - before, 16.0f * 30.0f / 3600000.0f, 2e-6);
}

TEST_F(DayNightTest, SpansAcrossMidnight)
{
    float f = -1.0f;
    EXPECT_TRUE(dayNight->IsTimeBetween(1.0f, 23.0f, 2.0f, f));
    EXPECT_FLOAT_EQ(f, 2.0f / 3.0f);
    EXPECT_FALSE(dayNight->IsTimeBetween(2.0f, 23.0f, 2.0f, f));
    EXPECT_TRUE(dayNight->IsTimeBetween(23.0f, 23.0f, 2.0f, f));
    EXPECT_FLOAT_EQ(f, 0.0f);
    EXPECT_FALSE(dayNight->IsTimeBetween(5.0f, 5.0f, 5.0f, f));
    EXPECT_TRUE(std::isfinite(f));

    EXPECT_FLOAT_EQ(DayNightManager::ParseClockTime("12:30 PM"), 12.5f);
    EXPECT_FLOAT_EQ(DayNightManager::ParseClockTime("12:30 am"), 0.5f);
    EXPECT_NEAR(DayNightManager::ParseClockTime(" 2:01 AM"), 2.0f + 1.0f / 60.0f, 1e-6);
    EXPECT_FLOAT_EQ(DayNightManager::ParseClockTime("10:59 pm"), 22.0f + 59.0f / 60.0f);
    EXPECT_FLOAT_EQ(DayNightManager::ParseClockTime("7:15"), 0.0f);
}

TEST_F(DayNightTest, LightFollowsTheKeysAndTheSun)
{
    const Color key(0.94f, 0.82f, 0.65f, 1.0f);
    for (float hours : {9.0f, 17.0f}) {
        dayNight->SetTime(hours);
        EXPECT_EQ(dayNight->GetLightColor(), key) << hours;
    }
    dayNight->SetTime(9.0f);
    EXPECT_EQ(dayNight->GetSkyAmbientColor(), Color(0.52f, 0.56f, 0.64f, 1.0f));
    EXPECT_EQ(dayNight->GetGroundAmbientColor(), Color(0.45f, 0.29f, 0.18f, 1.0f));
    // Between 3:10 AM and 9:00 AM the spline overshoots and is held to [0, 1].
    dayNight->SetTime(4.0f);
    const Color early = dayNight->GetLightColor();
    EXPECT_LE(early.r, 1.0f);
    EXPECT_GE(early.b, 0.0f);
    EXPECT_EQ(early.a, 1.0f);
    // Halfway between the equal 9:00 AM and 5:00 PM keys the 3:10 AM and 6:00 PM keys still bend
    // the curve.
    dayNight->SetTime(13.0f);
    EXPECT_NEAR(dayNight->GetLightColor().r, 0.93625f, 1e-5);
    EXPECT_NEAR(dayNight->GetLightColor().g, 0.823125f, 1e-5);

    // Noon-ish: the sun is high; in the gaps around sunrise and sunset nothing shines.
    dayNight->SetTime(12.5f);
    EXPECT_GT(dayNight->GetLightDirection().y, 0.99f);
    EXPECT_TRUE(dayNight->IsDay());
    for (float hours : {2.005f, 22.99f}) {
        dayNight->SetTime(hours);
        EXPECT_EQ(dayNight->GetLightDirection(), Vec3(0, 1, 0)) << hours;
    }
    dayNight->SetTime(1.0f);
    EXPECT_FALSE(dayNight->IsDay());
    EXPECT_LT(dayNight->GetLightDirection().y, 1.0f);

    // A table emptied and refilled with one key answers that key everywhere.
    dayNight->ClearLightSetups();
    EXPECT_EQ(dayNight->GetLightColor(), Color(0, 0, 0, 1));
    dayNight->SetLightSetup(30.0f, Color(0.5f, 0.5f, 0.5f, 1), Color(), Color());
    EXPECT_EQ(dayNight->GetInterpolatedLightSetup(20.0f).lightColor, Color(0.5f, 0.5f, 0.5f, 1));
}

} // namespace
} // namespace GAME
