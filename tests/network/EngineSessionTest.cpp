// The engine in a network role over the loopback address: its frames pump the current connection
// manager, the host's creator and controller reach the managers, a client engine reports its
// camera's view and numbers its objects with the host id the server gave it, a server engine
// records its clients' views, and a client whose session ends goes on as a game of its own.
#include "NetworkTestKit.h"

#include "../world/EngineFixture.h"

#include "core/ObjectManager.h"
#include "core/WorldFrustum.h"
#include "network/ClientConnectionManager.h"
#include "network/NetworkEntityList.h"
#include "network/ServerConnectionManager.h"
#include "platform/Threading.h"
#include "terrain/TerrainBase.h"
#include "world/Entity.h"
#include "world/EntityListType.h"

#include <chrono>
#include <functional>
#include <string>

namespace GAME {
namespace {

class EngineSessionTest : public Test::EngineTest
{
protected:
    // Engine frames (which pump the engine's manager) and the other side's pump, in real time, until
    // the condition holds; false after a minute, which is a hang.
    bool FramesUntil(ConnectionManager& other, const std::function<bool()>& done,
                     const WorldFrustum* view = nullptr)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            Frame(16, view);
            other.Update(16);
            Platform::SleepMilliseconds(1);
        }
        return done();
    }

    static WorldFrustum View(float d)
    {
        Frustum frustum;
        for (int i = 0; i < 6; ++i)
            frustum.AddPlane(Plane(Vec3(0.0f, 0.0f, 1.0f), d + static_cast<float>(i)));
        return WorldFrustum(nullptr, frustum);
    }
};

TEST_F(EngineSessionTest, AServerEngineHearsItsClientsThroughTheHostsObjects)
{
    GAME::Test::TestEngine& e = Start();
    GAME::Test::GamePacketCreator creator;
    GAME::Test::RecordingController controller;
    e.SetNetPacketCreator(&creator); // handed on to the managers made at start-up
    e.SetNetworkController(&controller);
    e.SetAsNetworkServer();
    auto* server = static_cast<ServerConnectionManager*>(e.GetNetworkConnectionManager());
    ASSERT_TRUE(server->Listen("127.0.0.1", 0));

    ClientConnectionManager client;
    ASSERT_TRUE(client.Connect("127.0.0.1", server->GetPort()));
    ASSERT_TRUE(FramesUntil(client, [&] { return client.IsConnected(); }));
    EXPECT_EQ(client.GetLocalHostID(), 1);

    GAME::Test::GamePacket order(GAME::Test::actionType, 5, "attack");
    EXPECT_TRUE(client.SendToServer(&order));
    EXPECT_TRUE(client.SendViewFrustum(View(3.0f)));
    NetworkEntityList* list = e.GetNetworkEntityList();
    ASSERT_TRUE(FramesUntil(client, [&] {
        NetworkEntityList::Client* record = list->GetClient(1);
        return !controller.received.empty() && record && record->frustumKnown;
    }));
    EXPECT_EQ(controller.received[0].text, "attack");
    EXPECT_EQ(controller.received[0].host, 1);
    EXPECT_EQ(list->GetClient(1)->frustum.GetRegionFrustum().GetPlane(2),
              View(3.0f).GetRegionFrustum().GetPlane(2));
    EXPECT_TRUE(e.Has("client 1 joined from 127.0.0.1:", 2));
    e.DumpHostTable();
    EXPECT_TRUE(e.Has("Host table (server): local host 0, 1 links"));

    // The engine's network shut-down closes the session; the client hears it.
    e.ShutdownNetwork();
    EXPECT_FALSE(e.IsNetworkServer());
    EXPECT_FALSE(server->IsListening());
    ASSERT_TRUE(FramesUntil(client, [&] { return !client.IsConnected(); }));
    EXPECT_EQ(client.GetNumAborts(), 1u);
}

TEST_F(EngineSessionTest, AClientEngineReportsItsViewAndNumbersItsObjectsWithItsHostId)
{
    GAME::Test::TestEngine& e = Start();
    ServerConnectionManager server;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    e.SetAsNetworkClient();
    auto* client = static_cast<ClientConnectionManager*>(e.GetNetworkConnectionManager());
    EXPECT_EQ(ObjectManager::Get()->CreateObjectID() >> ObjectManager::kHostShift,
              0u); // host id not yet known
    ASSERT_TRUE(client->Connect("127.0.0.1", server.GetPort()));
    ASSERT_TRUE(FramesUntil(server, [&] { return client->IsConnected(); }));
    EXPECT_EQ(ObjectManager::Get()->CreateObjectID() >> ObjectManager::kHostShift, 1u);

    // The frame's camera view reaches the server without the host doing anything more.
    const WorldFrustum view = View(8.0f);
    std::vector<WorldFrustum> frusta;
    ASSERT_TRUE(FramesUntil(
        server,
        [&] {
            frusta.clear();
            server.GetNetworkEntityList()->GetClientFrustumList(frusta);
            return frusta.size() == 1;
        },
        &view));
    EXPECT_EQ(frusta[0].GetRegionFrustum().GetPlane(5), view.GetRegionFrustum().GetPlane(5));

    // The engine's shut-down tells the server.
    e.Shutdown();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (server.GetNumClients() > 0 && std::chrono::steady_clock::now() < deadline) {
        server.Update(16);
        Platform::SleepMilliseconds(1);
    }
    EXPECT_EQ(server.GetNumClients(), 0);
}

