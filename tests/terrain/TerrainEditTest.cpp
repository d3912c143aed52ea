// The editable terrain's editing: the pull of tile outlines on the heights, layer visibility as
// layers are painted, moved and deleted, slope passability, cutting the ground and closing it with
// plugs.
#include "TerrainFixtures.h"

#include "common/LogCapture.h"
#include "core/SimplePolygon.h"
#include "data/BinaryWriter.h"
#include "terrain/Terrain.h"
#include "terrain/TerrainPlug.h"

#include <cmath>
#include <map>
#include <set>

namespace GAME::TerrainTest {
namespace {

PolygonVertex Point(float x, float y, float height = 0.0f)
{
    PolygonVertex v;
    v.x = x;
    v.y = y;
    v.height = height;
    return v;
}

SimplePolygon Square(float x0, float y0, float x1, float y1)
{
    SimplePolygon polygon;
    for (const PolygonVertex& v : {Point(x0, y0), Point(x1, y0), Point(x1, y1), Point(x0, y1)})
        polygon.AddVertex(v);
    return polygon;
}

class CountingCallback : public TerrainRasterizeCallback
{
public:
    void Rasterize(Terrain&, int x, int y) override { ++visits[{x, y}]; }
    std::map<std::pair<int, int>, int> visits;
};

std::vector<const TerrainPlug*> Plugs(const Terrain& terrain)
{
    std::vector<TerrainObject*> objects;
    terrain.GetAllObjects(objects);
    std::vector<const TerrainPlug*> plugs;
    for (TerrainObject* object : objects)
        if (object->GetClassInfo().IsA(TerrainPlug::classInfo))
            plugs.push_back(static_cast<const TerrainPlug*>(object));
    return plugs;
}

float TriangleArea(const TerrainPlug::Triangle& t)
{
    const Vec3 &a = t.vertices[0].position, &b = t.vertices[1].position, &c = t.vertices[2].position;
    return 0.5f * ((b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y));
}

TEST(TerrainEditTest, TileOutlinesPullTheSamplesWithinFiveUnits)
{
    Terrain terrain(nullptr);
    ASSERT_TRUE(terrain.New(32, 32));
    for (int y = 0; y <= 32; ++y)
        for (int x = 0; x <= 32; ++x)
            terrain.SetBaseHeight(x, y, 1.0f);

    // One vertex at (10, 10) four units high: its own sample takes its height with full weight,
    // nearer samples move part of the way, samples 5 or more units away not at all.
    SimplePolygon single;
    single.AddVertex(Point(10.0f, 10.0f, 4.0f));
    terrain.ApplyContourPull(DirtyRect(0, 0, 33, 33), {single});
    EXPECT_FLOAT_EQ(terrain.GetHeight(10, 10), 4.0f);
    EXPECT_FLOAT_EQ(terrain.GetOffset()[10 * 33 + 10].weight, 1.0f);
    const float near = terrain.GetHeight(12, 10);
    EXPECT_GT(near, 1.0f);
    EXPECT_LT(near, 4.0f);
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{{15, 10}, {13, 14}, {10, 16}, {4, 10}}) {
        EXPECT_FLOAT_EQ(terrain.GetHeight(x, y), 1.0f) << x << "," << y;
        EXPECT_EQ(terrain.GetOffset()[y * 33 + x].weight, 0.0f);
    }

    // Two vertices at the same distance with targets 2 and 4 meet at 3; the base stays the base.
    SimplePolygon pair;
    pair.AddVertex(Point(8.0f, 20.0f, 2.0f));
    pair.AddVertex(Point(12.0f, 20.0f, 4.0f));
    terrain.ApplyContourPull(DirtyRect(0, 0, 33, 33), {pair});
    const Terrain::Offset& middle = terrain.GetOffset()[20 * 33 + 10];
    EXPECT_FLOAT_EQ(middle.targetHeight, 3.0f);
    EXPECT_GT(middle.weight, 0.0f);
    EXPECT_LT(middle.weight, 1.0f);
    EXPECT_FLOAT_EQ(middle.baseHeight, 1.0f);
    EXPECT_FLOAT_EQ(terrain.GetHeight(10, 20), 1.0f + 2.0f * middle.weight);
    // The pull of the first contour is gone: offsets are made again from the contours given.
    EXPECT_FLOAT_EQ(terrain.GetHeight(10, 10), 1.0f);

