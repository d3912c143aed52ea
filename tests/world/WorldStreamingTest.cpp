#include "common/LogCapture.h"
#include "common/TempDir.h"
#include "common/WaitUntil.h"
#include "core/LocalHostIdProvider.h"
#include "data/ResourceLoader.h"
#include "navigation/FogOfWar.h"
#include "platform/PlatformFile.h"
#include "platform/SystemInfo.h"
#include "world/ForegroundRegionLoader.h"
#include "world/RegionLoader.h"

#include "LevelFixtures.h"
#include "StreamingWorld.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <iterator>

namespace GAME {
namespace {

using GAME::Test::BoxView;
using GAME::Test::StreamingRegion;
using GAME::Test::WorldFrame;
using WorldTest::TestEntity;

// The host id new objects carry, as a session gives it; installed while it lives. Levels loading in
// the background read it.
struct HostIds : LocalHostIdProvider
{
    HostIds() { ObjectManager::SetLocalHostIdProvider(this); }
    ~HostIds() override { ObjectManager::SetLocalHostIdProvider(nullptr); }
    int GetLocalHostID() override { return id.load(); }
    std::atomic<int> id{1};
};

// A, B and F in a row (each connected to the next); C, D and E far away, reached from A through
// portals one after the other: A -> C -> D -> E; G far away too, behind a doorway near F's west
// edge. A holds a saver entity, C a box.
class StreamingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(records.Load(WorldTest::BuildTestDatabase()));
        ObjectManager::Destroy();
        UniqueIdMap::Destroy();
        Entity::InstallHooks();
        std::vector<StreamingRegion> regions(7);
        regions[0].entities = {{"records/saver.dbr", Vec3(20, 0, 20)}};
        regions[1].offset = IntVec3(64, 0, 0);
        regions[2].offset = IntVec3(1000, 0, 0);
        regions[2].entities = {{"records/box.dbr", Vec3(20, 0, 32)}};
        regions[3].offset = IntVec3(2000, 0, 0);
        regions[4].offset = IntVec3(3000, 0, 0);
        regions[5].offset = IntVec3(128, 0, 0);
        regions[6].offset = IntVec3(4000, 0, 0);
        ASSERT_TRUE(services.Put("maps/stream.map", GAME::Test::StreamingMapImage(regions)));
        World::SetCurrent(&world);
        ASSERT_TRUE(world.Load("maps/stream.map", true));
        for (int i = 0; i < 7; ++i)
            r[i] = world.GetRegion(i);
        GAME::Test::JoinRegions(r[0], 60, r[2], 4);
        GAME::Test::JoinRegions(r[2], 60, r[3], 4);
        GAME::Test::JoinRegions(r[3], 60, r[4], 4);
        GAME::Test::JoinRegions(r[5], 4, r[6], 60);
    }
    void TearDown() override
    {
        world.Unload();
        World::SetCurrent(nullptr);
        ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
        EXPECT_EQ(ObjectManager::Get()->GetNumObjects(), 0u);
        ObjectManager::Destroy();
        UniqueIdMap::Destroy();
    }

    // Frames with the view until the regions' background loads are in and completed.
    void SettleWith(const std::vector<WorldFrustum>& views)
    {
        for (Region* region : r)
            region->WaitForLoadingToFinish();
        for (int i = 0; i < 10; ++i)
            WorldFrame(services, world, views);
    }

    // The view in A: x 25 to 65 (into B), z 22 to 42, through A's portal at x = 60.
    WorldFrustum View() { return BoxView(r[0], Vec3(45, 0, 32), Vec3(20, 10, 10)); }
    // The view in B, x 16 to 36 (A's 80 to 100): F and F's doorway within reach, not in view.
    WorldFrustum ViewInB() { return BoxView(r[1], Vec3(26, 0, 32), Vec3(10, 10, 10)); }

    std::vector<Entity*> Savers(Region* region)
    {
        std::vector<Entity*> all, savers;
        if (Level* level = region->GetLevelPtr())
            level->GetEntities(all, ENTITY_LIST_ALL);
        for (Entity* e : all)
            if (e->GetObjectName() == "records/saver.dbr")
                savers.push_back(e);
        return savers;
    }

