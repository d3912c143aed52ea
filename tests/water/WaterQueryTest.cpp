// What the world asks of the water: ray hits, contacts, the surface above a point, and the ripples
// that disturbances start.
#include "WaterFixtures.h"

#include "core/Intersection.h"
#include "core/Ray.h"
#include "navigation/CollisionContact.h"
#include "terrain/WaterLayer.h"

namespace GAME::WaterTest {
namespace {

class WaterQueryTest : public WaterTestBase
{
protected:
    // A lake at height 4 over flat ground at 0, painted around (18, 18) with radius 10.
    Water& Lake()
    {
        Water& water = MakeWater(36, [](float, float) { return 0.0f; });
        WaterType* type = Type("Lake");
        type->ScrollSpeed() = 2.0f;
        WaterLayer* layer = water.AddWaterLayer("Lake", 4.0f);
        layer->UpdateArea(Vec3(18.0f, 0.0f, 18.0f), 10.0f, true);
        return water;
    }
};

TEST_F(WaterQueryTest, RaysHitTheSurfaceUnlessTheFilterExcludesWater)
{
    Water& water = Lake();
    const Ray down(Vec3(18.0f, 20.0f, 18.0f), Vec3(0.0f, -1.0f, 0.0f));
    Intersection hit;
    ASSERT_TRUE(water.GetIntersection(down, hit, physicsSurfaceAny));
    EXPECT_FLOAT_EQ(hit.distance, 16.0f);
    EXPECT_EQ(hit.point, Vec3(18.0f, 4.0f, 18.0f));
    EXPECT_EQ(hit.surface, PHYSICS_SURFACE_WATER);
    for (PhysicsSurface filter : {PHYSICS_SURFACE_UNWALKABLE, PHYSICS_SURFACE_WATER}) {
        Intersection none(1.0f, Vec3(1.0f, 1.0f, 1.0f), 3);
        EXPECT_FALSE(water.GetIntersection(down, none, filter));
        EXPECT_EQ(none.distance, gInfinity);
        EXPECT_EQ(none.point, Vec3());
    }
    // From below the surface up, and beside the painted water.
    ASSERT_TRUE(water.GetIntersection(Ray(Vec3(18.0f, 1.0f, 18.0f), Vec3(0.0f, 1.0f, 0.0f)), hit, 2));
    EXPECT_FLOAT_EQ(hit.distance, 3.0f);
    EXPECT_FALSE(water.GetIntersection(Ray(Vec3(2.0f, 20.0f, 2.0f), Vec3(0.0f, -1.0f, 0.0f)), hit, 2));
    EXPECT_FALSE(water.GetIntersection(Ray(Vec3(18.0f, 20.0f, 18.0f), Vec3(1.0f, 0.0f, 0.0f)), hit, 2));
}

TEST_F(WaterQueryTest, ABoxReachingTheSurfaceGetsOneContact)
{
    Water& water = Lake();
    CollisionContact contacts[2];
    const OBBox wading(Vec3(0.5f, 1.0f, 0.5f), Coords::Translation(Vec3(18.0f, 3.5f, 18.0f)));
    ASSERT_EQ(water.FindCollisions(wading, contacts, 2, physicsSurfaceAny), 1);
    EXPECT_EQ(contacts[0].position, Vec3(18.0f, 4.0f, 18.0f));
    EXPECT_EQ(contacts[0].normal, Vec3(0.0f, 1.0f, 0.0f));
    EXPECT_FLOAT_EQ(contacts[0].depth, 1.5f);
    EXPECT_EQ(contacts[0].surface, PHYSICS_SURFACE_WATER);
    EXPECT_EQ(contacts[0].object, 0u);
    // Wholly under the surface, above it, without room or with water filtered out: none.
    const OBBox sunk(Vec3(0.5f, 1.0f, 0.5f), Coords::Translation(Vec3(18.0f, 1.0f, 18.0f)));
    const OBBox flying(Vec3(0.5f, 1.0f, 0.5f), Coords::Translation(Vec3(18.0f, 8.0f, 18.0f)));
    EXPECT_EQ(water.FindCollisions(sunk, contacts, 2, physicsSurfaceAny), 0);
    EXPECT_EQ(water.FindCollisions(flying, contacts, 2, physicsSurfaceAny), 0);
    EXPECT_EQ(water.FindCollisions(wading, contacts, 0, physicsSurfaceAny), 0);
    EXPECT_EQ(water.FindCollisions(wading, nullptr, 2, physicsSurfaceAny), 0);
    EXPECT_EQ(water.FindCollisions(wading, contacts, 2, PHYSICS_SURFACE_WATER), 0);
    EXPECT_EQ(water.FindCollisions(static_cast<const Entity*>(nullptr), contacts, 2, nullptr, 2), 0);

    std::vector<CollisionBox> boxes = {CollisionBox(wading), CollisionBox(flying)};
    water.FindCollisions(boxes, ABBox(), physicsSurfaceAny);
    EXPECT_EQ(boxes[0].GetQuery().GetNumContacts(), 1);
    EXPECT_EQ(boxes[1].GetQuery().GetNumContacts(), 0);

    // The surface above a point and the lake's flow (direction 0: along x).
    Vec3 surface, velocity;
    ASSERT_TRUE(water.GetWaterPointInfo(Vec3(18.0f, 2.0f, 18.0f), surface, velocity));
    EXPECT_EQ(surface, Vec3(18.0f, 4.0f, 18.0f));
    EXPECT_NEAR(velocity.x, 2.0f, 1e-5f);
    EXPECT_FALSE(water.GetWaterPointInfo(Vec3(18.0f, 5.0f, 18.0f), surface, velocity));
    EXPECT_EQ(surface, Vec3());
}

TEST_F(WaterQueryTest, DisturbancesStartRipplesNearTheSurfaceOnly)
{
    Water& water = Lake();
    WaterRippleSet& ripples = water.GetRippleSet();
    water.CreateRipple(Vec3(18.0f, 1.0f, 18.0f), 1.0f, 1.0f, 0); // 3 under the surface
    EXPECT_EQ(ripples.GetNumActive(), 0u);
    water.CreateRipple(Vec3(18.0f, 3.0f, 18.0f), 1.0f, 0.5f, 0); // too weak
    EXPECT_EQ(ripples.GetNumActive(), 0u);
    water.CreateRipple(Vec3(18.0f, 3.0f, 18.0f), 1.0f, 1.0f, 0); // 1 under
    ASSERT_EQ(ripples.GetNumActive(), 1u);
    const WaterRippleSet::Ripple& ripple = ripples.GetRipple(0);
    EXPECT_NEAR(ripple.position.y, 4.01f, 1e-5f);
    EXPECT_NEAR(ripple.position.x, 18.0f, 0.2f);
    EXPECT_NEAR(ripple.radius, 0.5f, 0.2f);
    EXPECT_NEAR(ripple.maxRadius, 4.0f, 0.2f);
    water.CreateRipple(Vec3(18.0f, 6.0f, 18.0f), 1.0f, 1.0f, 0); // above the surface
    EXPECT_EQ(ripples.GetNumActive(), 2u);
}

TEST_F(WaterQueryTest, RipplesGrowForAboutThreeAndAHalfSecondsAndTheTableIsBounded)
{
    Water& water = Lake();
    WaterRippleSet& ripples = water.GetRippleSet();
    ASSERT_NE(ripples.GetVertexBuffer(), nullptr);
    ASSERT_TRUE(ripples.AddRipple(Vec3(10.0f, 4.0f, 10.0f), 0.5f, 4.0f));
    const WaterRippleSet::Ripple first = ripples.GetRipple(0);
    int lived = 0;
    uint32_t lastAlpha = 255;
    while (ripples.GetNumActive() > 0 && lived < 10000) {
        water.Update(16);
        lived += 16;
        const auto* quad = static_cast<const WaterVertex*>(ripples.GetVertexBuffer()->Lock());
        const uint32_t alpha = quad[0].color >> 24;
        ripples.GetVertexBuffer()->Unlock();
        EXPECT_LE(alpha, lastAlpha);
        lastAlpha = alpha;
    }
    // (maximum - start) / 0.001 per millisecond.
    EXPECT_NEAR(lived, (first.maxRadius - first.radius) * 1000.0f, 17.0f);
    EXPECT_NEAR(lived, 3500, 420);
    EXPECT_EQ(lastAlpha, 0u);            // faded out a little before the end
    EXPECT_EQ(ripples.GetNumLive(), 1u); // the last quad was still written
    water.Update(16);
    EXPECT_EQ(ripples.GetNumLive(), 0u);

    for (unsigned i = 0; i < WaterRippleSet::maxRipples; ++i)
        ASSERT_TRUE(ripples.AddRipple(Vec3(10.0f, 4.0f, 10.0f), 0.5f, 4.0f));
    EXPECT_FALSE(ripples.AddRipple(Vec3(10.0f, 4.0f, 10.0f), 0.5f, 4.0f));
    water.Update(16);
    EXPECT_EQ(ripples.GetNumLive(), WaterRippleSet::maxRipples);

    // A ring that cannot reach a size is refused rather than divided by.
    WaterRippleSet spare;
    EXPECT_FALSE(spare.AddRipple(Vec3(), 0.5f, -1.0f));
    EXPECT_FALSE(spare.AddRipple(Vec3(), 0.5f, -0.2f));
    EXPECT_EQ(spare.GetNumActive(), 0u);
}

} // namespace
} // namespace GAME::WaterTest
