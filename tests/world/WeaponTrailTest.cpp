// Weapon trails: segments follow the weapon's anchors (none for a still weapon, 16 at most, a long
// frame starts afresh), fade and are cleaned after Stop, shrink without turning over; the smoothed
// points between segments and the cut at a jump; the ribbon's vertices and indices.
#include "LevelFixtures.h"

#include "world/WeaponTrail.h"

#include <algorithm>
#include <cmath>

namespace GAME::WorldTest {
namespace {

// A weapon whose attach points stand above and below it: "Anchor1" one unit up in z, "Anchor2"
// one unit down, "Anchor3" two units up in y, "Anchor4" at the weapon; any other name is the
// weapon's own frame. With `bare` every anchor lies at the region's origin.
class TrailTestSword : public Entity
{
    GAME_DECLARE_CLASS(TrailTestSword)

public:
    WorldCoords GetAttachedCoords(const Name& name) const override
    {
        WorldCoords coords = GetCoords();
        Vec3 offset;
        if (name == Name::Create("Anchor1"))
            offset = Vec3(0.0f, 0.0f, 1.0f);
        else if (name == Name::Create("Anchor2"))
            offset = Vec3(0.0f, 0.0f, -1.0f);
        else if (name == Name::Create("Anchor3"))
            offset = Vec3(0.0f, 2.0f, 0.0f);
        else if (name != Name::Create("Anchor4"))
            return coords;
        if (bare) {
            coords.SetOrigin(WorldVec3(coords.GetRegion(), Vec3()));
            return coords;
        }
        coords.SetOrigin(WorldVec3(coords.GetRegion(), coords.GetOrigin().GetRegionPosition() + offset));
        return coords;
    }

    bool bare = false;
};

GAME_REGISTER_CLASS(TrailTestSword, Entity)

class WeaponTrailTest : public WorldFixture
{
protected:
    void SetUp() override
    {
        WorldFixture::SetUp();
        DataKit::ArzWriter writer(true);
        writer.AddRecord("records/sword.dbr").String("Class", "TrailTestSword");
        writer.AddRecord("records/trail.dbr")
            .String("Class", "WeaponTrail")
            .Int("Red256", 255)
            .Int("Alpha256", 255)
            .Float("TrailShrinkSpeed", 0.0f);
        writer.AddRecord("records/shrinking.dbr").String("Class", "WeaponTrail").Int("Alpha256", 255);
        writer.AddRecord("records/harsh.dbr")
            .String("Class", "WeaponTrail")
            .Int("Alpha256", 255)
            .Int("MSFadeTime", 0)
            .Float("TextureDistance", 0.0f)
            .Float("TrailShrinkSpeed", 0.0f);
        writer.AddRecord("records/unscaled.dbr")
            .String("Class", "WeaponTrail")
            .Int("Alpha256", 255)
            .Float("TextureDistance", 0.0f)
            .Float("TrailShrinkSpeed", 0.0f)
            .Bool("FadeAlpha", false)
            .Bool("TextureRepeat", false);
        ASSERT_TRUE(records.Load(writer.Build()));
    }

    // A sword in the level at x, with a trail of the record attached and started.
    WeaponTrail* Arm(const char* record = "records/trail.dbr", float x = 10.0f)
    {
        sword = ObjectManager::Get()->CreateObjectFromFileAs<TrailTestSword>("records/sword.dbr");
        WeaponTrail* trail = ObjectManager::Get()->CreateObjectFromFileAs<WeaponTrail>(record);
        if (!sword || !trail)
            return nullptr;
        level->AddEntity(sword, Coords::Translation(Vec3(x, 0.0f, 10.0f)));
        sword->Attach(trail, Coords(), "");
        trail->Start();
        return trail;
    }

    // The sword moved to x, then one frame.
    void Swing(float x, int elapsed = 16)
    {
        level->MoveEntity(sword, Coords::Translation(Vec3(x, 0.0f, 10.0f)));
        sword->Update(elapsed);
    }