    GAME::Test::RecordServices records;
    GAME::Test::StreamingServices services;
    World world;
    Region* r[7] = {};
};

TEST_F(StreamingTest, ViewLoadsItsRegionAndNeighboursAtOnceAndPortalRegionsInTheBackground)
{
    GAME::Test::LogCapture log;
    WorldFrame(services, world, {View()});
    // The view's region and the region connected to it are in and completed at once.
    EXPECT_TRUE(r[0]->IsLevelLoaded());
    EXPECT_TRUE(r[1]->IsLevelLoaded());
    EXPECT_TRUE(log.Contains("Forcing load of level levels/r0.lvl in main thread.", 2));
    // Behind A's portal (in view) and behind C's (within 55 units of the moved view): background
    // loads, not completed in this frame; three portals deep nothing happens.
    EXPECT_FALSE(r[2]->IsLevelLoaded());
    EXPECT_FALSE(r[3]->IsLevelLoaded());
    EXPECT_TRUE(r[2]->IsLoadUnderWay() || r[2]->GetLevelPtr());
    EXPECT_TRUE(r[3]->IsLoadUnderWay() || r[3]->GetLevelPtr());
    EXPECT_FALSE(r[4]->IsLoadUnderWay());
    EXPECT_FALSE(log.Contains("Forcing load of level levels/r2.lvl in main thread."));

    SettleWith({View()});
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(r[i]->IsLevelLoaded()) << i;
    EXPECT_EQ(r[4]->GetLevelPtr(), nullptr);
    EXPECT_EQ(world.GetLoadedRegions().size(), 4u);
    EXPECT_TRUE(r[2]->IsLoadedFromMap());
    // Completed on the main thread: the region took the level's box (its flat terrain at height
    // 0, grown by 30) and holds C's box entity.
    EXPECT_EQ(r[2]->GetBoundingBox().extents, Vec3(32, 30, 32));
    EXPECT_EQ(r[2]->GetLevelPtr()->GetNumEntities(), 1u);

    // Many views (a server with many clients) are walked like one; a region that only clients'
    // views reach (all views but the first) comes in on its loading thread.
    std::vector<WorldFrustum> views(40, BoxView(r[4], Vec3(32, 0, 32), Vec3(10, 5, 5)));
    views[0] = View();
    log.Clear();
    WorldFrame(services, world, views);
    EXPECT_FALSE(r[4]->IsLevelLoaded());
    EXPECT_TRUE(r[4]->IsLoadUnderWay() || r[4]->GetLevelPtr());
    SettleWith(views);
    EXPECT_TRUE(r[4]->IsLevelLoaded());

    // F is within reach of a view in B, not in it: it loads in the background (started, whether
    // or not its thread is through yet, and not completed in this frame as a load on this thread
    // would be), and once it is in, so does G behind its doorway (within reach too), before any
    // view has seen the doorway.
    WorldFrame(services, world, {ViewInB()});
    EXPECT_TRUE(r[5]->IsLoadUnderWay() || r[5]->GetLevelPtr());
    EXPECT_FALSE(r[5]->IsLevelLoaded());
    EXPECT_FALSE(log.Contains("Forcing load of level levels/r5.lvl"));
    r[5]->WaitForLoadingToFinish();
    // Completed a step a frame; G starts in the frame F completes in.
    for (int i = 0; i < 20 && !r[5]->IsLevelLoaded(); ++i)
        WorldFrame(services, world, {ViewInB()});
    ASSERT_TRUE(r[5]->IsLevelLoaded());
    EXPECT_TRUE(r[6]->IsLoadUnderWay() || r[6]->GetLevelPtr());
    r[6]->WaitForLoadingToFinish();
    // Kept in use while its doorway stays within reach.
    for (int i = 0; i < 700; ++i)
        WorldFrame(services, world, {ViewInB()});
    ASSERT_TRUE(r[6]->IsLevelLoaded());
    EXPECT_TRUE(r[6]->GetLevelPtr()->HasLoadedRenderData());
    EXPECT_FALSE(log.Contains("Unloading level levels/r6.lvl"));
    // The view reaches the doorway: G is there, nothing loads on the main thread.
    WorldFrame(services, world, {BoxView(r[5], Vec3(8, 0, 32), Vec3(6, 10, 10))});
    EXPECT_TRUE(r[6]->IsLevelLoaded());
    EXPECT_FALSE(log.Contains("Forcing load of level levels/r6.lvl"));
    EXPECT_FALSE(log.Contains("Main thread sleeping waiting for load of level 'levels/r6.lvl'"));

    // Nor does a portal in their view bring in the level behind it at once (its portals come
    // with the level): here one into B, whose level is out and knows no such portal.
    GAME::Test::MakePortal(r[4], UniqueId::CreateUnique(), Vec3(40, 0, 32), false, r[1],
                           UniqueId::CreateUnique());
    r[1]->UnloadLevel(false);
    views[0] = WorldFrustum(r[0], Frustum()); // a server's without a view of its own
    WorldFrame(services, world, views);
    EXPECT_FALSE(r[1]->IsLevelLoaded());
    EXPECT_TRUE(r[1]->IsLoadUnderWay() || r[1]->GetLevelPtr());
    SettleWith(views);
    EXPECT_TRUE(r[1]->IsLevelLoaded());
    EXPECT_FALSE(log.Contains("Forcing load"));
    EXPECT_FALSE(log.Contains("Main thread sleeping"));
}

