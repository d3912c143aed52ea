#include "core/MathUtil.h"
#include "core/WorldABBox.h"
#include "core/WorldCoords.h"
#include "core/WorldFrustum.h"
#include "core/WorldVec3.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/ChunkedBinaryWriter.h"
#include "scene/SceneWorldServices.h"
#include "world/Portal.h"
#include "world/Region.h"
#include "world/World.h"

#include "MathTestUtil.h"

#include <climits>
#include <gtest/gtest.h>

namespace GAME {
namespace {

using GAME::Test::Near;

constexpr float kHalfPi = 1.57079633f;

// Regions A and C touch at world x = 20; B lies far away and is reached through a portal pair
// that maps A's space onto B's by a shift of -15 along x.
class WorldPositionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const ABBox box(Vec3(), Vec3(20.0f, 20.0f, 20.0f));
        a = Add("a", IntVec3(0, 0, 0), box);
        b = Add("b", IntVec3(1000, 0, 0), box);
        c = Add("c", IntVec3(40, 0, 0), box);
        World::SetCurrent(&world);
    }
    void TearDown() override { World::SetCurrent(nullptr); }

    Region* Add(const char* name, const IntVec3& offset, const ABBox& box)
    {
        return world.GetRegion(world.AddRegion(name, offset, box, RegionId()));
    }

    static Portal* MakePortal(Region* region, const UniqueId& id, const Vec3& at, Region* to,
                              const UniqueId& toPortal)
    {
        Portal* portal = region->CreatePortal();
        portal->SetId(id);
        // A square in the frame's x = 0 plane, facing -x.
        const Vec3 p0(0, -2, -2), p1(0, -2, 2), p2(0, 2, -2), p3(0, 2, 2);
        portal->SetTriangles({Triangle(p0, p1, p2), Triangle(p2, p1, p3)});
        portal->SetCoords(Coords::Translation(at));
        portal->SetConnectedRegionId(to->GetId());
        portal->SetConnectedPortalId(toPortal);
        return portal;
    }

    World world;
    Region* a = nullptr;
    Region* b = nullptr;
    Region* c = nullptr;
};

TEST_F(WorldPositionTest, CrossRegionDifferencesKeepPrecision)
{
    Region* far = Add("far", IntVec3(1000000, 0, 0), ABBox());
    EXPECT_EQ(WorldVec3(far, Vec3(0.5f, 0, 0)) - WorldVec3(a, Vec3(0.25f, 0, 0)), Vec3(1000000.25f, 0, 0));

    // Offsets of opposite sign near the 32-bit limits do not wrap.
    Region* east = Add("east", IntVec3(2000000000, 0, 0), ABBox());
    Region* west = Add("west", IntVec3(-2000000000, 0, 0), ABBox());
    EXPECT_EQ(WorldVec3(east, Vec3()) - WorldVec3(west, Vec3()), Vec3(4.0e9f, 0, 0));
    EXPECT_EQ(WorldVec3(west, Vec3()) - WorldVec3(east, Vec3()), Vec3(-4.0e9f, 0, 0));
    // The region's own answers and the renderers' agree at those limits; no other region, or a
    // position without one, gives the identity and the origin.
    for (const Coords& eastToWest :
         {east->GetRelativeTransformation(west), SceneWorldServices::RelativeTransformation(east, west)})
        EXPECT_EQ(eastToWest.TransformPoint(Vec3(1, 2, 3)), Vec3(4.0e9f, 2, 3));
    for (const Vec3& inWest : {west->GetRelativePosition(WorldVec3(east, Vec3(0, 1, 0))),
                               SceneWorldServices::RelativePosition(west, WorldVec3(east, Vec3(0, 1, 0)))})
        EXPECT_EQ(inWest, Vec3(4.0e9f, 1, 0));
    EXPECT_EQ(east->GetRelativeTransformation(nullptr), Coords());
    EXPECT_EQ(SceneWorldServices::RelativePosition(east, WorldVec3(nullptr, Vec3(1, 1, 1))), Vec3());

    WorldVec3 moved(far, Vec3(0.5f, 1, 2));
    moved.MakeRelative(a);
    EXPECT_EQ(moved, WorldVec3(a, Vec3(1000000.5f, 1, 2)));

    // A face of a box centred in one region, reached from another, is inside.
    const WorldABBox box(WorldVec3(a, Vec3(15, 0, 0)), Vec3(5, 5, 5));
    EXPECT_TRUE(box.Contains(WorldVec3(c, Vec3(-20, 5, -5))));
    EXPECT_FALSE(box.Contains(WorldVec3(c, Vec3(-19.5f, 0, 0))));

    // A plane x >= 0.5 in far's space lies at x = 1000000.5 in a's space.
    const WorldFrustum frustum(far, Frustum({Plane(Vec3(1, 0, 0), -0.5f)}));
    Frustum inA;
    frustum.GetRelativeFrustum(a, inA);
    ASSERT_EQ(inA.GetNumPlanes(), 1u);
    EXPECT_EQ(inA.GetPlane(0).GetDistance(Vec3(1000000.5f, 0, 0)), 0.0f);
    Frustum same;
    frustum.GetRelativeFrustum(far, same);
    EXPECT_EQ(same.GetPlane(0), frustum.GetRegionFrustum().GetPlane(0));
}

