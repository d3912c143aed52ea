#include "LevelFixtures.h"

#include "core/Intersect.h"
#include "core/Ray.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace GAME::WorldTest {
namespace {

using EntityTreeTest = WorldFixture;

// A view frustum at eye looking along dir (unit) with the half-angle, near and far distances.
Frustum MakeView(const Vec3& eye, const Vec3& dir, float halfAngle, float nearDistance, float farDistance)
{
    const Coords frame = Coords::LookInDirection(eye, dir, Vec3(0.0f, 1.0f, 0.0f));
    const Vec3 x = frame.xAxis, y = frame.yAxis, z = frame.zAxis;
    const float c = std::cos(halfAngle), s = std::sin(halfAngle);
    Frustum f;
    auto through = [&](const Vec3& n, const Vec3& p) { f.AddPlane(Plane(n, -Vec3::Dot(n, p))); };
    through(z, eye + z * nearDistance);
    through(-z, eye + z * farDistance);
    through(x * c + z * s, eye);
    through(-x * c + z * s, eye);
    through(y * c + z * s, eye);
    through(-y * c + z * s, eye);
    return f;
}

std::vector<Entity*> Sorted(std::vector<Entity*> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

TEST_F(EntityTreeTest, PushDownStopsAtTheLooseBoundaryAndPointsSinkToTheDepthLimit)
{
    // Root: centre (0, 0), half-extents 109. The candidate children reach 109 / 2.18 - 54.5 = -4.5
    // past the centre line on each side.
    TestEntity* fits = Make();
    fits->half = 4.4f;
    level->AddEntity(fits, Coords());
    TestEntity* straddles = Make();
    straddles->half = 4.6f;
    level->AddEntity(straddles, Coords());
    EXPECT_EQ(straddles->GetSpaceNode(), level->GetEntityTree()->GetRoot());
    ASSERT_NE(fits->GetSpaceNode(), nullptr);
    EXPECT_GT(fits->GetSpaceNode()->depth, 0u);
    // On the centre line it goes to the negative side (slot 0).
    EXPECT_EQ(level->GetEntityTree()->GetRoot()->children[0], fits->GetSpaceNode());

    level->RemoveEntity(fits);
    const auto* root = level->GetEntityTree()->GetRoot();
    EXPECT_FALSE(root->HasChildren()); // the emptied child was pruned
    EXPECT_EQ(root->GetObject(0), straddles);
    EXPECT_EQ(level->GetNumEntities(), 1u);
    ObjectManager::Get()->DestroyObjectEx(fits, __FILE__, __LINE__);

    // In a tree of zero size a zero-sized entity fits every child: it sinks to the depth limit.
    // Insertion, queries, pruning and deletion walk the thousand levels without recursing.
    level->NewSpace(Vec2(0.0f, 0.0f));
    TestEntity* point = Make();
    point->half = 0.0f;
    TestEntity* deep = Make();
    deep->half = 0.0f;
    level->AddEntity(point, Coords());
    level->AddEntity(deep, Coords());
    EXPECT_EQ(point->GetSpaceNode()->depth, Space<Entity>::maxDepth);
    std::vector<Entity*> found;
    level->GetEntitiesInBox(found, ABBox(), ENTITY_LIST_ALL);
    EXPECT_EQ(found.size(), 2u);
    found.clear();
    const Frustum around = MakeView(Vec3(0.0f, 0.0f, -10.0f), Vec3(0.0f, 0.0f, 1.0f), 0.5f, 1.0f, 20.0f);
    level->GetEntitiesInFrustum(found, &around, 1, false, ENTITY_LIST_ALL, false);
    EXPECT_EQ(found.size(), 2u);
    level->RemoveEntity(point);
    EXPECT_EQ(deep->GetSpaceNode()->depth, Space<Entity>::maxDepth);
    ObjectManager::Get()->DestroyObjectEx(point, __FILE__, __LINE__);
    level->NewSpace(Vec2(100.0f, 100.0f)); // the deep tree goes with its last entity
    EXPECT_FALSE(level->GetEntityTree()->GetRoot()->HasChildren());
}

TEST_F(EntityTreeTest, RootGrowsOverOutsidersAndMovesRefileEntities)
{
    const ABBox before = level->GetEntityTree()->GetRootBox();
    TestEntity* far = Place(Vec3(500.0f, 40.0f, -300.0f));
    const ABBox after = level->GetEntityTree()->GetRootBox();
    EXPECT_GE(after.GetMax().x, 501.0f);
    EXPECT_LE(after.GetMin().z, -301.0f);
    EXPECT_GE(after.GetMax().y, 41.0f);
    EXPECT_NE(before, after);

    TestEntity* mover = Place(Vec3(-60.0f, 0.0f, -60.0f));
    level->MoveEntity(mover, Coords::Translation(Vec3(60.0f, 5.0f, 60.0f)));
    EXPECT_TRUE(mover->GetSpaceNode()->GetBox().ContainsPoint(Vec3(60.0f, 5.0f, 60.0f)));
    EXPECT_TRUE(level->HasEntity(mover));
    std::vector<Entity*> found;
    level->GetEntitiesInBox(found, ABBox(Vec3(-60.0f, 0.0f, -60.0f), Vec3(2.0f, 2.0f, 2.0f)),
                            ENTITY_LIST_ALL);
    EXPECT_TRUE(found.empty());
    level->GetEntitiesInSphere(found, Sphere(Vec3(60.0f, 5.0f, 60.0f), 0.5f), false, ENTITY_LIST_ALL);
    EXPECT_EQ(found, std::vector<Entity*>{mover});
    // Every node's box still covers what it holds, all the way up.
    for (const Entity* e : {static_cast<Entity*>(far), static_cast<Entity*>(mover)})
        for (const auto* node = e->GetSpaceNode(); node; node = node->parent) {
            const ABBox& box = e->GetRegionBoundingBox();
            EXPECT_TRUE(node->GetBox().ContainsPoint(box.GetMin()) &&
                        node->GetBox().ContainsPoint(box.GetMax()));
        }
}

TEST_F(EntityTreeTest, QueriesMatchBruteForceAfterMovesAndFilterByListType)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<float> position(-95.0f, 95.0f);
    std::uniform_real_distribution<float> size(0.05f, 12.0f);
    std::vector<TestEntity*> entities;
    for (int i = 0; i < 400; ++i) {
        TestEntity* e = Make();
        e->half = size(random);
        level->AddEntity(
            e, Coords::Translation(Vec3(position(random), position(random) * 0.1f, position(random))));
        entities.push_back(e);
        if (i % 3 == 0)
            e->Update(1); // initial update done
        e->partOfLevel = i % 2 == 0;
    }
    for (int round = 0; round < 3; ++round) {
        for (size_t i = 0; i < entities.size(); i += 2)
            level->MoveEntity(entities[i],
                              Coords::Translation(Vec3(position(random), 0.0f, position(random))));
        // Boxes that shrink in place stay filed where they are; queries see the new boxes.
        for (size_t i = 1; i < entities.size(); i += 4) {
            const ABBox box = entities[i]->GetRegionBoundingBox();
            entities[i]->SetRegionBoundingBox(ABBox(box.center, box.extents * 0.5f));
        }

        const ABBox box(Vec3(position(random), 0.0f, position(random)), Vec3(25.0f, 5.0f, 25.0f));
        const Sphere sphere(Vec3(position(random), 0.0f, position(random)), 30.0f);
        const Frustum view =
            MakeView(Vec3(-100.0f, 3.0f, -100.0f), Vec3(0.6f, 0.0f, 0.8f), 0.5f, 1.0f, 150.0f);
        std::vector<Entity*> inBox, inSphere, inView, updated, levelOnes;
        for (TestEntity* e : entities) {
            if (ABBoxesOverlap(e->GetRegionBoundingBox(), box))
                inBox.push_back(e);
            if (ABBoxIntersectsSphere(e->GetRegionBoundingBox(), sphere))
                inSphere.push_back(e);
            if (ABBoxInFrustum(e->GetRegionBoundingBox(), view))
                inView.push_back(e);
            if (e->HasDoneInitialUpdate())
                updated.push_back(e);
            if (e->HasDoneInitialUpdate() && e->partOfLevel)
                levelOnes.push_back(e);
        }
        std::vector<Entity*> found;
        level->GetEntitiesInBox(found, box, ENTITY_LIST_ALL);
        EXPECT_EQ(Sorted(found), Sorted(inBox));
        found.clear();
        level->GetEntitiesInSphere(found, sphere, false, ENTITY_LIST_ALL);
        EXPECT_EQ(Sorted(found), Sorted(inSphere));
        found.clear();
        level->GetEntitiesInFrustum(found, &view, 1, false, ENTITY_LIST_ALL, false);
        EXPECT_EQ(Sorted(found), Sorted(inView));
        EXPECT_FALSE(inView.empty());

        // The filter acts only on what the call appended.
        std::vector<Entity*> kept{nullptr};
        level->GetEntities(kept, ENTITY_LIST_UPDATED);
        ASSERT_EQ(kept.front(), nullptr);
        kept.erase(kept.begin());
        EXPECT_EQ(Sorted(kept), Sorted(updated));
        kept.clear();
        level->GetEntities(kept, ENTITY_LIST_LEVEL);
        EXPECT_EQ(Sorted(kept), Sorted(levelOnes));
    }
}

TEST_F(EntityTreeTest, SeveralFrustaGiveEachEntityOnceInAddressOrder)
{
    std::vector<Entity*> all;
    for (int i = 0; i < 30; ++i)
        all.push_back(Place(Vec3(-45.0f + 3.0f * static_cast<float>(i), 0.0f, 0.0f)));
    const Frustum frusta[3] = {
        MakeView(Vec3(-60.0f, 0.0f, -40.0f), Vec3(0.0f, 0.0f, 1.0f), 0.6f, 1.0f, 100.0f),
        MakeView(Vec3(-40.0f, 0.0f, -40.0f), Vec3(0.0f, 0.0f, 1.0f), 0.6f, 1.0f, 100.0f),
        Frustum(), // no planes: sees nothing
    };
    std::vector<Entity*> expected;
    for (Entity* e : all)
        if (ABBoxInFrustum(e->GetRegionBoundingBox(), frusta[0]) ||
            ABBoxInFrustum(e->GetRegionBoundingBox(), frusta[1]))
            expected.push_back(e);
    std::vector<Entity*> found;
    level->GetEntitiesInFrustum(found, frusta, 3, false, ENTITY_LIST_ALL, false);
    EXPECT_EQ(found, Sorted(expected));
    EXPECT_GT(found.size(), 5u);

    found.clear();
    level->GetEntitiesInFrustum(found, &frusta[2], 1, false, ENTITY_LIST_ALL, false);
    EXPECT_TRUE(found.empty());
}

TEST_F(EntityTreeTest, PickFindsTheNearestHit)
{
    TestEntity* nearOne = Place(Vec3(0.0f, 0.0f, 20.0f));
    TestEntity* farOne = Place(Vec3(0.0f, 0.0f, 60.0f));
    TestEntity* aside = Place(Vec3(30.0f, 0.0f, 10.0f));
    const Ray ray(Vec3(0.0f, 0.0f, -80.0f), Vec3(0.0f, 0.0f, 1.0f));
    EXPECT_EQ(level->PickEntity(ray), nearOne);

    struct NotNear : FilterFunction<Entity>
    {
        const Entity* skip;
        bool operator()(const Entity* e) const override { return e != skip; }
    } filter;
    filter.skip = nearOne;
    EXPECT_EQ(level->PickEntity(ray, filter), farOne);

    std::vector<Entity*> hits;
    level->GetAllIntersections(ray, hits, false, 120.0f);
    EXPECT_EQ(hits, std::vector<Entity*>{nearOne}); // at 99; the far one lies at 139
    hits.clear();
    level->PickEntities(ray, hits, false);
    EXPECT_EQ(Sorted(hits), Sorted({nearOne, farOne}));

    // Without ground the caller's distance is the limit of the entity search.
    Intersection limit;
    limit.distance = 50.0f;
    level->GetIntersection(ray, limit, physicsSurfaceAny, false);
    EXPECT_EQ(limit.distance, 50.0f);
    Intersection open;
    level->GetIntersection(ray, open, physicsSurfaceAny, false);
    EXPECT_FLOAT_EQ(open.distance, 99.0f);
    level->GetIntersection(ray, limit, physicsSurfaceAny, true);
    EXPECT_EQ(limit.distance, 50.0f);
    (void)aside;
}

} // namespace
} // namespace GAME::WorldTest