TEST_F(StreamingTest, IdleRegionsUnloadStaggeredAndComeBackWithTheirState)
{
    WorldFrame(services, world, {View()});
    ASSERT_EQ(Savers(r[0]).size(), 1u);
    static_cast<TestEntity*>(Savers(r[0])[0])->hp = 42;
    world.AddFOWVisibility(WorldVec3(r[0], Vec3(10, 0, 10)), 3);
    EXPECT_FALSE(world.IsInFog(WorldVec3(r[0], Vec3(10, 0, 10))));
    EXPECT_TRUE(world.IsInFog(WorldVec3(r[0], Vec3(40, 0, 40))));

    // No view: A (index 0) unloads after 600 more frames, B (index 1) 7 frames later.
    for (int i = 0; i < 599; ++i)
        WorldFrame(services, world, {});
    EXPECT_TRUE(r[0]->IsLevelLoaded());
    WorldFrame(services, world, {});
    EXPECT_EQ(r[0]->GetLevelPtr(), nullptr);
    EXPECT_FALSE(world.IsRegionLoaded(r[0]));
    EXPECT_TRUE(r[0]->HasKeptState());
    for (int i = 0; i < 6; ++i)
        WorldFrame(services, world, {});
    EXPECT_TRUE(r[1]->IsLevelLoaded());
    WorldFrame(services, world, {});
    EXPECT_FALSE(r[1]->IsLevelLoaded());
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);

    // Back in view: the saver comes back from the kept state (once), and the fog from its file.
    WorldFrame(services, world, {View()});
    ASSERT_TRUE(r[0]->IsLevelLoaded());
    EXPECT_FALSE(r[0]->HasKeptState());
    const std::vector<Entity*> savers = Savers(r[0]);
    ASSERT_EQ(savers.size(), 1u);
    EXPECT_EQ(static_cast<TestEntity*>(savers[0])->hp, 42);
    EXPECT_FALSE(world.IsInFog(WorldVec3(r[0], Vec3(10, 0, 10))));
    EXPECT_TRUE(world.IsInFog(WorldVec3(r[0], Vec3(40, 0, 40))));
    EXPECT_FALSE(services.dir.Read("save/fow/levels/r0.fow").empty());

    // PrepareUnload: one idle frame is not yet enough, the second is.
    r[0]->PrepareUnload();
    WorldFrame(services, world, {});
    EXPECT_TRUE(r[0]->IsLevelLoaded());
    WorldFrame(services, world, {});
    EXPECT_FALSE(r[0]->IsLevelLoaded());

    // A network client keeps no state: the level comes back as its file has it.
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
    WorldFrame(services, world, {View()});
    services.client = true;
    r[0]->UnloadLevel(true);
    EXPECT_FALSE(r[0]->HasKeptState());
    services.client = false;

    // The editor keeps a copy of the level's file instead, a scratch file that the main thread
    // writes without waiting for the disk; the next load reads it back.
    // Its copy goes to the temporary folder, one of the test's own here.
    const GAME::Test::TempDir scratch;
    const char* const tmpdir = std::getenv("TMPDIR");
    const std::string previousTmpdir = tmpdir ? tmpdir : "";
    ::setenv("TMPDIR", scratch.Path().c_str(), 1);
    services.editor = true;
    WorldFrame(services, world, {View()});
    ASSERT_TRUE(r[0]->IsLevelLoaded());
    const uint64_t syncs = Platform::GetThreadFileSyncCount();
    r[0]->UnloadLevel(true);
    EXPECT_EQ(Platform::GetThreadFileSyncCount(), syncs);
    EXPECT_TRUE(r[0]->HasKeptState());
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
    WorldFrame(services, world, {View()});
    ASSERT_TRUE(r[0]->IsLevelLoaded());
    EXPECT_FALSE(r[0]->HasKeptState());
    EXPECT_EQ(Savers(r[0]).size(), 1u);
    services.editor = false;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.Path()), {}), 1);
    if (tmpdir)
        ::setenv("TMPDIR", previousTmpdir.c_str(), 1);
    else
        ::unsetenv("TMPDIR");

    // A game alone after a session numbers its objects under that session's host (1). While A is
    // out with its state kept, a join moves the game's objects under host 2 and another client's
    // object takes the saver's old id: the saver comes back under host 2, clear of that object.
    HostIds host;
    r[0]->UnloadLevel(false);
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
    WorldFrame(services, world, {View()});
    ASSERT_EQ(Savers(r[0]).size(), 1u);
    const unsigned kept = Savers(r[0])[0]->GetObjectId();
    ASSERT_EQ(kept >> ObjectManager::kHostShift, 1u);
    r[0]->UnloadLevel(true);
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
    ObjectManager::Get()->RenumberHost(1, 2);
    host.id = 2;
    Object* theirs = ObjectManager::Get()->CreateObjectFromFile("records/object.dbr", kept);
    ASSERT_NE(theirs, nullptr);
    WorldFrame(services, world, {View()});
    ASSERT_EQ(Savers(r[0]).size(), 1u);
    Entity* saver = Savers(r[0])[0];
    EXPECT_EQ(saver->GetObjectId() >> ObjectManager::kHostShift, 2u);
    EXPECT_EQ(ObjectManager::Get()->GetObject(saver->GetObjectId()), saver);
    EXPECT_EQ(ObjectManager::Get()->GetObject(kept), theirs);
    ObjectManager::Get()->DestroyObjectEx(theirs, __FILE__, __LINE__);
}