    // Setting the base keeps the pull: the height follows base + (target - base) x weight.
    terrain.SetBaseHeight(10, 20, 5.0f);
    EXPECT_FLOAT_EQ(terrain.GetHeight(10, 20), 5.0f + (3.0f - 5.0f) * middle.weight);

    // A rectangle reaching past the terrain and a vertex that is not a number change nothing
    // outside the samples and do not crash.
    SimplePolygon bad;
    bad.AddVertex(Point(std::nanf(""), 3.0f, 1.0f));
    bad.AddVertex(Point(31.0f, 31.0f, 7.0f));
    terrain.ApplyContourPull(DirtyRect(20, 20, 100, 100), {bad});
    EXPECT_FLOAT_EQ(terrain.GetHeight(31, 31), 7.0f);
}

TEST(TerrainEditTest, LayerVisibilityFollowsPaintMovesAndDeletes)
{
    TypeRecords records;
    Terrain terrain(nullptr);
    ASSERT_TRUE(terrain.New(8, 8));
    ASSERT_TRUE(terrain.AddLayer(dirtRecord));
    ASSERT_TRUE(terrain.AddLayer(grassRecord));
    ASSERT_TRUE(terrain.AddLayer(stoneRecord));
    EXPECT_FALSE(terrain.AddLayer("records/terrain/missing.dbr"));
    ASSERT_EQ(terrain.GetNumTextureLayers(), 3u);
    // The first layer is opaque, later ones start clear: only dirt shows.
    EXPECT_EQ(terrain.GetLayerOpacity(0, 3, 3), 255u);
    EXPECT_EQ(terrain.GetLayerOpacity(1, 3, 3), 0u);
    EXPECT_EQ(terrain.GetLayerState(0, 3, 3), Terrain::STATE_OPAQUE);
    EXPECT_EQ(terrain.GetLayerState(1, 3, 3), Terrain::STATE_TRANSPARENT);
    EXPECT_EQ(terrain.GetLayerState(2, 3, 3), Terrain::STATE_TRANSPARENT);

    // Grass over the left half: opaque where the cell and its 8 neighbours are 250 or more,
    // partly visible along the edge, transparent beyond; dirt hidden under the opaque part.
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 4; ++x)
            terrain.SetLayerOpacity(1, x, y, 255);
    terrain.SetLayerOpacity(0, 6, 6, 0); // layer 0 keeps its paint
    EXPECT_EQ(terrain.GetLayerOpacity(0, 6, 6), 255u);
    terrain.AddOpacityDirtyRect(DirtyRect(0, 0, 8, 8));
    terrain.ProcessDirtyOpacityRects();
    const unsigned expected[8] = {3, 3, 3, 2, 2, 1, 1, 1};
    for (unsigned x = 0; x < 8; ++x) {
        EXPECT_EQ(terrain.GetLayerState(1, x, 5), expected[x]) << x;
        EXPECT_EQ(terrain.GetLayerState(0, x, 5), expected[x] == 3 ? 0u : 3u) << x;
    }
    std::vector<unsigned> layers;
    terrain.GetLayersInBox(layers, ABBox(Vec3(1.0f, 0.0f, 1.0f), Vec3(0.5f, 1.0f, 0.5f)));
    EXPECT_EQ(layers, (std::vector<unsigned>{1}));
    terrain.GetLayersInBox(layers, ABBox(Vec3(6.5f, 0.0f, 6.5f), Vec3(0.5f, 1.0f, 0.5f)));
    EXPECT_EQ(layers, (std::vector<unsigned>{0}));

    // The render interface draws a layer's cells where it shows, and no cell whose first sample
    // is cut away.
    TerrainRenderInterface& drawing = terrain.GetRenderInterface();
    EXPECT_TRUE(drawing.IsCellDrawn(1, 5, 1));
    EXPECT_FALSE(drawing.IsCellDrawn(1, 5, 0));
    EXPECT_TRUE(drawing.IsCellDrawn(6, 5, 0));
    EXPECT_FALSE(drawing.IsCellDrawn(6, 5, 1));
    EXPECT_EQ(drawing.CountLayersAt(3, 5), 2u);
    terrain.SetInvisible(3, 5, true);
    EXPECT_FALSE(drawing.IsCellDrawn(3, 5, -1));
    EXPECT_FALSE(drawing.IsCellDrawn(3, 5, 1));
    EXPECT_TRUE(drawing.IsCellDrawn(4, 5, -1));
    terrain.SetInvisible(3, 5, false);

