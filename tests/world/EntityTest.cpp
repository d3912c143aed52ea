#include "LevelFixtures.h"

#include "common/LogCapture.h"
#include "navigation/PhysicsObject.h"
#include "network/NetworkControllerBase.h"

namespace GAME::WorldTest {
namespace {

using EntityTest = WorldFixture;

TEST_F(EntityTest, AttachedChildrenAreHeldByIdAndCompactedWhenOneDies)
{
    TestEntity* parent = Place(Vec3(10.0f, 0.0f, 10.0f));
    TestEntity* a = Make();
    TestEntity* b = Make();
    TestEntity* c = Make();
    ASSERT_TRUE(parent && a && b && c);

    parent->Attach(a, Coords::Translation(Vec3(1.0f, 0.0f, 0.0f)), "hand");
    parent->Attach(b, Coords(), "head");
    parent->Attach(c, Coords(), "foot");
    EXPECT_EQ(parent->GetNumAttachedEntities(), 3);
    EXPECT_EQ(a->GetParent(), parent);
    // Attached at once to a placed parent: the child ran its first update.
    EXPECT_TRUE(a->HasDoneInitialUpdate());

    // An attached child takes its frame from the parent and its region from the top ancestor,
    // and does not count as in the world itself.
    EXPECT_FALSE(a->IsInWorld());
    EXPECT_EQ(a->GetRegion(), region);
    EXPECT_EQ(a->GetCoords().GetOrigin().GetRegionPosition(), Vec3(11.0f, 0.0f, 10.0f));
    TestEntity* grandchild = Make();
    a->Attach(grandchild, Coords::Translation(Vec3(0.0f, 2.0f, 0.0f)), nullptr);
    EXPECT_EQ(grandchild->GetCoords().GetOrigin().GetRegionPosition(), Vec3(11.0f, 2.0f, 10.0f));
    EXPECT_EQ(grandchild->GetRegion(), region);

    // Detaching leaves a 0 slot until the next update; a destroyed child is dropped the same way.
    parent->Detach(b);
    EXPECT_EQ(b->GetParent(), nullptr);
    EXPECT_EQ(b->GetAttachOffset(), Coords());
    EXPECT_EQ(parent->GetNumAttachedEntities(), 3);
    EXPECT_EQ(parent->GetAttachedEntity(1), nullptr);
    ObjectManager::Get()->DestroyObjectEx(a, __FILE__, __LINE__);
    EXPECT_EQ(a->destroyed, 1);
    EXPECT_EQ(grandchild->GetParent(), nullptr); // detached and queued with its parent
    EXPECT_TRUE(ObjectManager::Get()->IsObjectOnDeletedList(grandchild));
    parent->Update(16);
    ASSERT_EQ(parent->GetNumAttachedEntities(), 1);
    EXPECT_EQ(parent->GetAttachedEntity(0), c);
    EXPECT_EQ(parent->GetAttachedEntity(5), nullptr);
    Flush();

    // A join renumbers the game's own objects (an earlier session's host's): the parent finds a
    // child under its new id.
    auto* carried = static_cast<TestEntity*>(ObjectManager::Get()->CreateObjectFromFile(
        "records/box.dbr", (1u << ObjectManager::kHostShift) | 1u));
    ASSERT_NE(carried, nullptr);
    parent->Attach(carried, Coords(), "hand");
    ASSERT_EQ(ObjectManager::Get()->RenumberHost(1, 2), 1u);
    EXPECT_EQ(parent->GetAttachedEntity(1), carried);

    // Destroying the parent detaches and queues the rest.
    level->RemoveEntity(parent);
    ObjectManager::Get()->DestroyObjectEx(parent, __FILE__, __LINE__);
    EXPECT_EQ(c->GetParent(), nullptr);
    EXPECT_TRUE(ObjectManager::Get()->IsObjectOnDeletedList(c));
    EXPECT_TRUE(ObjectManager::Get()->IsObjectOnDeletedList(carried));
    ObjectManager::Get()->DestroyObjectEx(b, __FILE__, __LINE__);
}

TEST_F(EntityTest, AttachRefusesNullCyclesAndChildrenThatHaveAParent)
{
    TestEntity* a = Make();
    TestEntity* b = Make();
    TestEntity* c = Make();
    GAME::Test::LogCapture log;
    a->Attach(nullptr, Coords(), "x");
    EXPECT_TRUE(log.Contains("NULL entity attachment detected.", 1));

    a->Attach(a, Coords(), "x");
    EXPECT_EQ(a->GetParent(), nullptr);
    a->Attach(b, Coords(), "x");
    b->Attach(c, Coords(), "x");
    c->Attach(a, Coords(), "x"); // a is c's ancestor
    EXPECT_EQ(a->GetParent(), nullptr);
    EXPECT_EQ(c->GetNumAttachedEntities(), 0);
    c->Detach(nullptr);

    TestEntity* other = Make();
    other->Attach(c, Coords(), "x"); // c has a parent already
    EXPECT_EQ(c->GetParent(), b);
    EXPECT_EQ(other->GetNumAttachedEntities(), 0);
    for (Entity* e : {static_cast<Entity*>(a), static_cast<Entity*>(other)})
        ObjectManager::Get()->DestroyObjectEx(e, __FILE__, __LINE__);
}

TEST_F(EntityTest, SavedStateRoundTripsWithAndWithoutUniqueId)
{
    TestEntity* plain = Make();
    plain->SetVisibility(false);
    BinaryWriter writer(64);
    plain->Entity::SaveState(writer);
    EXPECT_EQ(writer.GetSize(), 8u); // no id, visible
    TestEntity* withId = Make();
    const UniqueId id(1, 2, 3, 4);
    withId->SetUniqueID(id);
    withId->Entity::SaveState(writer);
    EXPECT_EQ(writer.GetSize(), 8u + 24u);
    // The id is stored last word first.
    BinaryReader words(writer.GetBuffer() + 8, 24);
    EXPECT_EQ(words.ReadUInt32(), 1u);
    EXPECT_EQ(words.ReadUInt32(), 4u);

    TestEntity* restored = Make();
    BinaryReader reader(writer.GetBuffer(), writer.GetSize());
    restored->Entity::RestoreState(reader);
    EXPECT_FALSE(restored->GetVisibility());
    EXPECT_FALSE(restored->HasUniqueID());
    restored->Entity::RestoreState(reader);
    EXPECT_TRUE(restored->GetVisibility());
    ASSERT_TRUE(restored->HasUniqueID());
    // Restored ids are not registered, not even by a later GetUniqueID.
    EXPECT_EQ(restored->GetUniqueID(), id);
    EXPECT_EQ(UniqueIdMap::Get()->GetEntity(id), withId);
    EXPECT_FALSE(reader.Failed());
    for (Entity* e : {plain, withId, restored})
        ObjectManager::Get()->DestroyObjectEx(e, __FILE__, __LINE__);
}

TEST_F(EntityTest, UniqueIdMapFollowsIdChangesAndDeaths)
{
    UniqueIdMap* map = UniqueIdMap::Get();
    TestEntity* a = Make();
    TestEntity* b = Make();
    const UniqueId first(1, 1, 1, 1), second(2, 2, 2, 2);

    a->SetUniqueID(first);
    EXPECT_EQ(map->GetEntity(first), a);
    a->SetUniqueID(second); // the old id leaves the map
    EXPECT_EQ(map->GetEntity(first), nullptr);
    EXPECT_EQ(map->GetEntity(second), a);

    // b takes an id that names a: the map keeps a, and b's death must not remove a's entry.
    b->SetUniqueID(second);
    EXPECT_EQ(map->GetEntity(second), a);
    ObjectManager::Get()->DestroyObjectEx(b, __FILE__, __LINE__);
    Flush();
    EXPECT_EQ(map->GetEntity(second), a);

    // Restoring another id over a registered one drops the stale entry.
    BinaryWriter state(64);
    TestEntity* donor = Make();
    donor->EnsureUniqueID(false);
    const UniqueId donorId = donor->GetUniqueID();
    EXPECT_EQ(map->GetEntity(donorId), nullptr); // EnsureUniqueID(false) does not register
    donor->Entity::SaveState(state);
    BinaryReader reader(state.GetBuffer(), state.GetSize());
    a->Entity::RestoreState(reader);
    EXPECT_EQ(map->GetEntity(second), nullptr);
    EXPECT_EQ(a->GetUniqueID(), donorId);

    TestEntity* c = Make();
    const UniqueId fresh = c->GetUniqueID();
    EXPECT_FALSE(fresh.IsNull());
    EXPECT_EQ(map->GetEntity(fresh), c);
    ObjectManager::Get()->DestroyObjectEx(c, __FILE__, __LINE__);
    Flush();
    EXPECT_EQ(map->GetEntity(fresh), nullptr);
    for (Entity* e : {a, donor})
        ObjectManager::Get()->DestroyObjectEx(e, __FILE__, __LINE__);
}

TEST_F(EntityTest, EntityDeletedWhileInTheWorldLeavesItsLevelFirst)
{
    TestEntity* keep = Place(Vec3(-50.0f, 0.0f, -50.0f));
    TestEntity* doomed = Place(Vec3(50.0f, 0.0f, 50.0f));
    level->AddEntityToNetworkList(doomed);
    EXPECT_EQ(level->GetNumEntities(), 2u);
    GAME::Test::LogCapture log;
    ObjectManager::Get()->DestroyObjectEx(doomed, __FILE__, __LINE__);
    Flush();
    EXPECT_TRUE(log.Contains("is being deleted before it is removed from the world!", 2));
    EXPECT_EQ(level->GetNumEntities(), 1u);
    std::vector<Entity*> all;
    level->GetEntities(all, ENTITY_LIST_ALL);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0], keep);
    EXPECT_FALSE(level->IsInNetworkList(doomed));
}

