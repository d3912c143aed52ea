// An entity announced by the server reaches a client over the loopback address and is made there
// from its record, at its place, with its replicated state.
#include "../NetworkTestKit.h"

#include "common/LogCapture.h"
#include "common/RecordServices.h"
#include "core/ObjectManager.h"
#include "core/UniqueIdMap.h"
#include "datakit/ArzWriter.h"
#include "network/ClientConnectionManager.h"
#include "network/ServerConnectionManager.h"
#include "platform/Threading.h"
#include "world/Entity.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/World.h"

#include <chrono>
#include <climits>
#include <functional>
#include <gtest/gtest.h>

namespace GAME {
namespace {

bool PumpUntil(ConnectionManager& a, ConnectionManager& b, const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        a.Update(5);
        b.Update(5);
        Platform::SleepMilliseconds(1);
    }
    return done();
}

class SpawnThreadsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        DataKit::ArzWriter writer(true);
        writer.AddRecord("records/crate.dbr").String("Class", "Entity");
        ASSERT_TRUE(records.Load(writer.Build()));
        ObjectManager::Destroy();
        UniqueIdMap::Destroy();
        Entity::InstallHooks();
        world = new World();
        world->AddRegion("levels/yard.lvl", IntVec3(), ABBox(), RegionId(7, 7, 7, 7));
        region = world->GetRegion(0);
        level = new Level(region);
        level->NewSpace(Vec2(100.0f, 100.0f));
        level->PostLoad(false);
        region->SetLevel(level);
        World::SetCurrent(world);
    }
    void TearDown() override
    {
        World::SetCurrent(nullptr);
        delete world;
        ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
        EXPECT_EQ(ObjectManager::Get()->GetNumObjects(), 0u);
        ObjectManager::Destroy();
        UniqueIdMap::Destroy();
    }

    GAME::Test::RecordServices records;
    World* world = nullptr;
    Region* region = nullptr;
    Level* level = nullptr;
};

TEST_F(SpawnThreadsTest, ASpawnPacketMakesTheEntityOnTheClient)
{
    GAME::Test::LogCapture log;
    ServerConnectionManager server;
    ClientConnectionManager client;
    GAME::Test::RecordingController controller;
    client.SetNetworkController(&controller);
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    ASSERT_TRUE(client.Connect("127.0.0.1", server.GetPort()));
    ASSERT_TRUE(PumpUntil(server, client, [&] { return client.IsConnected(); }));

    auto* crate = static_cast<Entity*>(ObjectManager::Get()->CreateObjectFromFile("records/crate.dbr"));
    ASSERT_NE(crate, nullptr);
    ASSERT_TRUE(level->AddEntity(crate, Coords::Translation(Vec3(3.0f, 0.0f, 4.0f))));
    crate->SetVisibility(false);
    const unsigned id = crate->GetObjectId();
    NetPacket* spawn = crate->CreateSpawnNetPacket();
    ASSERT_TRUE(server.SendToClient(1, spawn));
    delete spawn;
    // Server and client share this process: the server's entity goes before the client reads,
    // so the client makes its own under the same id.
    level->RemoveEntity(crate);
    ObjectManager::Get()->DestroyObjectEx(crate, __FILE__, __LINE__);
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
    ASSERT_EQ(ObjectManager::Get()->GetObject(id), nullptr);

    ASSERT_TRUE(PumpUntil(server, client, [&] { return controller.received.size() == 1; }));
    EXPECT_EQ(controller.received[0].spawnId, id);
    Object* made = ObjectManager::Get()->GetObject(id);
    ASSERT_NE(made, nullptr);
    ASSERT_TRUE(Entity::IsEntity(made));
    auto* entity = static_cast<Entity*>(made);
    EXPECT_EQ(entity->GetObjectName(), "records/crate.dbr");
    EXPECT_EQ(entity->GetRegion(), region);
    EXPECT_EQ(entity->GetCoords().GetOrigin().GetRegionPosition(), Vec3(3.0f, 0.0f, 4.0f));
    EXPECT_TRUE(level->HasEntity(entity));
    EXPECT_FALSE(entity->GetVisibility()); // replicated
    EXPECT_TRUE(log.Contains("in SmartObjectId deserializer.", 0));

    // Announced again while it exists: the id names it, nothing new is made.
    spawn = entity->CreateSpawnNetPacket();
    ASSERT_TRUE(server.SendToClient(1, spawn));
    delete spawn;
    ASSERT_TRUE(PumpUntil(server, client, [&] { return controller.received.size() == 2; }));
    EXPECT_EQ(ObjectManager::Get()->GetObject(id), entity);
    EXPECT_TRUE(controller.failed.empty());
    level->RemoveEntity(entity);
    ObjectManager::Get()->DestroyObjectEx(entity, __FILE__, __LINE__);
}

} // namespace
} // namespace GAME
