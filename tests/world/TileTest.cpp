// Tile entities in a running engine: the terrain tile a tile makes in a level with a terrain, how
// it follows the entity's moves and the entity leaving; a tile in a level without a terrain; and
// an actor's "DisplaceGrass" event reaching the terrain's grass.
#include "EngineFixture.h"

#include "core/ObjectManager.h"
#include "data/ResourceLoader.h"
#include "datakit/CharacterGenerator.h"
#include "datakit/TerrainWriter.h"
#include "scene/GraphicsMesh.h"
#include "scene/GraphicsMeshInstance.h"
#include "terrain/TerrainBase.h"
#include "terrain/TerrainBlock.h"
#include "terrain/TerrainRT.h"
#include "terrain/TerrainTile.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/Tile.h"
#include "world/World.h"

namespace GAME {
namespace {

using DataKit::CharacterGenerator;

// A mesh whose box is no cube.
constexpr const char* kTile = "records/tile/figure.dbr";

bool Near(const Vec3& a, const Vec3& b)
{
    return (a - b).Length() <= 1e-4f;
}

class TileTest : public GAME::Test::EngineTest
{
protected:
    void SetUp() override
    {
        GAME::Test::EngineTest::SetUp();
        data.Database()
            .AddRecord(kTile)
            .String("Class", "Tile")
            .String("mesh", CharacterGenerator::characterMesh)
            .Float("scale", 1.0f);
    }

    // A level of 33 x 33 samples of flat run-time terrain, or of plain space.
    void StartWorld(bool withTerrain)
    {
        GAME::Test::TestEngine& e = Start();
        ASSERT_TRUE(s_fatalErrors.empty());
        World* world = e.GetWorld();
        ASSERT_NE(world, nullptr);
        region = world->GetRegion(world->AddRegion("levels/tiles.lvl", IntVec3(),
                                                   ABBox(Vec3(16, 0, 16), Vec3(16, 40, 16)), RegionId()));
        level = new Level(region);
        if (withTerrain) {
            DataKit::TerrainWriter writer(33, 33);
            writer.layers.resize(1);
            ASSERT_TRUE(level->NewRunTimeTerrain(writer.Build()));
        } else {
            level->NewSpace(Vec2(64.0f, 64.0f));
        }
        level->PostLoad(false);
        region->SetLevel(level);
    }

    Tile* Make()
    {
        Tile* tile = ObjectManager::Get()->CreateObjectFromFileAs<Tile>(kTile, 0, true);
        EXPECT_NE(tile, nullptr);
        return tile;
    }

    void LoadMesh(Tile& tile)
    {
        GraphicsMesh* mesh = tile.GetMeshInstance()->GetMesh();
        ASSERT_NE(mesh, nullptr);
        engine->GetResourceLoader()->LoadResource(mesh);
        ASSERT_NE(tile.GetLoadedMesh(), nullptr);
    }

