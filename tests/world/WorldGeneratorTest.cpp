#include "datakit/WorldGenerator.h"
#include "common/RecordServices.h"
#include "core/ObjectManager.h"
#include "core/WorldVec3.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/File.h"
#include "datakit/ArzWriter.h"
#include "datakit/SampleGridKit.h"
#include "terrain/GridRegion.h"
#include "terrain/TerrainRT.h"
#include "terrain/TerrainType.h"
#include "world/Entity.h"
#include "world/FogSectorData.h"
#include "world/Level.h"
#include "world/Portal.h"
#include "world/Region.h"
#include "world/SectorDataManager.h"
#include "world/World.h"

#include "WorldFixtures.h"

#include <algorithm>
#include <climits>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <utility>

namespace GAME {
namespace {

using DataKit::WorldGenerator;

WorldGenerator::Settings SmallWorld()
{
    WorldGenerator::Settings settings;
    settings.regionsX = 3;
    settings.regionsZ = 3;
    settings.regionSize = 32;
    settings.entitiesPerRegion = 12;
    settings.caves = 2;
    settings.caveSize = 16;
    settings.entitiesPerCave = 5;
    return settings;
}

// Writes the generated world into the services' folder and loads the generator's records, for
// World::Load; the generator's grid systems (handed to the object manager to be destroyed) go
// first.
::testing::AssertionResult WriteWithRecords(const WorldGenerator& generator,
                                            GAME::Test::WorldTestServices& services,
                                            GAME::Test::RecordServices& records)
{
    if (!generator.Write(services.dir.Path()))
        return ::testing::AssertionFailure() << "the world was not written";
    DataKit::ArzWriter database;
    WorldGenerator::AddRecords(database);
    if (!records.Load(database.Build()))
        return ::testing::AssertionFailure() << "the records did not load";
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
    ObjectManager::Destroy();
    Entity::InstallHooks();
    return ::testing::AssertionSuccess();
}

// Each case deletes what the generator handed to the process's object manager (its levels' grid
// systems) and the manager with it, so that the next test starts with none: a later test that
// destroys the manager at its start would otherwise drop them unfreed.
class WorldGeneratorTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
        ObjectManager::Destroy();
    }
};

// The level image as the map file holds it for the region.
std::vector<uint8_t> LevelBytes(const World& world, const Region& region)
{
    std::vector<uint8_t> bytes;
    if (File* file = world.LockMapFile()) {
        if (const auto* p =
                static_cast<const uint8_t*>(file->Lock(region.GetLevelOffset(), region.GetLevelSize()))) {
            bytes.assign(p, p + region.GetLevelSize());
            file->Unlock();
        }
    }
    world.UnlockMapFile();
    return bytes;
}

