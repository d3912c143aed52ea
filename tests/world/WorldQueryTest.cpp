#include "core/MathUtil.h"
#include "core/Sphere.h"
#include "core/WorldRay.h"
#include "navigation/CollisionContact.h"

#include "LevelFixtures.h"
#include "StreamingWorld.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace GAME {
namespace {

using GAME::Test::BoxView;

bool Has(const std::vector<Entity*>& list, const Entity* entity)
{
    return std::find(list.begin(), list.end(), entity) != list.end();
}

// A and B side by side, C far away (offset 1000, 0, 1000) behind A's portal at x = 60 (entering C at x = 4): a point
// at x in A lies at x - 56 in C. Boxes (half 1): e1 (20, 0, 20), e2 (56, 0, 32) and e4 (50, 0, 36)
// in A, e3 at B's (10, 0, 32), i.e. A's (74, 0, 32), and e5 at C's (10, 0, 32).
class WorldQueryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(records.Load(WorldTest::BuildTestDatabase()));
        ObjectManager::Destroy();
        UniqueIdMap::Destroy();
        Entity::InstallHooks();
        std::vector<GAME::Test::StreamingRegion> regions(3);
        regions[0].entities = {{"records/box.dbr", Vec3(20, 0, 20)},
                               {"records/box.dbr", Vec3(56, 0, 32)},
                               {"records/box.dbr", Vec3(50, 0, 36)}};
        regions[1].offset = IntVec3(64, 0, 0);
        regions[1].entities = {{"records/box.dbr", Vec3(10, 0, 32)}};
        regions[2].offset = IntVec3(1000, 0, 1000);
        regions[2].entities = {{"records/box.dbr", Vec3(10, 0, 32)}};
        ASSERT_TRUE(services.Put("maps/query.map", GAME::Test::StreamingMapImage(regions)));
        World::SetCurrent(&world);
        ASSERT_TRUE(world.Load("maps/query.map", true));
        a = world.GetRegion(0);
        b = world.GetRegion(1);
        c = world.GetRegion(2);
        GAME::Test::JoinRegions(a, 60, c, 4);
        for (Region* region : {a, b, c})
            ASSERT_NE(region->GuaranteedGetLevel(false), nullptr);
        e1 = At(a, Vec3(20, 0, 20));
        e2 = At(a, Vec3(56, 0, 32));
        e4 = At(a, Vec3(50, 0, 36));
        e3 = At(b, Vec3(10, 0, 32));
        e5 = At(c, Vec3(10, 0, 32));
        ASSERT_TRUE(e1 && e2 && e3 && e4 && e5);
    }
    void TearDown() override
    {
        world.Unload();
        World::SetCurrent(nullptr);
        ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
        ObjectManager::Destroy();
        UniqueIdMap::Destroy();
    }

    Entity* At(Region* region, const Vec3& position)
    {
        std::vector<Entity*> all;
        region->GetLevelPtr()->GetEntities(all, ENTITY_LIST_ALL);
        for (Entity* e : all)
            if ((e->GetCoords().GetOrigin().GetRegionPosition() - position).Length() < 0.01f)
                return e;
        return nullptr;
    }

    GAME::Test::RecordServices records;
    GAME::Test::StreamingServices services;
    World world;
    Region *a = nullptr, *b = nullptr, *c = nullptr;
    Entity *e1 = nullptr, *e2 = nullptr, *e3 = nullptr, *e4 = nullptr, *e5 = nullptr;
};