    TrailTestSword* sword = nullptr;
};

TEST_F(WeaponTrailTest, SegmentsFollowTheWeaponSixteenAtMost)
{
    WeaponTrail* trail = Arm();
    ASSERT_NE(trail, nullptr);
    EXPECT_EQ(trail->GetColor(), Color(1.0f, 0.0f, 0.0f, 1.0f));
    EXPECT_EQ(trail->GetFadeTime(), 500);
    EXPECT_EQ(trail->GetTextureName(), "System/Textures/White.tex");
    EXPECT_EQ(trail->GetShaderName(), "Shaders/Effects/TrailAdditive.ssh");
    for (int i = 0; i < 3; ++i)
        Swing(10.0f);
    ASSERT_EQ(trail->GetSegments().size(), 1u) << "a still weapon adds no segment";
    EXPECT_EQ(trail->GetUpperAnchor(), Vec3(10.0f, 0.0f, 11.0f));
    EXPECT_EQ(trail->GetLowerAnchor(), Vec3(10.0f, 0.0f, 9.0f));

    for (int i = 1; i <= 20; ++i)
        Swing(10.0f + 0.5f * static_cast<float>(i));
    ASSERT_EQ(trail->GetSegments().size(), 16u) << "the 17th is refused";
    EXPECT_EQ(trail->GetSegments().back().upper.x, 17.5f);
    EXPECT_FLOAT_EQ(trail->GetSegments().back().texCoord, 7.5f)
        << "half a unit a segment, one texture a unit";
    EXPECT_EQ(trail->GetSegments().back().red, 1.0f);

    Swing(30.0f, 300);
    ASSERT_EQ(trail->GetSegments().size(), 1u) << "a frame over 250 ms starts afresh";
    EXPECT_EQ(trail->GetSegments()[0].upper.x, 30.0f);
    EXPECT_FLOAT_EQ(trail->GetSegments()[0].alpha, 0.4f);
    EXPECT_TRUE(trail->GetPoints().empty());

    // The other point set, and a weapon without anchors of its own.
    trail->SetPointSetIndex(1);
    Swing(31.0f);
    EXPECT_EQ(trail->GetUpperAnchor(), Vec3(31.0f, 2.0f, 10.0f));
    EXPECT_EQ(trail->GetLowerAnchor(), Vec3(31.0f, 0.0f, 10.0f));
    sword->bare = true;
    Swing(32.0f);
    EXPECT_EQ(trail->GetUpperAnchor(), Vec3(0.0f, 0.0f, 0.0f));
    EXPECT_EQ(trail->GetLowerAnchor(), Vec3(0.0f, 0.0f, -1.0f));
}

TEST_F(WeaponTrailTest, StopFadesTheTrailAwayAndCleansIt)
{
    WeaponTrail* trail = Arm();
    ASSERT_NE(trail, nullptr);
    float x = 10.0f;
    for (int i = 0; i < 6; ++i)
        Swing(x += 0.5f);
    ASSERT_GE(trail->GetPoints().size(), 2u);
    trail->Stop();
    EXPECT_FALSE(trail->IsStarted());
    Swing(x += 0.5f);
    EXPECT_EQ(trail->GetSegments().back().alpha, 0.0f) << "new segments carry no alpha";
    auto brightest = [trail] {
        float alpha = 0.0f;
        for (const WeaponTrail::Segment& segment : trail->GetSegments())
            alpha = std::max(alpha, segment.alpha);
        return alpha;
    };
    float before = brightest();
    for (int i = 0; i < 40; ++i) {
        Swing(x += 0.5f);
        const float now = brightest();
        EXPECT_LE(now, before);
        before = now;
    }
    EXPECT_EQ(before, 0.0f) << "gone within the fade time";
    EXPECT_EQ(trail->GetSegments().size(), 1u) << "faded segments are cleaned";
    EXPECT_TRUE(trail->GetPoints().empty());
    std::vector<EffectVertex> vertices;
    std::vector<uint32_t> indices;
    EXPECT_FALSE(trail->BuildGeometry(Coords(), vertices, indices));
}

TEST_F(WeaponTrailTest, SegmentsShrinkToTheirMiddleWithoutTurningOver)
{
    WeaponTrail* trail = Arm("records/shrinking.dbr");
    ASSERT_NE(trail, nullptr);
    EXPECT_EQ(trail->GetShrinkSpeed(), 7.0f);
    Swing(10.0f, 100); // f = 1 - 0.1 * 7 = 0.3
    ASSERT_EQ(trail->GetSegments().size(), 1u);
    EXPECT_NEAR(trail->GetSegments()[0].upper.z, 10.3f, 1e-5f);
    Swing(11.0f, 200); // f would be -0.4: held at 0, the ribbon collapses onto its middle
    for (const WeaponTrail::Segment& segment : trail->GetSegments()) {
        EXPECT_NEAR(segment.upper.z, 10.0f, 1e-5f);
        EXPECT_NEAR(segment.lower.z, 10.0f, 1e-5f);
    }
}

TEST_F(WeaponTrailTest, CatmullRomPointsBetweenSegmentsAndTheCutAtAJump)
{
    WeaponTrail* trail = Arm();
    ASSERT_NE(trail, nullptr);
    Swing(10.0f);
    Swing(10.5f);
    Swing(11.0f);
    Swing(11.5f);
    ASSERT_EQ(trail->GetSegments().size(), 4u);
    // Half a unit between segments: five points each, the last on the later segment.
    const std::vector<WeaponTrail::Segment>& points = trail->GetPoints();
    ASSERT_EQ(points.size(), 1u + 3u * 5u);
    EXPECT_EQ(points.front().upper, trail->GetSegments().front().upper);
    for (size_t i = 1; i <= 3; ++i) {
        const WeaponTrail::Segment& at = points[i * 5];
        EXPECT_NEAR((at.upper - trail->GetSegments()[i].upper).Length(), 0.0f, 1e-5f);
        EXPECT_NEAR((at.lower - trail->GetSegments()[i].lower).Length(), 0.0f, 1e-5f);
        EXPECT_NEAR(at.texCoord, trail->GetSegments()[i].texCoord, 1e-5f);
    }
    // Evenly spaced segments on a line: the spline keeps the points on it, evenly spaced too.
    for (size_t i = 1; i < points.size(); ++i) {
        EXPECT_NEAR(points[i].upper.x - points[i - 1].upper.x, 0.1f, 1e-4f);
        EXPECT_NEAR(points[i].upper.z, 11.0f, 1e-5f);
    }

    Swing(24.0f); // the weapon jumped 12.5 units
    Swing(24.5f);
    ASSERT_EQ(trail->GetSegments().size(), 6u);
    EXPECT_EQ(trail->GetPoints().size(), 16u) << "the ribbon ends before the jump";

    // Segments a twentieth of a unit apart still reach each other, one point a pair.
    WeaponTrail* close = Arm("records/trail.dbr", 50.0f);
    ASSERT_NE(close, nullptr);
    Swing(50.0f);
    Swing(50.05f);
    Swing(50.1f);
    ASSERT_EQ(close->GetSegments().size(), 3u);
    EXPECT_EQ(close->GetPoints().size(), 3u);
}

TEST_F(WeaponTrailTest, RibbonVerticesRunFromTheNewestPoint)
{
    WeaponTrail* trail = Arm();
    ASSERT_NE(trail, nullptr);
    Swing(10.0f);
    Swing(10.5f);
    Swing(11.0f);
    std::vector<EffectVertex> vertices;
    std::vector<uint32_t> indices;
    const Coords regionToScene = Coords::Translation(Vec3(0.0f, -5.0f, 0.0f));
    ASSERT_TRUE(trail->BuildGeometry(regionToScene, vertices, indices));
    const size_t count = trail->GetPoints().size();
    ASSERT_EQ(vertices.size(), count * 2);
    ASSERT_EQ(indices.size(), (count - 1) * 6);
    EXPECT_EQ(vertices[0].position, Vec3(11.0f, -5.0f, 11.0f)) << "the newest upper point first";
    EXPECT_EQ(vertices[1].position, Vec3(11.0f, -5.0f, 9.0f));
    EXPECT_EQ(vertices[0].v, 0.0f);
    EXPECT_EQ(vertices[1].v, 1.0f);
    EXPECT_NEAR(vertices[2].u, 0.1f, 1e-5f) << "dragged: the distance walked from the newest point";
    EXPECT_EQ(vertices[0].color & 0x00FFFFFFu, 0x00FF0000u);
    for (uint32_t k = 0; k + 1 < count; ++k) {
        const uint32_t* quad = &indices[k * 6];
        EXPECT_EQ(quad[0], 2 * k + 2);
        EXPECT_EQ(quad[1], 2 * k + 3);
        EXPECT_EQ(quad[2], 2 * k + 1);
        EXPECT_EQ(quad[3], 2 * k);
        EXPECT_EQ(quad[4], 2 * k + 2);
        EXPECT_EQ(quad[5], 2 * k + 1);
    }
    EXPECT_LE(vertices.size() * sizeof(EffectVertex), 24000u);
    EXPECT_EQ(trail->GetRenderPassSortOrder(0, Name(), RenderGenerationId()), 1050);
    EXPECT_EQ(trail->GetRegionBoundingBox(), ABBox(Vec3(11.0f, 0.0f, 10.0f), Vec3(1.0f, 1.0f, 1.0f)));
}

TEST_F(WeaponTrailTest, AFadeTimeAndATextureDistanceOfZeroDivideNothing)
{
    WeaponTrail* trail = Arm("records/harsh.dbr");
    ASSERT_NE(trail, nullptr);
    EXPECT_EQ(trail->GetFadeTime(), 0);
    EXPECT_EQ(trail->GetTextureDistance(), 0.0f);
    Swing(10.0f);
    Swing(10.5f);
    Swing(11.0f);
    for (const WeaponTrail::Segment& segment : trail->GetSegments()) {
        EXPECT_EQ(segment.alpha, 0.0f) << "no fade time: the alpha is gone at once";
        EXPECT_EQ(segment.texCoord, 0.0f);
    }
    EXPECT_EQ(trail->GetSegments().size(), 1u) << "faded at once, and cleaned";

    WeaponTrail* unscaled = Arm("records/unscaled.dbr", 40.0f);
    ASSERT_NE(unscaled, nullptr);
    Swing(40.5f);
    Swing(41.0f);
    std::vector<EffectVertex> vertices;
    std::vector<uint32_t> indices;
    ASSERT_TRUE(unscaled->BuildGeometry(Coords(), vertices, indices));
    const std::vector<WeaponTrail::Segment>& points = unscaled->GetPoints();
    ASSERT_EQ(vertices.size(), points.size() * 2);
    for (size_t k = 0; k < vertices.size(); ++k) {
        EXPECT_EQ(vertices[k].u, 0.0f) << "no texture distance: the texture does not run";
        // Nor does it run out: no point is hidden as past the texture's one showing.
        const float alpha = points[points.size() - 1 - k / 2].alpha;
        EXPECT_EQ(vertices[k].color >> 24, static_cast<uint32_t>(std::lround(alpha * 255.0f)));
    }
    EXPECT_EQ(vertices[0].color >> 24, 255u);
}

TEST_F(WeaponTrailTest, ATrailWithoutAWeaponUsesTheDefaultAnchors)
{
    WeaponTrail* trail = ObjectManager::Get()->CreateObjectFromFileAs<WeaponTrail>("records/trail.dbr");
    ASSERT_NE(trail, nullptr);
    level->AddEntity(trail, Coords::Translation(Vec3(5.0f, 0.0f, 5.0f)));
    trail->Start();
    trail->Update(16);
    EXPECT_EQ(trail->GetUpperAnchor(), Vec3(0.0f, 0.0f, 0.0f));
    EXPECT_EQ(trail->GetLowerAnchor(), Vec3(0.0f, 0.0f, -1.0f));
    EXPECT_EQ(trail->GetSegments().size(), 1u);
    level->MoveEntity(trail, Coords::Translation(Vec3(6.0f, 0.0f, 5.0f)));
    trail->Update(16);
    EXPECT_EQ(trail->GetSegments().size(), 1u) << "the anchors do not move with the trail itself";
    EXPECT_EQ(trail->GetRegionBoundingBox(), ABBox(Vec3(6.0f, 0.0f, 5.0f), Vec3(1.0f, 1.0f, 1.0f)));
}

} // namespace
} // namespace GAME::WorldTest
