// The run-time terrain file form: written by datakit, read back by TerrainRT; blocks and tree as
// the ground is built from it; bad bodies refused whole; sampling at and past the edges.
#include "TerrainFixtures.h"

#include "common/LogCapture.h"
#include "core/Frustum.h"
#include "data/BinaryWriter.h"
#include "terrain/TerrainBlock.h"
#include "terrain/TerrainPlug.h"
#include "world/Level.h"
#include "world/Region.h"

#include <cstring>
#include <limits>

namespace GAME {
namespace {

using DataKit::TerrainWriter;
using namespace TerrainTest;

// A 9 x 9 terrain (8 x 8 cells) of `layers` layers, layer i shown where (x + y + i) % 3 != 0, each
// later layer's opacity a pattern of its own, and cut away along the diagonal.
TerrainWriter PaintedTerrain(unsigned layers)
{
    TerrainWriter writer = RollingTerrain(9, 9);
    for (unsigned i = 0; i < layers; ++i) {
        TerrainWriter::Layer layer;
        layer.typeRecord = i % 2 ? grassRecord : dirtRecord;
        layer.states.resize(64);
        layer.opacity.resize(64);
        for (unsigned c = 0; c < 64; ++c) {
            layer.states[c] =
                ((c % 8) + (c / 8) + i) % 3 != 0 ? TerrainWriter::CELL_SHOWN : TerrainWriter::CELL_NONE;
            layer.opacity[c] = static_cast<uint8_t>((c * 7 + i * 31) % 256);
        }
        writer.layers.push_back(layer);
    }
    writer.cutAway.assign(81, false);
    for (unsigned k = 0; k < 9; ++k)
        writer.cutAway[k * 9 + k] = true;
    return writer;
}

class TerrainLoadTest : public ::testing::TestWithParam<unsigned>
{
protected:
    TypeRecords records;
};

TEST_P(TerrainLoadTest, WriterAndLoaderAgreeOnHeightsMasksLayersAndPlugs)
{
    const unsigned layers = GetParam();
    TerrainWriter writer = PaintedTerrain(layers);
    writer.version = 5; // any version loads the same way
    writer.plugs.push_back(CellPlug(writer, 2, 3, 0.5f));
    writer.plugs.push_back(CellPlug(writer, 6, 6, -0.25f));
    writer.plugs.back().layers = {0, 3, 6};

    TerrainRT terrain(nullptr);
    ASSERT_TRUE(LoadWriter(terrain, writer));
    EXPECT_EQ(terrain.GetMaskBytes(), (layers >> 3) + 1);
    EXPECT_EQ(terrain.GetMaskBytes(), layers == 8 ? 2u : 1u);
    ASSERT_EQ(terrain.GetNumTextureLayers(), layers);
    for (unsigned y = 0; y < 9; ++y)
        for (unsigned x = 0; x < 9; ++x) {
            EXPECT_EQ(terrain.GetHeight(static_cast<int>(x), static_cast<int>(y)), writer.Height(x, y));
            EXPECT_EQ(terrain.IsInvisible(static_cast<int>(x), static_cast<int>(y)), x == y);
            // The last row and column repeat the last cells' layer bits.
            const unsigned cell = std::min(y, 7u) * 8 + std::min(x, 7u);
            for (unsigned i = 0; i < layers; ++i)
                EXPECT_EQ(terrain.HasLayerAt(x, y, i),
                          writer.layers[i].states[cell] == TerrainWriter::CELL_SHOWN)
                    << x << "," << y << " layer " << i;
        }
    for (unsigned i = 0; i < layers; ++i) {
        ASSERT_NE(terrain.GetLayerTerrainType(i), nullptr);
        EXPECT_EQ(terrain.GetLayerTerrainType(i)->GetObjectName(), i % 2 ? grassRecord : dirtRecord);
        for (unsigned c = 0; c < 64; ++c)
            EXPECT_EQ(terrain.GetLayerOpacity(i, c % 8, c / 8), i == 0 ? 255u : writer.layers[i].opacity[c]);
    }

    std::vector<TerrainObject*> objects;
    terrain.GetAllObjects(objects);
    std::vector<TerrainPlug*> plugs;
    for (TerrainObject* object : objects)
        if (object->GetClassInfo().IsA(TerrainPlug::classInfo))
            plugs.push_back(static_cast<TerrainPlug*>(object));
    ASSERT_EQ(plugs.size(), 2u);
    for (const TerrainPlug* plug : plugs) {
        ASSERT_EQ(plug->GetNumTriangles(), 2u);
        const bool second = plug->GetLayers().size() == 3;
        const TerrainWriter::Plug& written = writer.plugs[second ? 1 : 0];
        EXPECT_EQ(
            std::memcmp(&plug->GetTriangle(0), written.triangles.data(), 2 * sizeof(TerrainPlug::Triangle)),
            0);
        EXPECT_EQ(plug->GetLayers(), std::vector<unsigned>(written.layers.begin(), written.layers.end()));
        EXPECT_EQ(plug->GetTerrain(), &terrain);
    }
}

INSTANTIATE_TEST_SUITE_P(LayerCounts, TerrainLoadTest, ::testing::Values(0u, 7u, 8u));

TEST(TerrainLayoutTest, BlocksAndTreeRootFollowTheSampleCounts)
{
    TerrainRT big(nullptr);
    ASSERT_TRUE(LoadWriter(big, RollingTerrain(257, 257)));
    EXPECT_EQ(big.NumXBlocks(), 29u);
    EXPECT_EQ(big.NumYBlocks(), 29u);
    const TerrainBlock* last = big.GetBlock(28, 28);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->GetNumXSamples(), 5u);
    EXPECT_EQ(last->GetNumYSamples(), 5u);
    EXPECT_EQ(last->GetLastCellX(), 255u);
    EXPECT_EQ(big.GetBlock(27, 3)->GetNumXSamples(), 10u);
    EXPECT_EQ(big.GetBlock(29, 0), nullptr);
    // The root covers 32 blocks of 9 units (288), centred at 144, loosened by 1.09 (and padded a
    // little when it grew over the blocks' heights).
    const ABBox root = big.GetSpace()->GetRootBox();
    EXPECT_NEAR(root.center.x, 144.0f, 1e-3f);
    EXPECT_NEAR(root.center.z, 144.0f, 1e-3f);
    EXPECT_NEAR(root.extents.x, 144.0f * 1.09f, 0.01f);
    EXPECT_EQ(big.GetSpace()->GetObjectCount(), 29u * 29u);
    // Every block sits somewhere in the tree, each once.
    std::vector<TerrainObject*> objects;
    big.GetAllObjects(objects);
    EXPECT_EQ(objects.size(), 29u * 29u);
    // The terrain's box spans the samples and the tree's height.
    const ABBox box = big.GetBoundingBox();
    EXPECT_EQ(box.center.x, 128.0f);
    EXPECT_EQ(box.extents.z, 128.0f);
    EXPECT_EQ(box.center.y, root.center.y);