// Six far regions whose levels come due in one frame: views visit each at the frame that undoes
// its stagger.
std::vector<Region*> LineUpSixDueTogether(GAME::Test::StreamingServices& services, World& world, Region* home)
{
    std::vector<Region*> far;
    unsigned latest = 0;
    for (int k = 0; k < 6; ++k) {
        const std::string name = "levels/far" + std::to_string(k) + ".lvl";
        EXPECT_TRUE(services.Put(name, GAME::Test::TerrainLevelImage({})));
        far.push_back(world.GetRegion(world.AddRegion(name.c_str(), IntVec3(100000 + 1000 * k, 0, 0),
                                                      ABBox(Vec3(32, 0, 32), Vec3(32, 30, 32)), RegionId())));
        latest = std::max(latest, far.back()->GetUnloadThreshold());
    }
    // The frames without use count from the completion of a level, as many frames after its view
    // for each; the first view (home's) sees nothing.
    for (unsigned frame = 0; frame <= latest - Region::unloadFrames; ++frame) {
        std::vector<WorldFrustum> views = {WorldFrustum(home, Frustum())};
        for (Region* region : far)
            if (frame == latest - region->GetUnloadThreshold())
                views.push_back(BoxView(region, Vec3(32, 0, 32), Vec3(10, 10, 10)));
        WorldFrame(services, world, views);
        for (Region* region : far)
            region->WaitForLoadingToFinish();
    }
    return far;
}

