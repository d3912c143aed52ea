// An entity announced by the server reaches a client over the loopback address and is made there
// from its record, at its place, with its replicated state; what a client asks the server to make
// is made only when the server and the game allow it, and what clients' spawns and views cost the
// server (its log, its frames, its memory) stays bounded however long they go on.
#include "../HandPeer.h"
#include "../NetworkTestKit.h"

#include "../../world/StreamingWorld.h"
#include "common/LogCapture.h"
#include "common/MemoryFiles.h"
#include "common/RecordServices.h"
#include "common/TempDir.h"
#include "core/Log.h"
#include "core/ObjectManager.h"
#include "core/UniqueIdMap.h"
#include "datakit/ArzWriter.h"
#include "network/ClientConnectionManager.h"
#include "network/ServerConnectionManager.h"
#include "platform/SystemInfo.h"
#include "platform/Threading.h"
#include "world/Engine.h"
#include "world/Entity.h"
#include "world/EntityListType.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/World.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cmath>
#include <ctime>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

namespace GAME {
namespace {

using GAME::Test::SpawnRequest;

// A world's map of regions side by side, 400 crates in each: a level whose load on the main
// thread is a stall no server frame may have.
std::vector<uint8_t> CrowdedRegions(int count)
{
    std::vector<GAME::Test::StreamingRegion> layout(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        layout[i].offset = IntVec3(64 * i, 0, 0);
        for (int n = 0; n < 400; ++n)
            layout[i].entities.emplace_back("records/crate.dbr",
                                            Vec3(2.0f + static_cast<float>(n % 20) * 3.0f, 0.0f,
                                                 2.0f + static_cast<float>(n / 20) * 3.0f));
    }
    return GAME::Test::StreamingMapImage(layout);
}

// The levels the main thread loaded or waited for in the world's regions so far: each a stall of
// a frame the size of a load.
unsigned LoadsOnMainThread(const World& world)
{
    unsigned loads = 0;
    for (int i = 0; i < world.GetNumRegions(); ++i)
        loads += world.GetRegion(i)->GetLoadsOnMainThread();
    return loads;
}

// A server's world of two regions side by side, the second's level file cut short; made current.
bool LoadWorldWithABrokenLevel(GAME::Test::StreamingServices& services, World& world)
{
    services.server = true;
    std::vector<GAME::Test::StreamingRegion> layout(2);
    layout[1].offset = IntVec3(64, 0, 0);
    layout[1].truncated = true;
    if (!services.Put("maps/broken.map", GAME::Test::StreamingMapImage(layout)))
        return false;
    World::SetCurrent(&world);
    return world.Load("maps/broken.map", true);
}

// Frames of both until the condition holds; false after a minute, which is a hang.
bool PumpUntil(ConnectionManager& a, ConnectionManager& b, const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        a.Update(5);
        b.Update(5);
        Platform::SleepMilliseconds(1);
    }
    return done();
}

// Frames of every manager until the condition holds; false after a minute, which is a hang.
bool PumpAllUntil(const std::vector<ConnectionManager*>& managers, const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        for (ConnectionManager* manager : managers)
            manager->Update(5);
        Platform::SleepMilliseconds(1);
    }
    return done();
}

// How many of the lines the log caught hold the fragment.
long CountLines(const GAME::Test::LogCapture& log, const std::string& fragment)
{
    const std::vector<std::string> texts = log.Texts();
    return std::count_if(texts.begin(), texts.end(),
                         [&](const std::string& text) { return text.find(fragment) != std::string::npos; });
}

// Takes every entity out of the level and destroys it.
void DestroyEntities(Level* level)
{
    std::vector<Entity*> all;
    level->GetEntities(all, ENTITY_LIST_ALL);
    for (Entity* entity : all) {
        level->RemoveEntity(entity);
        ObjectManager::Get()->DestroyObjectEx(entity, __FILE__, __LINE__);
    }
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
}

// A game's packet that writes a line when it is read and another when the game takes it (a game
// that logs what it is sent).
constexpr PACKET_TYPE noisyType = PACKET_TYPE(42);

class NoisyPacket : public NetPacket
{
public:
    NoisyPacket() : NetPacket(noisyType) {}
    const char* GetTypeName() const override { return "NoisyPacket"; }
    void Write(NetPacketOutBuffer& buffer) override { buffer.Add(&value); }
    bool Read(NetPacketInBuffer& buffer) override
    {
        buffer.Remove(&value);
        LogPrintf(1, "Read a noisy packet saying %u", value);
        return !buffer.Failed();
    }
    uint32_t value = 0;
};

class NoisyPacketCreator : public NetworkPacketCreatorBase
{
public:
    NetPacket* CreatePacket(PACKET_TYPE type) override
    {
        return type == noisyType ? new NoisyPacket : nullptr;
    }
};

// The game's side, which takes every client's spawns and only counts what it is handed and what
// was made for it (a tally, not a list: the memory tests read the process's heap).
class CountingController : public NetworkControllerBase
{
public:
    void AddEntityToClient(int, Entity*) override {}
    void RemoveEntitiesFromClient(int, const std::vector<unsigned int>&) override {}
    void OnEntityAdded(Entity*, bool) override {}
    void OnReplicationFailed(unsigned int) override {}
    void ProcessPacket(int host, NetPacket* packet) override
    {
        ++packets;
        if (packet->GetType() == noisyType)
            LogPrintf(1, "The game took a noisy packet from client %d", host);
        if (auto* interaction = dynamic_cast<ObjectInteractionPacket*>(packet))
            for (size_t i = 0; i < interaction->GetNumIds(); ++i) {
                const SmartObjectId* id = interaction->GetId(i);
                made += id->ShouldReplicate() && id->GetReplicationResult() ? 1 : 0;
            }
    }
    bool AcceptClientSpawns(int, NetPacket*) override { return true; }

    uint64_t packets = 0;
    uint64_t made = 0;
};

// A game's object that weighs 64 KB (a mesh, a brain, an inventory), in memory from the start.
class HeavyCrate : public Entity
{
    GAME_DECLARE_CLASS(HeavyCrate)

public:
    std::vector<uint8_t> payload = std::vector<uint8_t>(size_t(64) << 10, 1);
};

GAME_REGISTER_CLASS(HeavyCrate, Entity)

