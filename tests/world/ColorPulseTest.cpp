// Colour pulses: the swing sequence, the final swing with and without a default colour, a pulse
// time of 0, synchronising, and records read with their blue and green names in stored order.
#include "world/ColorPulse.h"
#include "common/RecordServices.h"
#include "core/ObjectManager.h"
#include "datakit/ArzWriter.h"

#include <gtest/gtest.h>

namespace GAME {
namespace {

const Color kRed(1.0f, 0.0f, 0.0f, 1.0f);
const Color kBlue(0.0f, 0.0f, 1.0f, 1.0f);

void ExpectColor(const Color& actual, const Color& expected, const char* what)
{
    EXPECT_NEAR(actual.r, expected.r, 1e-5f) << what;
    EXPECT_NEAR(actual.g, expected.g, 1e-5f) << what;
    EXPECT_NEAR(actual.b, expected.b, 1e-5f) << what;
    EXPECT_NEAR(actual.a, expected.a, 1e-5f) << what;
}

class ColorPulseTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ObjectManager::Destroy();
        DataKit::ArzWriter writer(true);
        writer.AddRecord("records/pulse.dbr")
            .Int("pulseTime", 100)
            .Int("numberOfCycles", 1)
            .Float("pulseColorARed", 1.0f)
            .Float("pulseColorAAlpha", 1.0f)
            .Float("pulseColorBBlue", 1.0f)
            .Float("pulseColorBAlpha", 1.0f)
            .Float("defaultPulseColorRed", 0.0f)
            .Float("defaultPulseColorBlue", 1.0f)
            .Float("defaultPulseColorGreen", 0.0f)
            .Float("defaultPulseColorAlpha", 0.5f);
        writer.AddRecord("records/nodefault.dbr")
            .Int("pulseTime", 100)
            .Int("numberOfCycles", 1)
            .Float("pulseColorARed", 1.0f)
            .Float("pulseColorBGreen", 1.0f);
        writer.AddRecord("records/bluename.dbr").Float("pulseColorABlue", 1.0f);
        ASSERT_TRUE(records.Load(writer.Build()));
    }
    void TearDown() override { ObjectManager::Destroy(); }

    GAME::Test::RecordServices records;
};

TEST_F(ColorPulseTest, SwingsFromBToAAndBack)
{
    ColorPulse pulse(1000, kRed, kBlue);
    EXPECT_TRUE(pulse.IsPulsing());
    ExpectColor(pulse.Update(16), kBlue, "the first update shows colour B");
    EXPECT_FALSE(pulse.IsRising());
    EXPECT_EQ(pulse.GetRemaining(), 1000);
    EXPECT_EQ(pulse.GetCyclesDone(), 1);
    ExpectColor(pulse.Update(500), Color(0.5f, 0.0f, 0.5f, 1.0f), "half way back to A");
    ExpectColor(pulse.Update(500), kRed, "at A");
    EXPECT_TRUE(pulse.IsRising());
    ExpectColor(pulse.Update(250), Color(0.75f, 0.0f, 0.25f, 1.0f), "a quarter of the way to B");
    ExpectColor(pulse.GetCurrentColor(), Color(0.75f, 0.0f, 0.25f, 1.0f), "kept");

    pulse.Reset();
    EXPECT_EQ(pulse.GetRemaining(), 1000);
    EXPECT_EQ(pulse.GetCyclesDone(), 0);

    // A pulse time of 0: t is always 0, so A on falling updates and B on rising ones, flipping on
    // every update.
    ColorPulse still(0, kRed, kBlue);
    ExpectColor(still.Update(16), kBlue, "rising");
    ExpectColor(still.Update(16), kRed, "falling");
    ExpectColor(still.Update(16), kBlue, "rising again");
    ExpectColor(still.Update(0), kRed, "even without time passing");
}

TEST_F(ColorPulseTest, TheFinalSwingEndsOnTheDefaultColourOrEndsThePulse)
{
    ColorPulse pulse("records/pulse.dbr");
    EXPECT_EQ(pulse.GetPulseTime(), 100);
    EXPECT_EQ(pulse.GetNumberOfCycles(), 1);
    const Color green(0.0f, 1.0f, 0.0f, 0.5f);
    ExpectColor(pulse.GetDefaultColor(), green, "the default's Blue name fills its second component");
    pulse.Update(100); // B, remaining back to 100: one cycle done
    ExpectColor(pulse.Update(100), kRed, "back at A");
    EXPECT_EQ(pulse.GetCyclesDone(), 1);
    ExpectColor(pulse.Update(50), Color(0.5f, 0.5f, 0.0f, 0.75f),
                "the final swing heads for the default colour, not B");
    EXPECT_TRUE(pulse.IsPulsing());
    ExpectColor(pulse.Update(50), green, "and ends on it");
    EXPECT_FALSE(pulse.IsPulsing());

    ColorPulse plain("records/nodefault.dbr");
    plain.Update(100);
    const Color atA = plain.Update(100);
    EXPECT_EQ(plain.GetCyclesDone(), 1);
    ExpectColor(plain.Update(50), atA, "without a default the final swing leaves the colour");
    EXPECT_EQ(plain.GetCyclesDone(), 2);
    EXPECT_FALSE(plain.IsPulsing());
    ExpectColor(plain.Update(50), Color(0.0f, 0.0f, 1.0f, 0.0f), "and the colour swings on to B");
}

TEST_F(ColorPulseTest, RecordsKeepTheirStoredComponentOrderAndSyncClamps)
{
    ColorPulse named("records/bluename.dbr");
    ExpectColor(named.GetColorA(), Color(0.0f, 1.0f, 0.0f, 0.0f),
                "\"pulseColorABlue\" is the second component");
    EXPECT_EQ(named.GetNumberOfCycles(), -1);
    EXPECT_EQ(named.GetDefaultColor().r, -1.0f);

    {
        ColorPulse missing("records/none.dbr"); // every field takes its default
        EXPECT_EQ(missing.GetPulseTime(), 0);
        EXPECT_EQ(missing.GetNumberOfCycles(), -1);
        EXPECT_TRUE(missing.IsPulsing());
    }

    ColorPulse fast(100, kRed, kBlue);
    ColorPulse slow(1000, kRed, kBlue);
    slow.Update(16);
    slow.Update(100); // remaining 900, falling
    fast.Update(16);  // one cycle done
    fast.SyncToColorPulse(&slow);
    EXPECT_EQ(fast.GetRemaining(), 100) << "held to this pulse's time";
    EXPECT_FALSE(fast.IsRising());
    EXPECT_EQ(fast.GetCyclesDone(), 0);
    fast.SyncToColorPulse(nullptr);
    EXPECT_EQ(fast.GetRemaining(), 100);

    ColorPulse copy = slow;
    EXPECT_EQ(copy.GetRemaining(), slow.GetRemaining());
    ExpectColor(copy.Update(450), slow.Update(450), "a copy swings alike");
}

} // namespace
} // namespace GAME