// What the frames after the line-up did: frames that unloaded, the most in one, the regions overdue
// at the first, the fewest frames between two, and the heap releases asked meanwhile.
struct UnloadFrames
{
    long frames = 0, mostInAFrame = 0, overdueAtFirst = -1;
    int closest = INT_MAX;
    uint64_t heapReleases = 0;
    unsigned heapReleasesAsked = 0;
};

UnloadFrames RunOutTheLineUp(GAME::Test::StreamingServices& services, World& world, Region* home,
                             const std::vector<Region*>& far)
{
    UnloadFrames result;
    auto count = [&far](auto&& which) { return std::count_if(far.begin(), far.end(), which); };
    auto in = [](const Region* region) { return region->GetLevelPtr() != nullptr; };
    const uint64_t releases = Platform::GetHeapReleaseCount();
    const unsigned asked = world.GetHeapReleasesAsked();
    int lastUnload = -1;
    for (int frame = 0; frame < 700; ++frame) {
        const long before = count(in);
        WorldFrame(services, world, {WorldFrustum(home, Frustum())});
        const long went = before - count(in);
        if (went == 0)
            continue;
        if (result.overdueAtFirst < 0)
            result.overdueAtFirst =
                count([](const Region* region) { return region->GetFramesOverdue() > 0; });
        ++result.frames;
        result.mostInAFrame = std::max(result.mostInAFrame, went);
        result.closest = lastUnload < 0 ? result.closest : std::min(result.closest, frame - lastUnload);
        lastUnload = frame;
    }
    result.heapReleases = Platform::GetHeapReleaseCount() - releases;
    result.heapReleasesAsked = world.GetHeapReleasesAsked() - asked;
    EXPECT_EQ(count(in), 0);
    EXPECT_EQ(count([](const Region* region) { return region->HasKeptState(); }), 6);
    return result;
}

// A server's clients decide when their views leave regions. Views that visit six regions, each at
// the frame that undoes its stagger, line their levels up to come due in one frame (which once
// unloaded all six there; as many regions as clients visit could make as many frames in a row
// unload one): the server unloads one a frame at most, serverUnloadSpacingFrames apart, and the
// rest wait their turn.
TEST_F(StreamingTest, OnAServerClientsViewsCanNeitherLineUnloadsUpNorMakeEveryFrameUnload)
{
    services.server = true;
    const std::vector<Region*> far = LineUpSixDueTogether(services, world, r[0]);
    const UnloadFrames frames = RunOutTheLineUp(services, world, r[0], far);
    // All six came due in the first unload's frame, and went one by one, their state kept.
    EXPECT_EQ(frames.overdueAtFirst, 5);
    EXPECT_EQ(frames.mostInAFrame, 1);
    EXPECT_EQ(frames.frames, 6);
    EXPECT_GE(frames.closest, static_cast<int>(World::serverUnloadSpacingFrames));
    services.server = false;
}

// A frame in which a level goes out does that level's unload and nothing more on the main thread:
// levels that came due together go one a frame, in frames in a row, and no frame gives heap pages
// back (the allocator's walk of its heap under its lock once held every allocation of a frame
// drawn meanwhile for 100 to 400 ms); the world gives them back as it unloads.
TEST_F(StreamingTest, LevelsGoingOutCostTheirFrameOneUnloadAndNoHeapRelease)
{
    const std::vector<Region*> far = LineUpSixDueTogether(services, world, r[0]);
    const UnloadFrames frames = RunOutTheLineUp(services, world, r[0], far);
    EXPECT_EQ(frames.overdueAtFirst, 5);
    EXPECT_EQ(frames.mostInAFrame, 1);
    EXPECT_EQ(frames.frames, 6);
    EXPECT_EQ(frames.closest, 1);
    EXPECT_EQ(frames.heapReleases, 0u);
    EXPECT_EQ(frames.heapReleasesAsked, 0u);

    const uint64_t releases = Platform::GetHeapReleaseCount();
    world.Unload();
    EXPECT_EQ(world.GetHeapReleasesAsked(), 1u);
    EXPECT_TRUE(GAME::Test::WaitUntil([&] { return Platform::GetHeapReleaseCount() != releases; }));
    EXPECT_EQ(Platform::GetHeapReleaseCount(), releases + 1);
}