    DataKit::TerrainWriter flat(2, 2);
    TerrainRT tiny(nullptr);
    ASSERT_TRUE(LoadWriter(tiny, flat));
    ASSERT_EQ(tiny.NumXBlocks(), 1u);
    ASSERT_EQ(tiny.NumYBlocks(), 1u);
    const TerrainBlock* only = tiny.GetBlock(0, 0);
    EXPECT_EQ(only->GetNumXSamples(), 2u);
    EXPECT_EQ(only->GetNumYSamples(), 2u);
    EXPECT_EQ(only->GetBoundingBox().extents.y, 0.0f);
    EXPECT_EQ(only->GetBoundingBox().center, Vec3(0.5f, 0.0f, 0.5f));
    EXPECT_FLOAT_EQ(tiny.GetSpace()->GetRootBox().extents.x, 4.5f * 1.09f);

    // Unloaded: nothing left, and the box of a terrain without a tree spans 0 to 24.
    big.Unload();
    EXPECT_EQ(big.GetNumXSamples(), 0u);
    EXPECT_EQ(big.GetSpace(), nullptr);
    EXPECT_EQ(big.GetBoundingBox().center.y, 12.0f);
    EXPECT_EQ(big.GetBoundingBox().extents.y, 12.0f);
    Intersection hit;
    big.GetIntersection(Ray(Vec3(5, 10, 5), Vec3(0, -1, 0)), hit, physicsSurfaceAny);
    EXPECT_FALSE(hit.IsHit());
}

TEST(TerrainLoadBadDataTest, BadBodiesFailTheLoadAndLeaveNothing)
{
    TypeRecords records;
    GAME::Test::LogCapture log;
    TerrainWriter writer = PaintedTerrain(3);
    writer.plugs.push_back(CellPlug(writer, 1, 1, 0.0f));
    const std::vector<uint8_t> good = writer.Build();
    {
        TerrainRT terrain(nullptr);
        ASSERT_TRUE(LoadBody(terrain, good));
    }
    // Every cut-short body is refused, whatever it ends in.
    for (size_t size = 0; size < good.size(); size += size < 64 ? 1 : 7) {
        TerrainRT terrain(nullptr);
        const std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<ptrdiff_t>(size));
        EXPECT_FALSE(LoadBody(terrain, cut)) << size;
        EXPECT_EQ(terrain.GetNumXSamples(), 0u);
        EXPECT_EQ(terrain.GetSpace(), nullptr);
        EXPECT_EQ(terrain.GetNumTextureLayers(), 0u);
    }