// A game's object that stays when it enters a region whose level is not in (a player's character
// does): the world loads the level for it.
class KeptCrate : public Entity
{
    GAME_DECLARE_CLASS(KeptCrate)

public:
    bool DeleteOnEnteringUnloadedLevel() const override { return false; }
};

GAME_REGISTER_CLASS(KeptCrate, Entity)

class SpawnThreadsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        DataKit::ArzWriter writer(true);
        writer.AddRecord("records/crate.dbr").String("Class", "Entity");
        writer.AddRecord("records/heavy.dbr").String("Class", "HeavyCrate");
        writer.AddRecord("records/kept.dbr").String("Class", "KeptCrate");
        writer.AddRecord("records/note.dbr").String("Class", "Object"); // makes no entity
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

// A hand-made peer asks for a crate of the record (the plain one when null) at `at`. False when it
// could not be written or sent.
bool SendCrate(GAME::Test::HandPeer& peer, uint32_t id, const Vec3& at, const RegionId& region,
               const char* record = nullptr)
{
    SpawnRequest crate(id, at, region);
    if (record)
        crate.Record(record);
    std::vector<uint8_t> body;
    return ConnectionManager::WriteBody(&crate, body) && peer.SendSealed(PACKET_TYPE_SPAWN_ACTOR, body);
}