TEST_F(EntityTest, UpdateRunsInitialUpdateOnceAndRetiresPhysicsBodiesAtItsEnd)
{
    TestEntity* e = Place(Vec3());
    EXPECT_FALSE(e->HasDoneInitialUpdate());
    e->CreatePhysicsObject();
    PhysicsObject* body = e->GetPhysicsObject();
    ASSERT_NE(body, nullptr);
    e->CreatePhysicsObject();
    EXPECT_EQ(e->GetPhysicsObject(), body);
    // Retired, not deleted: the body stays valid until the end of the next update (ASan would
    // catch a use after free or a leak).
    e->DestroyPhysicsObject();
    EXPECT_FALSE(e->IsSimulationEnabled());
    EXPECT_EQ(body->GetEntity(), e);
    e->Update(16);
    EXPECT_TRUE(e->HasDoneInitialUpdate());

    EXPECT_EQ(&e->GetRegionBoundingBox(true), &e->GetRegionBoundingBox(false));
    e->SetRegionBoundingBox(ABBox(Vec3(), Vec3(5.0f, 5.0f, 5.0f)), true);
    EXPECT_EQ(e->GetRegionBoundingBox(true).extents.x, 5.0f);
    EXPECT_EQ(e->GetRegionBoundingBox(false).extents.x, 1.0f);
}

} // namespace
} // namespace GAME::WorldTest