    auto refused = [&](TerrainWriter bad, const char* why) {
        TerrainRT terrain(nullptr);
        EXPECT_FALSE(LoadWriter(terrain, bad)) << why;
        EXPECT_EQ(terrain.GetSpace(), nullptr) << why;
    };
    TerrainWriter notPower = RollingTerrain(11, 9);
    refused(notPower, "10 cells are not a power of two");
    TerrainWriter one(1, 1); // no cells at all, though 0 counts as a power of two
    refused(one, "a single sample");
    TerrainWriter narrow(1, 9);
    refused(narrow, "one sample wide");
    TerrainWriter nan = RollingTerrain(5, 5);
    nan.Height(2, 2) = std::numeric_limits<float>::quiet_NaN();
    refused(nan, "a height that is not a number");
    TerrainWriter huge = RollingTerrain(5, 5);
    huge.Height(1, 2) = 3.0e38f;
    refused(huge, "a height past any box");
    TerrainWriter manyLayers(3, 3);
    manyLayers.layers.resize(2048);
    refused(manyLayers, "2,048 layers need 257 mask bytes");
    // Sizes from the header beyond the data, checked in 64 bits: 65,537 x 65,537 samples.
    std::vector<uint8_t> lying = good;
    const uint32_t big = 65537;
    std::memcpy(lying.data() + 8, &big, 4);
    std::memcpy(lying.data() + 12, &big, 4);
    {
        TerrainRT terrain(nullptr);
        EXPECT_FALSE(LoadBody(terrain, lying));
    }
    // A plug of more triangles than 16-bit indices reach, and plug counts past the data.
    TerrainWriter bigPlug = RollingTerrain(5, 5);
    bigPlug.plugs.push_back(CellPlug(bigPlug, 0, 0, 0.0f));
    bigPlug.plugs.back().triangles.resize(TerrainPlug::maxTriangles + 1, bigPlug.plugs.back().triangles[0]);
    refused(bigPlug, "21,846 triangles");
    TerrainWriter farPlug = RollingTerrain(5, 5);
    farPlug.plugs.push_back(CellPlug(farPlug, 0, 0, 0.0f));
    farPlug.plugs.back().triangles[0].vertices[1].position.x = std::numeric_limits<float>::infinity();
    refused(farPlug, "a plug vertex that is not finite");
    std::vector<uint8_t> manyPlugs = RollingTerrain(5, 5).Build();
    manyPlugs[manyPlugs.size() - 1] = 0x40; // 2^30 plugs
    {
        TerrainRT terrain(nullptr);
        EXPECT_FALSE(LoadBody(terrain, manyPlugs));
    }
    EXPECT_TRUE(log.Contains("are not a power of two cells a side", 1));
    EXPECT_TRUE(log.Contains("more than 16-bit indices reach", 1));