    Region* region = nullptr;
    Level* level = nullptr;
};

TEST_F(TileTest, ATileInATerrainLevelOwnsATerrainTileThatFollowsItUntilItLeaves)
{
    StartWorld(true);
    TerrainBase* terrain = level->GetTerrain();
    ASSERT_NE(terrain, nullptr);
    Tile* tile = Make();
    ASSERT_NE(tile, nullptr);
    EXPECT_EQ(tile->GetPhysicsType(), PHYSICS_TYPE_DEFAULT);
    EXPECT_FALSE(tile->OccludesPathing());
    EXPECT_TRUE(tile->GetIsPartOfLevel());
    EXPECT_TRUE(tile->IncludeInMinimap());
    EXPECT_NE(Actor::Cast(tile), nullptr);
    EXPECT_EQ(tile->GetTerrainTile(), nullptr) << "in no level yet";

    // Added: a terrain tile at the entity's frame with the instance's mesh, loaded for its box.
    const Vec3 at(16.0f, 0.0f, 16.0f);
    ASSERT_TRUE(level->AddEntity(tile, Coords::Translation(at)));
    TerrainTile* made = tile->GetTerrainTile();
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(terrain->GetNumTiles(), 1u);
    EXPECT_EQ(made->GetTerrain(), terrain);
    EXPECT_EQ(made->GetMesh(), tile->GetMeshInstance()->GetMesh());
    EXPECT_EQ(made->GetCoords().origin, at);
    EXPECT_TRUE(made->GetIsPlaced());
    ASSERT_NE(tile->GetLoadedMesh(), nullptr);
    const ABBox meshBox = tile->GetLoadedMesh()->GetBoundingBox();
    ASSERT_NE(meshBox.extents, Vec3(1.0f, 1.0f, 1.0f));
    EXPECT_TRUE(Near(made->GetBoundingBox().extents, meshBox.extents));
    EXPECT_TRUE(Near(made->GetBoundingBox().center, at + meshBox.center));
    // The entity's own boxes come from the loaded mesh too, not the unloaded stand-in.
    EXPECT_NE(
        tile->GetMeshInstance()->GetObjectSpaceBoundingBox().extents,
        Vec3(Actor::defaultUnloadedExtents, Actor::defaultUnloadedExtents, Actor::defaultUnloadedExtents));
    tile->Update(16);
    EXPECT_EQ(tile->GetTerrainTile(), made);
    EXPECT_EQ(terrain->GetNumTiles(), 1u);

    // Moving the entity moves its tile; near the terrain's edge it is drawn but no longer placed.
    const Vec3 moved(20.0f, 0.5f, 12.0f);
    level->MoveEntity(tile, Coords::Translation(moved));
    EXPECT_EQ(tile->GetTerrainTile(), made);
    EXPECT_EQ(made->GetCoords().origin, moved);
    EXPECT_TRUE(made->IsInSpace());
    level->MoveEntity(tile, Coords::Translation(Vec3(1.0f, 0.0f, 16.0f)));
    EXPECT_FALSE(made->GetIsPlaced());
    EXPECT_TRUE(made->IsInSpace());

    // Leaving the level destroys it.
    level->RemoveEntity(tile);
    EXPECT_EQ(tile->GetTerrainTile(), nullptr);
    EXPECT_EQ(terrain->GetNumTiles(), 0u);
    ObjectManager::Get()->DestroyObjectEx(tile, __FILE__, __LINE__);
}

TEST_F(TileTest, ATileInALevelWithoutTerrainHasNoTerrainTileAndATerrainLevelFreesItsTiles)
{
    StartWorld(false);
    Tile* tile = Make();
    ASSERT_NE(tile, nullptr);
    ASSERT_TRUE(level->AddEntity(tile, Coords::Translation(Vec3(8.0f, 0.0f, 8.0f))));
    LoadMesh(*tile);
    tile->Update(16);
    EXPECT_EQ(tile->GetTerrainTile(), nullptr);
    tile->PreLoad(true);
    level->MoveEntity(tile, Coords::Translation(Vec3(9.0f, 0.0f, 9.0f)));
    level->RemoveEntity(tile);
    EXPECT_EQ(tile->GetTerrainTile(), nullptr);
    ObjectManager::Get()->DestroyObjectEx(tile, __FILE__, __LINE__);

    // A level with a terrain unloaded with tiles in it: the entities go first, then the terrain
    // with its tiles (ASan watches for a tile freed twice or used after the terrain).
    level->NewRunTimeTerrain([] {
        DataKit::TerrainWriter writer(17, 17);
        writer.layers.resize(1);
        return writer.Build();
    }());
    ASSERT_NE(level->GetTerrain(), nullptr);
    for (int i = 0; i < 3; ++i) {
        Tile* more = Make();
        ASSERT_NE(more, nullptr);
        ASSERT_TRUE(level->AddEntity(more, Coords::Translation(Vec3(4.0f + 4.0f * i, 0.0f, 8.0f))));
    }
    EXPECT_EQ(level->GetTerrain()->GetNumTiles(), 3u);
    EXPECT_TRUE(level->Unload(false));
    EXPECT_EQ(level->GetTerrain(), nullptr);
}

TEST_F(TileTest, AnActorsDisplaceGrassEventPushesTheGrassAroundIt)
{
    StartWorld(true);
    auto* terrain = static_cast<TerrainRT*>(level->GetTerrain());
    ASSERT_NE(terrain, nullptr);
    ASSERT_EQ(terrain->GetType(), TerrainBase::TERRAIN_BASE_RUN_TIME);
    TerrainBlock* block = terrain->GetBlock(0, 0);
    ASSERT_NE(block, nullptr);
    block->EnsureRenderData();
    Tile* actor = Make();
    ASSERT_NE(actor, nullptr);
    ASSERT_TRUE(level->AddEntity(actor, Coords::Translation(Vec3(2.0f, 0.0f, 2.0f))));

    actor->AnimationCallback(0, Name::Create("Footstep"));
    EXPECT_EQ(block->GetGrassVelocity(3, 3).x, 0.0f) << "other events leave the grass alone";
    actor->AnimationCallback(0, Name::Create("DisplaceGrass"));
    // Pushed away from the actor on x on both sides of it (cell 3 lies at 1.74, cell 4 beyond 2).
    EXPECT_LT(block->GetGrassVelocity(3, 3).x, 0.0f);
    EXPECT_GT(block->GetGrassVelocity(4, 3).x, 0.0f);
}

} // namespace
} // namespace GAME
