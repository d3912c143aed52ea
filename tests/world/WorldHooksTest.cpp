// The world's answers to the floors below: one answerer for each floor's interface, installed while
// the library is loaded; the ground a region hands to navigation; the time of day's light the scene
// renderers read.
#include "world/WorldHooks.h"
#include "core/SimplePolygon.h"
#include "data/BinaryReader.h"
#include "datakit/ImpassableWriter.h"
#include "graphics/DirtyRectSet.h"
#include "navigation/ImpassableData.h"
#include "navigation/NavigationGround.h"
#include "scene/SceneDayLight.h"
#include "scene/SceneWorldServices.h"
#include "terrain/Terrain.h"
#include "terrain/TerrainGroundQueries.h"
#include "world/DayNightManager.h"
#include "world/GroundQueries.h"
#include "world/Level.h"
#include "world/Region.h"

#include <array>
#include <gtest/gtest.h>

namespace GAME {
namespace {

// The answers installed for core, graphics, navigation, scene and network when it is made.
struct Answers
{
    RegionServices* region = RegionServices::Get();
    GraphicsWorldServices* graphics = GraphicsWorldServices::Get();
    NavigationServices* navigation = NavigationServices::Get();
    SceneWorldServices* scene = SceneWorldServices::Get();
    NetworkWorldServices* network = NetworkWorldServices::Get();

    std::array<const void*, 5> All() const { return {region, graphics, navigation, scene, network}; }
};

TEST(WorldHooksTest, EachFloorHasAnAnswerOfItsOwnAndRemovingOnesLeavesWhatOthersPutThere)
{
    const Answers library;
    for (const void* answers : library.All())
        ASSERT_NE(answers, nullptr);
    {
        WorldHooks mine;
        mine.Install();
        const std::array<const void*, 5> installed = Answers().All();
        for (size_t i = 0; i < installed.size(); ++i)
            EXPECT_TRUE(installed[i] && installed[i] != library.All()[i]) << i;
        // The scene's answers were put back since: they stay, the other four go.
        SceneWorldServices::Install(library.scene);
        mine.Remove();
        EXPECT_EQ(Answers().All(),
                  (std::array<const void*, 5>{nullptr, nullptr, nullptr, library.scene, nullptr}));
    }
    RegionServices::Install(library.region);
    GraphicsWorldServices::Install(library.graphics);
    NavigationServices::Install(library.navigation);
    NetworkWorldServices::Install(library.network);
    EXPECT_EQ(Answers().All(), library.All());
}

// Every height the terrain is asked for through the world's ground queries.
class MarkedHeights : public GroundQueries
{
public:
    MarkedHeights() { Install(this); }
    ~MarkedHeights() override { TerrainGroundQueries::Install(); }
    float GetTerrainHeight(const TerrainBase*, int x, int z) override { return 1000.0f + 10.0f * x + z; }
    float GetGridGroundHeight(const GridRegion*, float, float) override { return 0.0f; }
    Region* GetTerrainRegion(const TerrainBase*) override { return nullptr; }
    Region* GetGridRegionRegion(const GridRegion*) override { return nullptr; }
};

TEST(WorldHooksTest, ARegionsGroundAnswersForTheTerrainItsLevelHoldsWhenAsked)
{
    NavigationServices* world = NavigationServices::Get();
    ASSERT_TRUE(world);
    Region region(nullptr, 0, "g", ABBox(Vec3(16, 0, 16), Vec3(16, 30, 16)), IntVec3(), RegionId(), 0, 0);
    EXPECT_EQ(world->GetGround(&region), nullptr); // no level
    EXPECT_EQ(world->GetGround(nullptr), nullptr);

    // A sloping 32 x 32 terrain, its first row of cells impassable, a hole cut and closed by a plug.
    Level* level = new Level(&region);
    ASSERT_TRUE(level->NewTerrain(33, 33));
    Terrain* terrain = level->GetEditableTerrain();
    for (int y = 0; y <= 32; ++y)
        for (int x = 0; x <= 32; ++x)
            terrain->SetBaseHeight(x, y, 0.25f * static_cast<float>(x) + 0.1f * static_cast<float>(y));
    std::vector<bool> cells(32 * 32);
    for (size_t i = 0; i < 32; ++i)
        cells[i] = true;
    const std::vector<uint8_t> body = DataKit::BuildImpassableBody(32, 32, cells);
    BinaryReader reader(body.data(), static_cast<unsigned>(body.size()));
    ImpassableData impassable;
    ASSERT_TRUE(impassable.Load(reader));
    terrain->SetImpassableData(impassable);
    SimplePolygon hole;
    for (const PolygonVertex& corner : {PolygonVertex{8.0f, 8.0f}, PolygonVertex{12.0f, 8.0f},
                                        PolygonVertex{12.0f, 12.0f}, PolygonVertex{8.0f, 12.0f}})
        hole.AddVertex(corner);
    terrain->MakeInvisible(hole);
    DirtyRectSet dirty;
    dirty.AddRect(DirtyRect(4, 4, 12, 12));
    terrain->BuildPlugs(dirty);
    region.SetLevel(level);

    const NavigationGround* ground = world->GetGround(&region);
    ASSERT_EQ(ground, &region.GetGround());
    ASSERT_EQ(ground->GetNumXSamples(), 33u);
    ASSERT_EQ(ground->GetNumYSamples(), 33u);
    int invisible = 0, blocked = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            EXPECT_EQ(ground->GetHeight(x, y), terrain->GetHeight(x, y)) << x << "," << y;
            EXPECT_EQ(ground->IsInvisible(x, y), terrain->IsInvisible(x, y)) << x << "," << y;
            EXPECT_EQ(ground->IsImpassable(x, y), y == 0) << x << "," << y;
            invisible += ground->IsInvisible(x, y);
            blocked += ground->IsImpassable(x, y);
        }
    EXPECT_EQ(invisible, 36);
    EXPECT_EQ(blocked, 32);
    // The physics engine's heights come through the ground queries, so an edited ground counts.
    {
        MarkedHeights marked;
        EXPECT_EQ(ground->GetGroundHeight(3, 4), 1034.0f);
    }
    EXPECT_EQ(ground->GetGroundHeight(3, 4), terrain->GetHeight(3, 4));