    // The same terrain object loads a good body after all of that.
    TerrainRT terrain(nullptr);
    ASSERT_FALSE(LoadBody(terrain, lying));
    ASSERT_TRUE(LoadBody(terrain, good));
    EXPECT_EQ(terrain.GetNumTextureLayers(), 3u);
}

TEST(TerrainLoadBadDataTest, AnUnknownTerrainTypeIsLoggedAndKeepsItsPlace)
{
    TypeRecords records;
    GAME::Test::LogCapture log;
    TerrainWriter writer = PaintedTerrain(3);
    writer.layers[1].typeRecord = "records/terrain/missing.dbr";
    writer.layers[2].typeRecord = "";
    TerrainRT terrain(nullptr);
    ASSERT_TRUE(LoadWriter(terrain, writer));
    EXPECT_TRUE(log.Contains("Failed to load terrain type records/terrain/missing.dbr.", 1));
    ASSERT_EQ(terrain.GetNumTextureLayers(), 3u);
    EXPECT_NE(terrain.GetLayerTerrainType(0), nullptr);
    EXPECT_EQ(terrain.GetLayerTerrainType(1), nullptr);
    EXPECT_EQ(terrain.GetLayerTerrainType(2), nullptr); // untyped by the file: not logged
    EXPECT_FALSE(log.Contains("Failed to load terrain type ."));
    // The untyped layer keeps its opacity bytes.
    EXPECT_EQ(terrain.GetLayerOpacity(1, 3, 4), writer.layers[1].opacity[4 * 8 + 3]);
}

TEST(TerrainLevelTest, ALevelHandedARunTimeTerrainInMemoryStandsOnItAndSavesItAsItWas)
{
    TypeRecords records;
    GAME::Test::LogCapture log;
    TerrainWriter writer = PaintedTerrain(2);
    const std::vector<uint8_t> body = writer.Build();
    Region region(ABBox(Vec3(4, 0, 4), Vec3(4, 40, 4)));
    Level level(&region);
    ASSERT_TRUE(level.NewRunTimeTerrain(body));
    ASSERT_NE(level.GetTerrain(), nullptr);
    EXPECT_EQ(level.GetTerrain()->GetType(), TerrainBase::TERRAIN_BASE_RUN_TIME);
    EXPECT_EQ(level.GetGroundHeight(3.0f, 5.0f), writer.Height(3, 5));

    // Saved and read back: the same ground, byte for byte.
    BinaryWriter image(0x1000);
    ASSERT_TRUE(level.SaveToMemory(image, false));
    Level copy(&region);
    ASSERT_TRUE(copy.Load(image.GetBuffer(), static_cast<int>(image.GetSize()), false));
    ASSERT_NE(copy.GetTerrain(), nullptr);
    EXPECT_EQ(copy.GetTerrain()->GetType(), TerrainBase::TERRAIN_BASE_RUN_TIME);
    for (unsigned y = 0; y < 9; ++y)
        for (unsigned x = 0; x < 9; ++x)
            EXPECT_EQ(copy.GetTerrain()->GetHeight(static_cast<int>(x), static_cast<int>(y)),
                      writer.Height(x, y));
    EXPECT_EQ(copy.GetTerrain()->GetNumTextureLayers(), 2u);

    // A body that cannot be read leaves the level without ground, and says so.
    const std::vector<uint8_t> cut(body.begin(), body.begin() + 40);
    EXPECT_FALSE(level.NewRunTimeTerrain(cut));
    EXPECT_EQ(level.GetTerrain(), nullptr);
    EXPECT_TRUE(log.Contains("run-time terrain cannot be loaded"));
    copy.Unload(false);
}

