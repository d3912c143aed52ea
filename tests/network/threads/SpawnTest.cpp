// An entity announced by the server reaches a client over the loopback address and is made there
// from its record, at its place, with its replicated state; what a client asks the server to make
// is made only when the server and the game allow it.
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
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <utility>
#include <vector>

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

// A client's request to make a crate: the spawn packet's wire form, written field by field so
// that any id and place can be asked for.
class SpawnRequest : public NetPacket
{
public:
    SpawnRequest(uint32_t id, const Vec3& place, const RegionId& region,
                 const Vec3& xAxis = Vec3(1.0f, 0.0f, 0.0f), const Vec3& yAxis = Vec3(0.0f, 1.0f, 0.0f),
                 const Vec3& zAxis = Vec3(0.0f, 0.0f, 1.0f))
        : NetPacket(PACKET_TYPE_SPAWN_ACTOR), m_id(id), m_place(place), m_region(region), m_xAxis(xAxis),
          m_yAxis(yAxis), m_zAxis(zAxis)
    {
    }
    void Write(NetPacketOutBuffer& out) override
    {
        bool yes = true, no = false;
        std::string record = "records/crate.dbr";
        out.Add(&m_id);
        out.Add(&yes);
        out.Add(&record);
        Vec3 axes[3] = {m_xAxis, m_yAxis, m_zAxis};
        for (Vec3& axis : axes)
            out.Add(&axis);
        out.Add(&m_place);
        for (int i = 0; i < 4; ++i) {
            uint32_t word = m_region.GetWord(i);
            out.Add(&word);
        }
        out.Add(&no); // no velocity
        const uint8_t visible = 1;
        out.AddBytes(&visible, 1);
    }

private:
    uint32_t m_id;
    Vec3 m_place;
    RegionId m_region;
    Vec3 m_xAxis;
    Vec3 m_yAxis;
    Vec3 m_zAxis;
};

TEST_F(SpawnThreadsTest, AClientsSpawnsAreMadeOnlyWhenTheServerAndTheGameAllowThem)
{
    GAME::Test::LogCapture log;
    ServerConnectionManager server;
    GAME::Test::RecordingController controller;
    server.SetNetworkController(&controller);
    ClientConnectionManager client;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    ASSERT_TRUE(client.Connect("127.0.0.1", server.GetPort()));
    ASSERT_TRUE(PumpUntil(server, client, [&] { return client.IsConnected(); }));
    const uint32_t own = static_cast<uint32_t>(client.GetLocalHostID()) << ObjectManager::kHostShift;
    const Vec3 inside(3.0f, 0.0f, 4.0f);
    auto ask = [&](uint32_t id, const Vec3& place) {
        SpawnRequest request(id, place, region->GetId());
        ASSERT_TRUE(client.SendToServer(&request));
    };
    auto made = [&](uint32_t id) { return ObjectManager::Get()->GetObject(id) != nullptr; };

    // The game has not said yes: nothing is made, but the game still sees the packet.
    ask(own | 1, inside);
    ASSERT_TRUE(PumpUntil(server, client, [&] { return controller.received.size() == 1; }));
    EXPECT_FALSE(made(own | 1));
    EXPECT_FALSE(controller.received[0].spawned);
    EXPECT_EQ(controller.spawnsAsked, 1);
    EXPECT_TRUE(log.Contains("the game did not accept them", 1));

    // Once it does, a crate of the client's own id at a place in the world is made.
    controller.acceptSpawns = true;
    ask(own | 2, inside);
    // Ids of the server's own and of a host that never joined, a place far outside the world,
    // and one that is not a number (which does not even read): none is made, and the game is
    // not asked.
    ask(0x00000123u, inside);
    ask((5u << ObjectManager::kHostShift) | 7u, inside);
    ask(own | 3, Vec3(3e38f, 0.0f, 0.0f));
    ask(own | 4, Vec3(std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.0f));
    const ABBox& box = region->GetBoundingBox();                                        // the level's
    ask(own | 5, box.center + Vec3(-0.9f * box.extents.x, 9.0f, 0.9f * box.extents.z)); // after the rest
    ASSERT_TRUE(PumpUntil(server, client, [&] { return controller.received.size() == 6; }));
    EXPECT_TRUE(made(own | 2));
    EXPECT_TRUE(made(own | 5));
    for (uint32_t id : {0x00000123u, (5u << ObjectManager::kHostShift) | 7u, own | 3, own | 4})
        EXPECT_FALSE(made(id)) << std::hex << id;
    EXPECT_EQ(controller.spawnsAsked, 3);
    EXPECT_EQ(server.GetNumRefusedSpawns(), 4u);
    EXPECT_EQ(server.GetStats().droppedUnreadable, 1u);
    EXPECT_EQ(server.GetNetworkEntityList()->GetClient(5), nullptr); // no record for a stranger

    // A burst beyond the client's rate: only the allowance is made.
    server.SetClientSpawnLimit(3);
    for (uint32_t n = 0; n < 10; ++n)
        ask(own | (16 + n), inside);
    ASSERT_TRUE(PumpUntil(server, client, [&] { return controller.received.size() == 16; }));
    int burst = 0;
    for (uint32_t n = 0; n < 10; ++n)
        burst += made(own | (16 + n)) ? 1 : 0;
    EXPECT_GE(burst, 3);
    EXPECT_LE(burst, 4); // 3 at once, and another if a third of a second passed meanwhile
    EXPECT_TRUE(log.Contains("objects client 1 asked to make in SpawnActorPacket refused", 1));
    size_t refusals = 0;
    for (const std::string& line : log.Texts())
        refusals += line.find("asked to make") != std::string::npos ? 1 : 0;
    EXPECT_EQ(refusals, 1u); // once per client, then only counted

    for (uint32_t id : {own | 2, own | 5})
        if (auto* entity = static_cast<Entity*>(ObjectManager::Get()->GetObject(id))) {
            level->RemoveEntity(entity);
            ObjectManager::Get()->DestroyObjectEx(entity, __FILE__, __LINE__);
        }
    for (uint32_t n = 0; n < 10; ++n)
        if (auto* entity = static_cast<Entity*>(ObjectManager::Get()->GetObject(own | (16 + n)))) {
            level->RemoveEntity(entity);
            ObjectManager::Get()->DestroyObjectEx(entity, __FILE__, __LINE__);
        }
}