    // Stone, painted everywhere and moved below the grass: grass still hides it on the left,
    // stone hides the dirt everywhere.
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            terrain.SetLayerOpacity(2, x, y, 255);
    terrain.MoveUpLayer(2);
    EXPECT_EQ(terrain.GetLayerRecordName(1), stoneRecord);
    EXPECT_EQ(terrain.GetLayerRecordName(2), grassRecord);
    EXPECT_EQ(terrain.GetLayerState(2, 0, 0), Terrain::STATE_OPAQUE);
    EXPECT_EQ(terrain.GetLayerState(1, 0, 0), Terrain::STATE_COVERED);
    EXPECT_EQ(terrain.GetLayerState(1, 7, 7), Terrain::STATE_OPAQUE);
    EXPECT_EQ(terrain.GetLayerState(0, 7, 7), Terrain::STATE_COVERED);
    // Moves past either end change nothing.
    terrain.MoveUpLayer(0);
    terrain.MoveDownLayer(2);
    EXPECT_EQ(terrain.GetLayerRecordName(0), dirtRecord);

    // Deleting the first layer makes the new first layer (stone) fully opaque, under the grass.
    terrain.DeleteLayer(0);
    ASSERT_EQ(terrain.GetNumTextureLayers(), 2u);
    EXPECT_EQ(terrain.GetLayerRecordName(0), stoneRecord);
    EXPECT_EQ(terrain.GetLayerOpacity(0, 7, 7), 255u);
    EXPECT_EQ(terrain.GetLayerState(0, 7, 7), Terrain::STATE_OPAQUE);
    EXPECT_EQ(terrain.GetLayerState(0, 0, 0), Terrain::STATE_COVERED);
    // A type that cannot be made leaves the layer as it was; a good one replaces it.
    terrain.SetLayerTerrainType(1, "records/terrain/missing.dbr");
    EXPECT_EQ(terrain.GetLayerRecordName(1), grassRecord);
    terrain.SetLayerTerrainType(1, shortGrassRecord);
    EXPECT_EQ(terrain.GetLayerRecordName(1), shortGrassRecord);
    terrain.DeleteLayer(7);
    terrain.DeleteLayer(1);
    EXPECT_EQ(terrain.GetLayerState(0, 0, 0), Terrain::STATE_OPAQUE);
    terrain.Unload();
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
}

TEST(TerrainEditTest, SlopesAndPaintedCellsDecidePassability)
{
    Terrain terrain(nullptr);
    ASSERT_TRUE(terrain.New(4, 4));
    // A cell whose corners are 0, 0, 0 and 2.5 differs from its mean 0.625 by more than 0.6; with
    // 0.8 the difference is exactly 0.6, which is not more.
    terrain.SetBaseHeight(1, 1, 2.5f);
    EXPECT_TRUE(terrain.SlopeImpassable(0, 0));
    terrain.SetBaseHeight(1, 1, 0.8f);
    EXPECT_FALSE(terrain.SlopeImpassable(0, 0));
    terrain.SetBaseHeight(1, 1, 2.5f);

    terrain.PathingFirstPass();
    EXPECT_TRUE(terrain.IsImpassable(0, 0));
    EXPECT_TRUE(terrain.IsImpassable(1, 1));
    EXPECT_FALSE(terrain.IsImpassable(3, 3));
    // A cell whose lower corner is cut away stays passable.
    terrain.SetInvisible(1, 1, true);
    terrain.PathingFirstPass();
    EXPECT_FALSE(terrain.IsImpassable(1, 1));
    EXPECT_TRUE(terrain.IsImpassable(0, 0));

    // Value 0 keeps the cell, 1 clears it, anything else sets it; outside nothing happens and
    // every cell counts as impassable.
    terrain.SetPassable(0, 0, 0);
    EXPECT_TRUE(terrain.IsImpassable(0, 0));
    terrain.SetPassable(0, 0, 1);
    EXPECT_FALSE(terrain.IsImpassable(0, 0));
    terrain.SetPassable(2, 2, 7);
    EXPECT_TRUE(terrain.IsImpassable(2, 2));
    terrain.SetPassable(-1, 0, 2);
    terrain.SetPassable(4, 0, 2);
    EXPECT_TRUE(terrain.IsImpassable(-1, 0));
    EXPECT_TRUE(terrain.IsImpassable(4, 0));
    EXPECT_TRUE(terrain.IsImpassable(0, 4));
    // Cut-away flags outside the samples are neither set nor reported.
    terrain.SetInvisible(-1, 2, true);
    terrain.SetInvisible(5, 2, true);
    EXPECT_FALSE(terrain.IsInvisible(-1, 2));
    EXPECT_FALSE(terrain.IsInvisible(5, 2));
}