    // The plug's triangles (terrain space: x, y along the samples, z the height) fill the hole and
    // nothing else.
    std::vector<std::array<Vec3, 3>> triangles;
    ground->GetPlugTriangles(ABBox(Vec3(10, 0, 10), Vec3(5, 1e30f, 5)), triangles);
    ASSERT_FALSE(triangles.empty());
    for (const auto& triangle : triangles)
        for (const Vec3& v : triangle) {
            EXPECT_TRUE(v.x >= 7.0f && v.x <= 13.0f && v.y >= 7.0f && v.y <= 13.0f) << v.x << "," << v.y;
            EXPECT_NEAR(v.z, 0.25f * v.x + 0.1f * v.y, 1e-3f);
        }
    triangles.clear();
    ground->GetPlugTriangles(ABBox(Vec3(25, 0, 25), Vec3(2, 1e30f, 2)), triangles);
    EXPECT_TRUE(triangles.empty());

    // Another level in its place: the same ground answers for its terrain at once, and a level
    // without one has no ground to hand over.
    Level* smaller = new Level(&region);
    ASSERT_TRUE(smaller->NewTerrain(9, 5));
    region.SetLevel(smaller);
    EXPECT_EQ(world->GetGround(&region), ground);
    EXPECT_EQ(ground->GetNumXSamples(), 9u);
    EXPECT_EQ(ground->GetNumYSamples(), 5u);
    EXPECT_FALSE(ground->IsInvisible(3, 3));
    Level* space = new Level(&region);
    space->NewSpace(Vec2(16, 16));
    region.SetLevel(space);
    EXPECT_EQ(world->GetGround(&region), nullptr);
    EXPECT_EQ(ground->GetNumXSamples(), 0u);
    EXPECT_EQ(ground->GetHeight(1, 1), 0.0f);
    EXPECT_FALSE(ground->IsImpassable(1, 1));
}

TEST(WorldHooksTest, TheTimeOfDaysLightReadsEachOfItsColoursAndItsDirection)
{
    DayNightManager::Destroy();
    DayNightManager* dayNight = DayNightManager::Get();
    ASSERT_TRUE(dayNight);
    dayNight->Enable(false);
    dayNight->SetTime(10.0f);
    dayNight->ClearLightSetups();
    // Three colours a key apart, the same all day.
    for (float hours : {0.0f, 12.0f})
        dayNight->SetLightSetup(hours, Color(1, 0, 0, 1), Color(0, 1, 0, 1), Color(0, 0, 1, 1));
    SceneDayLight* day = SceneWorldServices::Current().GetDayLight();
    ASSERT_TRUE(day);
    EXPECT_EQ(day->IsDay(), dayNight->IsDay());
    EXPECT_EQ(day->GetLightColor(), dayNight->GetLightColor());
    EXPECT_EQ(day->GetSkyAmbientColor(), dayNight->GetSkyAmbientColor());
    EXPECT_EQ(day->GetGroundAmbientColor(), dayNight->GetGroundAmbientColor());
    EXPECT_NE(day->GetLightColor(), day->GetSkyAmbientColor());
    EXPECT_NE(day->GetSkyAmbientColor(), day->GetGroundAmbientColor());
    const Vec3 direction = day->GetLightDirection();
    EXPECT_EQ(direction, dayNight->GetLightDirection());
    DayNightManager::Destroy();
}

} // namespace
} // namespace GAME
