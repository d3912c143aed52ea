#include "LevelFixtures.h"

#include "common/LogCapture.h"
#include "terrain/GridRegion.h"

#include <cstring>

namespace GAME::WorldTest {
namespace {

class LevelCorruptTest : public WorldFixture
{
protected:
    void SetUp() override
    {
        WorldFixture::SetUp();
        Level source(region);
        source.NewTerrain(9, 9);
        source.NewWater();
        for (int i = 0; i < 6; ++i) {
            TestEntity* e = Make();
            source.AddEntity(e, Coords::Translation(Vec3(static_cast<float>(i), 0.0f, 2.0f)));
            e->SetUniqueID(UniqueId(3, 3, 3, static_cast<uint32_t>(i)));
            e->extra = "data";
        }
        BinaryWriter writer(0x400);
        ASSERT_TRUE(source.SaveToMemory(writer, false));
        image = Bytes(writer);
        // Chunk boundaries, where a cut leaves a shorter but whole file.
        for (unsigned at = 4; at + 8 <= image.size();) {
            uint32_t size;
            std::memcpy(&size, &image[at + 4], 4);
            at += 8 + size;
            boundaries.push_back(at);
        }
        source.Unload(false);
        Flush();
        baseline = ObjectManager::Get()->GetNumObjects();
    }

    // Loads the bytes into a fresh level; whatever happens, nothing may outlive it.
    bool Try(const std::vector<uint8_t>& bytes)
    {
        bool loaded;
        {
            Level level(region);
            loaded = level.Load(bytes.data(), static_cast<int>(bytes.size()), false);
            if (!loaded) {
                EXPECT_FALSE(level.IsLoaded());
                EXPECT_EQ(level.GetEntityTree(), nullptr);
                EXPECT_EQ(level.GetTerrain(), nullptr);
                EXPECT_EQ(level.GetNumEntities(), 0u);
            }
        }
        Flush();
        EXPECT_EQ(ObjectManager::Get()->GetNumObjects(), baseline);
        return loaded;
    }

