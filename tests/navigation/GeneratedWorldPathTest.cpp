// The sample world's regions carry path meshes their generator built over the neighbours' ground:
// once the levels are in, ways cross from field to field and through the doorways into the caves.
#include "common/RecordServices.h"
#include "world/WorldFixtures.h"

#include "core/ObjectManager.h"
#include "core/WorldVec3.h"
#include "datakit/ArzWriter.h"
#include "datakit/SampleGridKit.h"
#include "datakit/WorldGenerator.h"
#include "navigation/Path.h"
#include "navigation/PathFinder.h"
#include "world/Entity.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/World.h"

#include <climits>
#include <gtest/gtest.h>
#include <memory>

namespace GAME {
namespace {

using DataKit::WorldGenerator;

TEST(GeneratedWorldPathTest, WaysCrossFieldsAndGoThroughDoorways)
{
    WorldGenerator::Settings settings;
    settings.regionsX = 3;
    settings.regionsZ = 2;
    settings.regionSize = 32;
    settings.entitiesPerRegion = 6;
    settings.caves = 1;
    settings.caveSize = 16;
    settings.entitiesPerCave = 2;
    WorldGenerator generator(settings);
    ASSERT_TRUE(generator.Generate());
    GAME::Test::WorldTestServices services;
    ASSERT_TRUE(generator.Write(services.dir.Path()));
    GAME::Test::RecordServices records;
    DataKit::ArzWriter database;
    WorldGenerator::AddRecords(database);
    ASSERT_TRUE(records.Load(database.Build()));
    Entity::InstallHooks();
    // The caves' pieces, without an engine: their floors and doorways.
    DataKit::GridPieceResources pieces;
    {
        World world;
        World::SetCurrent(&world);
        ASSERT_TRUE(world.Load(generator.GetSettings().mapName.c_str(), true));
        ASSERT_EQ(world.GetNumRegions(), 7);
        for (int i = 0; i < world.GetNumRegions(); ++i) {
            Level* level = world.GetRegion(i)->GuaranteedGetLevel(false);
            ASSERT_TRUE(level);
            EXPECT_TRUE(level->GetPathMesh().HasMesh()) << i;
            EXPECT_EQ(PathFinder::Get()->GetMesh(world.GetRegion(i)), &level->GetPathMesh());
        }
        const auto find = [&](int a, const Vec3& pa, int b, const Vec3& pb) {
            return std::unique_ptr<Path>(world.FindPath(0, WorldVec3(world.GetRegion(a), pa),
                                                        WorldVec3(world.GetRegion(b), pb), Vec3(), 0.0f, 0.5f,
                                                        2.0f, 45.0f, 0));
        };
        // From field (0, 0) across two borders into field (2, 1): about the straight distance.
        std::unique_ptr<Path> across = find(0, Vec3(8, 0, 8), 5, Vec3(24, 0, 24));
        ASSERT_TRUE(across);
        EXPECT_GE(across->GetNumRegionChanges(), 2);
        EXPECT_EQ(across->GetPoint(across->GetNumPoints() - 1).GetRegion(), world.GetRegion(5));
        EXPECT_NEAR(across->GetLength(), std::hypot(80.0f, 48.0f), 2.0f);

        // Into the cave through its doorway, from in front of the door.
        const WorldGenerator::PortalInfo& door = generator.GetPortals().front();
        ASSERT_FALSE(generator.GetRegions()[static_cast<size_t>(door.region)].cave);
        std::unique_ptr<Path> inside = find(door.region, door.coords.TransformPoint(Vec3(0, 0, 6)),
                                            door.connectedRegion, Vec3(8, 0, 10));
        ASSERT_TRUE(inside);
        EXPECT_EQ(inside->GetNumRegionChanges(), 1);
        EXPECT_EQ(inside->GetPoint(inside->GetNumPoints() - 1).GetRegion(),
                  world.GetRegion(door.connectedRegion));
        World::SetCurrent(nullptr);
    }
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
    ObjectManager::Destroy();
    PathFinder::Destroy();
}

} // namespace
} // namespace GAME