TEST(TerrainEditTest, ASquareHoleIsCutOnceAndClosedByPlugs)
{
    Terrain terrain(nullptr);
    ASSERT_TRUE(terrain.New(32, 32));
    for (int y = 0; y <= 32; ++y)
        for (int x = 0; x <= 32; ++x)
            terrain.SetBaseHeight(x, y, 0.25f * static_cast<float>(x) + 0.1f * static_cast<float>(y));

    // The outline grows by half a unit whichever way it winds: every sample whose cell it
    // touches, each reported once.
    for (bool reversed : {false, true}) {
        SimplePolygon square = Square(8.0f, 8.0f, 12.0f, 12.0f);
        if (reversed)
            square.Reverse();
        CountingCallback counting;
        terrain.Rasterize(square, counting);
        EXPECT_EQ(counting.visits.size(), 36u) << reversed;
        for (const auto& [sample, visits] : counting.visits) {
            EXPECT_EQ(visits, 1);
            EXPECT_GE(sample.first, 7);
            EXPECT_LE(sample.first, 12);
            EXPECT_GE(sample.second, 7);
            EXPECT_LE(sample.second, 12);
        }
    }
    // Outlines of fewer than three vertices, far outside or with a spike whose edges cancel
    // report nothing outside the terrain and give no NaN.
    CountingCallback none;
    SimplePolygon line;
    line.AddVertex(Point(1, 1));
    line.AddVertex(Point(5, 5));
    terrain.Rasterize(line, none);
    terrain.Rasterize(Square(1000.0f, 1000.0f, 1e30f, 1e30f), none);
    EXPECT_TRUE(none.visits.empty());
    SimplePolygon spike = Square(2.0f, 2.0f, 4.0f, 4.0f);
    spike.AddVertex(Point(2.0f, 6.0f));
    spike.AddVertex(Point(2.0f, 4.0f));
    terrain.Rasterize(spike, none);
    EXPECT_FALSE(none.visits.empty());
    for (const auto& [sample, visits] : none.visits) {
        EXPECT_GE(sample.first, 1);
        EXPECT_LE(sample.first, 4);
        EXPECT_GE(sample.second, 1);
        EXPECT_LE(sample.second, 6);
    }

    // Cut and closed: one plug (the hole lies in one square of 15 units) covering exactly the 36
    // cells no longer drawn, at the ground's heights, its outline the 24 cell edges of the border.
    terrain.MakeInvisible(Square(8.0f, 8.0f, 12.0f, 12.0f));
    for (int y = 0; y <= 32; ++y)
        for (int x = 0; x <= 32; ++x)
            EXPECT_EQ(terrain.IsInvisible(x, y), x >= 7 && x <= 12 && y >= 7 && y <= 12) << x << "," << y;
    DirtyRectSet set;
    set.AddRect(DirtyRect(4, 4, 12, 12));
    terrain.BuildPlugs(set);
    std::vector<const TerrainPlug*> plugs = Plugs(terrain);
    ASSERT_EQ(plugs.size(), 1u);
    float area = 0.0f;
    for (uint32_t t = 0; t < plugs[0]->GetNumTriangles(); ++t) {
        const TerrainPlug::Triangle& triangle = plugs[0]->GetTriangle(t);
        EXPECT_GT(TriangleArea(triangle), 0.0f);
        area += TriangleArea(triangle);
        for (const TerrainPlug::Vertex& v : triangle.vertices) {
            EXPECT_FLOAT_EQ(v.position.z, terrain.GetHeight(static_cast<int>(v.position.x),
                                                            static_cast<int>(v.position.y)));
            EXPECT_GE(v.position.x, 7.0f);
            EXPECT_LE(v.position.x, 13.0f);
        }
    }
    EXPECT_FLOAT_EQ(area, 36.0f);
    EXPECT_EQ(plugs[0]->GetBoundaryEdges().size(), 24u);

    // Saved for the game, the hole's samples lose their visible bit and the plug goes along.
    BinaryWriter writer(0x1000);
    ASSERT_TRUE(terrain.SaveRunTimeFormat(writer));
    TerrainRT runTime(nullptr);
    BinaryReader reader(writer.GetBuffer(), writer.GetSize());
    ASSERT_TRUE(runTime.Load(reader, 13));
    EXPECT_TRUE(runTime.IsInvisible(7, 7));
    EXPECT_FALSE(runTime.IsInvisible(6, 7));
    EXPECT_FLOAT_EQ(runTime.GetHeight(20, 9), terrain.GetHeight(20, 9));
    std::vector<TerrainObject*> objects;
    runTime.GetAllObjects(objects);
    EXPECT_EQ(objects.size(), static_cast<size_t>(runTime.NumXBlocks() * runTime.NumYBlocks()) + 1);

    // A hole across the squares' edge at 15 is cut into a plug for each square it reaches.
    Terrain wide(nullptr);
    ASSERT_TRUE(wide.New(32, 32));
    wide.MakeInvisible(Square(10.0f, 10.0f, 20.0f, 20.0f));
    DirtyRectSet all;
    all.AddRect(DirtyRect(0, 0, 33, 33));
    wide.BuildPlugs(all);
    plugs = Plugs(wide);
    EXPECT_GE(plugs.size(), 2u);
    EXPECT_LE(plugs.size(), 4u);
    area = 0.0f;
    for (const TerrainPlug* plug : plugs)
        for (uint32_t t = 0; t < plug->GetNumTriangles(); ++t)
            area += TriangleArea(plug->GetTriangle(t));
    EXPECT_FLOAT_EQ(area, 144.0f);
}