// The server ends the session of a client engine that has one level in (a session that took the
// place of another: that end alone changes nothing): the engine goes on alone and the level that
// comes in afterwards has its ground and every entity. Objects made while
// joined keep their ids, and new ones carry the session's host id without taking an id in use:
// neither those, nor the ids just ahead of the counter that the session left under this host id
// (objects of a client that held the host id before, sent here by the server).
TEST_F(EngineSessionTest, AClientWhoseSessionEndsGoesOnAloneAndItsLaterLevelsLoadWhole)
{
    DataKit::WorldGenerator::AddRecords(data.Database());
    DataKit::WorldGenerator::Settings settings;
    settings.regionsX = 2;
    settings.regionsZ = 1;
    settings.regionSize = 32;
    settings.entitiesPerRegion = 8;
    settings.caves = 0;
    settings.villages = 0;
    DataKit::WorldGenerator generator(settings);
    World* world = StartGenerated(generator);
    ASSERT_NE(world, nullptr);
    GAME::Test::TestEngine& e = *engine;
    ServerConnectionManager server;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    e.SetAsNetworkClient();
    auto* client = static_cast<ClientConnectionManager*>(e.GetNetworkConnectionManager());
    ASSERT_TRUE(client->Connect("127.0.0.1", server.GetPort()));
    ASSERT_TRUE(FramesUntil(server, [&] { return client->IsConnected(); }));
    // Joining again ends that session, but a new one takes its place: the engine stays a client.
    ASSERT_TRUE(client->Connect("127.0.0.1", server.GetPort()));
    ASSERT_TRUE(FramesUntil(server, [&] { return client->IsConnected(); }));
    EXPECT_TRUE(e.IsNetworkClient());
    const unsigned host = static_cast<unsigned>(client->GetSessionHostID());

    ObjectManager* objects = ObjectManager::Get();
    Level* joined = LoadLevelNow(world->GetRegion(0));
    ASSERT_NE(joined, nullptr);
    std::vector<Entity*> madeJoined;
    joined->GetEntities(madeJoined, ENTITY_LIST_ALL);
    ASSERT_FALSE(madeJoined.empty());
    const unsigned next = objects->CreateObjectID();
    std::vector<Object*> left;
    for (unsigned i = 0; i < 16; ++i)
        left.push_back(objects->CreateObjectFromFile(DataKit::WorldGenerator::EntityRecords()[0], next + i));

    server.Shutdown();
    ASSERT_TRUE(FramesUntil(server, [&] { return !client->IsConnected(); }));
    EXPECT_FALSE(e.IsNetworkClient() || e.IsNetworkEnabled());
    EXPECT_TRUE(e.Has("the game goes on alone; its new objects carry host id " + std::to_string(host)));

    Level* alone = LoadLevelNow(world->GetRegion(1));
    ASSERT_NE(alone, nullptr);
    EXPECT_EQ(alone->GetNumEntities(), generator.GetRegions()[1].entities);
    ASSERT_NE(alone->GetTerrain(), nullptr);
    EXPECT_NE(alone->GetTerrain()->GetLayerTerrainType(0), nullptr);
    EXPECT_FALSE(e.Has("Unable to spawn object"));
    std::vector<Entity*> madeAlone;
    alone->GetEntities(madeAlone, ENTITY_LIST_ALL);
    for (Entity* entity : madeAlone) {
        EXPECT_EQ(entity->GetObjectId() >> ObjectManager::kHostShift, host);
        EXPECT_EQ(objects->GetObject(entity->GetObjectId()), entity); // no other object holds its id
    }
    for (Entity* entity : madeJoined)
        EXPECT_EQ(objects->GetObject(entity->GetObjectId()), entity);
    for (unsigned i = 0; i < left.size(); ++i) {
        EXPECT_EQ(objects->GetObject(next + i), left[i]);
        objects->DestroyObjectEx(left[i], __FILE__, __LINE__);
    }
}

} // namespace
} // namespace GAME
