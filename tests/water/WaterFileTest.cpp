// The water block: what is written, what loads, and what a bad block leaves (nothing).
#include "WaterFixtures.h"

#include "datakit/WaterWriter.h"
#include "terrain/WaterBlock.h"
#include "terrain/WaterLayer.h"
#include "terrain/WaterPath.h"
#include "terrain/WaterWaveSet.h"

#include <array>

namespace GAME::WaterTest {
namespace {

using DataKit::WaterWriter;

class WaterFileTest : public WaterTestBase
{
protected:
    // A block of two types, two layers (one block each, and the second block of the first layer
    // outside nothing), two paths and one wave set, as the engine writes them.
    static WaterWriter GoodBlock()
    {
        WaterWriter w;
        WaterWriter::Type lake = WaterWriter::LakeType(), river = WaterWriter::RiverType();
        WaterWriter::Layer pond;
        pond.type = lake.name;
        pond.height = 1.0f;
        pond.extent[0] = pond.extent[1] = 36.0f;
        pond.blocks = WaterWriter::PaintBlocks(4, 4, [](float x, float z) { return x < 12.0f && z < 5.0f; });
        WaterWriter::Layer pool = pond;
        pool.height = 2.5f;
        pool.blocks = WaterWriter::PaintBlocks(4, 4, [](float x, float z) { return x > 30.0f && z > 30.0f; });
        WaterWriter::Path stream;
        stream.type = river.name;
        stream.height = 0.5f;
        stream.points = WaterWriter::SmoothCurve({{2.0f, 20.0f}, {12.0f, 22.0f}, {30.0f, 18.0f}}, 2.0f);
        WaterWriter::WaveSet shore;
        shore.height = 1.0f;
        shore.spacing = 2.0f;
        shore.flags = 1;
        shore.points = WaterWriter::SmoothCurve({{3.0f, 6.0f}, {11.0f, 6.0f}}, 2.0f);
        w.types = {lake, lake, river, river};
        w.layers = {pond, pool};
        w.paths = {stream, stream};
        w.paths[1].height = 0.75f;
        w.waveSets = {shore};
        return w;
    }
};

TEST_F(WaterFileTest, ABlockLoadsAndSavesByteForByte)
{
    const std::vector<uint8_t> block = GoodBlock().Build();
    Water& water = MakeWater(36);
    ASSERT_TRUE(Load(water, block));
    EXPECT_EQ(water.GetNumLayers(), 2u);
    EXPECT_EQ(water.GetNumPaths(), 2u);
    EXPECT_EQ(water.GetNumWaveSets(), 1u);
    ASSERT_NE(water.GetLayer(0), nullptr);
    EXPECT_EQ(water.GetLayer(0)->GetNumBlocks(), 2u);
    EXPECT_STREQ(water.GetLayer(0)->GetWaterTypeName(), "Lake");
    EXPECT_EQ(water.GetWaveSet(0)->GetWaveParams().flags, 1u);
    // The loader's own references are gone: each type is held by its pieces only.
    EXPECT_EQ(WaterTypeManager::Get()->GetReferenceCount(water.GetLayer(0)->GetWaterType()), 2);
    EXPECT_EQ(WaterTypeManager::Get()->GetReferenceCount(water.GetPath(0)->GetWaterType()), 2);
    EXPECT_EQ(Save(water), block);
}

TEST_F(WaterFileTest, SlotsAreCompactedAndPiecesWithoutWaterAreNotWritten)
{
    Water& water = MakeWater(36);
    Type("Lake");
    Type("River");
    WaterLayer* layers[3];
    for (int i = 0; i < 3; ++i) {
        layers[i] = water.AddWaterLayer("Lake", 1.0f + static_cast<float>(i));
        ASSERT_NE(layers[i], nullptr);
        layers[i]->UpdateArea(Vec3(5.0f + 9.0f * static_cast<float>(i), 0.0f, 5.0f), 3.0f, true);
    }
    WaterLayer* dry = water.AddWaterLayer("Lake", 9.0f); // slot 3, never painted
    ASSERT_NE(dry, nullptr);
    water.RemoveWaterLayer(layers[0]);
    EXPECT_EQ(layers[0], nullptr);
    EXPECT_EQ(water.GetNumLayers(), 4u);
    ControlPoint a, b;
    a.position = Vec2(2.0f, 30.0f);
    b.position = Vec2(20.0f, 30.0f);
    a.tangent = b.tangent = Vec2(4.0f, 0.0f);
    a.side = b.side = Vec2(0.0f, 1.0f);
    WaterPath* lone = water.AddWaterPath("River", 0.5f, a); // one point: not written
    ASSERT_NE(lone, nullptr);
    WaterPath* river = water.AddWaterPath("River", 0.5f, a);
    river->AddControlPoint(b);

    const std::vector<uint8_t> saved = Save(water);
    // Cleanup dropped the unpainted layer and the one-point path.
    EXPECT_EQ(water.GetLayer(3), nullptr);
    EXPECT_EQ(water.GetPath(0), nullptr);
    BinaryReader header(saved.data(), static_cast<unsigned>(saved.size()));
    EXPECT_EQ(header.ReadUInt32(), Water::magic);
    EXPECT_EQ(header.ReadUInt32(), 2u);
    EXPECT_EQ(header.ReadUInt32(), 3u); // one type entry per piece
    EXPECT_EQ(header.ReadUInt32(), 2u);
    EXPECT_EQ(header.ReadUInt32(), 1u);
    EXPECT_EQ(header.ReadUInt32(), 0u);

    Water& copy = MakeWater(36);
    ASSERT_TRUE(Load(copy, saved));
    ASSERT_NE(copy.GetLayer(0), nullptr);
    ASSERT_NE(copy.GetLayer(1), nullptr);
    EXPECT_FLOAT_EQ(copy.GetLayer(0)->GetHeight(), 2.0f);
    EXPECT_EQ(copy.GetLayer(0)->GetIndex(), 0u);
    EXPECT_FLOAT_EQ(copy.GetLayer(1)->GetHeight(), 3.0f);
    EXPECT_EQ(copy.GetNumLayers(), 2u);
    ASSERT_NE(copy.GetPath(0), nullptr);
    EXPECT_EQ(copy.GetPath(0)->GetNumSegments(), 1u);
    EXPECT_EQ(TreeCount(copy), TreeCount(water));
    EXPECT_EQ(Save(copy), saved);
}

TEST_F(WaterFileTest, RemovingALayerLeavesAHoleAndOnlyTheLastLowersTheCount)
{
    Water& water = MakeWater(18);
    Type("Lake");
    WaterLayer* first = water.AddWaterLayer("Lake", 1.0f);
    WaterLayer* second = water.AddWaterLayer("Lake", 2.0f);
    ASSERT_TRUE(first && second);
    water.RemoveWaterLayer(first);
    EXPECT_EQ(water.GetNumLayers(), 2u);
    EXPECT_EQ(water.GetLayer(0), nullptr);
    EXPECT_EQ(water.GetLayer(1), second);
    EXPECT_EQ(water.FindLayer("LAKE", 2.0f), second);
    EXPECT_EQ(water.FindLayer("Lake", 1.0f), nullptr);
    // The hole is taken first.
    WaterLayer* third = water.AddWaterLayer("Lake", 3.0f);
    EXPECT_EQ(third->GetIndex(), 0u);
    water.RemoveWaterLayer(second);
    EXPECT_EQ(water.GetNumLayers(), 1u);
    // A layer whose type is unknown stays, without type.
    WaterLayer* untyped = water.AddWaterLayer("Nowhere", 1.0f);
    ASSERT_NE(untyped, nullptr);
    EXPECT_EQ(untyped->GetWaterType(), nullptr);
    // Without such a type no river is made.
    EXPECT_EQ(water.AddWaterPath("Nowhere", 0.0f, ControlPoint()), nullptr);
}

TEST_F(WaterFileTest, ABadMagicLoadsNothing)
{
    std::vector<uint8_t> block = GoodBlock().Build();
    block[0] ^= 0x01;
    GAME::Test::LogCapture log;
    Water& water = MakeWater(36);
    EXPECT_FALSE(Load(water, block));
    EXPECT_TRUE(log.Contains("Invalid water data, water will not be loaded.", 1));
    EXPECT_EQ(water.GetNumLayers(), 0u);
    EXPECT_EQ(WaterTypeManager::Get()->GetNumWaterTypes(), 0);
    // A water without device reads nothing.
    Water headless(nullptr);
    headless.Initialize(36, 36, nullptr, nullptr);
    EXPECT_FALSE(headless.IsInitialized());
    EXPECT_FALSE(Load(headless, GoodBlock().Build()));
}

TEST_F(WaterFileTest, AVersionOneBlockHasNoWaveSets)
{
    WaterWriter w = GoodBlock();
    w.version = 1;
    GAME::Test::LogCapture log;
    Water& water = MakeWater(36);
    ASSERT_TRUE(Load(water, w.Build()));
    EXPECT_TRUE(
        log.Contains("Warning water data is version 1, current version is 2, please rebuild the map.", 2));
    EXPECT_EQ(water.GetNumLayers(), 2u);
    EXPECT_EQ(water.GetNumPaths(), 2u);
    EXPECT_EQ(water.GetNumWaveSets(), 0u);
    ASSERT_NE(water.GetPath(1), nullptr);
    EXPECT_FLOAT_EQ(water.GetPath(1)->GetHeight(), 0.75f);
}

TEST_F(WaterFileTest, CountsBeyondTheSlotsAndBlocksThatRunShortLeaveNothing)
{
    WaterWriter w = GoodBlock();
    w.layerCountOverride = 129;
    Water& water = MakeWater(36);
    {
        GAME::Test::LogCapture log;
        EXPECT_FALSE(Load(water, w.Build()));
        EXPECT_EQ(log.Count(), 1u);
    }
    EXPECT_EQ(water.GetNumLayers(), 0u);
    EXPECT_EQ(TreeCount(water), 0u);
    EXPECT_EQ(WaterTypeManager::Get()->GetNumWaterTypes(), 0);

    // Cut anywhere, the block fails and leaves no piece, no element and no type behind.
    const std::vector<uint8_t> good = GoodBlock().Build();
    for (size_t cut = 0; cut < good.size(); cut += 7) {
        SCOPED_TRACE(cut);
        GAME::Test::LogCapture quiet;
        const std::vector<uint8_t> part(good.begin(), good.begin() + static_cast<ptrdiff_t>(cut));
        EXPECT_FALSE(Load(water, part));
        EXPECT_EQ(water.GetNumLayers() + water.GetNumPaths() + water.GetNumWaveSets(), 0u);
        EXPECT_EQ(TreeCount(water), 0u);
        EXPECT_EQ(WaterTypeManager::Get()->GetNumWaterTypes(), 0);
    }
    // The same water loads a whole block afterwards.
    EXPECT_TRUE(Load(water, good));
    EXPECT_EQ(water.GetNumLayers(), 2u);
}

TEST_F(WaterFileTest, BadPiecesAreLeftOutAndTheRestStaysInStep)
{
    WaterWriter w = GoodBlock();
    // A block of the first layer outside its grid, between two good ones: skipped with its bytes.
    WaterWriter::Block outside;
    outside.index = 16;
    outside.coverage.fill(255);
    w.layers[0].blocks.insert(w.layers[0].blocks.begin() + 1, outside);
    // A river of a type nobody defines, and a wave set with a point that is not a number.
    WaterWriter::Path lost = w.paths[0];
    lost.type = "Nowhere";
    w.paths.insert(w.paths.begin() + 1, lost);
    WaterWriter::WaveSet broken = w.waveSets[0];
    broken.points[1].width = std::nanf("");
    w.waveSets.insert(w.waveSets.begin(), broken);
    // A type whose direction is not a number (its flow would not be one), and a layer of it.
    WaterWriter::Type murky = WaterWriter::LakeType();
    murky.name = "Murky";
    murky.direction = std::nanf("");
    w.types.push_back(murky);
    WaterWriter::Layer sunk = w.layers[1];
    sunk.type = murky.name;
    w.layers.push_back(sunk);

    GAME::Test::LogCapture log;
    Water& water = MakeWater(36);
    ASSERT_TRUE(Load(water, w.Build()));
    EXPECT_TRUE(log.Contains("Failed to load water type 'Nowhere' for water path.", 1));
    EXPECT_TRUE(log.Contains("Failed to load water path 1.", 1));
    EXPECT_TRUE(log.Contains("Failed to load water wave set 0.", 1));
    EXPECT_TRUE(log.Contains("Water type 'Murky' has values that are not numbers; left out", 1));
    EXPECT_TRUE(log.Contains("Failed to load water type 'Murky' for water layer.", 1));
    EXPECT_EQ(water.GetNumLayers(), 3u);
    EXPECT_EQ(water.GetLayer(2), nullptr);
    EXPECT_FALSE(WaterTypeManager::Get()->IsWaterType("Murky"));
    EXPECT_EQ(water.GetLayer(0)->GetNumBlocks(), 2u);
    EXPECT_EQ(water.GetNumPaths(), 3u);
    EXPECT_NE(water.GetPath(0), nullptr);
    EXPECT_EQ(water.GetPath(1), nullptr);
    ASSERT_NE(water.GetPath(2), nullptr);
    EXPECT_FLOAT_EQ(water.GetPath(2)->GetHeight(), 0.75f);
    EXPECT_EQ(water.GetWaveSet(0), nullptr);
    ASSERT_NE(water.GetWaveSet(1), nullptr);
    // Only the pieces that loaded have elements in the tree: 2 + 1 blocks, 2 + 2 river segments,
    // 1 wave segment.
    EXPECT_EQ(TreeCount(water), 8u);
    EXPECT_EQ(Save(water), GoodBlock().Build());
}

TEST_F(WaterFileTest, RiversAndShoreLinesOfAnyLengthKeepEveryPoint)
{
    // A meander across the ground, half a unit between points, turning back at each side.
    auto meander = [](size_t count) {
        std::vector<std::array<float, 2>> positions;
        for (size_t i = 0; i < count; ++i) {
            const float along = 0.5f * static_cast<float>(i % 60);
            const size_t row = i / 60;
            positions.push_back(
                {2.0f + (row % 2 ? 30.0f - along : along), 2.0f + 0.5f * static_cast<float>(row)});
        }
        return WaterWriter::SmoothCurve(positions, 1.5f);
    };
    for (size_t count : {size_t(257), size_t(4000)}) {
        SCOPED_TRACE(count);
        WaterWriter w;
        WaterWriter::Path river;
        river.type = WaterWriter::RiverType().name;
        river.height = 0.5f;
        river.points = meander(count);
        WaterWriter::WaveSet shore;
        shore.height = 1.0f;
        shore.points = meander(count);
        w.types = {WaterWriter::RiverType()};
        w.paths = {river};
        w.waveSets = {shore};
        const std::vector<uint8_t> block = w.Build();

        GAME::Test::LogCapture log;
        Water& water = MakeWater(36);
        ASSERT_TRUE(Load(water, block));
        EXPECT_FALSE(log.Contains("control point"));
        EXPECT_FALSE(log.Contains("Failed to load"));
        ASSERT_NE(water.GetPath(0), nullptr);
        ASSERT_NE(water.GetWaveSet(0), nullptr);
        EXPECT_EQ(water.GetPath(0)->GetNumControlPoints(), count);
        EXPECT_EQ(water.GetPath(0)->GetNumSegments(), count - 1);
        EXPECT_EQ(water.GetWaveSet(0)->GetNumControlPoints(), count);
        EXPECT_EQ(water.GetWaveSet(0)->GetNumSegments(), count - 1);
        EXPECT_EQ(TreeCount(water), 2 * (count - 1));
        EXPECT_EQ(Save(water), block);

        // The editor goes on adding points past the loaded ones.
        ControlPoint next;
        next.position = Vec2(20.0f, 30.0f);
        next.tangent = Vec2(0.5f, 0.0f);
        next.side = Vec2(0.0f, 1.0f);
        EXPECT_TRUE(water.GetPath(0)->AddControlPoint(next));
        EXPECT_TRUE(water.GetWaveSet(0)->AddControlPoint(next));
        EXPECT_EQ(water.GetPath(0)->GetNumSegments(), count);
        EXPECT_EQ(water.GetWaveSet(0)->GetNumControlPoints(), count + 1);
    }
}

} // namespace
} // namespace GAME::WaterTest