TEST(TerrainSamplingTest, QueriesClampAtAndPastTheEdges)
{
    TerrainWriter writer = RollingTerrain(17, 9);
    TerrainWriter::Layer base, top;
    top.opacity.resize(16 * 8);
    for (size_t c = 0; c < top.opacity.size(); ++c)
        top.opacity[c] = static_cast<uint8_t>(c * 2);
    writer.layers = {base, top};
    TerrainRT terrain(nullptr);
    ASSERT_TRUE(LoadWriter(terrain, writer));

    // Heights: interpolated inside, clamped to the edge samples outside (NaN counts as 0).
    EXPECT_EQ(terrain.GetHeightInterpolated(-3.0f, 9.0f + 10.0f), writer.Height(0, 8));
    EXPECT_EQ(terrain.GetHeightInterpolated(100.0f, -1.0f), writer.Height(16, 0));
    EXPECT_EQ(terrain.GetHeightInterpolated(16.0f, 8.0f), writer.Height(16, 8));
    EXPECT_EQ(terrain.GetHeightInterpolated(std::numeric_limits<float>::quiet_NaN(), 0.0f),
              writer.Height(0, 0));
    const float mid = terrain.GetHeightInterpolated(3.5f, 2.0f);
    EXPECT_FLOAT_EQ(mid, 0.5f * (writer.Height(3, 2) + writer.Height(4, 2)));
    EXPECT_EQ(terrain.GetHeight(-5, 100), writer.Height(0, 8));

    // The fast normal: (left - right, 2, up - down), the neighbours past an edge extrapolated (the
    // slope goes on into the neighbouring region's ground).
    const Vec3 corner = terrain.GetFastNormal(0, 0);
    const Vec3 expected = Vec3(2.0f * (writer.Height(0, 0) - writer.Height(1, 0)), 2.0f,
                               2.0f * (writer.Height(0, 0) - writer.Height(0, 1)))
                              .Unit();
    EXPECT_NEAR((corner - expected).Length(), 0.0f, 1e-6f);
    const Vec3 inner = terrain.GetFastNormal(5, 4);
    EXPECT_EQ(inner,
              Vec3(writer.Height(4, 4) - writer.Height(6, 4), 2.0f, writer.Height(5, 3) - writer.Height(5, 5))
                  .Unit());
    // Interpolated normals clamp as heights do: far outside equals the edge.
    EXPECT_EQ(terrain.GetNormalInterpolated(-50.0f, -50.0f), terrain.GetFastNormal(0, 0));
    EXPECT_EQ(terrain.GetNormalInterpolated(1000.0f, 1000.0f), terrain.GetFastNormal(16, 8));
    EXPECT_NEAR(terrain.GetNormalInterpolated(2.5f, 3.25f).Length(), 1.0f, 1e-5f);

    // Opacities: layer 0 is 255 everywhere; cells clamp to the last cell, also past it.
    EXPECT_EQ(terrain.GetLayerOpacity(0, 3, 3), 255u);
    EXPECT_EQ(terrain.GetLayerOpacityInterpolated(0, 3.3f, 2.2f), 255u);
    EXPECT_EQ(terrain.GetLayerOpacityInterpolated(1, -9.0f, -9.0f), top.opacity[0]);
    EXPECT_EQ(terrain.GetLayerOpacityInterpolated(1, 15.0f, 7.0f), top.opacity[7 * 16 + 15]);
    EXPECT_EQ(terrain.GetLayerOpacityInterpolated(1, 16.0f, 8.0f), top.opacity[7 * 16 + 15]);
    EXPECT_EQ(terrain.GetLayerOpacityInterpolated(1, 500.0f, 3.0f), top.opacity[3 * 16 + 15]);
    EXPECT_EQ(terrain.GetLayerOpacityInterpolated(1, 2.5f, 0.0f), (top.opacity[2] + top.opacity[3]) / 2u);
    EXPECT_EQ(terrain.GetLayerOpacity(1, 99, 99), top.opacity[7 * 16 + 15]);
    EXPECT_EQ(terrain.GetLayerOpacity(2, 1, 1), 0u); // no such layer
}

} // namespace
} // namespace GAME