// The engine's time stands still here: a client's allowance of spawns refills only when the test
// says.
TEST_F(SpawnThreadsTest, AClientsSpawnsAreMadeOnlyWhenTheServerAndTheGameAllowThem)
{
    GAME::Test::LogCapture log;
    GAME::Test::ManualClock clock;
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

    // A burst beyond the client's rate: only the allowance is made (the fault, no rate: all ten).
    server.SetClientSpawnLimit(3);
    for (uint32_t n = 0; n < 10; ++n)
        ask(own | (16 + n), inside);
    ASSERT_TRUE(PumpUntil(server, client, [&] { return controller.received.size() == 16; }));
    int burst = 0;
    for (uint32_t n = 0; n < 10; ++n)
        burst += made(own | (16 + n)) ? 1 : 0;
    EXPECT_EQ(burst, 3);
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

// Fifteen joined clients (anyone may join: sessions are anonymous) changing region in every view,
// spawning at their limit, crates and records the server lacks alike, and sending packets the
// game logs, for ten seconds of the server's time: the server makes every crate, hands on every
// view and packet, and writes no more than its share of lines and one summary (once 15 lines a
// second for the changes of region, 150 for the crates made, 450 for the records it lacks, and as
// many as the engine and the game write about views and packets).
TEST_F(SpawnThreadsTest, FifteenClientsChangingRegionAndSpawningAtTheirLimitMakeTheServerWriteOnlyItsShare)
{
    GAME::Test::LogCapture log;
    GAME::Test::ManualClock clock;
    world->AddRegion("levels/field.lvl", IntVec3(), ABBox(), RegionId(8, 8, 8, 8));
    Region* field = world->GetRegion(1);
    Level* fieldLevel = new Level(field);
    fieldLevel->NewSpace(Vec2(100.0f, 100.0f));
    fieldLevel->PostLoad(false);
    field->SetLevel(fieldLevel);

    ServerConnectionManager server;
    server.SetMaxPeersPerAddress(0); // every client comes from the loopback address
    CountingController controller;
    server.SetNetworkController(&controller);
    NoisyPacketCreator creator;
    server.SetNetPacketCreator(&creator);
    // As the engine's view handler does, a line for what a view brings the client.
    server.SetViewHandler([&](int host, const WorldFrustum& view) {
        server.GetNetworkEntityList()->UpdateFrustum(host, view);
        LogPrintf(0, "Server added what client %d sees", host);
    });
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    std::vector<std::unique_ptr<ClientConnectionManager>> clients;
    std::vector<ConnectionManager*> all = {&server};
    for (int i = 0; i < ServerConnectionManager::maxClients; ++i) {
        clients.push_back(std::make_unique<ClientConnectionManager>());
        ASSERT_TRUE(clients.back()->Connect("127.0.0.1", server.GetPort()));
        all.push_back(clients.back().get());
    }
    ASSERT_TRUE(PumpAllUntil(all, [&] {
        return std::all_of(clients.begin(), clients.end(), [](const auto& c) { return c->IsConnected(); });
    }));
    // What the joins made the server write is summed up: the attack starts an interval.
    clock.Advance(ConnectionManager::logSummaryIntervalMs);
    server.Update(0);
    log.Clear();

    Region* const regions[2] = {region, field};
    const Vec3 inside(3.0f, 0.0f, 4.0f);
    constexpr uint32_t steps = 100; // of 100 ms: ten seconds
    for (uint32_t step = 0; step < steps; ++step) {
        Region* in = regions[step % 2];
        for (const auto& client : clients) {
            const uint32_t own = static_cast<uint32_t>(client->GetLocalHostID()) << ObjectManager::kHostShift;
            ASSERT_TRUE(client->SendViewFrustum(
                WorldFrustum(in, Region::GetBoxFrustum(ABBox(inside, Vec3(10.0f, 10.0f, 10.0f))))));
            SpawnRequest crate(own | (step + 1), inside, in->GetId());
            ASSERT_TRUE(client->SendToServer(&crate));
            SpawnRequest lacking(own | (0x10000 + step), inside, in->GetId());
            lacking.Record("records/lacking/" + std::to_string(step) + ".dbr");
            ASSERT_TRUE(client->SendToServer(&lacking));
            NoisyPacket noisy;
            noisy.value = step;
            ASSERT_TRUE(client->SendToServer(&noisy));
        }
        const uint64_t sent = clients.size() * (step + 1);
        ASSERT_TRUE(PumpAllUntil(all, [&] {
            return controller.packets == 3 * sent && server.GetNumViewsApplied() == sent;
        })) << "step " << step;
        clock.Advance(100);
    }
    server.Update(0); // the interval is over

    EXPECT_EQ(controller.made, clients.size() * steps);
    EXPECT_EQ(server.GetNumRefusedSpawns(), clients.size() * steps);
    // Besides the cap's lines and its summary, the guard's count of what it refused (ENet's filing
    // budget may leave a slow server's sends out) once in the 10 s.
    size_t summaries = 0, guard = 0, lines = 0;
    std::string written;
    for (const std::string& line : log.Texts()) {
        written += line + "\n";
        if (line.find("not logged in the last 10 s") != std::string::npos)
            ++summaries;
        else if (line.find("peers that did not join so far") != std::string::npos)
            ++guard;
        else
            ++lines;
    }
    EXPECT_LE(lines, static_cast<size_t>(ConnectionManager::maxLinesPerInterval)) << written;
    EXPECT_EQ(summaries, 1u);
    EXPECT_LE(guard, 1u);
    for (const char* counted : {"changes of region", "refusals of objects", "lines about clients' packets",
                                "lines about clients' views"})
        EXPECT_TRUE(log.Contains(counted)) << counted;
    // The summary is as noticeable as the lines it counts: a warning for refused objects; for
    // changes of region and what the views brought, info lines alone, an info line (a console that
    // leaves those lines out once printed nothing but their summaries, every 10 s).
    EXPECT_TRUE(log.Contains("not logged in the last 10 s", 1));
    log.Clear();
    for (uint32_t step = 0; step < 10; ++step) {
        for (const auto& client : clients)
            ASSERT_TRUE(client->SendViewFrustum(WorldFrustum(
                regions[step % 2], Region::GetBoxFrustum(ABBox(inside, Vec3(10.0f, 10.0f, 10.0f))))));
        const uint64_t applied = clients.size() * (steps + step + 1);
        ASSERT_TRUE(PumpAllUntil(all, [&] { return server.GetNumViewsApplied() == applied; }))
            << "step " << step;
        clock.Advance(1000);
    }
    server.Update(0); // the interval is over
    EXPECT_TRUE(log.Contains("changes of region", 0));
    EXPECT_FALSE(log.Contains("not logged in the last 10 s", 1));
    EXPECT_FALSE(log.Contains("not logged in the last 10 s", 2));
    DestroyEntities(level);
    DestroyEntities(fieldLevel);
}

// A client spawning at its limit for a long while, each time a record the server lacks under a
// new name of a kilobyte, or the server's crate spelled anew: the server keeps nothing of it (it
// once kept an empty record table for every name asked for, and a table for every spelling) and
// writes nothing about records it lacks (it once wrote three lines each); a record that makes no
// entity is refused as well.
TEST_F(SpawnThreadsTest, SpawnsOfRecordsTheServerLacksOrSpellsOtherwiseLeaveNothingBehind)
{
    GAME::Test::LogCapture log;
    GAME::Test::ManualClock clock;
    ServerConnectionManager server;
    CountingController controller;
    server.SetNetworkController(&controller);
    ClientConnectionManager client;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    ASSERT_TRUE(client.Connect("127.0.0.1", server.GetPort()));
    ASSERT_TRUE(PumpUntil(server, client, [&] { return client.IsConnected(); }));
    const uint32_t own = static_cast<uint32_t>(client.GetLocalHostID()) << ObjectManager::kHostShift;
    const Vec3 inside(3.0f, 0.0f, 4.0f);
    uint64_t asked = 0;
    uint32_t spelling = 0;
    // A second of the server's time: the client's allowance of spawns, half of them records the
    // server lacks, half the crate in a new mix of capitals and slashes (made, then taken away).
    auto second = [&] {
        for (uint32_t i = 0; i < 5; ++i) {
            SpawnRequest lacking(own | 1, inside, region->GetId());
            lacking.Record("records/" + std::string(1000, 'x') + std::to_string(asked + i) + ".dbr");
            ASSERT_TRUE(client.SendToServer(&lacking));
            std::string spelled = "records/crate.dbr";
            ++spelling;
            // Each letter a capital, each slash a backslash, as the count's bits say in turn.
            uint32_t bit = 0;
            for (char& c : spelled) {
                if (c != '/' && !std::isalpha(static_cast<unsigned char>(c)))
                    continue;
                if ((spelling >> bit++) & 1)
                    c = c == '/' ? '\\' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            SpawnRequest crate(own | (2 + i), inside, region->GetId());
            crate.Record(spelled);
            ASSERT_TRUE(client.SendToServer(&crate));
        }
        asked += 10;
        ASSERT_TRUE(PumpUntil(server, client, [&] { return controller.packets == asked; }));
        DestroyEntities(level);
        clock.Advance(1000);
    };
    for (int s = 0; s < 10; ++s)
        second();
    const uint64_t before = Platform::GetProcessHeapBytes();
    constexpr uint64_t seconds = 200;
    for (uint64_t s = 0; s < seconds; ++s)
        second();
    const int64_t grown =
        static_cast<int64_t>(Platform::GetProcessHeapBytes()) - static_cast<int64_t>(before);
    EXPECT_EQ(controller.made, asked / 2);
    EXPECT_EQ(server.GetNumRefusedSpawns(), asked / 2);
    // Far less than the kilobyte and more a spawn that was kept before.
    EXPECT_LT(grown, static_cast<int64_t>(64 * 10 * seconds)) << "the heap grew by " << grown << " bytes";
    EXPECT_FALSE(log.Contains("Unable to open file"));
    EXPECT_FALSE(log.Contains("SmartObjectId Spawn failed"));
    EXPECT_FALSE(log.Contains("does not make an entity"));
    EXPECT_TRUE(log.Contains("a record this server does not have", 1));

    // A record that is there but makes no entity is refused too, and nothing is made of it.
    SpawnRequest note(own | 9, inside, region->GetId());
    note.Record("records/note.dbr");
    const uint64_t objects = ObjectManager::Get()->GetNumObjects();
    ASSERT_TRUE(client.SendToServer(&note));
    ASSERT_TRUE(PumpUntil(server, client, [&] { return controller.packets == asked + 1; }));
    EXPECT_EQ(server.GetNumRefusedSpawns(), asked / 2 + 1);
    EXPECT_EQ(ObjectManager::Get()->GetNumObjects(), objects);

    // Records read from files: each file in one spelling; a name that climbs out is refused.
    GAME::Test::TempDir dir;
    ASSERT_TRUE(dir.Write("records/crate.dbr", "Class,Entity,\n"));
    ASSERT_TRUE(
        records.fileSystem.AddSource(FileSystem::PARTITION_0, dir.Path().c_str(), false, false, false));
    records.fromArchive = false;
    SpawnRequest spelled(own | 10, inside, region->GetId());
    spelled.Record("RECORDS/Crate.DBR");
    SpawnRequest climbing(own | 11, inside, region->GetId());
    climbing.Record("records/../records/crate.dbr");
    ASSERT_TRUE(client.SendToServer(&spelled));
    ASSERT_TRUE(client.SendToServer(&climbing));
    ASSERT_TRUE(PumpUntil(server, client, [&] { return controller.packets == asked + 3; }));
    records.fromArchive = true;
    const Object* made = ObjectManager::Get()->GetObject(own | 10);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->GetObjectName(), "records\\crate.dbr");
    EXPECT_EQ(ObjectManager::Get()->GetObject(own | 11), nullptr);
    DestroyEntities(level);
}

// A world of many regions, of which two are loaded: a client spawning objects that stay where
// they are put into the others (each a region whose level is not in) makes the server load no
// level, on its main thread or another, and wait for none (once each such spawn loaded its level
// there and then, on the main thread, a stall of a frame each).
TEST_F(SpawnThreadsTest, ASpawnIntoARegionWhoseLevelIsNotInLoadsNoLevelAndStallsNoFrame)
{
    GAME::Test::LogCapture log;
    GAME::Test::StreamingServices services;
    constexpr int regionCount = 10;
    ASSERT_TRUE(services.Put("maps/many.map", CrowdedRegions(regionCount)));
    World many;
    World::SetCurrent(&many);
    ASSERT_TRUE(many.Load("maps/many.map", true));
    ASSERT_TRUE(many.GetRegion(0)->LoadLevel(false));
    ASSERT_TRUE(many.GetRegion(1)->LoadLevel(false));
    ASSERT_TRUE(many.GetRegion(1)->IsLevelLoaded());
    const unsigned loadsBefore = LoadsOnMainThread(many);
    log.Clear();

    ServerConnectionManager server;
    CountingController controller;
    server.SetNetworkController(&controller);
    ClientConnectionManager client;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    ASSERT_TRUE(client.Connect("127.0.0.1", server.GetPort()));
    ASSERT_TRUE(PumpUntil(server, client, [&] { return client.IsConnected(); }));
    const uint32_t own = static_cast<uint32_t>(client.GetLocalHostID()) << ObjectManager::kHostShift;
    const Vec3 inside(10.0f, 0.0f, 10.0f);
    // Within the client's allowance: one crate into each region not loaded, one into a loaded one.
    for (int i = 2; i < regionCount; ++i) {
        SpawnRequest crate(own | static_cast<uint32_t>(i), inside, many.GetRegion(i)->GetId());
        crate.Record("records/kept.dbr");
        ASSERT_TRUE(client.SendToServer(&crate));
    }
    SpawnRequest loaded(own | 1u, inside, many.GetRegion(1)->GetId());
    loaded.Record("records/kept.dbr");
    ASSERT_TRUE(client.SendToServer(&loaded));
    ASSERT_TRUE(PumpUntil(server, client,
                          [&] { return controller.packets == static_cast<uint64_t>(regionCount - 1); }));
    EXPECT_EQ(LoadsOnMainThread(many), loadsBefore);
    for (int i = 2; i < regionCount; ++i) {
        EXPECT_EQ(many.GetRegion(i)->GetLevelPtr(), nullptr) << i;
        EXPECT_FALSE(many.GetRegion(i)->IsLoadUnderWay()) << i;
    }
    EXPECT_FALSE(log.Contains("Forcing load"));
    EXPECT_TRUE(log.Contains("a region whose level is not loaded", 1));
    EXPECT_EQ(server.GetNumRefusedSpawns(), static_cast<uint64_t>(regionCount - 2));
    EXPECT_EQ(controller.made, 1u); // the one into a loaded region
    EXPECT_NE(ObjectManager::Get()->GetObject(own | 1u), nullptr);

    many.Unload();
    World::SetCurrent(world);
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
}

// A world of many regions, none of them in, and a joined client whose view jumps to the next
// region as often as the server takes its views, for a long while. The server's frames walk the
// clients' views as the engine's do: they load no level on the main thread and wait for none for
// the clients (once the level of each view was loaded there and then, a frame's stall each; the
// server's own view, of the first region, has its level loaded at once, as a local view does);
// the levels come in on their loading threads; and what their loads and unloads write comes under
// the server's cap on peers' lines, with their count in its summaries (once some five lines for
// each region the view passed).
TEST_F(SpawnThreadsTest, AClientsViewsBringLevelsInOnTheirThreadsAndTheirLinesUnderTheCap)
{
    GAME::Test::LogCapture log;
    GAME::Test::ManualClock clock;
    GAME::Test::StreamingServices services;
    constexpr int regionCount = 12;
    ASSERT_TRUE(services.Put("maps/many.map", CrowdedRegions(regionCount)));
    World many;
    World::SetCurrent(&many);
    ASSERT_TRUE(many.Load("maps/many.map", true));
    ASSERT_FALSE(many.GetRegion(1)->GetLevelPtr());
    // What the main thread loaded for the clients: all but the server's own view's region.
    auto loadsForClients = [&] {
        return LoadsOnMainThread(many) - many.GetRegion(0)->GetLoadsOnMainThread();
    };
    const unsigned loadsBefore = loadsForClients();

    ServerConnectionManager server;
    services.entityList = server.GetNetworkEntityList();
    ClientConnectionManager client;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    ASSERT_TRUE(client.Connect("127.0.0.1", server.GetPort()));
    ASSERT_TRUE(PumpUntil(server, client, [&] { return client.IsConnected(); }));
    // What the join made the server write is summed up: the views start an interval.
    clock.Advance(ConnectionManager::logSummaryIntervalMs);
    server.Update(0);
    log.Clear();

    // The server's frame as the engine's: objects destroyed, completed levels, the world walked
    // with the views (the first a server's without a view of its own, then the clients'), the
    // network pumped.
    auto frame = [&] {
        services.frame.fetch_add(1);
        ObjectManager::Get()->DestroyPendingObjects(Engine::destroyPerFrame);
        many.PostLoadPass();
        std::vector<WorldFrustum> views = {WorldFrustum(many.GetRegion(0), Frustum())};
        server.GetNetworkEntityList()->GetClientFrustumList(views);
        many.Update(views);
        server.Update(5);
        client.Update(5);
    };
    // Each view half a second of the server's time, then long enough in frames that the regions
    // it left go (some 600 frames unused).
    constexpr int steps = 120;
    int unloaded = 0;
    for (int step = 0; step < steps; ++step) {
        Region* in = many.GetRegion(step % regionCount);
        unloaded += step >= regionCount && !in->GetLevelPtr() ? 1 : 0;
        ASSERT_TRUE(client.SendViewFrustum(
            GAME::Test::BoxView(in, Vec3(32.0f, 0.0f, 32.0f), Vec3(5.0f, 5.0f, 5.0f))));
        const uint64_t applied = server.GetNumViewsApplied() + 1;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while ((server.GetNumViewsApplied() < applied || !in->IsLevelLoaded()) &&
               std::chrono::steady_clock::now() < deadline) {
            frame();
            Platform::SleepMilliseconds(1);
        }
        ASSERT_TRUE(in->IsLevelLoaded()) << "step " << step;
        for (int i = 0; i < 80; ++i)
            frame();
        clock.Advance(500);
    }
    clock.Advance(ConnectionManager::logSummaryIntervalMs);
    server.Update(0); // the last interval is over

    // Once, some ten views (those that found their region's level gone) loaded it on this thread.
    EXPECT_EQ(loadsForClients(), loadsBefore);
    EXPECT_FALSE(log.Contains("Forcing load"));
    EXPECT_FALSE(log.Contains("Main thread sleeping"));
    EXPECT_GT(unloaded, regionCount); // the regions left behind went, and came back in
    // Between one summary and the next, no more than the cap.
    size_t summaries = 0, lines = 0, most = 0;
    for (const std::string& line : log.Texts()) {
        if (line.find("not logged in the last") != std::string::npos) {
            ++summaries;
            lines = 0;
        } else if (line.find("peers that did not join so far") == std::string::npos) {
            most = std::max(most, ++lines);
        }
    }
    EXPECT_LE(most, static_cast<size_t>(ConnectionManager::maxLinesPerInterval));
    // One summary for each 10 s at most: 60 s of views and the 10 s after them.
    EXPECT_LE(summaries, static_cast<size_t>(steps / 20 + 2));
    EXPECT_TRUE(log.Contains("lines about levels clients' views loaded"));

    services.entityList = nullptr;
    many.Unload();
    World::SetCurrent(world);
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
}

// A world of regions in a row, none of them in but the first, and a joined client walking its
// character (an object that stays when it enters a region whose level is not in) across ten
// borders into regions no view has brought in: the server loads none of those levels on its main
// thread and waits for none (once every border cost a frame a level's load there). The character
// waits at each border until the region's loading thread has brought the level in, and arrives
// in the last region with nothing lost.
TEST_F(SpawnThreadsTest, AClientWalkingItsCharacterAcrossBordersLoadsNoLevelOnTheMainThread)
{
    // The game's side: a client's packet names where it walks its character (a region's index
    // and which end of it), and the game moves the character there every frame.
    class WalkingController : public CountingController
    {
    public:
        void ProcessPacket(int host, NetPacket* packet) override
        {
            CountingController::ProcessPacket(host, packet);
            goal = Place(*world, static_cast<NoisyPacket*>(packet)->value);
        }
        static WorldCoords Place(const World& world, uint32_t to)
        {
            return WorldCoords(world.GetRegion(static_cast<int>(to / 2)),
                               Coords::Translation(Vec3(to % 2 ? 60.0f : 2.0f, 0.0f, 32.0f)));
        }
        World* world = nullptr;
        WorldCoords goal;
    };
    GAME::Test::StreamingServices services;
    services.server = true;
    constexpr int regionCount = 11;
    ASSERT_TRUE(services.Put("maps/many.map", CrowdedRegions(regionCount)));
    World many;
    World::SetCurrent(&many);
    ASSERT_TRUE(many.Load("maps/many.map", true));
    ASSERT_TRUE(many.GetRegion(0)->LoadLevel(false));
    const unsigned loadsBefore = LoadsOnMainThread(many);
    auto* character = static_cast<Entity*>(ObjectManager::Get()->CreateObjectFromFile("records/kept.dbr"));
    ASSERT_TRUE(character && many.AddEntity(character, WorldCoords(many.GetRegion(0), Coords()), true));
    const unsigned id = character->GetObjectId();

    GAME::Test::LogCapture log;
    ServerConnectionManager server;
    services.entityList = server.GetNetworkEntityList();
    WalkingController controller;
    controller.world = &many;
    server.SetNetworkController(&controller);
    NoisyPacketCreator creator;
    server.SetNetPacketCreator(&creator);
    ClientConnectionManager client;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    ASSERT_TRUE(client.Connect("127.0.0.1", server.GetPort()));
    ASSERT_TRUE(PumpUntil(server, client, [&] { return client.IsConnected(); }));

    // Each step a packet, then the server's frames as the engine's, with the game's move in them,
    // until the character is there.
    int waitingFrames = 0;
    for (uint32_t step = 2; step < 2 * regionCount; ++step) {
        NoisyPacket walk;
        walk.value = step;
        ASSERT_TRUE(client.SendToServer(&walk));
        const WorldCoords there = WalkingController::Place(many, step);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (character->GetCoords() != there && std::chrono::steady_clock::now() < deadline) {
            services.frame.fetch_add(1);
            ObjectManager::Get()->DestroyPendingObjects(Engine::destroyPerFrame);
            many.PostLoadPass();
            many.Update({WorldFrustum(many.GetRegion(0), Frustum())}); // a server's without a view of its own
            server.Update(5);
            if (controller.goal.GetRegion())
                many.SetCoords(character, controller.goal);
            waitingFrames += character->GetRegion() != there.GetRegion() ? 1 : 0;
            client.Update(5);
            Platform::SleepMilliseconds(1);
        }
        ASSERT_EQ(character->GetCoords(), there) << "step " << step;
    }
    // No level was loaded or waited for on this thread (the fault: one at every border): the
    // character waited at each border instead, for the five frames a level takes to complete (a
    // step a frame) at least.
    EXPECT_EQ(LoadsOnMainThread(many), loadsBefore);
    EXPECT_GE(waitingFrames, 5 * (regionCount - 1));
    EXPECT_FALSE(log.Contains("Forcing load"));
    EXPECT_FALSE(log.Contains("Main thread sleeping"));
    // Nothing lost: the character where it was walked to, in a whole level.
    EXPECT_EQ(ObjectManager::Get()->GetObject(id), character);
    const Level* last = many.GetRegion(regionCount - 1)->GetLevelPtr();
    ASSERT_NE(last, nullptr);
    EXPECT_TRUE(last->HasEntity(character));
    EXPECT_EQ(last->GetNumEntities(), 401u);

    services.entityList = nullptr;
    many.Unload();
    World::SetCurrent(world);
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
}

// A joined client walking its character (an object that stays when it enters a region whose
// level is not in) into a region whose level file is cut short, 100 times, and after the first
// looking into that region: the loading thread reads and parses the file once (once at every move
// before, each time failing, and the view would read it in every frame), the server says once
// which file and why, the game hears of every move refused once the failure was known, and the
// character stays where it was, whole. When the host asks for the level again it is read once
// more, and the next move refused is said again.
TEST_F(SpawnThreadsTest, AClientWalkingItsCharacterIntoALevelThatCannotLoadIsRefusedAfterOneParse)
{
    // The game's side: a client's packet asks to walk the character into the broken region, and
    // the game moves it there in the next frame; it counts what the world says it refused.
    class WalkingController : public CountingController
    {
    public:
        void OnEntityAdded(Entity* entity, bool added) override
        {
            refused += entity == character && !added ? 1 : 0;
        }
        void ProcessPacket(int host, NetPacket* packet) override
        {
            CountingController::ProcessPacket(host, packet);
            walk = true;
        }
        Entity* character = nullptr;
        bool walk = false;
        int refused = 0;
    };
    GAME::Test::StreamingServices services;
    World two;
    ASSERT_TRUE(LoadWorldWithABrokenLevel(services, two));
    Region* home = two.GetRegion(0);
    Region* broken = two.GetRegion(1);
    ASSERT_TRUE(home->LoadLevel(false));
    auto* character = static_cast<Entity*>(ObjectManager::Get()->CreateObjectFromFile("records/kept.dbr"));
    const WorldCoords where(home, Coords::Translation(Vec3(60.0f, 0.0f, 32.0f)));
    ASSERT_TRUE(character && two.AddEntity(character, where, true));
    const unsigned id = character->GetObjectId();
    const WorldCoords there(broken, Coords::Translation(Vec3(2.0f, 0.0f, 32.0f)));

    GAME::Test::LogCapture log;
    ServerConnectionManager server;
    server.SetNetworkLogging(true); // every line the loads write, however many
    services.entityList = server.GetNetworkEntityList();
    WalkingController controller;
    controller.character = character;
    server.SetNetworkController(&controller);
    services.controller = &controller; // the engine's, which the world tells
    NoisyPacketCreator creator;
    server.SetNetPacketCreator(&creator);
    ClientConnectionManager client;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    ASSERT_TRUE(client.Connect("127.0.0.1", server.GetPort()));
    ASSERT_TRUE(PumpUntil(server, client, [&] { return client.IsConnected(); }));

    // The server's frames as the engine's, with the game's move in them, until the move was made
    // and the loading thread is done with whatever it started.
    auto walkIn = [&] {
        NoisyPacket walk;
        ASSERT_TRUE(client.SendToServer(&walk));
        bool moved = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!(moved && !broken->IsLoadUnderWay()) && std::chrono::steady_clock::now() < deadline) {
            services.frame.fetch_add(1);
            ObjectManager::Get()->DestroyPendingObjects(Engine::destroyPerFrame);
            two.PostLoadPass();
            std::vector<WorldFrustum> views = {WorldFrustum(home, Frustum())}; // the server's, as above
            server.GetNetworkEntityList()->GetClientFrustumList(views);
            two.Update(views);
            server.Update(5);
            if (controller.walk) {
                controller.walk = false;
                two.SetCoords(character, there);
                moved = true;
            }
            client.Update(5);
            Platform::SleepMilliseconds(1);
        }
        ASSERT_TRUE(moved && !broken->IsLoadUnderWay());
        two.PostLoadPass(); // the lines the load kept
    };
    auto count = [&log](const std::string& fragment) { return CountLines(log, fragment); };
    const std::string refusal = "entities may not move in until the host loads its level again";
    walkIn();
    ASSERT_TRUE(client.SendViewFrustum(
        GAME::Test::BoxView(broken, Vec3(32.0f, 0.0f, 32.0f), Vec3(5.0f, 5.0f, 5.0f))));
    for (int step = 1; step < 100; ++step)
        walkIn();
    EXPECT_EQ(server.GetNumViewsApplied(), 1u);
    EXPECT_EQ(count("Begin Loading Level levels/r1.lvl"), 1);
    EXPECT_EQ(count("Couldn't load levels/r1.lvl"), 1);
    EXPECT_EQ(count(refusal), 1);
    EXPECT_TRUE(log.Contains("Region levels/r1.lvl: " + refusal +
                             ": levels/r1.lvl could not be loaded (Level: chunk at"));
    EXPECT_EQ(controller.refused, 99); // the first move started the load that failed
    EXPECT_EQ(broken->GetLevelPtr(), nullptr);
    EXPECT_FALSE(two.IsRegionLoaded(broken));
    // Nothing lost: the character where it was, in its level.
    EXPECT_EQ(ObjectManager::Get()->GetObject(id), character);
    EXPECT_EQ(character->GetCoords(), where);
    EXPECT_TRUE(home->GetLevelPtr()->HasEntity(character));

    // The host asks again: the file is read once more, and a move refused is said again.
    broken->BackgroundLoadLevel(false, false);
    broken->WaitForLoadingToFinish();
    for (int step = 0; step < 3; ++step)
        walkIn();
    EXPECT_EQ(count("Begin Loading Level levels/r1.lvl"), 2);
    EXPECT_EQ(count(refusal), 2);
    EXPECT_EQ(controller.refused, 102);
    EXPECT_EQ(character->GetCoords(), where);

    services.entityList = nullptr;
    services.controller = nullptr;
    two.Unload();
    World::SetCurrent(world);
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
}