    std::vector<uint8_t> image;
    std::vector<unsigned> boundaries;
    unsigned baseline = 0;
};

TEST_F(LevelCorruptTest, TruncatedFilesLoadOnlyWhenCutBetweenChunks)
{
    GAME::Test::LogCapture quiet;
    ASSERT_TRUE(Try(image));
    for (size_t cut = 0; cut < image.size(); cut += cut < 600 ? 1 : 13) {
        const std::vector<uint8_t> part(image.begin(), image.begin() + static_cast<ptrdiff_t>(cut));
        const bool boundary =
            cut == 4 || std::find(boundaries.begin(), boundaries.end(), cut) != boundaries.end();
        EXPECT_EQ(Try(part), boundary) << "cut at " << cut;
    }
}

TEST_F(LevelCorruptTest, DamagedWordsNeverCrashOrLeak)
{
    GAME::Test::LogCapture quiet;
    for (uint32_t value : {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0u, 0x00100001u}) {
        for (size_t at = 4; at + 4 <= image.size(); at += at < 600 ? 1 : 29) {
            std::vector<uint8_t> bad = image;
            std::memcpy(&bad[at], &value, 4);
            Try(bad);
        }
    }
}

TEST_F(LevelCorruptTest, BadCountsAndBodiesFailWithoutMakingAnything)
{
    GAME::Test::LogCapture log;
    // A record count beyond the chunk.
    {
        LevelFileBuilder file(13);
        BinaryWriter body(64);
        body.WriteUInt32(1);
        body.WriteString("records/box.dbr");
        body.WriteUInt32(1000000);
        file.Chunk(5, Bytes(body));
        EXPECT_FALSE(Try(file.Bytes()));
    }
    // A name longer than the reader allows.
    {
        LevelFileBuilder file(13);
        BinaryWriter body(64);
        body.WriteUInt32(1);
        body.WriteUInt32(0x200000);
        file.Chunk(5, Bytes(body));
        EXPECT_FALSE(Try(file.Bytes()));
    }
    // A terrain whose cell counts are no power of two fails the load, before any entity exists.
    {
        LevelFileBuilder file(13);
        file.Entities({"records/box.dbr"}, {{0, Coords()}});
        BinaryWriter ground(64);
        ground.WriteUInt32(0);
        ground.WriteUInt32(6);
        ground.WriteUInt32(6);
        ground.WriteUInt32(0);
        file.Chunk(6, Bytes(ground));
        EXPECT_FALSE(Try(file.Bytes()));
    }
    // Counts that promise more samples than the body holds.
    {
        LevelFileBuilder file(13);
        BinaryWriter ground(64);
        ground.WriteUInt32(2);
        ground.WriteUInt32(0x40000001);
        ground.WriteUInt32(3);
        file.Chunk(6, Bytes(ground));
        EXPECT_FALSE(Try(file.Bytes()));
    }
    // Extra data that runs past its chunk after the entities were made: they are destroyed again.
    {
        LevelFileBuilder file(13);
        file.Entities({"records/box.dbr"}, {{0, Coords()}, {0, Coords()}});
        BinaryWriter extra(64);
        extra.WriteUInt32(0);
        extra.WriteUInt32(100);
        file.Chunk(20, Bytes(extra));
        EXPECT_FALSE(Try(file.Bytes()));
    }
    EXPECT_FALSE(log.Lines().empty());
}

// A grid chunk of the given cell counts with no cells stored (version 1, the lattice at once).
std::vector<uint8_t> FloorlessGrid(uint32_t x, uint32_t y, uint32_t z)
{
    BinaryWriter ground(64);
    ground.WriteUInt32(1); // kind: grid
    ground.WriteUInt32(1);
    ground.WriteString("");
    ground.WriteUInt32(x);
    ground.WriteUInt32(y);
    ground.WriteUInt32(z);
    return Bytes(ground);
}

TEST_F(LevelCorruptTest, WhatAGroundDeclaresIsBoundByWhatTheFileHoldsAndTheWorld)
{
    GAME::Test::LogCapture log;
    // Wider than any world, with no cell stored (the shape of a 463-byte file that made 50 MB of
    // sector cells, written again at every save): refused, as is a floorless grid of 2^31 cells a
    // side.
    for (uint32_t wide : {6316032u, 0x7FFFFFFFu}) {
        SCOPED_TRACE(wide);
        LevelFileBuilder file(13);
        file.Entities({"records/box.dbr"}, {{0, Coords()}});
        file.Chunk(6, FloorlessGrid(wide, 0, wide == 0x7FFFFFFFu ? wide : 2));
        log.Clear();
        EXPECT_FALSE(Try(file.Bytes()));
        EXPECT_TRUE(log.Contains("wider than a level may be", 1));
    }

    // Within the world's bounds but without a floor, the grid holds no ground to lay sectors on.
    LevelFileBuilder file(13);
    file.Chunk(6, FloorlessGrid(1000, 0, 1000));
    log.Clear();
    const std::vector<uint8_t> bytes = file.Bytes();
    Level level(region);
    ASSERT_TRUE(level.Load(bytes.data(), static_cast<int>(bytes.size()), false));
    ASSERT_NE(level.GetGridRegion(), nullptr);
    EXPECT_EQ(level.GetGridRegion()->GetXNumCells(), 1000);
    EXPECT_EQ(level.GetSectorLayers().GetWidth() * level.GetSectorLayers().GetHeight(), 0u);
    EXPECT_TRUE(log.Contains("holds no ground", 1));
    BinaryWriter saved(64);
    EXPECT_TRUE(level.SaveToMemory(saved, false));
    EXPECT_LT(saved.GetSize(), 1000u);
    Level again(region);
    EXPECT_TRUE(again.Load(saved.GetBuffer(), static_cast<int>(saved.GetSize()), false));

    // A grid with its cells still gets layers over all of its ground, one cell per unit.
    LevelFileBuilder built(13);
    BinaryWriter one(64);
    one.WriteUInt32(1);
    one.WriteUInt32(1);
    one.WriteString("");
    for (int axis = 0; axis < 3; ++axis)
        one.WriteUInt32(1);
    for (int i = 0; i < 11; ++i) // 3 x 1 x 3 lattice entries and two feature bytes
        one.WriteUInt8(0);
    built.Chunk(6, Bytes(one));
    const std::vector<uint8_t> cell = built.Bytes();
    Level small(region);
    ASSERT_TRUE(small.Load(cell.data(), static_cast<int>(cell.size()), false));
    const Vec3 spacing = small.GetGridRegion()->GetCellSpacing();
    EXPECT_EQ(small.GetSectorLayers().GetWidth(), static_cast<unsigned>(spacing.x));
    EXPECT_EQ(small.GetSectorLayers().GetHeight(), static_cast<unsigned>(spacing.z));
}

} // namespace
} // namespace GAME::WorldTest