TEST_F(WorldGeneratorTest, MapLoadsWithItsRegionsLevelsPortalsAndSectorData)
{
    WorldGenerator generator(SmallWorld());
    ASSERT_TRUE(generator.Generate());
    const auto& regions = generator.GetRegions();
    ASSERT_EQ(regions.size(), 11u);

    GAME::Test::WorldTestServices services;
    GAME::Test::RecordServices records;
    ASSERT_TRUE(WriteWithRecords(generator, services, records));
    // The caves' pieces, without an engine.
    DataKit::GridPieceResources pieces;

    {
        World world;
        ASSERT_TRUE(world.Load(generator.GetSettings().mapName.c_str(), true));
        ASSERT_EQ(world.GetNumRegions(), 11);
        std::map<std::pair<int, int>, float> borderHeights;
        for (int i = 0; i < world.GetNumRegions(); ++i) {
            SCOPED_TRACE(i);
            const Region& region = *world.GetRegion(i);
            EXPECT_EQ(region.GetName(), regions[i].name);
            EXPECT_EQ(region.GetOffsetFromWorld(), regions[i].offset);
            EXPECT_EQ(region.GetBoundingBox(), regions[i].box);
            EXPECT_EQ(region.GetId(), regions[i].id);

            // The level image is the engine's own: it loads with its entities, and the region's box
            // is its box rounded out to whole units.
            const std::vector<uint8_t> bytes = LevelBytes(world, region);
            Level level(world.GetRegion(i));
            ASSERT_TRUE(level.Load(bytes.data(), static_cast<int>(bytes.size()), false));
            EXPECT_EQ(level.GetNumEntities(), regions[i].entities);
            const ABBox levelBox = level.GetBoundingBox();
            const ABBox& box = regions[i].box;
            EXPECT_EQ(levelBox.center.x, box.center.x);
            EXPECT_EQ(levelBox.extents.z, box.extents.z);
            EXPECT_LE(box.center.y - box.extents.y, levelBox.center.y - levelBox.extents.y);
            EXPECT_GE(box.center.y + box.extents.y, levelBox.center.y + levelBox.extents.y);
            EXPECT_LT(box.extents.y - levelBox.extents.y, 3.0f);
            // Caves are grids of the sample system, every cell built.
            EXPECT_EQ(level.GetGridRegion() != nullptr, regions[i].cave);
            if (const GridRegion* grid = level.GetGridRegion()) {
                EXPECT_EQ(grid->GetNumBuiltCells(), grid->GetXNumCells() * grid->GetZNumCells());
            }
            // Outdoors the ground is rolling terrain of three typed layers: run-time terrain with
            // a plug, except the one region kept in the editor form, whose hole and plug are made
            // again only when tiles cut it.
            if (!regions[i].cave) {
                const TerrainBase* terrain = level.GetTerrain();
                ASSERT_NE(terrain, nullptr);
                const bool editable = i == generator.GetSettings().editorFormRegion;
                ASSERT_EQ(terrain->GetType(),
                          editable ? TerrainBase::TERRAIN_BASE_EDITABLE : TerrainBase::TERRAIN_BASE_RUN_TIME);
                EXPECT_EQ(terrain->GetNumTextureLayers(), 3u);
                for (unsigned layer = 0; layer < 3; ++layer)
                    EXPECT_NE(terrain->GetLayerTerrainType(layer), nullptr) << layer;
                EXPECT_GT(terrain->GetBoundingBox().extents.y, 0.5f);
                std::vector<TerrainObject*> objects;
                terrain->GetAllObjects(objects);
                EXPECT_EQ(objects.size(), static_cast<size_t>(terrain->NumXBlocks() * terrain->NumYBlocks()) +
                                              (editable ? 0 : 1));
                // The path mesh was built over that ground: its floor follows the rolling heights
                // (away from the plug's hole, three quarters in).
                ASSERT_TRUE(level.GetPathMesh().HasMesh());
                float lowest = 1e9f, highest = -1e9f;
                for (float x = 3.5f; x < 12.0f; x += 2.0f)
                    for (float z = 3.5f; z < 12.0f; z += 4.0f) {
                        const float ground = terrain->GetHeightInterpolated(x, z);
                        WorldVec3 floor;
                        ASSERT_TRUE(level.GetPathMesh().FindFloorPosition(
                            WorldVec3(world.GetRegion(i), Vec3(x, ground + 0.5f, z)), 1.5f, floor));
                        EXPECT_NEAR(floor.GetRegionPosition().y, ground, 0.5f) << x << "," << z;
                        lowest = std::min(lowest, ground), highest = std::max(highest, ground);
                    }
                EXPECT_GT(highest - lowest, 0.5f);

                // Neighbouring grounds meet: every sample on a border has one height, from
                // whichever side it is read.
                const int size = generator.GetSettings().regionSize;
                for (int a = 0; a <= size; ++a)
                    for (const auto& [x, z] :
                         {std::pair{a, 0}, std::pair{a, size}, std::pair{0, a}, std::pair{size, a}}) {
                        const std::pair<int, int> at(regions[i].offset.x + x, regions[i].offset.z + z);
                        const float h =
                            terrain->GetHeightInterpolated(static_cast<float>(x), static_cast<float>(z));
                        const auto [known, added] = borderHeights.emplace(at, h);
                        if (!added) {
                            EXPECT_NEAR(known->second, h, 1e-3f)
                                << "border sample " << at.first << "," << at.second;
                        }
                    }
            }
        }
        // The grid's regions touch their neighbours; caves lie apart and are reached by portals.
        EXPECT_EQ(world.GetRegion(0)->GetConnectedRegions().size(), 3u);
        EXPECT_EQ(world.GetRegion(4)->GetConnectedRegions().size(), 8u);
        EXPECT_TRUE(world.GetRegion(9)->GetConnectedRegions().empty());
        EXPECT_TRUE(world.GetRegion(10)->GetConnectedRegions().empty());

        // Each doorway's portals come with the levels (the outdoor entrance, the cave's doorway
        // cell), linked as the generator planned: passing the outdoor door from its front leads
        // into the cave's box.
        ASSERT_EQ(generator.GetPortals().size(), 4u);
        for (const WorldGenerator::PortalInfo& info : generator.GetPortals()) {
            Region* region = world.GetRegion(info.region);
            ASSERT_NE(region->GuaranteedGetLevel(false), nullptr);
            ASSERT_EQ(region->GetNumPortals(), 1);
            const Portal* portal = region->GetPortal(info.id);
            ASSERT_NE(portal, nullptr);
            EXPECT_EQ(portal->GetConnectedRegionId(), regions[info.connectedRegion].id);
            EXPECT_EQ(portal->GetConnectedPortalId(), info.connectedPortal);
            Coords through;
            Region* other = nullptr;
            ASSERT_TRUE(portal->GetFrontToBackCoords(through, other));
            EXPECT_EQ(other, world.GetRegion(info.connectedRegion));
            if (!regions[info.region].cave) {
                const Vec3 behind = info.coords.TransformPoint(Vec3(0.0f, 4.0f, -1.0f));
                const Vec3 inside = through.TransformPoint(behind) - regions[info.connectedRegion].box.center;
                const Vec3& half = regions[info.connectedRegion].box.extents;
                EXPECT_LT(std::fabs(inside.x), half.x);
                EXPECT_LT(std::fabs(inside.z), half.z);
            }
        }
    }
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
    ObjectManager::Destroy();

    SectorDataManager sectors;
    ASSERT_TRUE(sectors.Load(generator.GetSectorDataName().c_str()));
    EXPECT_EQ(sectors.GetNumSectorData(SectorDataManager::SECTOR_NAME), 11u);
    // And one fog record: the world's air, as the sample host reads it.
    ASSERT_EQ(sectors.GetNumSectorData(SectorDataManager::SECTOR_FOG), 1u);
    const WorldGenerator::Atmosphere air = WorldGenerator::ReadAtmosphere(
        *static_cast<const FogSectorData*>(sectors.GetSectorData(SectorDataManager::SECTOR_FOG, 0u)));
    const WorldGenerator::Atmosphere& written = generator.GetSettings().atmosphere;
    EXPECT_EQ(air.fogColor[2], written.fogColor[2]);
    EXPECT_EQ(air.depthFogEnd, written.depthFogEnd);
    EXPECT_EQ(air.heightFogDensity, written.heightFogDensity);
}