TEST_F(WorldQueryTest, DistancesAndConnectionsAcrossRegionsAndPortals)
{
    const WorldVec3 inA(a, Vec3(50, 0, 32));
    // Through the portal pair C's (14, 0, 32) is A's (70, 0, 32), much nearer than by offsets.
    EXPECT_FLOAT_EQ(world.GetDistance(inA, WorldVec3(c, Vec3(14, 0, 32))), 20.0f);
    const Vec3 direction = world.GetDirection(inA, WorldVec3(c, Vec3(14, 0, 32)));
    EXPECT_NEAR(direction.x, 20.0f, 1e-4f);
    EXPECT_NEAR(direction.y, 0.0f, 1e-4f);
    // No portal to B: its offset alone.
    EXPECT_FLOAT_EQ(world.GetDistanceSquared(inA, WorldVec3(b, Vec3(10, 0, 32))), 24.0f * 24.0f);
    EXPECT_EQ(world.GetDistanceSquared(inA, WorldVec3(nullptr, Vec3())), gInfinity);

    EXPECT_TRUE(world.AreRegionsConnected(a, a, 0));
    EXPECT_FALSE(world.AreRegionsConnected(a, b, 0));
    EXPECT_TRUE(world.AreRegionsConnected(a, b, 1));
    EXPECT_FALSE(world.AreRegionsConnected(a, c, 8));
    std::set<Region*> set;
    world.GetConnectedRegionSet(b, set, 2);
    EXPECT_EQ(set, (std::set<Region*>{a, b}));
    std::vector<Region*> regions;
    world.GetRegionsInFrustum(regions, nullptr, Region::GetBoxFrustum(ABBox(Vec3(), Vec3(1000, 1000, 1000))), false);
    EXPECT_TRUE(regions.empty());
    world.GetRegionsInFrustum(regions, a, Region::GetBoxFrustum(ABBox(Vec3(70, 0, 32), Vec3(1, 1, 1))), false);
    EXPECT_EQ(regions, std::vector<Region*>{b});
}

TEST_F(WorldQueryTest, EntitiesInSphereBoxFrustumAndCone)
{
    std::vector<Entity*> out;
    world.GetEntitiesInSphere(out, a, Sphere(Vec3(64, 0, 32), 12.0f), false, ENTITY_LIST_ALL);
    EXPECT_EQ(out.size(), 2u);
    EXPECT_TRUE(Has(out, e2) && Has(out, e3));

    out.clear();
    world.GetEntitiesInBox(out, ABBox(Vec3(64, 0, 32), Vec3(10, 5, 2)), a, false, ENTITY_LIST_ALL);
    EXPECT_EQ(out.size(), 2u);
    EXPECT_TRUE(Has(out, e2) && Has(out, e3));

    // The world's frustum query stays on this side of portals; a region's may look through them.
    const WorldFrustum view = BoxView(a, Vec3(58, 0, 32), Vec3(8, 5, 2));
    out.clear();
    world.GetEntitiesInFrustum(out, view, false, ENTITY_LIST_ALL, false);
    EXPECT_EQ(out, std::vector<Entity*>{e2});
    out.clear();
    a->GetEntitiesInFrustum(out, view.GetRegionFrustum(), false, nullptr, ENTITY_LIST_ALL, false, true);
    EXPECT_EQ(out.size(), 2u);
    EXPECT_TRUE(Has(out, e2) && Has(out, e5));

    // Cones: nearest to the axis first; angle 0 acts as a thin cone, 2 pi as everything in range.
    const WorldVec3 apex(a, Vec3(30, 0, 32));
    out.clear();
    world.GetEntitiesInCone(out, apex, Vec3(2, 0, 0), 0.5f, 40.0f, false, ENTITY_LIST_ALL);
    EXPECT_EQ(out, (std::vector<Entity*>{e2, e4}));
    out.clear();
    world.GetEntitiesInCone(out, apex, Vec3(1, 0, 0), 0.0f, 40.0f, false, ENTITY_LIST_ALL);
    EXPECT_EQ(out, std::vector<Entity*>{e2});
    out.clear();
    world.GetEntitiesInCone(out, apex, Vec3(1, 0, 0), 7.0f, 40.0f, false, ENTITY_LIST_ALL);
    EXPECT_EQ(out, (std::vector<Entity*>{e2, e4, e1}));
}