TEST_F(WorldPositionTest, MissingRegionsAreHandledWithoutCorruption)
{
    const WorldVec3 none(nullptr, Vec3(1, 2, 3));
    const WorldVec3 some(a, Vec3(1, 2, 3));
    const Vec3 undefined(gInfinity, gInfinity, gInfinity);
    EXPECT_EQ(none - some, undefined);
    EXPECT_EQ(some - none, undefined);
    EXPECT_EQ(WorldVec3(nullptr, Vec3(9, 9, 9)), none); // no region: always equal
    EXPECT_NE(some, none);

    EXPECT_FALSE(WorldABBox(some, Vec3(gInfinity, gInfinity, gInfinity)).Contains(none));
    EXPECT_EQ(WorldABBox(some, Vec3(1, 1, 1)).GetIntersection(WorldRay(none, Vec3(1, 0, 0))), gInfinity);

    WorldVec3 moved = none;
    moved.Translate(Vec3(100, 0, 0), false);
    moved.MakeRelative(a);
    EXPECT_FALSE(moved.PutOnFloor());
    EXPECT_EQ(moved.GetRegion(), nullptr);
    EXPECT_EQ(moved.GetRegionPosition(), Vec3(1, 2, 3));

    // Blending toward a position without region leaves the start as it was, not at infinity.
    const WorldVec3 blended = Lerp(some, none, 0.5f);
    EXPECT_EQ(blended, some);
    const WorldCoords look = WorldCoords::LookAt(some, none, Vec3(0, 1, 0));
    EXPECT_EQ(look.GetRegionCoords(), Coords::Translation(Vec3(1, 2, 3)));

    // No level answers floor queries yet, so there is no floor and the value stays.
    WorldVec3 floor = some;
    EXPECT_FALSE(floor.TranslateToFloor(Vec3(1, 0, 0)));
    EXPECT_EQ(floor, WorldVec3(a, Vec3(2, 2, 3)));
}

