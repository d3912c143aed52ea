// Bodies in an underground region collide with its grid's pieces: they come to rest on the cells'
// floors and are stopped by the walls, with no height field under them.
#include "GridFixtures.h"

#include "core/WorldCoords.h"
#include "core/WorldVec3.h"
#include "navigation/PhysicsEngine.h"
#include "world/Level.h"
#include "world/MapChunkCallback.h"
#include "world/World.h"
#include "world/WorldServices.h"

#include <gtest/gtest.h>

namespace GAME::GridTest {

// A box of half size 0.5 around its origin that follows its frame.
class GridTestBox : public Entity
{
    GAME_DECLARE_CLASS(GridTestBox)

public:
    void UpdateBoundingBox() override
    {
        SetRegionBoundingBox(ABBox(GetCoords().GetOrigin().GetRegionPosition(), Vec3(0.5f, 0.5f, 0.5f)));
    }
};

GAME_REGISTER_CLASS(GridTestBox, Entity)

namespace {

class PhysicsServices : public WorldServices
{
public:
    explicit PhysicsServices(PhysicsEngine* physics) : m_physics(physics) { Install(this); }
    ~PhysicsServices() override { Install(nullptr); }
    SectorDataManager* GetSectorDataManager() override { return nullptr; }
    bool InstallMapChunkCallback(MapChunkCallback*) override { return false; }
    const MapChunkCallbackMap& GetChunkCallbackMap() override { return m_callbacks; }
    PhysicsEngine* GetPhysicsEngine() override { return m_physics; }

private:
    PhysicsEngine* m_physics;
    MapChunkCallbackMap m_callbacks;
};

TEST(GridPhysicsTest, BoxesRestOnTheCellFloorsAndAreStoppedByTheWalls)
{
    PhysicsEngine physics;
    ASSERT_TRUE(physics.Initialize());
    PhysicsServices services(&physics);
    GridEnvironment env;
    DataKit::ArzWriter database;
    database.AddRecord("records/grid/box.dbr").String("Class", "GridTestBox");
    const std::vector<uint8_t> boxRecord = database.Build();
    ASSERT_TRUE(env.records.archive.Load(boxRecord.data(), static_cast<unsigned>(boxRecord.size()), true));

    auto* world = new World();
    world->AddRegion("levels/cave.lvl", IntVec3(), ABBox(), RegionId());
    Region* region = world->GetRegion(0);
    auto* level = new Level(region);
    const std::vector<uint8_t> image = GridWriter::LevelImage(Room(3).Write());
    ASSERT_TRUE(level->Load(image.data(), static_cast<int>(image.size()), false));
    level->PostLoad(false);
    region->SetLevel(level);

    const auto place = [&](const Vec3& at) {
        auto* box = ObjectManager::Get()->CreateObjectFromFileAs<GridTestBox>("records/grid/box.dbr");
        EXPECT_NE(box, nullptr);
        world->AddEntity(box, WorldCoords(region, Coords::Translation(at)), true);
        box->SetPhysicsType(PHYSICS_TYPE_ACTOR);
        return box;
    };
    // One dropped in the middle, one thrown at the -x wall.
    GridTestBox* dropped = place(Vec3(6, 3, 6));
    GridTestBox* thrown = place(Vec3(3, 0.6f, 2));
    ASSERT_EQ(physics.GetNumSimulatedEntities(), 2);
    physics.SetEntityLinearVelocity(thrown, Vec3(-12, 0, 0));
    for (int i = 0; i < 300; ++i)
        physics.Update(WorldVec3(region, Vec3()), PhysicsEngine::stepSeconds);

    const Vec3 d = dropped->GetCoords().GetOrigin().GetRegionPosition();
    EXPECT_NEAR(d.y, 0.5f, 0.08f) << "on the floor";
    EXPECT_NEAR(d.x, 6.0f, 0.3f);
    const Vec3 t = thrown->GetCoords().GetOrigin().GetRegionPosition();
    EXPECT_GT(t.x, SampleGridKit::wallThickness + 0.4f) << "the wall stopped it";
    EXPECT_LT(t.x, 3.0f);
    EXPECT_NEAR(t.y, 0.5f, 0.15f);

    delete world; // takes the entities out of the simulation
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
}

} // namespace
} // namespace GAME::GridTest
