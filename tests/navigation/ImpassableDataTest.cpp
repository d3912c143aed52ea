#include "common/LogCapture.h"

#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "datakit/ImpassableWriter.h"
#include "navigation/ImpassableData.h"
#include "terrain/Terrain.h"
#include "world/Level.h"

#include <gtest/gtest.h>

namespace GAME {
namespace {

// A pattern of cells that crosses byte boundaries: 11 wide, 3 rows.
std::vector<bool> Pattern(uint32_t width, uint32_t height)
{
    std::vector<bool> cells(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < cells.size(); ++i)
        cells[i] = (i * 7 + i / 5) % 3 == 0;
    return cells;
}

bool Load(ImpassableData& data, const std::vector<uint8_t>& body)
{
    BinaryReader reader(body.data(), static_cast<unsigned>(body.size()));
    const bool loaded = data.Load(reader);
    EXPECT_TRUE(reader.AtEnd());
    return loaded;
}

TEST(ImpassableDataTest, CellsReadBackAndOutsideIsImpassable)
{
    const std::vector<bool> cells = Pattern(11, 3);
    ImpassableData data;
    EXPECT_FALSE(data.HasBeenLoadedOrPrimed());
    EXPECT_TRUE(data.GetImpassable(0, 0)); // no grid: nothing is passable
    ASSERT_TRUE(Load(data, DataKit::BuildImpassableBody(11, 3, cells)));
    EXPECT_TRUE(data.HasBeenLoadedOrPrimed());
    EXPECT_EQ(data.GetWidth(), 11u);
    EXPECT_EQ(data.GetHeight(), 3u);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 11; ++x)
            EXPECT_EQ(data.GetImpassable(x, y), cells[static_cast<size_t>(y * 11 + x)]) << x << "," << y;
    for (auto [x, y] : {std::pair{-1, 0}, std::pair{11, 0}, std::pair{0, -1}, std::pair{0, 3}})
        EXPECT_TRUE(data.GetImpassable(x, y));

    // A copy (the terrain takes one) keeps the cells; priming gives an all-passable grid.
    const ImpassableData copy = data;
    EXPECT_EQ(copy.GetImpassable(3, 0), cells[3]);
    ASSERT_TRUE(data.Prime(4, 4));
    EXPECT_FALSE(data.GetImpassable(3, 0));
    EXPECT_FALSE(data.Prime(0, 4));
    EXPECT_FALSE(data.HasBeenLoadedOrPrimed());
}

TEST(ImpassableDataTest, BodiesOfTheWrongSizeLeaveNoGrid)
{
    GAME::Test::LogCapture log;
    const std::vector<uint8_t> good = DataKit::BuildImpassableBody(11, 3, Pattern(11, 3));
    std::vector<std::vector<uint8_t>> bad;
    for (size_t size = 0; size < good.size(); ++size)
        bad.emplace_back(good.begin(), good.begin() + static_cast<long>(size));
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    bad.push_back(longer);
    bad.push_back(DataKit::BuildImpassableBody(0, 3, {}));
    // Sides past the limit, and a grid that would need gigabytes, refused before allocating.
    bad.push_back({0x01, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00});
    bad.push_back({0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0xFF});
    for (const std::vector<uint8_t>& body : bad) {
        ImpassableData data;
        ASSERT_TRUE(data.Prime(2, 2)); // a failed load drops what was there
        EXPECT_FALSE(Load(data, body)) << body.size();
        EXPECT_FALSE(data.HasBeenLoadedOrPrimed());
    }
    EXPECT_GE(log.Count(), bad.size());
}

TEST(ImpassableDataTest, TheLevelHandsChunkThreeToItsTerrain)
{
    Level source(nullptr);
    source.NewTerrain(9, 9);
    BinaryWriter writer(1024);
    ASSERT_TRUE(source.SaveToMemory(writer, false));
    const std::vector<bool> cells = Pattern(8, 8);
    const std::vector<uint8_t> body = DataKit::BuildImpassableBody(8, 8, cells);
    writer.BeginBlock(3);
    writer.WriteBytes(body.data(), static_cast<unsigned>(body.size()));
    writer.EndBlock();

    Level level(nullptr);
    ASSERT_TRUE(level.Load(writer.GetBuffer(), static_cast<int>(writer.GetSize()), false));
    const Terrain* terrain = level.GetEditableTerrain();
    ASSERT_TRUE(terrain);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(terrain->IsImpassable(i % 8, i / 8), cells[static_cast<size_t>(i)]);
}

} // namespace
} // namespace GAME