namespace GAME::WorldTest {
namespace {

class GenerationController : public NetworkControllerBase
{
public:
    void AddEntityToClient(int, Entity*) override {}
    void RemoveEntitiesFromClient(int, const std::vector<unsigned int>&) override {}
    void OnEntityAdded(Entity*, bool) override {}
    void OnReplicationFailed(unsigned int) override {}
    unsigned int GetGeneration() override { return generation; }
    unsigned int generation = 0;
};

TEST_F(EntityTest, ClientLevelsDeactivateListedEntitiesOutOfViewWhenTheGenerationMoves)
{
    GenerationController controller;
    services.controller = &controller;
    services.client = true;
    TestEntity* near = Place(Vec3(0, 0, 0), "records/spawned.dbr");
    TestEntity* far = Place(Vec3(0, 0, 0), "records/spawned.dbr");
    level->AddEntityToNetworkList(near);
    level->AddEntityToNetworkList(far);
    near->Activate(true);
    far->Activate(true);

    Frustum view; // a box around the origin only
    view.AddPlane(Plane(Vec3(1, 0, 0), 5.0f));
    view.AddPlane(Plane(Vec3(-1, 0, 0), 5.0f));
    view.AddPlane(Plane(Vec3(0, 0, 1), 5.0f));
    view.AddPlane(Plane(Vec3(0, 0, -1), 5.0f));
    level->MoveEntity(far, Coords::Translation(Vec3(500, 0, 0)));

    level->Update(&view, 1, 16);
    EXPECT_TRUE(near->IsActivated() && far->IsActivated()); // generation unchanged: nothing drops
    controller.generation = 3;
    level->Update(&view, 1, 16);
    EXPECT_TRUE(near->IsActivated());
    EXPECT_FALSE(far->IsActivated());
    far->Activate(true);
    level->Update(&view, 1, 16); // the same generation again changes nothing
    EXPECT_TRUE(far->IsActivated());
    services.controller = nullptr;
    services.client = false;
}

} // namespace
} // namespace GAME::WorldTest