// A client spawn's frame must be a rotation: unit axes at right angles, z the cross product of
// x and y (a sheared, collapsed or mirrored frame would make the object with a broken transform).
TEST_F(SpawnThreadsTest, AClientSpawnIsMadeOnlyWithAnOrientationThatIsARotation)
{
    GAME::Test::LogCapture log;
    ServerConnectionManager server;
    GAME::Test::RecordingController controller;
    controller.acceptSpawns = true;
    server.SetNetworkController(&controller);
    server.SetClientSpawnLimit(100);
    ClientConnectionManager client;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    ASSERT_TRUE(client.Connect("127.0.0.1", server.GetPort()));
    ASSERT_TRUE(PumpUntil(server, client, [&] { return client.IsConnected(); }));
    const uint32_t own = static_cast<uint32_t>(client.GetLocalHostID()) << ObjectManager::kHostShift;
    const Vec3 inside(3.0f, 0.0f, 4.0f);
    const Vec3 x(1.0f, 0.0f, 0.0f), y(0.0f, 1.0f, 0.0f), z(0.0f, 0.0f, 1.0f);
    const Vec3 turned(0.6f, 0.0f, 0.8f); // a unit vector, as a client rounds it
    struct Asked
    {
        uint32_t id;
        Vec3 x, y, z;
        bool made;
    };
    const std::vector<Asked> asked = {
        {own | 1, Vec3(1e30f, 0.0f, 0.0f), y, z, false},       // finite, and absurd
        {own | 2, Vec3(2.0f, 0.0f, 0.0f), y, z, false},        // a scale, not a rotation
        {own | 3, Vec3(1e-20f, 0.0f, 0.0f), y, z, false},      // next to nothing
        {own | 4, Vec3(0.0f, 0.0f, 0.0f), y, z, false},        // nothing
        {own | 5, turned, y, z, false},                        // unit axes, sheared
        {own | 6, x, x, x, false},                             // unit axes, all one
        {own | 7, x, y, Vec3(0.0f, 0.0f, -1.0f), false},       // mirrored
        {own | 8, Vec3(1.0f + 1e-5f, 0.0f, 0.0f), y, z, true}, // within rounding of one
        {own | 9, turned, y, Vec3(-0.8f, 0.0f, 0.6f), true},   // turned about y
    };
    for (const Asked& a : asked) {
        SpawnRequest request(a.id, inside, region->GetId(), a.x, a.y, a.z);
        ASSERT_TRUE(client.SendToServer(&request));
    }
    ASSERT_TRUE(PumpUntil(server, client, [&] { return controller.received.size() == asked.size(); }));
    for (const Asked& a : asked) {
        auto* entity = static_cast<Entity*>(ObjectManager::Get()->GetObject(a.id));
        EXPECT_EQ(entity != nullptr, a.made) << (a.id & 0xFF);
        if (entity) {
            level->RemoveEntity(entity);
            ObjectManager::Get()->DestroyObjectEx(entity, __FILE__, __LINE__);
        }
    }
    EXPECT_EQ(server.GetNumRefusedSpawns(), 7u);
    EXPECT_TRUE(log.Contains("axes are not unit vectors", 1));
}

} // namespace
} // namespace GAME
