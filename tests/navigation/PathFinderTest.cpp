#include "NavigationFixtures.h"

#include "core/UniqueId.h"
#include "core/Vec3.h"
#include "core/WorldVec3.h"
#include "navigation/Path.h"
#include "navigation/PathFinder.h"
#include "world/Portal.h"
#include "world/World.h"

#include <cmath>
#include <gtest/gtest.h>
#include <memory>

namespace GAME {
namespace {

using NavigationTest::BuildFlatMesh;
using NavigationTest::MakeRegion;

constexpr float kSize = 64.0f;

ABBox GroundBox(float size)
{
    return ABBox(Vec3(size / 2, 0, size / 2), Vec3(size / 2, 30, size / 2));
}

std::unique_ptr<Path> Find(const WorldVec3& from, const WorldVec3& to, float range = 0.0f,
                           const Vec3& extents = Vec3())
{
    return std::unique_ptr<Path>(
        PathFinder::Get()->FindPath(0, from, to, extents, range, 0.5f, 2.0f, 45.0f, 0));
}

void ExpectNear(const WorldVec3& point, Region* region, const Vec3& position, float tolerance)
{
    EXPECT_EQ(point.GetRegion(), region);
    EXPECT_NEAR(point.GetRegionPosition().x, position.x, tolerance);
    EXPECT_NEAR(point.GetRegionPosition().y, position.y, tolerance);
    EXPECT_NEAR(point.GetRegionPosition().z, position.z, tolerance);
}

class PathFinderTest : public ::testing::Test
{
protected:
    void TearDown() override { PathFinder::Destroy(); }
};

TEST_F(PathFinderTest, KeepsEachPortalAndMeshOnce)
{
    auto region = MakeRegion(IntVec3(), GroundBox(kSize));
    PathFinder* finder = PathFinder::Get();
    Portal* first = region->CreatePortal();
    Portal* second = region->CreatePortal();
    first->SetCoords(Coords()); // placing tells the finder
    second->SetCoords(Coords());
    first->SetCoords(Coords::Translation(Vec3(1, 0, 0))); // placed again
    finder->AddPortal(nullptr);
    EXPECT_EQ(finder->GetNumPortals(), 2);
    region->DestroyPortal(first);
    finder->RemovePortal(first); // gone already
    EXPECT_FALSE(finder->HasPortal(first));
    EXPECT_TRUE(finder->HasPortal(second));

    auto mesh = std::make_unique<PathMesh>();
    finder->AddMesh(mesh.get()); // no region: refused
    EXPECT_EQ(finder->GetNumMeshes(), 0);
    ASSERT_TRUE(BuildFlatMesh(*mesh, *region));
    finder->AddMesh(mesh.get());
    finder->AddMesh(mesh.get());
    EXPECT_EQ(finder->GetNumMeshes(), 1);
    EXPECT_EQ(finder->GetMesh(region.get()), mesh.get());
    mesh.reset(); // a mesh destroyed leaves the finder
    EXPECT_EQ(finder->GetNumMeshes(), 0);
    EXPECT_EQ(finder->GetMesh(region.get()), nullptr);

    // After shut-down a new finder starts empty, and meshes still alive forget the old one.
    PathMesh kept;
    ASSERT_TRUE(BuildFlatMesh(kept, *region));
    finder->AddMesh(&kept);
    PathFinder::Destroy();
    EXPECT_EQ(PathFinder::Get()->GetNumPortals(), 0);
    EXPECT_EQ(PathFinder::Get()->GetNumMeshes(), 0);
}

TEST_F(PathFinderTest, FindsTheWayAroundAWallInsideOneRegion)
{
    // A wall across the region from x = 0 to 50 at z = 32 leaves a gap at the far end.
    auto region = MakeRegion(IntVec3(300, 0, -700), GroundBox(kSize));
    PathMesh mesh;
    ASSERT_TRUE(BuildFlatMesh(mesh, *region, {OBBox(ABBox(Vec3(17, 1, 32), Vec3(33, 1, 1)))}));
    PathFinder::Get()->AddMesh(&mesh);
    Region* r = region.get();

    const WorldVec3 from(r, Vec3(10, 0, 20)), to(r, Vec3(10, 0, 44));
    std::unique_ptr<Path> path = Find(from, to);
    ASSERT_TRUE(path);
    ASSERT_GE(path->GetNumPoints(), 3);
    ExpectNear(path->GetPoint(0), r, Vec3(10, 0, 20), 0.3f);
    ExpectNear(path->GetPoint(path->GetNumPoints() - 1), r, Vec3(10, 0, 44), 0.3f);
    EXPECT_EQ(path->GetNumRegionChanges(), 0);
    // Round the end of the wall (x 50 plus the agent's radius), about 2 x 42.7 units.
    float furthest = 0.0f;
    for (const WorldVec3& p : path->GetPoints())
        furthest = std::max(furthest, p.GetRegionPosition().x);
    EXPECT_GE(furthest, 50.4f);
    EXPECT_NEAR(path->GetLength(), 2.0f * std::hypot(41.0f, 12.0f), 2.0f);

    // The world forwards requests unchanged.
    World world;
    std::unique_ptr<Path> forwarded(world.FindPath(0, from, to, Vec3(), 0.0f, 0.5f, 2.0f, 45.0f, 0));
    ASSERT_TRUE(forwarded);
    EXPECT_EQ(forwarded->GetNumPoints(), path->GetNumPoints());

    // A way longer than the range is not a way; the range is measured along the way.
    EXPECT_FALSE(Find(from, to, 60.0f));
    EXPECT_TRUE(Find(from, to, 100.0f));
    // Ends must lie on the mesh within the extents.
    const WorldVec3 high(r, Vec3(10, 20, 20));
    EXPECT_FALSE(Find(high, to));
    EXPECT_TRUE(Find(high, to, 0.0f, Vec3(2, 25, 2)));
    EXPECT_FALSE(Find(WorldVec3(nullptr, Vec3(10, 0, 20)), to));
    EXPECT_FALSE(Find(from, WorldVec3(r, Vec3(5000, 0, 0))));
    // A region without a registered mesh has no ways.
    auto bare = MakeRegion(IntVec3(), GroundBox(kSize));
    EXPECT_FALSE(Find(WorldVec3(bare.get(), Vec3(10, 0, 20)), to));
}

TEST_F(PathFinderTest, NoWayJoinsTwoIslands)
{
    auto region = MakeRegion(IntVec3(), GroundBox(kSize));
    const IntSpaceBox box = NavigationTest::BuildBoxOf(*region);
    std::vector<PathFace> faces;
    NavigationTest::AddFlatGround(faces, -40, -40, -10, 40);
    NavigationTest::AddFlatGround(faces, 10, -40, 40, 40);
    PathMesh mesh;
    mesh.SetRegion(region.get());
    ASSERT_TRUE(mesh.Create(faces, {}, box));
    PathFinder::Get()->AddMesh(&mesh);
    // Build frame x -20 and +20 are region x 12 and 52.
    EXPECT_TRUE(Find(WorldVec3(region.get(), Vec3(12, 0, 10)), WorldVec3(region.get(), Vec3(12, 0, 50))));
    EXPECT_FALSE(Find(WorldVec3(region.get(), Vec3(12, 0, 10)), WorldVec3(region.get(), Vec3(52, 0, 10))));
}

// Two regions joined by a doorway: a field and a cave 256 units below it, as the sample world has
// them. The field's door stands a quarter into the field facing +z; the cave's stands by the
// cave's -z wall, turned round.
class PortalPathTest : public PathFinderTest
{
protected:
    void SetUp() override
    {
        field = MakeRegion(IntVec3(128, 0, 64), GroundBox(kSize), "field");
        cave = MakeRegion(IntVec3(128, -256, 64), GroundBox(32.0f), "cave");
        ASSERT_TRUE(BuildFlatMesh(fieldMesh, *field));
        ASSERT_TRUE(BuildFlatMesh(caveMesh, *cave));
        PathFinder::Get()->AddMesh(&fieldMesh);
        PathFinder::Get()->AddMesh(&caveMesh);
        const std::vector<Triangle> door = {Triangle(Vec3(-3, 0, 0), Vec3(3, 0, 0), Vec3(3, 8, 0)),
                                            Triangle(Vec3(-3, 0, 0), Vec3(3, 8, 0), Vec3(-3, 8, 0))};
        const UniqueId outsideId(1, 2, 3, 4), insideId(5, 6, 7, 8);
        outside = field->CreatePortal();
        outside->SetId(outsideId);
        outside->SetTriangles(door);
        outside->SetCoords(Coords::Translation(Vec3(32, 0, 16)));
        outside->SetConnectedRegionId(cave->GetId());
        outside->SetConnectedPortalId(insideId);
        inside = cave->CreatePortal();
        inside->SetId(insideId);
        inside->SetTriangles(door);
        inside->SetCoords(Coords(Vec3(-1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, -1), Vec3(16, 0, 2)));
        inside->SetConnectedRegionId(field->GetId());
        inside->SetConnectedPortalId(outsideId);
    }

