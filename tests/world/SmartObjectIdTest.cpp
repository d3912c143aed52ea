#include "LevelFixtures.h"

#include "common/LogCapture.h"
#include "network/NetPacketBuffer.h"
#include "network/NetworkControllerBase.h"
#include "network/NetworkEntityList.h"
#include "network/SpawnActorPacket.h"

namespace GAME::WorldTest {
namespace {

class Controller : public NetworkControllerBase
{
public:
    void AddEntityToClient(int, Entity*) override {}
    void RemoveEntitiesFromClient(int, const std::vector<unsigned int>&) override {}
    void OnEntityAdded(Entity* entity, bool wasAdded) override { added.push_back({entity, wasAdded}); }
    void OnReplicationFailed(unsigned int objectId) override { failed.push_back(objectId); }

    std::vector<std::pair<Entity*, bool>> added;
    std::vector<unsigned> failed;
};

class SmartObjectIdTest : public WorldFixture
{
protected:
    void SetUp() override
    {
        WorldFixture::SetUp();
        World::SetCurrent(world);
        services.controller = &controller;
        services.entityList = &entityList;
    }
    void TearDown() override
    {
        World::SetCurrent(nullptr);
        WorldFixture::TearDown();
    }
    Entity* Pending()
    {
        return static_cast<Entity*>(ObjectManager::Get()->CreateObjectFromFilePartial("records/box.dbr"));
    }

    Controller controller;
    NetworkEntityList entityList;
};

TEST_F(SmartObjectIdTest, FinishReplicationSpawnsRefusesDuplicatesAndReportsFailures)
{
    SpawnActorPacket packet;
    SmartObjectIdNullable second(&packet);
    ASSERT_EQ(packet.GetNumIds(), 2u);
    EXPECT_FALSE(packet.GetId(0)->IsNullAllowed());
    EXPECT_TRUE(packet.GetId(1)->IsNullAllowed());

    // Spawned under its id at the spawn frame, recorded for the client in bits 28-31.
    SmartObjectId& id = packet.GetEntityId();
    const unsigned objectId = (3u << 28) | 77u;
    id = objectId;
    id.MarkForReplication(true);
    id.SetSpawnCoords(WorldCoords(region, Coords::Translation(Vec3(5.0f, 0.0f, 6.0f))));
    id.SetVelocity(Vec3(1.0f, 0.0f, 0.0f));
    Entity* spawned = Pending();
    id.SetPendingEntity(spawned);
    GAME::Test::LogCapture log;
    packet.FinishReplication();
    EXPECT_TRUE(id.GetReplicationResult());
    EXPECT_EQ(id.GetPendingEntity(), nullptr);
    EXPECT_EQ(ObjectManager::Get()->GetObject(objectId), spawned);
    EXPECT_TRUE(level->HasEntity(spawned));
    EXPECT_EQ(spawned->GetPhysicsType(), PHYSICS_TYPE_ACTOR);
    ASSERT_NE(entityList.GetClient(3), nullptr);
    EXPECT_EQ(entityList.GetClient(3)->entities.at(objectId), NetworkEntityList::entityPresent);
    ASSERT_EQ(controller.added.size(), 1u);
    EXPECT_EQ(controller.added[0].first, spawned);
    EXPECT_TRUE(log.Contains("in SmartObjectId deserializer.", 0));
    // The second id was not marked: its result is cleared, nothing else happens.
    EXPECT_FALSE(second.GetReplicationResult());

    // A second spawn under the same id is refused and its entity destroyed.
    SmartObjectId again(nullptr);
    again = objectId;
    again.MarkForReplication(true);
    Entity* twin = Pending();
    again.SetPendingEntity(twin);
    again.FinishReplication();
    EXPECT_FALSE(again.GetReplicationResult());
    EXPECT_TRUE(ObjectManager::Get()->IsObjectOnDeletedList(twin));
    EXPECT_EQ(ObjectManager::Get()->GetObject(objectId), spawned);
    EXPECT_TRUE(log.Contains("SmartObjectId Spawn failed, actor with this ID already exists", 1));

    // A packet that failed to make the object tells the controller.
    SmartObjectId failed(nullptr);
    failed = 99u;
    failed.MarkForReplication(true);
    failed.SetReplicationResult(false);
    Entity* orphan = Pending();
    failed.SetPendingEntity(orphan);
    failed.FinishReplication();
    EXPECT_EQ(controller.failed, std::vector<unsigned>{99u});
    EXPECT_TRUE(ObjectManager::Get()->IsObjectOnDeletedList(orphan));

    // Without a world the entity cannot join: reported, and the entity is not leaked.
    World::SetCurrent(nullptr);
    SmartObjectId homeless(nullptr);
    homeless = 1234u;
    homeless.MarkForReplication(true);
    homeless.SetSpawnCoords(WorldCoords(region));
    homeless.SetPendingEntity(Pending());
    homeless.FinishReplication();
    EXPECT_FALSE(homeless.GetReplicationResult());
    EXPECT_TRUE(log.Contains(
        "SmartObjectId: Unable to add spawned object (records/box.dbr, id: 1234) to the world.", 1));
    level->RemoveEntity(spawned);
    ObjectManager::Get()->DestroyObjectEx(spawned, __FILE__, __LINE__);
}

TEST_F(SmartObjectIdTest, ListsOwnTheirIdsAndRegisterThemWithThePacket)
{
    ObjectInteractionPacket packet(PACKET_TYPE_SPAWN_ACTOR);
    {
        SmartObjectIdListNullable list(&packet);
        list.AddId(4u);
        list.AddIdList({5u, 6u});
        list = std::vector<unsigned>{7u}; // appends
        list.AddId(new SmartObjectIdNullable(nullptr));
        EXPECT_EQ(list.GetIdList(), (std::vector<unsigned>{4u, 5u, 6u, 7u, 0u}));
        EXPECT_EQ(list.Size(), 5u);
        EXPECT_EQ(list[9], nullptr);
        EXPECT_TRUE(list[0]->IsNullAllowed());
        EXPECT_EQ(list.GetParent(), &packet);
        EXPECT_EQ(packet.GetNumIds(), 4u); // the id made elsewhere is not registered
    }
    EXPECT_EQ(packet.GetNumIds(), 0u); // the list took its ids with it

    // Entities announce themselves and replicate their visibility.
    TestEntity* e = Place(Vec3());
    NetPacket* spawn = e->CreateSpawnNetPacket();
    ASSERT_NE(spawn, nullptr);
    EXPECT_EQ(spawn->GetType(), PACKET_TYPE_SPAWN_ACTOR);
    EXPECT_EQ(static_cast<SpawnActorPacket*>(spawn)->GetEntityId().GetId(), e->GetObjectId());
    delete spawn;
    e->SetVisibility(false);
    NetPacketOutBuffer out;
    e->WriteReplicationData(out);
    TestEntity* copy = Make();
    NetPacketInBuffer in(out.GetData());
    copy->ReadReplicationData(in);
    EXPECT_TRUE(copy->GetVisibility()); // applied later
    copy->ApplyReplicationData();
    EXPECT_FALSE(copy->GetVisibility());
    ObjectManager::Get()->DestroyObjectEx(copy, __FILE__, __LINE__);
}

} // namespace
} // namespace GAME::WorldTest
