// The generated world's actors and lights in a running engine (the recording device): walkers in
// every region walking their animation in circles that keep them in their region, villages with
// crates and lamps, caves with point lights; all made from the generator's records.
#include "EngineFixture.h"

#include "core/Frustum.h"
#include "core/WorldFrustum.h"
#include "datakit/CharacterGenerator.h"
#include "datakit/SampleGridKit.h"
#include "datakit/SampleWalker.h"
#include "datakit/WorldGenerator.h"
#include "scene/GraphicsMeshInstance.h"
#include "terrain/Water.h"
#include "world/Actor.h"
#include "world/Level.h"
#include "world/Light.h"
#include "world/NightLight.h"
#include "world/Region.h"
#include "world/World.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <map>
#include <thread>

namespace GAME {
namespace {

using DataKit::SampleWalker;
using DataKit::WorldGenerator;

// The props as the host draws them: upright boxes of these half widths, whichever way they turn; a
// crate, turned any way, reaches as far as its half diagonal.
constexpr std::pair<const char*, float> kPropHalfWidths[] = {
    {"rock", 0.6f}, {"tree", 0.4f}, {"bush", 0.7f}, {"ruin", 1.5f}};
constexpr float kCrateReach = 0.75f * 1.4142136f;

std::string LowerName(const Entity& entity)
{
    std::string name = entity.GetObjectName();
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name;
}

// The half width of the scattered prop of that (lower-case) name; 0 for anything else.
float PropHalfWidth(const std::string& name)
{
    for (const auto& [word, half] : kPropHalfWidths)
        if (name.find(word) != std::string::npos)
            return half;
    return 0.0f;
}

WorldGenerator::Settings SmallWorld()
{
    WorldGenerator::Settings settings;
    settings.regionsX = 2;
    settings.regionsZ = 2;
    settings.regionSize = 32;
    settings.entitiesPerRegion = 4;
    settings.caves = 1;
    settings.caveSize = 16;
    settings.entitiesPerCave = 2;
    settings.villages = 1;
    return settings;
}

// A village and a cave as full of props as the sample host's.
WorldGenerator::Settings FullAsTheHost()
{
    WorldGenerator::Settings settings = SmallWorld();
    settings.regionSize = 64;
    settings.caveSize = 32;
    settings.entitiesPerRegion = 200;
    settings.entitiesPerCave = 60;
    return settings;
}

class GeneratedActorsTest : public GAME::Test::EngineTest
{
protected:
    void SetUp() override
    {
        GAME::Test::EngineTest::SetUp();
        WorldGenerator::AddRecords(data.Database());
    }

    // The entities of the region's level, loaded now.
    std::vector<Entity*> Entities(Region* region)
    {
        std::vector<Entity*> all;
        if (Level* level = LoadLevelNow(region))
            level->GetEntities(all, ENTITY_LIST_ALL);
        return all;
    }