// A joined client asking 100 times for a crate dropped at a place in a region whose level file is
// cut short, which the game answers as games do: the ground's height there and what stands there
// (the levels there loaded at once), then the crate into the world. The server reads and parses
// the file once (three times for every packet before: the world's own asks for a level forgot the
// failed load) and makes no crate; when the host asks for the level again it is read once more.
TEST_F(SpawnThreadsTest, AClientsDropsIntoALevelThatCannotLoadHaveItReadOnce)
{
    class DroppingController : public CountingController
    {
    public:
        void ProcessPacket(int host, NetPacket* packet) override
        {
            CountingController::ProcessPacket(host, packet);
            ++asked;
            const float ground = world->GetHighestTerrainHeight(home, 66.0f, 32.0f);
            std::vector<Entity*> there;
            world->GetEntitiesInBox(there, ABBox(Vec3(66.0f, 0.0f, 32.0f), Vec3(1.0f, 1.0f, 1.0f)), home,
                                    true, ENTITY_LIST_ALL);
            if (!there.empty())
                return;
            auto* crate =
                static_cast<Entity*>(ObjectManager::Get()->CreateObjectFromFile("records/kept.dbr"));
            const WorldCoords at(broken, Coords::Translation(Vec3(2.0f, std::max(ground, 0.0f), 32.0f)));
            if (world->AddEntity(crate, at, true))
                ++dropped;
            else
                ObjectManager::Get()->DestroyObjectEx(crate, __FILE__, __LINE__);
        }
        World* world = nullptr;
        Region* home = nullptr;
        Region* broken = nullptr;
        int asked = 0;
        int dropped = 0;
    };
    GAME::Test::StreamingServices services;
    World two;
    ASSERT_TRUE(LoadWorldWithABrokenLevel(services, two));
    ASSERT_TRUE(two.GetRegion(0)->LoadLevel(false));

    GAME::Test::LogCapture log;
    ServerConnectionManager server;
    server.SetNetworkLogging(true); // every line the loads write, however many
    DroppingController controller;
    controller.world = &two;
    controller.home = two.GetRegion(0);
    controller.broken = two.GetRegion(1);
    server.SetNetworkController(&controller);
    NoisyPacketCreator creator;
    server.SetNetPacketCreator(&creator);
    ClientConnectionManager client;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    ASSERT_TRUE(client.Connect("127.0.0.1", server.GetPort()));
    ASSERT_TRUE(PumpUntil(server, client, [&] { return client.IsConnected(); }));
    auto drop = [&] {
        NoisyPacket ask;
        ASSERT_TRUE(client.SendToServer(&ask));
        const int asked = controller.asked + 1;
        ASSERT_TRUE(PumpUntil(server, client, [&] { return controller.asked == asked; }));
    };
    auto count = [&log](const std::string& fragment) { return CountLines(log, fragment); };
    for (int i = 0; i < 100; ++i)
        drop();
    EXPECT_EQ(count("Begin Loading Level levels/r1.lvl"), 1);
    EXPECT_EQ(count("Couldn't load levels/r1.lvl"), 1);
    EXPECT_EQ(controller.dropped, 0);
    EXPECT_EQ(controller.broken->GetLevelPtr(), nullptr);

    EXPECT_FALSE(controller.broken->LoadLevel(false));
    drop();
    EXPECT_EQ(count("Begin Loading Level levels/r1.lvl"), 2);

    two.Unload();
    World::SetCurrent(world);
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
}