TEST_F(StreamingTest, RegionLoadersBringRegionsInAndKeepThemInUse)
{
    // A loader made for a view brings in the regions within its reach and, as their levels come
    // in, those behind their doorways within reach, the view moved through each doorway, two
    // doorways deep as the world walks: from B, A's doorway leads to C and C's to D, F's to G.
    // E, three doorways away, stays out.
    {
        RegionLoader view(ViewInB(), true);
        int frames = 0;
        for (; !view.GetIsDone() && frames < 50; ++frames) {
            view.Update();
            for (Region* region : r)
                region->WaitForLoadingToFinish();
            WorldFrame(services, world, {});
        }
        ASSERT_TRUE(view.GetIsDone());
        EXPECT_TRUE(view.GetAreLevelsLoaded());
        EXPECT_EQ(view.GetNumRegions(), 6);
        for (int i : {0, 1, 2, 3, 5, 6})
            EXPECT_TRUE(r[i]->IsLevelLoaded() && r[i]->GetLevelPtr()->HasLoadedRenderData()) << i;
        EXPECT_FALSE(r[4]->IsLoadUnderWay() || r[4]->GetLevelPtr());
        // Kept in use while the loader is updated, those found behind doorways too.
        for (int i = 0; i < 700; ++i) {
            WorldFrame(services, world, {});
            view.Update();
        }
        EXPECT_TRUE(r[2]->IsLevelLoaded());
        EXPECT_TRUE(r[6]->IsLevelLoaded());
    }
    for (Region* region : r)
        region->UnloadLevel(false);
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);

    ResourceLoader resources;
    RegionLoader loader(&resources, {r[2], r[3]}, true);
    loader.Update();
    EXPECT_FALSE(loader.GetIsDone());
    int frames = 0;
    while (!loader.GetIsDone() && frames < 50) {
        r[2]->WaitForLoadingToFinish();
        r[3]->WaitForLoadingToFinish();
        WorldFrame(services, world, {});
        loader.Update();
        ++frames;
    }
    ASSERT_TRUE(loader.GetIsDone());
    EXPECT_TRUE(loader.GetAreLevelsLoaded());
    // Kept in use while the loader is updated.
    for (int i = 0; i < 700; ++i) {
        WorldFrame(services, world, {});
        loader.Update();
    }
    EXPECT_TRUE(r[2]->IsLevelLoaded());
    EXPECT_TRUE(r[3]->IsLevelLoaded());

    // In the foreground the levels are in after the first update; done one update later.
    ForegroundRegionLoader foreground(&resources, {r[4]}, false);
    foreground.Update();
    EXPECT_TRUE(foreground.GetAreLevelsLoaded());
    EXPECT_FALSE(foreground.GetIsDone());
    foreground.Update();
    EXPECT_TRUE(foreground.GetIsDone());

    RegionLoader empty(&resources, {}, false);
    empty.Update();
    EXPECT_TRUE(empty.GetIsDone());
    EXPECT_TRUE(empty.GetAreLevelsLoaded());
}