TEST(TerrainEditTest, RectanglesBoxesAndBlocksOfDirtySets)
{
    Terrain terrain(nullptr);
    ASSERT_TRUE(terrain.New(32, 32));
    // A box grows by 1.5 below and 2.5 above and is clipped to the samples.
    EXPECT_EQ(terrain.GetRectForBox(ABBox(Vec3(10, 0, 10), Vec3(2, 1, 2))), DirtyRect(6, 6, 8, 8));
    EXPECT_EQ(terrain.GetRectForBox(ABBox(Vec3(1, 0, 31), Vec3(2, 1, 2))), DirtyRect(0, 27, 7, 5));
    EXPECT_EQ(Terrain::GetBoxForRect(DirtyRect(4, 6, 2, 4)), ABBox(Vec3(5, 0, 8), Vec3(1, 5, 2)));

    DirtyRectSet set;
    set.AddRect(DirtyRect(0, 0, 3, 3));
    set.AddRect(DirtyRect(17, 1, 2, 2));
    std::vector<unsigned> blocks;
    terrain.GetBlocksInDirtySet(set, blocks);
    // 4 x 4 blocks: the first rectangle reaches block columns 0 to 1, the second 1 to 3, both rows
    // 0 and 1; each block once.
    std::set<unsigned> unique(blocks.begin(), blocks.end());
    EXPECT_EQ(unique.size(), blocks.size());
    EXPECT_EQ(unique, (std::set<unsigned>{0, 1, 2, 3, 4, 5, 6, 7}));
    std::vector<TerrainObject*> objects;
    terrain.GetObjectsInDirtySet(objects, set, 0.0f);
    EXPECT_FALSE(objects.empty());
    EXPECT_TRUE(std::is_sorted(objects.begin(), objects.end()));
    EXPECT_TRUE(Terrain::Overlap(set, Square(18.5f, 2.5f, 19.0f, 3.0f)));
    EXPECT_FALSE(Terrain::Overlap(set, Square(25.0f, 25.0f, 26.0f, 26.0f)));
}

} // namespace
} // namespace GAME::TerrainTest