// A client at its spawn rate for a long while, whose objects never go away: the server holds no
// more of them than the game allows (50 here, each of 64 KB), one that goes frees its place, and
// a client that leaves and joins again from the same address finds its objects still counted.
// Then a client from another address given the same host id: the objects the first left behind
// do not count against it (they filled its place when the count went by host id, so that a
// stranger who joined, spawned and left refused every later client its spawns), and all clients
// together hold no more than the total, which bounds the heap.
TEST_F(SpawnThreadsTest, TheObjectsAClientsSpawnsHoldAreBoundedAndThoseThatGoFreeTheirPlace)
{
    GAME::Test::LogCapture log;
    GAME::Test::ManualClock clock;
    ServerConnectionManager server;
    CountingController controller;
    server.SetNetworkController(&controller);
    constexpr uint64_t limit = 50;
    server.SetClientObjectLimit(static_cast<int>(limit));
    auto client = std::make_unique<ClientConnectionManager>();
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    ASSERT_TRUE(client->Connect("127.0.0.1", server.GetPort()));
    ASSERT_TRUE(PumpUntil(server, *client, [&] { return client->IsConnected(); }));
    const int host = client->GetLocalHostID();
    const uint32_t own = static_cast<uint32_t>(host) << ObjectManager::kHostShift;
    const Vec3 inside(3.0f, 0.0f, 4.0f);
    uint32_t next = 1;
    uint64_t asked = 0;
    // A second of the server's time: the client's allowance of spawns, each a new object.
    auto second = [&] {
        for (int i = 0; i < ServerConnectionManager::defaultClientSpawnsPerSecond; ++i) {
            SpawnRequest crate(own | next++, inside, region->GetId());
            crate.Record("records/heavy.dbr");
            ASSERT_TRUE(client->SendToServer(&crate));
            ++asked;
        }
        ASSERT_TRUE(PumpUntil(server, *client, [&] { return controller.packets == asked; }));
        clock.Advance(1000);
    };
    const uint64_t before = Platform::GetProcessHeapBytes();
    constexpr int seconds = 100;
    for (int s = 0; s < seconds; ++s)
        second();
    const int64_t grown =
        static_cast<int64_t>(Platform::GetProcessHeapBytes()) - static_cast<int64_t>(before);
    EXPECT_EQ(controller.made, limit);
    EXPECT_EQ(server.GetNumRefusedSpawns(), asked - limit);
    EXPECT_LT(grown, static_cast<int64_t>((limit + 30) << 16)) << "the heap grew by " << grown << " bytes";
    EXPECT_TRUE(log.Contains("more objects than it may hold at once", 1));

    // Ten go: ten more are made, and no more.
    for (uint32_t id = own | 1; id <= (own | 10); ++id) {
        auto* entity = static_cast<Entity*>(ObjectManager::Get()->GetObject(id));
        ASSERT_NE(entity, nullptr);
        level->RemoveEntity(entity);
        ObjectManager::Get()->DestroyObjectEx(entity, __FILE__, __LINE__);
    }
    second();
    EXPECT_EQ(controller.made, limit + 10);
    second();
    EXPECT_EQ(controller.made, limit + 10);

    // Leaving and joining again from the same address does not make room: its objects stay.
    client->Shutdown();
    ASSERT_TRUE(PumpUntil(server, *client, [&] { return server.GetNumClients() == 0; }));
    client = std::make_unique<ClientConnectionManager>();
    ASSERT_TRUE(client->Connect("127.0.0.1", server.GetPort()));
    ASSERT_TRUE(PumpUntil(server, *client, [&] { return client->IsConnected(); }));
    ASSERT_EQ(client->GetLocalHostID(), host);
    second();
    EXPECT_EQ(controller.made, limit + 10);
    client->Shutdown();
    ASSERT_TRUE(PumpUntil(server, *client, [&] { return server.GetNumClients() == 0; }));

    // Another address, the same host id: its spawns are made, up to what the total leaves.
    constexpr uint64_t total = limit + 20;
    server.SetClientObjectTotal(static_cast<int>(total));
    auto pump = [&] { server.Update(5); };
    GAME::Test::HandPeer other(pump, "127.0.0.20", server.GetPort(), true);
    ASSERT_TRUE(other.ready);
    ASSERT_EQ(other.link.GetLocalHostId(), host);
    for (int s = 0; s < 3; ++s) {
        for (int i = 0; i < ServerConnectionManager::defaultClientSpawnsPerSecond; ++i) {
            ASSERT_TRUE(SendCrate(other, own | next++, inside, region->GetId(), "records/heavy.dbr"));
            ++asked;
        }
        ASSERT_TRUE(GAME::Test::PumpUntil(
            [&] {
                pump();
                other.Service();
            },
            [&] { return controller.packets == asked; }, 60000));
        clock.Advance(1000);
    }
    EXPECT_EQ(controller.made, total + 10);
    const int64_t grownInAll =
        static_cast<int64_t>(Platform::GetProcessHeapBytes()) - static_cast<int64_t>(before);
    EXPECT_LT(grownInAll, static_cast<int64_t>((total + 30) << 16)) << "the heap grew by " << grownInAll << " bytes";
    DestroyEntities(level);
}