TEST_F(WorldQueryTest, RaysPicksAndFloors)
{
    // The first loaded region that picks wins; all regions add to the lists.
    const WorldRay ray(WorldVec3(a, Vec3(30, 0.5f, 32)), Vec3(1, 0, 0));
    EXPECT_EQ(world.PickEntity(ray), e2);
    std::vector<Entity*> picked;
    world.PickEntities(ray, picked);
    EXPECT_EQ(picked.size(), 2u);
    EXPECT_TRUE(Has(picked, e2) && Has(picked, e3));

    // In front of the portal the nearer entity of A is hit; past it, C's entity through the portal.
    WorldIntersection hit;
    world.GetIntersection(WorldRay(WorldVec3(a, Vec3(50, 0.5f, 32)), Vec3(1, 0, 0)), hit, 0, false);
    EXPECT_FLOAT_EQ(hit.distance, 5.0f);
    EXPECT_EQ(hit.position.GetRegion(), a);
    world.GetIntersection(WorldRay(WorldVec3(a, Vec3(58, 0.5f, 32)), Vec3(1, 0, 0)), hit, 0, false);
    EXPECT_FLOAT_EQ(hit.distance, 7.0f);
    EXPECT_EQ(hit.position.GetRegion(), c);
    EXPECT_NEAR(hit.position.GetRegionPosition().x, 9.0f, 1e-4f);

    // Floors: the box top below, the box bottom above, the flat ground where no box stands.
    EXPECT_FLOAT_EQ(world.GetNearestFloorHeight(WorldVec3(a, Vec3(20, 2, 20))), 1.0f);
    EXPECT_FLOAT_EQ(world.GetNearestFloorHeight(WorldVec3(a, Vec3(20, -5, 20))), -1.0f);
    EXPECT_EQ(world.GetNearestFloorHeight(WorldVec3(a, Vec3(30, 2, 10))), 0.0f);
    EXPECT_EQ(world.GetHighestTerrainHeight(a, 10, 10), 0.0f);
    EXPECT_EQ(world.GetHighestTerrainHeight(a, 10, 500), -9999999.0f);

    float distance = gInfinity;
    EXPECT_EQ(world.TraceRayAgainstPortals(ray, distance, false), a->GetPortal(0));
    EXPECT_FLOAT_EQ(distance, 30.0f);
}

// Every entity but one.
class AllBut : public FilterFunction<Entity>
{
public:
    explicit AllBut(const Entity* left) : m_left(left) {}
    bool operator()(const Entity* entity) const override { return entity != m_left; }

private:
    const Entity* m_left;
};

TEST_F(WorldQueryTest, FilteredPicksHitListsAndCollisionsAskEachRegionTheyMeetUntilDone)
{
    // Past A's box, the filter lets B's be picked in B's space; the hit list stops at its distance
    // (A's box 25 along the ray, B's 43).
    const WorldRay ray(WorldVec3(a, Vec3(30, 0.5f, 32)), Vec3(1, 0, 0));
    EXPECT_EQ(world.PickEntity(ray, AllBut(nullptr)), e2);
    EXPECT_EQ(world.PickEntity(ray, AllBut(e2)), e3);
    std::vector<Entity*> hits;
    world.GetAllIntersections(ray, hits, false, 100.0f);
    EXPECT_EQ(hits.size(), 2u);
    EXPECT_TRUE(Has(hits, e2) && Has(hits, e3));
    hits.clear();
    world.GetAllIntersections(ray, hits, false, 30.0f);
    EXPECT_EQ(hits, std::vector<Entity*>{e2});

    // A bar sunk into the ground across the border meets A's ground and B's: contacts from both,
    // placed about the reference, and no more than asked for.
    const WorldVec3 border(a, Vec3(64, 0, 20));
    const OBBox bar(Vec3(10, 0.5f, 1), Coords());
    CollisionContact contacts[512];
    const int found =
        world.FindCollisions(nullptr, bar, contacts, 512, border, ENTITY_LIST_ALL, physicsSurfaceAny);
    ASSERT_LT(found, 512);
    ASSERT_GT(found, 1);
    EXPECT_TRUE(
        std::any_of(contacts, contacts + found, [](const CollisionContact& c) { return c.position.x < -5; }));
    EXPECT_TRUE(
        std::any_of(contacts, contacts + found, [](const CollisionContact& c) { return c.position.x > 5; }));
    EXPECT_EQ(world.FindCollisions(nullptr, bar, contacts, 1, border, ENTITY_LIST_ALL, physicsSurfaceAny), 1);
    // Without a region nothing is asked.
    EXPECT_EQ(
        world.FindCollisions(nullptr, bar, contacts, 512, WorldVec3(), ENTITY_LIST_ALL, physicsSurfaceAny),
        0);
}

} // namespace
} // namespace GAME