    template <class T> static int Count(const std::vector<Entity*>& entities)
    {
        return static_cast<int>(std::count_if(entities.begin(), entities.end(), [](const Entity* e) {
            return e->GetClassInfo().IsSameClass(T::GetStaticClassInfo());
        }));
    }
};

TEST_F(GeneratedActorsTest, WalkersWalkInTheirRegionsAndVillagesAndCavesAreLit)
{
    WorldGenerator generator(SmallWorld());
    ASSERT_TRUE(generator.Generate());
    ASSERT_TRUE(generator.Write(dir.Path()));
    GAME::Test::TestEngine& e = Start();
    World* world = e.GetWorld();
    ASSERT_NE(world, nullptr);
    auto* portals = new DataKit::PortalChunkReader(world);
    if (!world->InstallMapChunkCallback(portals))
        delete portals;
    ASSERT_TRUE(world->Load(generator.GetSettings().mapName.c_str(), true));

    const std::vector<WorldGenerator::RegionInfo>& regions = generator.GetRegions();
    int village = -1, cave = -1;
    for (size_t i = 0; i < regions.size(); ++i) {
        if (regions[i].village)
            village = static_cast<int>(i);
        if (regions[i].cave)
            cave = static_cast<int>(i);
    }
    ASSERT_GE(village, 0);
    ASSERT_GE(cave, 0);

    // What each kind of region holds, made from the records.
    const std::vector<Entity*> caveEntities = Entities(world->GetRegion(cave));
    EXPECT_EQ(caveEntities.size(), regions[size_t(cave)].entities);
    EXPECT_EQ(Count<Light>(caveEntities), 3);
    EXPECT_EQ(Count<SampleWalker>(caveEntities), 2);
    const std::vector<Entity*> villageEntities = Entities(world->GetRegion(village));
    EXPECT_EQ(villageEntities.size(), regions[size_t(village)].entities);
    EXPECT_EQ(Count<Actor>(villageEntities), 6) << "the crates";
    EXPECT_EQ(Count<NightLight>(villageEntities), 4);
    EXPECT_EQ(Count<SampleWalker>(villageEntities), 3 + 2);
    for (Entity* entity : caveEntities)
        if (const Light* light = dynamic_cast<const Light*>(entity)) {
            EXPECT_GT(light->GetColor().r, 0.5f);
            EXPECT_NEAR(light->GetCoords().GetOrigin().GetRegionPosition().y, 3.0f, 1e-4f);
        }

    // Seen from above the village, the walkers start walking once their walk has loaded and keep
    // to their circles.
    const Vec3 over(16.0f, 30.0f, 22.0f);
    const WorldFrustum view(
        world->GetRegion(village),
        WorldGenerator::MakeViewFrustum(over, Vec3(0.0f, -1.0f, 0.0001f), 1.2f, 0.5f, 100.0f));
    std::map<SampleWalker*, Vec3> start;
    for (Entity* entity : villageEntities)
        if (auto* walker = dynamic_cast<SampleWalker*>(entity))
            start[walker] = walker->GetCoords().GetOrigin().GetRegionPosition();
    ASSERT_EQ(start.size(), 5u);
    const auto begin = std::chrono::steady_clock::now();
    bool walking = false;
    while (!walking && std::chrono::steady_clock::now() - begin < std::chrono::seconds(20)) {
        Frame(16, &view);
        walking = std::all_of(start.begin(), start.end(), [](const auto& w) { return w.first->IsWalking(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(walking) << "the walk did not load";
    for (int i = 0; i < 120; ++i)
        Frame(16, &view);
    const float circle = 2.0f * DataKit::CharacterGenerator::walkStride / 0.5f;
    for (const auto& [walker, from] : start) {
        EXPECT_EQ(walker->GetRegion(), world->GetRegion(village));
        const Vec3 now = walker->GetCoords().GetOrigin().GetRegionPosition();
        EXPECT_GT((now - from).Length(), 0.5f) << "the walker moved";
        EXPECT_LT((now - from).Length(), circle + 0.5f) << "within its circle";
        const Level* ground = world->GetRegion(village)->GetLevelPtr();
        ASSERT_NE(ground, nullptr);
        EXPECT_NEAR(now.y, ground->GetGroundHeight(now.x, now.z), 1e-3f) << "on the ground";
        EXPECT_TRUE(walker->GetMeshInstance()->GetIsPlayingAnimation());
    }
}

TEST_F(GeneratedActorsTest, NothingIsPlacedInTheLakesOrRivers)
{
    // Regions large enough for water, as full of scattered props as the sample host's, a village
    // and walkers: no prop's footprint (the host's largest reaches 1.5 units from its middle) and no
    // walker's circle meets the water the level carries.
    WorldGenerator::Settings settings = SmallWorld();
    settings.regionSize = 64;
    settings.caves = 0;
    settings.entitiesPerRegion = 200;
    WorldGenerator generator(settings);
    World* world = StartGenerated(generator);
    ASSERT_NE(world, nullptr);
    const float circle = 2.0f * DataKit::CharacterGenerator::walkStride / 0.5f;
    int checked = 0;
    for (int i = 0; i < world->GetNumRegions(); ++i) {
        SCOPED_TRACE(i);
        const std::vector<Entity*> entities = Entities(world->GetRegion(i));
        const Level* level = world->GetRegion(i)->GetLevelPtr();
        ASSERT_NE(level, nullptr);
        const Water* water = level->GetWater();
        ASSERT_NE(water, nullptr) << "every region of 64 units has a lake";
        for (const Entity* entity : entities) {
            const Vec3 at = entity->GetCoords().GetOrigin().GetRegionPosition();
            const bool walker = dynamic_cast<const SampleWalker*>(entity) != nullptr;
            const float reach = walker ? circle : 1.5f;
            for (int k = -1; k < 16; ++k) { // the middle, then round the footprint
                const float a = 0.39269908f * static_cast<float>(k);
                const float x = at.x + (k < 0 ? 0.0f : reach * std::cos(a));
                const float z = at.z + (k < 0 ? 0.0f : reach * std::sin(a));
                Vec3 surface, flow;
                const bool wet =
                    water->GetWaterPointInfo(Vec3(x, level->GetGroundHeight(x, z) - 0.01f, z), surface, flow);
                EXPECT_FALSE(wet) << entity->GetObjectName() << " at " << at.x << ", " << at.z
                                  << " reaches the water at " << x << ", " << z;
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 4 * 200);
}

TEST_F(GeneratedActorsTest, PropsStandApartOnTheirOwnGroundAndInsideTheCaveWalls)
{
    // As full as the sample host's regions and cave, with a village and a doorway. The props are
    // drawn as the host draws them (kPropHalfWidths).
    WorldGenerator::Settings settings = FullAsTheHost();
    settings.regionsX = 3;
    WorldGenerator generator(settings);
    World* world = StartGenerated(generator);
    ASSERT_NE(world, nullptr);

    struct Square
    {
        int region;
        float x, z, half;
        std::string name;
    };
    // The props in world x and z (a cave's in its own space), and what else stands on the ground:
    // the crates (0.75 units either side of their middle, turned: inside the circle of their half
    // diagonal) and the doorways' frames.
    std::vector<Square> props;
    std::vector<Square> others;
    int caveProps = 0;
    for (int i = 0; i < world->GetNumRegions(); ++i) {
        SCOPED_TRACE(i);
        const WorldGenerator::RegionInfo& info = generator.GetRegions()[i];
        const IntVec3 offset = info.cave ? IntVec3() : info.offset;
        for (const Entity* entity : Entities(world->GetRegion(i))) {
            const Vec3 at = entity->GetCoords().GetOrigin().GetRegionPosition() +
                            Vec3(static_cast<float>(offset.x), 0.0f, static_cast<float>(offset.z));
            const std::string name = LowerName(*entity);
            const float half = PropHalfWidth(name);
            if (half > 0.0f) {
                props.push_back({info.cave ? i : -1, at.x, at.z, half, name});
                caveProps += info.cave ? 1 : 0;
            } else if (name.find("crate") != std::string::npos) {
                others.push_back({info.cave ? i : -1, at.x, at.z, kCrateReach, name});
            } else if (name.find("entrance") != std::string::npos) {
                others.push_back({info.cave ? i : -1, at.x, at.z, 2.0f, name});
            }
        }
        if (info.cave) {
            // The cave's doorway is a cell of the grid: no prop stands in it.
            for (const WorldGenerator::PortalInfo& door : generator.GetPortals())
                if (door.region == i)
                    others.push_back({i, door.coords.origin.x, door.coords.origin.z,
                                      DataKit::SampleGridKit::cellWidth * 0.5f, "the cave's doorway"});
            // Inside the walls: the wall slabs stand wallThickness inside the cave's edges.
            const float inner = DataKit::SampleGridKit::wallThickness;
            const float size = static_cast<float>(settings.caveSize);
            for (const Square& p : props)
                if (p.region == i) {
                    EXPECT_GE(p.x - p.half, inner)
                        << p.name << " at " << p.x << ", " << p.z << " pokes through a wall";
                    EXPECT_LE(p.x + p.half, size - inner) << p.name << " at " << p.x << ", " << p.z;
                    EXPECT_GE(p.z - p.half, inner) << p.name << " at " << p.x << ", " << p.z;
                    EXPECT_LE(p.z + p.half, size - inner) << p.name << " at " << p.x << ", " << p.z;
                }
        }
    }
    // Nearly all the props found room; the outdoor ones are checked across region borders.
    EXPECT_GE(static_cast<int>(props.size()) - caveProps, 6 * 200 * 98 / 100);
    EXPECT_GE(caveProps, 60 * 98 / 100);
    EXPECT_EQ(others.size(), 6u * 1 + 2u); // a village's crates, the doorway's entrance and cell
    int overlaps = 0;
    for (size_t a = 0; a < props.size(); ++a) {
        const auto apart = [&](const Square& b) {
            if (b.region != props[a].region)
                return true;
            const float dx = std::fabs(b.x - props[a].x), dz = std::fabs(b.z - props[a].z);
            if (b.name.find("crate") != std::string::npos) {
                // A crate turned any way stays inside the circle of its half diagonal.
                const float ox = std::max(dx - props[a].half, 0.0f), oz = std::max(dz - props[a].half, 0.0f);
                return ox * ox + oz * oz >= b.half * b.half;
            }
            return dx >= b.half + props[a].half || dz >= b.half + props[a].half;
        };
        for (size_t b = a + 1; b < props.size(); ++b)
            if (!apart(props[b]) && overlaps++ < 5)
                ADD_FAILURE() << props[a].name << " at " << props[a].x << ", " << props[a].z << " and "
                              << props[b].name << " at " << props[b].x << ", " << props[b].z << " meet";
        for (const Square& other : others)
            if (!apart(other) && overlaps++ < 5)
                ADD_FAILURE() << props[a].name << " at " << props[a].x << ", " << props[a].z << " meets "
                              << other.name << " at " << other.x << ", " << other.z;
    }
    EXPECT_EQ(overlaps, 0);
}

TEST_F(GeneratedActorsTest, WalkersGoRoundTheirWholeCirclesClearOfEveryProp)
{
    // A village and a cave as full as the sample host's. Each walker is walked once round its
    // circle (about 12.6 s at its turn of 0.5 a second): at no point does its body (0.4 units
    // round its middle) enter a prop or crate as the host draws them (kPropHalfWidths, kCrateReach).
    WorldGenerator generator(FullAsTheHost());
    World* world = StartGenerated(generator);
    ASSERT_NE(world, nullptr);
    const std::vector<WorldGenerator::RegionInfo>& regions = generator.GetRegions();
    int checkedRegions = 0;
    for (size_t i = 0; i < regions.size(); ++i) {
        if (!regions[i].village && !regions[i].cave)
            continue;
        SCOPED_TRACE(regions[i].name);
        Region* region = world->GetRegion(static_cast<int>(i));
        struct Square
        {
            float x, z, half;
            std::string name;
        };
        std::vector<Square> props;
        std::vector<SampleWalker*> walkers;
        for (Entity* entity : Entities(region)) {
            if (auto* walker = dynamic_cast<SampleWalker*>(entity)) {
                walkers.push_back(walker);
                continue;
            }
            const std::string name = LowerName(*entity);
            const Vec3 at = entity->GetCoords().GetOrigin().GetRegionPosition();
            const float half = name.find("crate") != std::string::npos ? kCrateReach : PropHalfWidth(name);
            if (half > 0.0f)
                props.push_back({at.x, at.z, half, name});
        }
        ASSERT_GE(walkers.size(), 2u);
        ASSERT_GT(props.size(), 50u);

        const float size = static_cast<float>(regions[i].cave ? generator.GetSettings().caveSize : generator.GetSettings().regionSize);
        const WorldFrustum view(region, WorldGenerator::MakeViewFrustum(Vec3(size / 2, 30.0f, size / 2),
                                                                        Vec3(0.0f, -1.0f, 0.0001f), 1.2f,
                                                                        0.5f, 100.0f));
        const auto begin = std::chrono::steady_clock::now();
        while (!std::all_of(walkers.begin(), walkers.end(), [](SampleWalker* w) { return w->IsWalking(); }) &&
               std::chrono::steady_clock::now() - begin < std::chrono::seconds(20)) {
            Frame(16, &view);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_TRUE(std::all_of(walkers.begin(), walkers.end(), [](SampleWalker* w) { return w->IsWalking(); }))
            << "the walk did not load";
        int inside = 0;
        for (int frame = 0; frame < 330; ++frame) {
            Frame(40, &view);
            for (SampleWalker* walker : walkers) {
                const Vec3 at = walker->GetCoords().GetOrigin().GetRegionPosition();
                for (const Square& p : props) {
                    const float dx = std::max(std::fabs(at.x - p.x) - p.half, 0.0f);
                    const float dz = std::max(std::fabs(at.z - p.z) - p.half, 0.0f);
                    if (dx * dx + dz * dz < 0.4f * 0.4f && inside++ < 5)
                        ADD_FAILURE() << "a walker at " << at.x << ", " << at.z << " walks into " << p.name
                                      << " at " << p.x << ", " << p.z;
                }
            }
        }
        EXPECT_EQ(inside, 0);
        ++checkedRegions;
    }
    EXPECT_EQ(checkedRegions, 2);
}

} // namespace
} // namespace GAME