// A source world (no connectivity): every region is walked on its own.
TEST(SourceWorldStreamingTest, LevelLoadDistanceFailedLoadsAndSectorData)
{
    GAME::Test::RecordServices records;
    ASSERT_TRUE(records.Load(WorldTest::BuildTestDatabase()));
    GAME::Test::StreamingServices services;
    const std::vector<uint8_t> level = GAME::Test::TerrainLevelImage({});
    ASSERT_TRUE(services.Put("levels/a.lvl", level));
    ASSERT_TRUE(services.Put("levels/near.lvl", level));
    ASSERT_TRUE(services.Put("levels/far.lvl", level));
    const ABBox box(Vec3(32, 0, 32), Vec3(32, 30, 32));
    {
        World world;
        world.AddRegion("levels/a.lvl", IntVec3(), box, RegionId());
        world.AddRegion("levels/near.lvl", IntVec3(0, 0, 90), box, RegionId());     // 48 units from the view
        world.AddRegion("levels/far.lvl", IntVec3(0, 0, -200), box, RegionId());    // 158 units
        world.AddRegion("levels/missing.lvl", IntVec3(0, 0, -90), box, RegionId()); // 48, no file
        world.SetFileName("worlds/test.wrl");
        services.sectorData.NewSectorData(SectorDataManager::SECTOR_NAME);
        EXPECT_TRUE(world.Save());
        // Save reports a world file it cannot write.
        GAME::Test::LogCapture log;
        world.SetFileName("levels");
        EXPECT_FALSE(world.Save());
        EXPECT_TRUE(log.Contains("Could not write levels", 2));
    }
    // A world's sectors go with it: loading again does not add them twice, unloading clears them.
    World world;
    ASSERT_TRUE(world.Load("worlds/test.wrl", true));
    EXPECT_FALSE(world.IsConnectivityBuilt());
    EXPECT_EQ(services.sectorData.GetNumSectorData(SectorDataManager::SECTOR_NAME), 1u);
    world.Unload();
    EXPECT_EQ(services.sectorData.GetNumSectorData(SectorDataManager::SECTOR_NAME), 0u);
    ASSERT_TRUE(world.Load("worlds/test.wrl", false));
    ASSERT_TRUE(world.Load("worlds/test.wrl", false));
    EXPECT_EQ(services.sectorData.GetNumSectorData(SectorDataManager::SECTOR_NAME), 1u);

    Region* a = world.GetRegion(0);
    Region* nearby = world.GetRegion(1);
    Region* far = world.GetRegion(2);
    Region* missing = world.GetRegion(3);
    const std::vector<WorldFrustum> view = {BoxView(a, Vec3(32, 0, 32), Vec3(10, 10, 10))};
    GAME::Test::LogCapture log;
    WorldFrame(services, world, view);
    EXPECT_TRUE(a->IsLevelLoaded());
    EXPECT_FALSE(nearby->IsLevelLoaded());
    for (int i = 0; i < world.GetNumRegions(); ++i)
        world.GetRegion(i)->WaitForLoadingToFinish();
    for (int i = 0; i < 10; ++i)
        WorldFrame(services, world, view);
    EXPECT_TRUE(nearby->IsLevelLoaded());
    EXPECT_FALSE(far->IsLoadUnderWay());
    EXPECT_EQ(far->GetLevelPtr(), nullptr);
    // A load that failed on its thread leaves the region empty, out of the loaded list (and the
    // file is not read again until the host asks for the level).
    EXPECT_TRUE(log.Contains("Couldn't load levels/missing.lvl\n", 1));
    missing->WaitForLoadingToFinish();
    world.PostLoadPass();
    EXPECT_EQ(missing->GetLevelPtr(), nullptr);
    EXPECT_FALSE(missing->IsLoadUnderWay());
    EXPECT_FALSE(world.IsRegionLoaded(missing));
    EXPECT_EQ(world.GetLoadedRegions().size(), 2u);

    // Adding a region by a level name that cannot be loaded changes nothing.
    EXPECT_EQ(world.AddRegion("levels/none.lvl", IntVec3()), -1);
    EXPECT_EQ(world.GetNumRegions(), 4);
    const int added = world.AddRegion("levels/a.lvl", IntVec3(500, 0, 0));
    ASSERT_EQ(added, 4);
    EXPECT_TRUE(world.GetRegion(added)->IsLevelLoaded());
    world.RemoveRegion(1);
    EXPECT_EQ(world.GetNumRegions(), 4);
    EXPECT_EQ(world.GetRegion(3)->GetRegionIndex(), 3);
    EXPECT_EQ(world.GetLoadedRegions().size(), 2u);
    world.Unload();
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
}