// Players behind one address (a router), present together, each make their own limit; an
// attacker's handful of addresses, four clients each making theirs and leaving in turn, once held
// the whole total and refused a client from any other address every object (0 of 10). Their
// objects fill no more than their share of the base pool now, and a later client elsewhere makes
// its own. Two more such addresses meet the shared pool's bound: the first fills it (the 2,048
// left: three of its clients make theirs, the fourth none), and of the last only the first
// client's limit is made, out of the base pool.
TEST_F(SpawnThreadsTest, AHandfulOfAddressesFillingTheirLimitsAndLeavingShutNoOtherAddressOut)
{
    GAME::Test::LogCapture log;
    GAME::Test::ManualClock clock;
    ServerConnectionManager server;
    CountingController controller;
    server.SetNetworkController(&controller);
    constexpr uint64_t limit = ServerConnectionManager::defaultClientObjectLimit;
    constexpr uint64_t perAddress = ServerConnectionManager::defaultMaxPeersPerAddress;
    // A client may make its whole limit at once: the engine's time stands still here.
    server.SetClientSpawnLimit(static_cast<int>(limit));
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    auto pump = [&] { server.Update(5); };
    uint64_t asked = 0;
    uint32_t next = 1;
    // Each peer asks for `count` crates of its own ids; what was made of them.
    auto spawn = [&](GAME::Test::HandPeer& peer, std::vector<std::unique_ptr<GAME::Test::HandPeer>>& present,
                     uint64_t count) {
        const uint32_t own = static_cast<uint32_t>(peer.link.GetLocalHostId()) << ObjectManager::kHostShift;
        const uint64_t made = controller.made;
        for (uint64_t sent = 0; sent < count;) {
            // In batches, so that the transport never holds more than a window of them.
            for (int i = 0; i < 512 && sent < count; ++i, ++sent) {
                EXPECT_TRUE(SendCrate(peer, own | next++, Vec3(3.0f, 0.0f, 4.0f), region->GetId()));
                ++asked;
            }
            EXPECT_TRUE(GAME::Test::PumpUntil(
                [&] {
                    pump();
                    for (auto& p : present)
                        p->Service();
                },
                [&] { return controller.packets == asked; }, 60000));
        }
        return controller.made - made;
    };
    // Clients from one address join together and each makes `count`; then they all leave. What
    // each made.
    auto household = [&](const std::string& ip, uint64_t count) {
        std::vector<std::unique_ptr<GAME::Test::HandPeer>> present;
        for (uint64_t i = 0; i < perAddress; ++i) {
            present.push_back(std::make_unique<GAME::Test::HandPeer>(pump, ip, server.GetPort(), true));
            EXPECT_TRUE(present.back()->ready) << ip << " " << i;
        }
        std::vector<uint64_t> made;
        for (auto& peer : present)
            made.push_back(peer->ready ? spawn(*peer, present, count) : 0);
        for (auto& peer : present)
            enet_peer_disconnect(peer->peer, 0);
        EXPECT_TRUE(GAME::Test::PumpUntil(
            [&] {
                pump();
                for (auto& p : present)
                    p->Service();
            },
            [&] { return server.GetNumClients() == 0; }, 60000));
        return made;
    };
    const std::vector<uint64_t> each(perAddress, limit);
    for (int address = 0; address < 4; ++address)
        EXPECT_EQ(household("127.0.1." + std::to_string(1 + address), limit), each) << address;
    EXPECT_EQ(controller.made, 4 * perAddress * limit); // 16,384: what was once the whole total

    // A client from a fifth address makes its ten.
    {
        std::vector<std::unique_ptr<GAME::Test::HandPeer>> present;
        present.push_back(std::make_unique<GAME::Test::HandPeer>(pump, "127.0.1.5", server.GetPort(), true));
        ASSERT_TRUE(present.back()->ready);
        EXPECT_EQ(spawn(*present.back(), present, 10), 10u);
    }

    // The shared pool is bounded: 14 client limits, 12 of which the four took.
    constexpr uint64_t shared = (ServerConnectionManager::maxClients - 1) * limit;
    ASSERT_EQ(shared - 4 * (perAddress - 1) * limit, 2 * limit);
    EXPECT_EQ(household("127.0.1.6", limit), std::vector<uint64_t>({limit, limit, limit, 0}));
    EXPECT_EQ(household("127.0.1.7", limit), std::vector<uint64_t>({limit, 0, 0, 0}));
    // Six addresses' base limits, the fifth address's ten and the whole shared pool.
    EXPECT_EQ(controller.made, 6 * limit + 10 + shared);
    EXPECT_TRUE(log.Contains("more objects than it may hold at once", 1));
    DestroyEntities(level);
}

} // namespace
} // namespace GAME
