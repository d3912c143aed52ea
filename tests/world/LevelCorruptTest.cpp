#include "LevelFixtures.h"

#include "common/LogCapture.h"

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
    // A grid that floors nothing over a huge area: the level loads without sector layers.
    {
        LevelFileBuilder file(13);
        BinaryWriter ground(64);
        ground.WriteUInt32(1); // kind: grid
        ground.WriteUInt32(1); // grid version 1: the lattice follows at once
        ground.WriteString("");
        ground.WriteUInt32(0x7FFFFFFF);
        ground.WriteUInt32(0);
        ground.WriteUInt32(0x7FFFFFFF);
        file.Chunk(6, Bytes(ground));
        Level level(region);
        const std::vector<uint8_t> bytes = file.Bytes();
        ASSERT_TRUE(level.Load(bytes.data(), static_cast<int>(bytes.size()), false));
        EXPECT_EQ(level.GetSectorLayers().GetWidth(), 0u);
        BinaryWriter saved(64);
        EXPECT_TRUE(level.SaveToMemory(saved, false));
        EXPECT_LT(saved.GetSize(), 1000u);
    }
    EXPECT_FALSE(log.Lines().empty());
}

} // namespace
} // namespace GAME::WorldTest