TEST(FogOfWarTest, FileRoundTripAndBadFilesLeaveFreshFog)
{
    GAME::Test::TempDir dir;
    FogOfWar fog;
    fog.Initialize(64, 40);
    fog.AddVisibility(Vec3(10.5f, 0, 10.5f), 2);
    EXPECT_FALSE(fog.IsInFog(Vec3(10.5f, 0, 10.5f)));
    EXPECT_FALSE(fog.IsInFog(Vec3(12.2f, 0, 10.5f)));
    EXPECT_TRUE(fog.IsInFog(Vec3(13.5f, 0, 10.5f)));
    EXPECT_TRUE(fog.IsInFog(Vec3(-1, 0, 10)));
    EXPECT_TRUE(fog.IsInFog(Vec3(64.5f, 0, 10)));
    const std::string file = dir.Path() + "/fow/levels/a.fow";
    ASSERT_TRUE(fog.Write(file));

    FogOfWar read;
    read.Initialize(64, 40);
    ASSERT_TRUE(read.Read(file));
    EXPECT_EQ(read.GetNumSeenCells(), fog.GetNumSeenCells());
    EXPECT_FALSE(read.IsInFog(Vec3(10.5f, 0, 10.5f)));

    // A missing file: fresh fog, no log line.
    GAME::Test::LogCapture log;
    EXPECT_FALSE(read.Read(dir.Path() + "/none.fow"));
    EXPECT_EQ(log.Count(), 0u);
    EXPECT_EQ(read.GetNumSeenCells(), 0u);

    // Damaged, cut or of another region size: fresh fog and one log line each.
    const std::vector<uint8_t> good = fog.Save();
    std::vector<std::vector<uint8_t>> bad(5, good);
    bad[0][0] = 'X';                   // magic
    bad[1][3] = 2;                     // version
    bad[2][4] = 65;                    // width
    bad[3].back() ^= 1;                // checksum
    bad[4].resize(good.size() - 3);    // cut short
    for (const std::vector<uint8_t>& bytes : bad) {
        FogOfWar damaged;
        damaged.Initialize(64, 40);
        damaged.AddVisibility(Vec3(30, 0, 30), 5);
        EXPECT_FALSE(damaged.Load(bytes.data(), bytes.size(), "x.fow"));
        EXPECT_EQ(damaged.GetNumSeenCells(), 0u);
    }
    EXPECT_EQ(log.Count(), bad.size());

    // A 3 x 3 fog's file with its last byte all set: cell 8 and the seven spare bits past it. It
    // loads and saves back as it was, but the spare bits are no cells: one seen, not eight.
    FogOfWar small;
    small.Initialize(3, 3);
    std::vector<uint8_t> spare = small.Save();
    spare[21] = 0xFF;
    uint32_t hash = 2166136261u; // the file's FNV-1a of its two cell bytes
    for (size_t i = 20; i < 22; ++i)
        hash = (hash ^ spare[i]) * 16777619u;
    for (size_t i = 0; i < 4; ++i)
        spare[22 + i] = static_cast<uint8_t>(hash >> (8 * i));
    ASSERT_TRUE(small.Load(spare.data(), spare.size(), "spare.fow"));
    EXPECT_EQ(small.Save(), spare);
    EXPECT_EQ(small.GetNumSeenCells(), 1u);

    // Huge regions get coarser cells rather than a huge grid.
    FogOfWar huge;
    huge.Initialize(1 << 20, 1 << 20);
    EXPECT_LE(uint64_t(huge.GetNumColumns()) * huge.GetNumRows(), FogOfWar::maxCells);
    huge.AddVisibility(Vec3(5000, 0, 5000), 100);
    EXPECT_FALSE(huge.IsInFog(Vec3(5000, 0, 5000)));
}

} // namespace
} // namespace GAME