    std::unique_ptr<Region> field, cave;
    PathMesh fieldMesh, caveMesh;
    Portal* outside = nullptr;
    Portal* inside = nullptr;
};

TEST_F(PortalPathTest, AWayIntoTheCaveGoesThroughTheDoorway)
{
    // The regions do not meet, so the doorway is the only gate, one each way.
    EXPECT_EQ(PathFinder::Get()->GetNumGates(), 2);
    const WorldVec3 from(field.get(), Vec3(40, 0, 40)), to(cave.get(), Vec3(20, 0, 24));
    std::unique_ptr<Path> path = Find(from, to);
    ASSERT_TRUE(path);
    EXPECT_EQ(path->GetNumRegionChanges(), 1);
    ExpectNear(path->GetPoint(0), field.get(), Vec3(40, 0, 40), 0.3f);
    ExpectNear(path->GetPoint(path->GetNumPoints() - 1), cave.get(), Vec3(20, 0, 24), 0.3f);
    // The change of region happens at the two doors' choke points.
    int change = 0;
    while (path->GetPoint(change + 1).GetRegion() == field.get())
        ++change;
    ExpectNear(path->GetPoint(change), field.get(), Vec3(32, 0, 16), 0.3f);
    ExpectNear(path->GetPoint(change + 1), cave.get(), Vec3(16, 0, 2), 0.6f);
    EXPECT_NEAR(path->GetLength(), std::hypot(8.0f, 24.0f) + std::hypot(4.0f, 22.0f), 1.0f);

    // And back out.
    std::unique_ptr<Path> back = Find(to, from);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->GetPoint(back->GetNumPoints() - 1).GetRegion(), field.get());

