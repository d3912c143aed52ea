// Overlays over the software device: the boat activity's timing, layout and textures, the
// manager's ownership of it, and the pie overlay's fade, segment and rotation timings.
#include "GraphicsFixtures.h"

#include "datakit/TextureWriter.h"
#include "graphics/BoatOverlayActivity.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/OverlayActivityManager.h"
#include "graphics/PieOmatic.h"

#include <cmath>
#include <gtest/gtest.h>

namespace GAME {
namespace {

using DataKit::TextureWriter;
using Test::GraphicsFixture;

class OverlayTest : public GraphicsFixture
{
protected:
    void SetUp() override
    {
        Start();
        PutFile(BoatOverlayActivity::mapTextureName, TextureWriter::SolidDds(8, 4, 0xFF0000FFu));
        PutFile(BoatOverlayActivity::secondMapTextureName, TextureWriter::SolidDds(8, 4, 0xFF00FF00u));
        PutFile(BoatOverlayActivity::shipTextureName, TextureWriter::SolidDds(2, 2, 0xFFFF0000u));
        PutFile("ui/background.tex", TextureWriter::SolidDds(16, 16, 0xFF808080u));
        PutFile("ui/disc.tex", TextureWriter::SolidDds(8, 8, 0xFFFFFFFFu));
    }
    int References(const std::string& fileName)
    {
        return engine->GetTextureManager()->GetReferenceCount(fileName);
    }
};

TEST_F(OverlayTest, BoatCrossesTheMapInFiveSecondsAndFlipsTheMapEverySecond)
{
    BoatOverlayActivity boat(engine.get());
    boat.Update(1500);
    EXPECT_EQ(boat.GetCurrentMapTexture()->GetFileName(), std::string(BoatOverlayActivity::mapTextureName));
    boat.Update(1000);
    EXPECT_EQ(boat.GetCurrentMapTexture()->GetFileName(),
              std::string(BoatOverlayActivity::secondMapTextureName));
    EXPECT_EQ(boat.GetShipPosition(), Vec2(525.0f, 387.0f));
    boat.Update(-1000); // time does not run backwards
    EXPECT_EQ(boat.GetElapsed(), 2500);

    // Drawn: the map centred on (512, 384) at its size, then the ship at its position.
    ASSERT_TRUE(engine->GetCanvas()->BeginFrame());
    Control()->SetRecording(true);
    boat.Render(*engine->GetCanvas());
    engine->GetCanvas()->EndFrame();
    const std::vector<std::string> quads = Matching(Control()->TakeRecordedCalls(), "DrawTexturedQuad");
    ASSERT_EQ(quads.size(), 2u);
    EXPECT_EQ(quads[0].rfind("DrawTexturedQuad(508, 382, 8, 4, 0, 0, 1, 1, ffffffff", 0), 0u) << quads[0];
    EXPECT_EQ(quads[1].rfind("DrawTexturedQuad(525, 387, 2, 2, 0, 0, 1, 1, ffffffff", 0), 0u) << quads[1];

    boat.Update(2500);
    EXPECT_FALSE(boat.Finished()) << "5,000 ms is not yet past the end";
    boat.Update(1);
    EXPECT_TRUE(boat.Finished());
}

TEST_F(OverlayTest, TheManagerSkipsAFinishedBoatAndClearGivesItsTexturesBack)
{
    auto* boat = new BoatOverlayActivity(engine.get());
    const std::string ship = BoatOverlayActivity::shipTextureName;
    EXPECT_EQ(References(ship), 1);
    OverlayActivityManager manager;
    manager.AddActivity(boat);
    manager.Update(5001);
    EXPECT_TRUE(boat->Finished());
    manager.Update(1000); // skipped
    EXPECT_EQ(boat->GetElapsed(), 5001);

    ASSERT_TRUE(engine->GetCanvas()->BeginFrame());
    Control()->SetRecording(true);
    manager.Render(*engine->GetCanvas());
    engine->GetCanvas()->EndFrame();
    EXPECT_TRUE(Matching(Control()->TakeRecordedCalls(), "Draw").empty());

    manager.Clear();
    EXPECT_EQ(manager.GetNumActivities(), 0);
    for (const char* name : {BoatOverlayActivity::mapTextureName, BoatOverlayActivity::secondMapTextureName,
                             BoatOverlayActivity::shipTextureName})
        EXPECT_EQ(References(name), 0) << name;
}

TEST_F(OverlayTest, PieStartsLitAndInvisibleAndFadesInOverASecond)
{
    PieOmatic pie("ui/background.tex", "ui/disc.tex", engine.get());
    ASSERT_EQ(pie.GetSegments().size(), 30u);
    EXPECT_EQ(pie.GetFade(), 0.0f);
    for (const PieOmatic::Segment& s : pie.GetSegments()) {
        EXPECT_EQ(s.current, 1.0f);
        EXPECT_EQ(s.target, 1.0f);
    }
    // The first segment points up, the one a quarter round to the right (clockwise on screen).
    const float r = 4.0f * std::sqrt(2.0f);
    const PieOmatic::Segment& up = pie.GetSegments()[0];
    EXPECT_NEAR(up.x, 0.0f, 1e-5f);
    EXPECT_NEAR(up.y, -r, 1e-5f);
    EXPECT_NEAR(up.u, 0.5f, 1e-6f);
    EXPECT_NEAR(up.v, 0.5f - 0.5f * std::sqrt(2.0f), 1e-6f);
    pie.SetWedgeMode(true);
    ASSERT_EQ(pie.GetSegments().size(), 10u);
    EXPECT_NEAR(pie.GetSegments()[5].y, r, 1e-5f); // half round: down
    EXPECT_NEAR(pie.GetSegments()[2].x, r * std::cos(2.0f / 10.0f * 6.2831853f - 1.5707963f), 1e-5f);
    EXPECT_GT(pie.GetSegments()[2].x, 0.0f);

    pie.FadeIn();
    for (int i = 0; i < 5; ++i)
        pie.Update(100);
    EXPECT_NEAR(pie.GetFade(), 0.5f, 1e-5f);
    pie.Update(1000); // counts as 100 ms
    EXPECT_NEAR(pie.GetFade(), 0.6f, 1e-5f);
    for (int i = 0; i < 5; ++i)
        pie.Update(100);
    EXPECT_EQ(pie.GetFade(), 1.0f) << "lands on the target";
    pie.FadeOut();
    pie.Update(30);
    EXPECT_NEAR(pie.GetFade(), 0.97f, 1e-5f);
}

TEST_F(OverlayTest, PieFlipsOneSegmentEveryPeriodAndFadesItOverHalfASecond)
{
    PieOmatic pie("ui/background.tex", "ui/disc.tex", engine.get());
    EXPECT_EQ(pie.GetFlipPeriod(), 66);
    pie.Update(250); // counts as 100: one flip, 34 ms left over
    EXPECT_EQ(pie.GetTimer(), 34);
    EXPECT_EQ(pie.GetCursor(), 1);
    EXPECT_EQ(pie.GetSegments()[0].target, 0.0f);
    EXPECT_EQ(pie.GetSegments()[0].current, 1.0f) << "it starts to move at the next update";

    pie.Update(100); // 134 ms: two flips
    EXPECT_EQ(pie.GetCursor(), 3);
    EXPECT_EQ(pie.GetTimer(), 2);
    EXPECT_NEAR(pie.GetSegments()[0].current, 0.8f, 1e-6f);
    EXPECT_EQ(pie.GetSegments()[1].target, 0.0f);
    EXPECT_EQ(pie.GetSegments()[3].target, 1.0f);
    for (int i = 0; i < 4; ++i)
        pie.Update(100);
    EXPECT_EQ(pie.GetSegments()[0].current, 0.0f);
}

TEST_F(OverlayTest, WedgeModeFlipsAtMostOnceAnUpdateAndWrapsAround)
{
    PieOmatic pie("ui/background.tex", "ui/disc.tex", engine.get());
    pie.Update(100);
    pie.SetWedgeMode(true);
    EXPECT_EQ(pie.GetCursor(), 0);
    EXPECT_EQ(pie.GetFlipPeriod(), 200);
    pie.Update(450); // counts as 100
    EXPECT_EQ(pie.GetCursor(), 0);
    EXPECT_EQ(pie.GetSegments()[0].target, 1.0f);
    pie.Update(100);
    EXPECT_EQ(pie.GetCursor(), 1);
    EXPECT_EQ(pie.GetTimer(), 0);
    EXPECT_EQ(pie.GetSegments()[0].target, 0.0f);
    pie.Update(1);
    EXPECT_EQ(pie.GetSegments()[0].current, 0.0f) << "wedges change at once";

    // Ten flips a turn; the second turn lights the wedges again.
    for (int i = 0; i < 19 * 2; ++i)
        pie.Update(100);
    EXPECT_EQ(pie.GetCursor(), 0);
    EXPECT_EQ(pie.GetSegments()[0].target, 1.0f);
    EXPECT_EQ(pie.GetSegments()[9].target, 1.0f);
}

TEST_F(OverlayTest, PieWithoutTexturesRunsWithoutSegments)
{
    PieOmatic pie("ui/background.tex", "ui/disc.tex", nullptr);
    EXPECT_TRUE(pie.GetSegments().empty());
    for (int i = 0; i < 100; ++i)
        pie.Update(100);                  // flips reach no segment
    EXPECT_EQ(pie.GetCursor(), 151 % 30); // 10,000 ms: 151 flips of 66 ms
    EXPECT_EQ(pie.GetTimer(), 34);
    pie.Render(*engine->GetCanvas(), Vec2(100.0f, 100.0f));
}

} // namespace
} // namespace GAME
