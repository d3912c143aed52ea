// The editor's round trip: a region the world generator wrote in the editor form is loaded by an
// engine in editor mode, edited (ground raised, a layer painted, a tile placed, a hole cut), saved
// in both forms, and the game's form loads with everything the editor made.
#include "TerrainEngineFixture.h"

#include "core/SimplePolygon.h"
#include "data/BinaryWriter.h"
#include "datakit/WorldGenerator.h"
#include "graphics/GraphicsEngine.h"
#include "terrain/Terrain.h"
#include "terrain/TerrainPlug.h"
#include "terrain/TerrainTile.h"
#include "world/Level.h"
#include "world/Region.h"

namespace GAME::TerrainTest {
namespace {

class TerrainEditorModeTest : public TerrainEngineTest
{
protected:
    bool EditorMode() const override { return true; }
};

std::vector<const TerrainPlug*> Plugs(const TerrainBase& terrain)
{
    std::vector<TerrainObject*> objects;
    terrain.GetAllObjects(objects);
    std::vector<const TerrainPlug*> plugs;
    for (TerrainObject* object : objects)
        if (object->GetClassInfo().IsA(TerrainPlug::classInfo))
            plugs.push_back(static_cast<const TerrainPlug*>(object));
    return plugs;
}

float PlugArea(const std::vector<const TerrainPlug*>& plugs)
{
    float area = 0.0f;
    for (const TerrainPlug* plug : plugs)
        for (uint32_t t = 0; t < plug->GetNumTriangles(); ++t) {
            const TerrainPlug::Triangle& tri = plug->GetTriangle(t);
            const Vec3 &a = tri.vertices[0].position, &b = tri.vertices[1].position,
                       &c = tri.vertices[2].position;
            area += 0.5f * ((b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y));
        }
    return area;
}

TEST_F(TerrainEditorModeTest, AGeneratedRegionIsEditedAndSavedForTheGame)
{
    DataKit::WorldGenerator::Settings settings;
    settings.regionsX = 1;
    settings.regionsZ = 1;
    settings.regionSize = 32;
    settings.caves = 0;
    settings.entitiesPerRegion = 0;
    settings.editorFormRegion = 0;
    DataKit::WorldGenerator generator(settings);
    ASSERT_TRUE(generator.Generate());
    const DataKit::WorldGenerator::RegionInfo& info = generator.GetRegions().front();

    Region region(info.box);
    Level level(&region);
    ASSERT_TRUE(level.Load(info.level.data(), static_cast<int>(info.level.size()), false));
    Terrain* terrain = level.GetEditableTerrain();
    ASSERT_NE(terrain, nullptr);
    ASSERT_EQ(terrain->GetNumXSamples(), 33u);
    ASSERT_EQ(terrain->GetNumTextureLayers(), 3u);
    EXPECT_EQ(terrain->GetLayerRecordName(2), DataKit::TerrainWriter::stoneTypeRecord);
    // The generator's hole is not in the editor form: nothing is cut until tiles cut it.
    EXPECT_TRUE(Plugs(*terrain).empty());
    EXPECT_FALSE(terrain->IsInvisible(24, 24));

    // Raise a patch by 2, paint stone over a strip, place a ramp tile in the middle.
    std::vector<float> before(33 * 33);
    for (int y = 0; y <= 32; ++y)
        for (int x = 0; x <= 32; ++x)
            before[static_cast<size_t>(y) * 33 + x] = terrain->GetHeight(x, y);
    for (int y = 4; y < 9; ++y)
        for (int x = 4; x < 9; ++x)
            terrain->SetBaseHeight(x, y, terrain->GetBaseHeight(x, y) + 2.0f);
    terrain->AddDirtyRect(DirtyRect(4, 4, 5, 5));
    for (int y = 26; y < 30; ++y)
        for (int x = 2; x < 30; ++x)
            terrain->SetLayerOpacity(2, x, y, 255);
    terrain->UpdateLayerOpacity(2);
    terrain->AddOpacityDirtyRect(DirtyRect(1, 25, 30, 6));
    GraphicsMesh* mesh = gEngine->GetGraphicsEngine()->LoadMesh(tileMeshName);
    ASSERT_NE(mesh, nullptr);
    const float ground = terrain->GetHeightInterpolated(16.5f, 16.5f);
    TerrainTile* tile = terrain->CreateTile(Coords::Translation(Vec3(16.5f, ground, 16.5f)), mesh);
    ASSERT_TRUE(tile->GetIsPlaced());
    terrain->Update(nullptr, 0, 16);

    EXPECT_FLOAT_EQ(terrain->GetHeight(6, 6), before[6 * 33 + 6] + 2.0f);
    EXPECT_EQ(terrain->GetLayerState(2, 10, 27), Terrain::STATE_OPAQUE);
    // The ramp's outline drew the ground to its heights and cut the 3 x 3 samples under it; a
    // plug fills the cut cells around the ramp (9 cells less its 2 x 2 units).
    EXPECT_FLOAT_EQ(terrain->GetHeight(16, 16), terrain->GetOffset()[16 * 33 + 16].baseHeight +
                                                    (terrain->GetOffset()[16 * 33 + 16].targetHeight -
                                                     terrain->GetOffset()[16 * 33 + 16].baseHeight) *
                                                        terrain->GetOffset()[16 * 33 + 16].weight);
    EXPECT_GT(terrain->GetOffset()[16 * 33 + 16].weight, 0.0f);
    for (int y = 14; y <= 18; ++y)
        for (int x = 14; x <= 18; ++x)
            EXPECT_EQ(terrain->IsInvisible(x, y), x >= 15 && x <= 17 && y >= 15 && y <= 17) << x << "," << y;
    EXPECT_NEAR(PlugArea(Plugs(*terrain)), 5.0f, 1e-3f);

    // A square hole cut by hand and closed.
    SimplePolygon hole;
    for (const auto& [x, y] : std::vector<std::pair<float, float>>{{24, 6}, {27, 6}, {27, 9}, {24, 9}}) {
        PolygonVertex v;
        v.x = x;
        v.y = y;
        hole.AddVertex(v);
    }
    terrain->MakeInvisible(hole);
    DirtyRectSet holeRect;
    holeRect.AddRect(DirtyRect(22, 4, 8, 8));
    terrain->BuildPlugs(holeRect);
    EXPECT_TRUE(terrain->IsInvisible(25, 7));
    EXPECT_NEAR(PlugArea(Plugs(*terrain)), 5.0f + 25.0f, 1e-3f);

    BinaryWriter editorForm(0x10000), gameForm(0x10000);
    ASSERT_TRUE(level.SaveToMemory(editorForm, false));
    ASSERT_TRUE(level.SaveToMemory(gameForm, true));

    // The game: run-time terrain with the same heights, cuts, layers and plugs.
    Region gameRegion(info.box);
    Level game(&gameRegion);
    ASSERT_TRUE(game.Load(gameForm.GetBuffer(), static_cast<int>(gameForm.GetSize()), false));
    const TerrainBase* runTime = game.GetTerrain();
    ASSERT_NE(runTime, nullptr);
    ASSERT_EQ(runTime->GetType(), TerrainBase::TERRAIN_BASE_RUN_TIME);
    ASSERT_EQ(runTime->GetNumTextureLayers(), 3u);
    for (int y = 0; y <= 32; ++y)
        for (int x = 0; x <= 32; ++x) {
            EXPECT_EQ(runTime->GetHeight(x, y), terrain->GetHeight(x, y));
            EXPECT_EQ(runTime->IsInvisible(x, y), terrain->IsInvisible(x, y)) << x << "," << y;
        }
    EXPECT_TRUE(static_cast<const TerrainRT*>(runTime)->HasLayerAt(10, 27, 2));
    EXPECT_FALSE(static_cast<const TerrainRT*>(runTime)->HasLayerAt(10, 27, 0));
    EXPECT_EQ(Plugs(*runTime).size(), Plugs(*terrain).size());
    EXPECT_NEAR(PlugArea(Plugs(*runTime)), 30.0f, 1e-3f);
    // The ground answers rays where it is drawn and the plugs fill the holes.
    Intersection hit;
    runTime->GetIntersection(Ray(Vec3(25.5f, 50.0f, 7.5f), Vec3(0.0f, -1.0f, 0.0f)), hit, 0);
    EXPECT_NEAR(hit.distance, 50.0f - runTime->GetHeightInterpolated(25.5f, 7.5f), 0.05f);

    // The editor form again: heights and paint as edited, no cuts until tiles come back.
    Region editorRegion(info.box);
    Level again(&editorRegion);
    ASSERT_TRUE(again.Load(editorForm.GetBuffer(), static_cast<int>(editorForm.GetSize()), false));
    const Terrain* reloaded = again.GetEditableTerrain();
    ASSERT_NE(reloaded, nullptr);
    EXPECT_EQ(reloaded->GetHeight(6, 6), terrain->GetHeight(6, 6));
    EXPECT_EQ(reloaded->GetHeight(16, 16), terrain->GetHeight(16, 16));
    EXPECT_EQ(reloaded->GetLayerOpacity(2, 10, 27), 255u);
    EXPECT_FALSE(reloaded->IsInvisible(16, 16));
    EXPECT_TRUE(Plugs(*reloaded).empty());
}

} // namespace
} // namespace GAME::TerrainTest
