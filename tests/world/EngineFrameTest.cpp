#include "EngineFixture.h"
#include "StreamingWorld.h"

#include "core/ObjectManager.h"
#include "core/Profile.h"
#include "core/SingletonManager.h"
#include "graphics/DisplayWidget.h"
#include "graphics/HeadlessInputDevice.h"
#include "graphics/OverlayActivity.h"
#include "network/NetworkControllerBase.h"
#include "network/NetworkEntityList.h"
#include "platform/Threading.h"
#include "scene/Camera.h"
#include "scene/GraphicsPortalRenderer.h"
#include "world/Entity.h"
#include "world/Level.h"
#include "world/ProfilerWidget.h"
#include "world/Region.h"
#include "world/World.h"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace GAME {
namespace {

using Test::EngineTest;

class Counted : public Object
{
public:
    ~Counted() override { ++deleted; }
    static inline int deleted = 0;
};

// Each probe writes what it sees into one shared trace.
struct Trace
{
    std::vector<std::string> steps;
    std::vector<int> elapsed;
};

class SingletonProbe : public SingletonInterface
{
public:
    explicit SingletonProbe(Trace& trace) : m_trace(trace) {}
    void Update(int elapsedTime) override
    {
        m_trace.steps.push_back("singletons frame " + std::to_string(gEngine->GetFrameCount()) + " pending " +
                                std::to_string(ObjectManager::Get()->GetNumDeletedObjects()));
        m_trace.elapsed.push_back(elapsedTime);
    }

private:
    Trace& m_trace;
};

class OverlayProbe : public OverlayActivity
{
public:
    explicit OverlayProbe(Trace& trace) : m_trace(trace) {}
    void Update(int) override { m_trace.steps.push_back("overlay"); }
    void Render(GraphicsCanvas&) const override {}

private:
    Trace& m_trace;
};

class WidgetProbe : public DisplayWidget
{
public:
    explicit WidgetProbe(Trace& trace) : m_trace(trace) {}
    void Render(GraphicsCanvas&) const override { ++renders; }
    bool HandleKeyEvent(const InputDevice::ButtonEvent& event) override
    {
        m_trace.steps.push_back("key " + std::to_string(event.keyCode));
        return false;
    }
    mutable int renders = 0;

private:
    Trace& m_trace;
};

TEST_F(EngineTest, FrameRunsItsStepsInOrderAndDestroysAtMostTwentyPendingObjectsAFrame)
{
    GAME::Test::TestEngine& e = Start();
    Trace trace;
    SingletonProbe singleton(trace);
    WidgetProbe widget(trace);
    e.GetSingletonManager()->Register(&singleton);
    e.GetOverlayActivityManager().AddActivity(new OverlayProbe(trace));
    e.AddWidget(&widget);
    auto* input = dynamic_cast<HeadlessInputDevice*>(e.GetInputDevice());
    ASSERT_NE(input, nullptr);

    Counted::deleted = 0;
    for (int i = 0; i < 50; ++i)
        ObjectManager::Get()->DestroyObjectEx(new Counted, __FILE__, __LINE__);
    InputDevice::ButtonEvent key;
    key.keyCode = 44;
    input->QueueButtonEvent(key);

    Frame();
    EXPECT_EQ(Counted::deleted, 20);
    // The frame count grew and 20 objects went before the singletons ran; the overlays follow
    // them and the input comes last.
    EXPECT_EQ(trace.steps, (std::vector<std::string>{"singletons frame 1 pending 30", "overlay", "key 44"}));
    EXPECT_EQ(widget.renders, 1);
    Frame();
    Frame();
    EXPECT_EQ(Counted::deleted, 50);
    EXPECT_EQ(e.GetFrameCount(), 3u);
    e.RemoveWidget(&widget);
    e.GetSingletonManager()->UnRegister(&singleton);
}

// A widget that draws a region through the portal renderer, as a game's view does.
class SceneProbe : public DisplayWidget
{
public:
    explicit SceneProbe(Region& region) : m_region(region) {}
    void Render(GraphicsCanvas& canvas) const override
    {
        Camera camera;
        camera.SetCoords(Coords::LookAt(Vec3(8, 6, -10), Vec3(8, 0, 8), Vec3(0, 1, 0)));
        GraphicsPortalRenderer(canvas, &m_region, camera, Viewport(0, 0, 64, 64), false).Render();
    }

private:
    Region& m_region;
};

// With the profiler shown (--stats, F3) the frame times its main steps, so that the profiler
// lists where the frame goes: the engine's update with the world's and the network pump, the
// render with the scene and its kinds of passes, the resource loader's main-thread work and the
// present. Hidden, the frame times nothing.
TEST_F(EngineTest, TheFrameTimesItsMainStepsForTheProfiler)
{
    GAME::Test::TestEngine& e = Start();
    Region region(ABBox(Vec3(8, 4, 8), Vec3(8, 4, 8)));
    SceneProbe scene(region);
    e.AddWidget(&scene);
    ProfilerWidget* profiler = e.GetProfilerWidget();
    ASSERT_NE(profiler, nullptr);
    e.ShowProfiler(true);
    Frame();
    Frame(); // takes the blocks of the frame before
    std::set<std::string> names;
    for (const Profile::TimeInfo& block : profiler->GetRecord(profiler->GetNewestIndex()).blocks) {
        ASSERT_NE(block.name, nullptr);
        EXPECT_EQ(block.calls, 1u) << block.name;
        names.insert(block.name);
    }
    for (const char* step :
         {"Engine update", "World: levels completed", "World update", "Network pump",
          "Render (widgets and scene)", "Scene", "Scene: building", "Scene: lights and shadow maps",
          "Scene: lit passes", "Scene: emissive passes (water, effects)", "Resource loader: main-thread work",
          "Present"})
        EXPECT_EQ(names.count(step), 1u) << step;

    e.ShowProfiler(false);
    Profile::Update();
    Frame();
    std::vector<Profile::TimeInfo> hidden;
    Profile::GetTimeInfo(hidden);
    EXPECT_TRUE(hidden.empty());
    e.RemoveWidget(&scene);
}

TEST_F(EngineTest, PausedGameTimeGivesTheFrameNoTimeAndTheResumedFrameSkipsThePause)
{
    GAME::Test::TestEngine& e = Start();
    Trace trace;
    SingletonProbe singleton(trace);
    e.GetSingletonManager()->Register(&singleton);
    e.EnableTimeSmoothing(false);
    Frame(16);
    EXPECT_EQ(e.GetUpdateTime(), 16);
    PauseGameTime();
    Frame(40);
    EXPECT_EQ(e.GetUpdateTime(), 0);
    Frame(500);
    UnpauseGameTime();
    Frame(20);
    EXPECT_EQ(e.GetUpdateTime(), 20);
    EXPECT_EQ(trace.elapsed, (std::vector<int>{16, 0, 0, 20}));
    e.GetSingletonManager()->UnRegister(&singleton);
}

TEST_F(EngineTest, IdleStopsDrawingAndLowersTheMainThreadButAServerNeverIdles)
{
    GAME::Test::TestEngine& e = Start();
    Trace trace;
    WidgetProbe widget(trace);
    e.AddWidget(&widget);
    const Platform::ThreadPriority active = Platform::GetThreadPriority(Platform::CurrentThreadId());

    e.SetIdle(true);
    EXPECT_TRUE(e.GetIdle());
    EXPECT_EQ(Platform::GetThreadPriority(Platform::CurrentThreadId()), Platform::ThreadPriority::Normal);
    Frame();
    EXPECT_EQ(widget.renders, 0);
    e.SetIdle(false);
    EXPECT_EQ(Platform::GetThreadPriority(Platform::CurrentThreadId()), active);
    Frame();
    EXPECT_EQ(widget.renders, 1);

    e.SetAsNetworkServer();
    e.SetIdle(true);
    EXPECT_FALSE(e.GetIdle());
    e.RemoveWidget(&widget);
}

TEST_F(EngineTest, ForcedUpdatesKeepEachIdOnceAndViewsAreStoredOnlyOnAServer)
{
    data.Database().AddRecord("records/plain.dbr").String("Class", "Object");
    GAME::Test::TestEngine& e = Start();
    e.RegisterForForcedUpdates(7);
    e.RegisterForForcedUpdates(9);
    e.RegisterForForcedUpdates(7);
    e.UnregisterForForcedUpdates(42);
    EXPECT_EQ(e.GetForcedUpdateIds(), (std::vector<unsigned int>{7, 9}));
    e.UnregisterForForcedUpdates(7);
    EXPECT_EQ(e.GetForcedUpdateIds(), (std::vector<unsigned int>{9}));

    // A join renumbers the game's own objects (an earlier session's host's): their ids here follow.
    Object* own = ObjectManager::Get()->CreateObjectFromFile("records/plain.dbr",
                                                             (1u << ObjectManager::kHostShift) | 7u);
    ASSERT_NE(own, nullptr);
    e.RegisterForForcedUpdates(own->GetObjectId());
    ASSERT_EQ(ObjectManager::Get()->RenumberHost(1, 2), 1u);
    EXPECT_EQ(e.GetForcedUpdateIds(), (std::vector<unsigned int>{9, own->GetObjectId()}));
    ObjectManager::Get()->DestroyObjectEx(own, __FILE__, __LINE__);

    Region* region = nullptr;
    WorldFrustum view(region, Frustum());
    e.SetAsNetworkServer();
    NetworkEntityList* list = e.GetNetworkEntityList();
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(list->AddClient(3));
    e.SetAsNetworkClient();
    e.UpdateFrustum(3, view);
    e.SetAsNetworkServer();
    EXPECT_FALSE(list->GetClient(3)->frustumKnown);
    e.UpdateFrustum(3, view);
    EXPECT_TRUE(list->GetClient(3)->frustumKnown);
    // A view without a region updates neither physics nor the world, and the frame goes on.
    Frame(16, &view);
    EXPECT_EQ(e.GetFrameCount(), 1u);
}

// A game's character: it stays when it enters a region whose level is not in.
class Walker : public Entity
{
public:
    bool DeleteOnEnteringUnloadedLevel() const override { return false; }
    void UpdateBoundingBox() override
    {
        SetRegionBoundingBox(ABBox(GetCoords().GetOrigin().GetRegionPosition(), Vec3(1, 1, 1)));
    }
};

// A host's camera on a region whose level file is cut short, 100 frames, first nearing the region
// (50 frames), then in it: the world's walk and the scene that draws the region read and parse the
// file once and say once that it could not be loaded (once in every frame before, on the main
// thread). Neither does what follows read it: a character's moves into it (refused where it
// stands, in one line however many: a single-player game said nothing) nor the path mesh of the
// level beside it (made without it; the build read it again). When the host asks for the level
// again, it is read once more, and the next move refused is said again.
TEST_F(EngineTest, AHostsViewOfALevelThatCannotLoadReadsItOnceUntilTheHostAsksAgain)
{
    std::vector<GAME::Test::StreamingRegion> layout(2);
    layout[1].offset = IntVec3(64, 0, 0);
    layout[1].truncated = true;
    const std::vector<uint8_t> map = GAME::Test::StreamingMapImage(layout);
    ASSERT_TRUE(dir.Write("maps/broken.map", std::string(map.begin(), map.end())));
    GAME::Test::TestEngine& e = Start();
    World* world = e.GetWorld();
    ASSERT_TRUE(world->Load("maps/broken.map", true));
    Region* home = world->GetRegion(0);
    Region* broken = world->GetRegion(1);
    SceneProbe scene(*broken);
    e.AddWidget(&scene);
    auto count = [&e](const std::string& fragment) {
        const std::vector<GAME::Test::EngineLogLine> lines = e.Lines();
        return std::count_if(lines.begin(), lines.end(), [&](const GAME::Test::EngineLogLine& line) {
            return line.text.find(fragment) != std::string::npos;
        });
    };

    // 14 units short of the region (within the level-load distance), then inside it.
    const WorldFrustum nearing = GAME::Test::BoxView(home, Vec3(40, 0, 32), Vec3(10, 10, 10));
    const WorldFrustum inside = GAME::Test::BoxView(broken, Vec3(32, 0, 32), Vec3(10, 10, 10));
    for (int i = 0; i < 100; ++i) {
        Frame(16, i < 50 ? &nearing : &inside);
        broken->WaitForLoadingToFinish(); // a background load is over before the next frame
    }
    EXPECT_TRUE(home->IsLevelLoaded());
    EXPECT_EQ(broken->GetLevelPtr(), nullptr);
    EXPECT_TRUE(broken->IsLevelBroken());
    EXPECT_EQ(count("Begin Loading Level levels/r1.lvl"), 1);
    EXPECT_EQ(count("Couldn't load levels/r1.lvl"), 1);

    auto* walker = new Walker;
    const WorldCoords where(home, Coords::Translation(Vec3(60, 0, 32)));
    const WorldCoords there(broken, Coords::Translation(Vec3(2, 0, 32)));
    ASSERT_TRUE(world->AddEntity(walker, where, true));
    for (int i = 0; i < 20; ++i)
        world->SetCoords(walker, there);
    const std::string refusal =
        "Region levels/r1.lvl: entities may not move in until the host loads its level";
    EXPECT_EQ(count(refusal), 1);
    EXPECT_EQ(walker->GetCoords(), where);
    Level* beside = home->GetLevelPtr();
    ASSERT_TRUE(beside->CreatePathMesh());
    EXPECT_TRUE(beside->GetPathMesh().HasMesh());
    EXPECT_EQ(count("path mesh of levels/r0.lvl leaves levels/r1.lvl out"), 1);
    EXPECT_EQ(count("Begin Loading Level levels/r1.lvl"), 1);

    EXPECT_FALSE(broken->LoadLevel(false));
    Frame(16, &inside);
    EXPECT_EQ(count("Begin Loading Level levels/r1.lvl"), 2);
    EXPECT_EQ(count("Couldn't load levels/r1.lvl"), 2);
    world->SetCoords(walker, there);
    world->SetCoords(walker, there);
    EXPECT_EQ(count(refusal), 2);
    world->RemoveEntity(walker);
    ObjectManager::Get()->DestroyObjectEx(walker, __FILE__, __LINE__);
    e.RemoveWidget(&scene);
}

// Counts its own updates; the server spawns it on clients.
class CountingEntity : public Entity
{
    GAME_DECLARE_CLASS(CountingEntity)

public:
    bool ShouldServerSpawn() const override { return true; }
    void UpdateBoundingBox() override
    {
        SetRegionBoundingBox(ABBox(GetCoords().GetOrigin().GetRegionPosition(), Vec3(1, 1, 1)));
    }
    int updates = 0;

protected:
    void UpdateSelf(int) override { ++updates; }
};

GAME_REGISTER_CLASS(CountingEntity, Entity)

class RecordingController : public NetworkControllerBase
{
public:
    void AddEntityToClient(int host, Entity* entity) override { added.emplace_back(host, entity); }
    void RemoveEntitiesFromClient(int host, const std::vector<unsigned int>& ids) override
    {
        removed.emplace_back(host, ids);
    }
    void OnEntityAdded(Entity*, bool) override {}
    void OnReplicationFailed(unsigned int) override {}
    std::vector<std::pair<int, Entity*>> added;
    std::vector<std::pair<int, std::vector<unsigned int>>> removed;
};

TEST_F(EngineTest, ForcedEntitiesUpdateOnceAFrameAndClientsHearOfEntitiesInTheirView)
{
    data.Database().AddRecord("records/counting.dbr").String("Class", "CountingEntity");
    data.Database().AddRecord("records/plain.dbr").String("Class", "Object");
    GAME::Test::TestEngine& e = Start();
    World* world = e.GetWorld();
    world->AddRegion("levels/r.lvl", IntVec3(), ABBox(Vec3(), Vec3(50, 50, 50)), RegionId());
    Region* region = world->GetRegion(0);
    Level* level = new Level(region);
    level->NewSpace(Vec2(50, 50));
    level->PostLoad(false);
    region->SetLevel(level);
    auto* entity = ObjectManager::Get()->CreateObjectFromFileAs<CountingEntity>("records/counting.dbr");
    ASSERT_NE(entity, nullptr);
    ASSERT_TRUE(world->AddEntity(entity, WorldCoords(region, Coords::Translation(Vec3(5, 0, 5))), true));
    Object* plain = ObjectManager::Get()->CreateObjectFromFile("records/plain.dbr");
    ASSERT_NE(plain, nullptr);
    e.RegisterForForcedUpdates(plain->GetObjectId()); // not an entity
    e.RegisterForForcedUpdates(0x0FFFFFF0u);          // no such object
    e.RegisterForForcedUpdates(entity->GetObjectId());

    // Out of every view: only the forced update reaches it, once a frame.
    const int before = entity->updates;
    Frame(16);
    Frame(16);
    EXPECT_EQ(entity->updates, before + 2);
    EXPECT_EQ(entity->GetLastFrameUpdated(), e.GetFrameCount());
    // In view: the world's walk updates it and the forced list leaves it alone.
    const WorldFrustum view(region, Region::GetBoxFrustum(ABBox(Vec3(5, 0, 5), Vec3(10, 10, 10))));
    Frame(16, &view);
    EXPECT_EQ(entity->updates, before + 3);

    // A client's view: entities that left it are dropped, those it lacks are sent.
    RecordingController controller;
    e.SetNetworkController(&controller);
    e.SetAsNetworkServer();
    NetworkEntityList* list = e.GetNetworkEntityList();
    ASSERT_TRUE(list->AddClient(2));
    list->GetClient(2)->entities[0x0FFFFFF1u] = NetworkEntityList::entityPresent;
    e.UpdateFrustum(2, view);
    ASSERT_EQ(controller.removed.size(), 1u);
    EXPECT_EQ(controller.removed[0].second, std::vector<unsigned int>{0x0FFFFFF1u});
    ASSERT_EQ(controller.added.size(), 1u);
    EXPECT_EQ(controller.added[0], std::make_pair(2, static_cast<Entity*>(entity)));
    EXPECT_TRUE(e.Has("Calling RemoveEntities from Engine::UpdateClientEntities (host 2).", 0));
    EXPECT_TRUE(e.Has("Server added records/counting.dbr", 0));
    std::vector<Entity*> prior;
    EXPECT_TRUE(e.GetEntitiesInPriorFrameFrustum(prior));
    EXPECT_EQ(prior, std::vector<Entity*>{entity});

    e.SetNetworkController(nullptr);
    e.SetAsNetworkStub();
    world->RemoveEntity(entity);
    ObjectManager::Get()->DestroyObjectEx(entity, __FILE__, __LINE__);
    ObjectManager::Get()->DestroyObjectEx(plain, __FILE__, __LINE__);
}

} // namespace
} // namespace GAME