// The body of the last ground chunk (id 6) of a level image.
std::vector<uint8_t> GroundChunk(const std::vector<uint8_t>& image)
{
    std::vector<uint8_t> ground;
    BinaryReader reader(image.data(), static_cast<unsigned>(image.size()));
    reader.Skip(4);
    uint32_t id = 0;
    BinaryReader body;
    while (!reader.AtEnd() && reader.ReadBlock(id, body))
        if (id == 6)
            ground.assign(body.GetData(), body.GetData() + body.GetSize());
    return ground;
}

TEST_F(WorldGeneratorTest, LevelsSavedAfterLoadingKeepTheirGround)
{
    WorldGenerator generator(SmallWorld());
    ASSERT_TRUE(generator.Generate());
    GAME::Test::WorldTestServices services;
    services.editor = true; // the editor saves levels; a game keeps no run-time ground to save
    GAME::Test::RecordServices records;
    ASSERT_TRUE(WriteWithRecords(generator, services, records));
    DataKit::GridPieceResources pieces;

    {
        World world;
        ASSERT_TRUE(world.Load(generator.GetSettings().mapName.c_str(), true));
        int runTime = 0, editable = 0;
        for (int i = 0; i < world.GetNumRegions(); ++i) {
            if (generator.GetRegions()[i].cave)
                continue;
            SCOPED_TRACE(i);
            const std::vector<uint8_t> bytes = LevelBytes(world, *world.GetRegion(i));
            Level loaded(world.GetRegion(i));
            ASSERT_TRUE(loaded.Load(bytes.data(), static_cast<int>(bytes.size()), false));
            const TerrainBase* terrain = loaded.GetTerrain();
            ASSERT_NE(terrain, nullptr);
            (terrain->IsEditable() ? editable : runTime) += 1;

            // Saved as the editor saves (no run-time flag) and loaded again: the ground chunk is
            // the one the level came with, in the same form. The run-time form comes back byte
            // for byte; the editable form's cut-away flags are the tiles' to make again (they are
            // not kept by a load), so there the sizes and the heights tell.
            BinaryWriter writer(0x400);
            ASSERT_TRUE(loaded.SaveToMemory(writer, false));
            const std::vector<uint8_t> saved(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
            const std::vector<uint8_t> ground = GroundChunk(bytes);
            ASSERT_GT(ground.size(), 4u);
            if (terrain->IsEditable()) {
                EXPECT_EQ(GroundChunk(saved).size(), ground.size());
            } else {
                EXPECT_EQ(GroundChunk(saved), ground);
            }
            Level again(world.GetRegion(i));
            ASSERT_TRUE(again.Load(saved.data(), static_cast<int>(saved.size()), false));
            const TerrainBase* reloaded = again.GetTerrain();
            ASSERT_NE(reloaded, nullptr);
            EXPECT_EQ(reloaded->GetType(), terrain->GetType());
            ASSERT_EQ(reloaded->GetNumXSamples(), terrain->GetNumXSamples());
            ASSERT_EQ(reloaded->GetNumYSamples(), terrain->GetNumYSamples());
            EXPECT_EQ(reloaded->GetNumTextureLayers(), terrain->GetNumTextureLayers());
            int differing = 0;
            for (unsigned y = 0; y < terrain->GetNumYSamples(); ++y)
                for (unsigned x = 0; x < terrain->GetNumXSamples(); ++x)
                    differing += reloaded->GetHeight(int(x), int(y)) != terrain->GetHeight(int(x), int(y));
            EXPECT_EQ(differing, 0);
        }
        EXPECT_EQ(editable, 1);
        EXPECT_EQ(runTime, 8);
    }
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
    ObjectManager::Destroy();
}

TEST_F(WorldGeneratorTest, FlightVisitsEveryRegionInsideItsBox)
{
    WorldGenerator generator(SmallWorld());
    ASSERT_TRUE(generator.Generate());
    const float duration = generator.GetFlightDuration();
    ASSERT_GT(duration, 1.0f);
    // Through a doorway the flight walks on at its own speed: the place before the step, carried
    // through the doorway pair (front to back, from the field into the cave), is the place after it.
    auto through = [&](int from, int to, Vec3& position) {
        for (const WorldGenerator::PortalInfo& door : generator.GetPortals())
            for (const WorldGenerator::PortalInfo& back : generator.GetPortals())
                if (door.region == from && door.connectedRegion == to && back.id == door.connectedPortal) {
                    position = (back.coords * back.choke * door.choke.Inverse() * door.coords.Inverse())
                                   .TransformPoint(position);
                    return true;
                }
        return false;
    };
    std::set<int> visited;
    int previous = -1, doorways = 0;
    Vec3 previousPosition;
    for (float t = 0.0f; t <= duration; t += 0.01f) {
        const WorldGenerator::View view = generator.GetFlightView(t);
        ASSERT_GE(view.region, 0);
        const ABBox& box = generator.GetRegions()[view.region].box;
        const Vec3 local = view.position - box.center;
        EXPECT_LE(std::fabs(local.x), box.extents.x) << t;
        EXPECT_LE(std::fabs(local.z), box.extents.z) << t;
        EXPECT_NEAR(Vec3::Dot(view.direction, view.direction), 1.0f, 1e-4f);
        // Within a region the camera moves smoothly (no step above a frame's worth of flight).
        if (previous >= 0 && view.region != previous && through(previous, view.region, previousPosition))
            ++doorways;
        if (previous >= 0 && (view.region == previous || generator.GetRegions()[view.region].cave ||
                              generator.GetRegions()[previous].cave)) {
            const Vec3 step = view.position - previousPosition;
            EXPECT_LT(Vec3::Dot(step, step), 1.0f) << t;
        }
        visited.insert(view.region);
        previous = view.region;
        previousPosition = view.position;
    }
    EXPECT_EQ(visited.size(), generator.GetRegions().size());
    EXPECT_EQ(doorways, 2 * SmallWorld().caves) << "each cave entered and left through its doorway";

    WorldGenerator::Settings bad = SmallWorld();
    bad.regionSize = 48;
    EXPECT_FALSE(WorldGenerator(bad).Generate());
    bad = SmallWorld();
    bad.caves = 10;
    EXPECT_FALSE(WorldGenerator(bad).Generate());
}

} // namespace
} // namespace GAME