TEST_F(WorldPositionTest, BinaryFormRoundTripsAndFindsTheRegionById)
{
    const WorldCoords coords(WorldVec3(b, Vec3(1.5f, -2, 3)), Vec3(0, 1, 0), Vec3(-1, 0, 0), Vec3(0, 0, 1));
    BinaryWriter writer(16);
    coords.Write(writer);
    ChunkedBinaryWriter chunked(10);
    coords.Write(chunked);
    ASSERT_EQ(writer.GetSize(), 64u);
    const std::vector<uint8_t> bytes(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
    EXPECT_EQ(chunked.GetBytes(), bytes);

    BinaryReader reader(bytes.data(), 64);
    WorldCoords back;
    ASSERT_TRUE(back.Read(reader));
    EXPECT_EQ(back, coords);
    EXPECT_EQ(back.GetRegion(), b);

    // No region: sixteen zero bytes, read back as no region.
    BinaryWriter none(0);
    WorldVec3(nullptr, Vec3(1, 2, 3)).Write(none);
    ASSERT_EQ(none.GetSize(), 28u);
    EXPECT_EQ(std::vector<uint8_t>(none.GetBuffer() + 12, none.GetBuffer() + 28),
              std::vector<uint8_t>(16, 0));

    // An id no region has leaves no region; a truncated value fails.
    std::vector<uint8_t> unknown = bytes;
    unknown[36 + 12] ^= 0xFF;
    BinaryReader unknownReader(unknown.data(), 64);
    WorldCoords lost(WorldVec3(a, Vec3()), Vec3(), Vec3(), Vec3());
    EXPECT_TRUE(lost.Read(unknownReader));
    EXPECT_EQ(lost.GetRegion(), nullptr);
    BinaryReader shortReader(bytes.data(), 63);
    EXPECT_FALSE(back.Read(shortReader));
}

TEST_F(WorldPositionTest, TranslatePassesPortalsAndRegionBounds)
{
    const UniqueId p(1, 0, 0, 0), q(2, 0, 0, 0);
    MakePortal(a, p, Vec3(10, 0, 0), b, q);
    MakePortal(b, q, Vec3(-5, 0, 0), a, p);

    WorldVec3 through(a, Vec3(9, 0, 0));
    through.Translate(Vec3(2, 0, 0), false);
    EXPECT_EQ(through.GetRegion(), b);
    EXPECT_TRUE(Near(through.GetRegionPosition(), Vec3(-4, 0, 0)));

    WorldVec3 ignoring(a, Vec3(9, 0, 0));
    ignoring.Translate(Vec3(2, 0, 0), true);
    EXPECT_EQ(ignoring, WorldVec3(a, Vec3(11, 0, 0)));

    // From behind, the portal is not taken.
    WorldVec3 behind(a, Vec3(11, 0, 0));
    behind.Translate(Vec3(-2, 0, 0), false);
    EXPECT_EQ(behind, WorldVec3(a, Vec3(9, 0, 0)));

    WorldVec3 across(a, Vec3(15, 1, 0));
    across.Translate(Vec3(10, 0, 0), false);
    EXPECT_EQ(across, WorldVec3(c, Vec3(-15, 1, 0)));

    // Nowhere to go: the value keeps its region, outside its box.
    WorldVec3 lost(a, Vec3(15, 0, 0));
    lost.Translate(Vec3(100, 0, 0), false);
    EXPECT_EQ(lost, WorldVec3(a, Vec3(115, 0, 0)));

    // A portal whose far side is missing is ignored.
    a->GetPortal(0)->SetConnectedRegionId(RegionId(7, 7, 7, 7));
    WorldVec3 stays(a, Vec3(9, 0, 0));
    stays.Translate(Vec3(2, 0, 0), false);
    EXPECT_EQ(stays, WorldVec3(a, Vec3(11, 0, 0)));

    // A box's corners move like positions, so they may leave the centre's region.
    const WorldABBox box(WorldVec3(a, Vec3(15, 0, 0)), Vec3(10, 1, 1));
    EXPECT_EQ(box.GetMax(), WorldVec3(c, Vec3(-15, 1, 1)));
    EXPECT_EQ(box.GetMin(), WorldVec3(a, Vec3(5, -1, -1)));
}

TEST_F(WorldPositionTest, FramesLookTurnAndBlend)
{
    const WorldCoords look =
        WorldCoords::LookAtNoLean(WorldVec3(a, Vec3()), WorldVec3(a, Vec3(0, 10, 5)), Vec3(0, 1, 0));
    EXPECT_TRUE(Near(look.GetZAxis(), Vec3(0, 0, 1)));
    EXPECT_TRUE(Near(look.GetXAxis(), Vec3(1, 0, 0)));
    EXPECT_TRUE(Near(look.GetYAxis(), Vec3(0, 1, 0)));

    // Looking from a into c across their border uses the offset-corrected direction.
    const WorldCoords across =
        WorldCoords::LookAt(WorldVec3(a, Vec3(10, 0, 0)), WorldVec3(c, Vec3(-10, 0, 0)), Vec3(0, 1, 0));
    EXPECT_TRUE(Near(across.GetZAxis(), Vec3(1, 0, 0)));

    // A quarter turn about +y through a pivot in the neighbouring region.
    const WorldCoords start(WorldVec3(a, Vec3(18, 0, 0)), Vec3(1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, 1));
    const WorldCoords turned =
        WorldCoords::RotateAroundPoint(start, WorldVec3(c, Vec3(-20, 0, 0)), Vec3(0, 1, 0), kHalfPi);
    EXPECT_EQ(turned.GetRegion(), c);
    EXPECT_TRUE(Near(turned.GetOrigin().GetRegionPosition(), Vec3(-20, 0, 2), 1e-4f));
    EXPECT_TRUE(Near(turned.GetXAxis(), Vec3(0, 0, -1)));

    const WorldCoords half = Lerp(start, turned, 0.5f);
    EXPECT_TRUE(Near(half.GetOrigin().GetRegionPosition(), Vec3(19, 0, 1), 1e-4f));
    EXPECT_NEAR(Vec3::Dot(half.GetXAxis(), Vec3(1, 0, 0)), std::cos(kHalfPi / 2), 1e-5f);
}

} // namespace
} // namespace GAME
