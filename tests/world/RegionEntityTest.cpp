#include "common/LogCapture.h"
#include "core/ObjectManager.h"
#include "core/WorldCoords.h"

#include "LevelFixtures.h"

#include <gtest/gtest.h>

namespace GAME::WorldTest {
namespace {

using RegionEntityTest = WorldFixture;

TEST_F(RegionEntityTest, AnEntityForAnUnloadedLevelIsDestroyedAndReportedNotInTheWorld)
{
    Region* unloaded = world->GetRegion(world->AddRegion("levels/elsewhere.lvl", IntVec3(200, 0, 0),
                                                         ABBox(Vec3(), Vec3(10, 10, 10)), RegionId()));
    ASSERT_NE(unloaded, nullptr);
    TestEntity* entity = Make();
    ASSERT_NE(entity, nullptr);
    const std::string name = entity->GetObjectName();

    GAME::Test::LogCapture log;
    EXPECT_FALSE(
        unloaded->AddEntity(entity, WorldCoords(unloaded, Coords::Translation(Vec3(1, 0, 1))), true));
    EXPECT_TRUE(ObjectManager::Get()->IsObjectOnDeletedList(entity));
    EXPECT_FALSE(entity->IsInWorld());
    EXPECT_FALSE(unloaded->IsLoadUnderWay()); // the level was not forced in for it
    EXPECT_EQ(unloaded->GetLevelPtr(), nullptr);
    ASSERT_EQ(log.Count(), 2u);
    EXPECT_TRUE(log.Contains("Entity (" + name, 1));
    EXPECT_TRUE(log.Contains("could not be added to the world because it's level is not loaded.", 1));
    EXPECT_TRUE(log.Contains("not in world after World::AddEntity() processing.", 2));
}

TEST_F(RegionEntityTest, AnEntityForALoadedLevelJoinsItQuietly)
{
    TestEntity* entity = Make();
    ASSERT_NE(entity, nullptr);
    GAME::Test::LogCapture log;
    EXPECT_TRUE(region->AddEntity(entity, WorldCoords(region, Coords::Translation(Vec3(1, 0, 1))), true));
    EXPECT_TRUE(entity->IsInWorld());
    EXPECT_EQ(entity->GetRegion(), region);
    EXPECT_EQ(entity->added, 1);
    EXPECT_EQ(log.Count(), 0u);
    // Coordinates of another region are refused untouched.
    TestEntity* other = Make();
    EXPECT_FALSE(region->AddEntity(other, WorldCoords(nullptr, Coords()), true));
    EXPECT_FALSE(other->IsInWorld());
    EXPECT_FALSE(ObjectManager::Get()->IsObjectOnDeletedList(other));
    ObjectManager::Get()->DestroyObjectEx(other, __FILE__, __LINE__);
}

} // namespace
} // namespace GAME::WorldTest