    // Without the cave's door there is no way in.
    cave->DestroyPortal(inside);
    EXPECT_EQ(PathFinder::Get()->GetNumGates(), 0);
    EXPECT_FALSE(Find(from, to));
}

TEST_F(PortalPathTest, EachDoorwayLeadsToTheDoorItPairsWith)
{
    // A second doorway between the same two regions, far from the first.
    const std::vector<Triangle> door = {Triangle(Vec3(-3, 0, 0), Vec3(3, 0, 0), Vec3(3, 8, 0)),
                                        Triangle(Vec3(-3, 0, 0), Vec3(3, 8, 0), Vec3(-3, 8, 0))};
    const UniqueId northId(9, 10, 11, 12), backId(13, 14, 15, 16);
    Portal* north = field->CreatePortal();
    north->SetId(northId);
    north->SetTriangles(door);
    north->SetCoords(Coords::Translation(Vec3(8, 0, 56)));
    north->SetConnectedRegionId(cave->GetId());
    north->SetConnectedPortalId(backId);
    Portal* back = cave->CreatePortal();
    back->SetId(backId);
    back->SetTriangles(door);
    back->SetCoords(Coords(Vec3(-1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, -1), Vec3(26, 0, 28)));
    back->SetConnectedRegionId(field->GetId());
    back->SetConnectedPortalId(northId);
    EXPECT_EQ(PathFinder::Get()->GetNumGates(), 4);

    // Each way takes the doorway near its ends, both ways, and comes out at that doorway's other
    // door: a door paired with the other doorway's door would lead elsewhere.
    struct Way
    {
        Vec3 inField, inCave, fieldDoor, caveDoor;
    };
    const Way ways[2] = {{Vec3(40, 0, 20), Vec3(14, 0, 6), Vec3(32, 0, 16), Vec3(16, 0, 2)},
                         {Vec3(10, 0, 60), Vec3(28, 0, 24), Vec3(8, 0, 56), Vec3(26, 0, 28)}};
    for (const Way& way : ways)
        for (bool inward : {true, false}) {
            const WorldVec3 fieldEnd(field.get(), way.inField), caveEnd(cave.get(), way.inCave);
            std::unique_ptr<Path> path = inward ? Find(fieldEnd, caveEnd) : Find(caveEnd, fieldEnd);
            ASSERT_TRUE(path);
            ASSERT_EQ(path->GetNumRegionChanges(), 1);
            Region* first = inward ? field.get() : cave.get();
            int change = 0;
            while (path->GetPoint(change + 1).GetRegion() == first)
                ++change;
            const WorldVec3& leave = path->GetPoint(change);
            const WorldVec3& enter = path->GetPoint(change + 1);
            ExpectNear(inward ? leave : enter, field.get(), way.fieldDoor, 0.6f);
            ExpectNear(inward ? enter : leave, cave.get(), way.caveDoor, 0.6f);
        }
}

TEST_F(PathFinderTest, AWayCrossesTheBorderOfTwoFieldsWithoutAPortal)
{
    auto west = MakeRegion(IntVec3(0, 0, 0), GroundBox(kSize), "west");
    auto east = MakeRegion(IntVec3(64, 0, 0), GroundBox(kSize), "east");
    auto far = MakeRegion(IntVec3(4096, 0, 0), GroundBox(kSize), "far");
    PathMesh westMesh, eastMesh, farMesh;
    ASSERT_TRUE(BuildFlatMesh(westMesh, *west));
    // A wall in the east field along the border, open only at its north end (it reaches past the
    // south end of the field's mesh).
    ASSERT_TRUE(BuildFlatMesh(eastMesh, *east, {OBBox(ABBox(Vec3(10, 1, 19), Vec3(1, 1, 29)))}));
    ASSERT_TRUE(BuildFlatMesh(farMesh, *far));
    for (PathMesh* mesh : {&westMesh, &eastMesh, &farMesh})
        PathFinder::Get()->AddMesh(mesh);

    std::unique_ptr<Path> path =
        Find(WorldVec3(west.get(), Vec3(40, 0, 20)), WorldVec3(east.get(), Vec3(30, 0, 20)));
    ASSERT_TRUE(path);
    EXPECT_EQ(path->GetNumRegionChanges(), 1);
    ExpectNear(path->GetPoint(path->GetNumPoints() - 1), east.get(), Vec3(30, 0, 20), 0.3f);
    // Round the north end of the wall (z 48 and the agent's radius).
    float north = 0.0f;
    for (const WorldVec3& p : path->GetPoints())
        north = std::max(north, p.GetRegionPosition().z);
    EXPECT_GE(north, 48.3f);
    EXPECT_NEAR(path->GetLength(), std::hypot(34.0f, 28.5f) + std::hypot(20.0f, 28.5f), 3.0f);

    // The far field shares no space with either: no way there.
    EXPECT_FALSE(Find(WorldVec3(west.get(), Vec3(40, 0, 20)), WorldVec3(far.get(), Vec3(30, 0, 20))));
}

} // namespace
} // namespace GAME
