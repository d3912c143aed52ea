// The editable terrain's stored forms: the editor form round trip, level versions, layer names and
// layers whose type is missing, bad and truncated bodies, and the run-time form written from it.
#include "TerrainFixtures.h"

#include "common/LogCapture.h"
#include "core/SimplePolygon.h"
#include "data/BinaryWriter.h"
#include "terrain/Terrain.h"

#include <cstring>

namespace GAME::TerrainTest {
namespace {

std::vector<uint8_t> SaveEditor(const Terrain& terrain)
{
    BinaryWriter writer(0x1000);
    terrain.Save(writer);
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

// Loads from a copy of exactly the bytes, so that a read past them is caught.
bool LoadEditor(Terrain& terrain, const std::vector<uint8_t>& body, int version = 13)
{
    std::vector<uint8_t> copy(body);
    BinaryReader reader(copy.data(), static_cast<unsigned>(copy.size()));
    return terrain.Load(reader, version);
}

void Put32(std::vector<uint8_t>& bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// An edited 8 x 8 cell terrain: heights, offsets, two painted layers, passability, a cut.
void Edit(Terrain& terrain)
{
    ASSERT_TRUE(terrain.New(8, 8));
    for (int y = 0; y <= 8; ++y)
        for (int x = 0; x <= 8; ++x)
            terrain.SetBaseHeight(x, y, 0.5f * static_cast<float>(x) - 0.25f * static_cast<float>(y));
    SimplePolygon pull;
    PolygonVertex v;
    v.x = 4.0f;
    v.y = 4.0f;
    v.height = 6.0f;
    pull.AddVertex(v);
    terrain.ApplyContourPull(DirtyRect(0, 0, 9, 9), {pull});
    ASSERT_TRUE(terrain.AddLayer(dirtRecord));
    ASSERT_TRUE(terrain.AddLayer(grassRecord));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            terrain.SetLayerOpacity(1, x, y, static_cast<uint8_t>(x * 30 + y));
    terrain.UpdateVisibilityMap(DirtyRect(0, 0, 8, 8));
    terrain.SetPassable(2, 3, 2);
    terrain.SetPassable(7, 7, 2);
    terrain.SetInvisible(5, 5, true);
}

TEST(TerrainEditorFileTest, TheEditorFormKeepsWhatTheEditorEdited)
{
    TypeRecords records;
    Terrain source(nullptr);
    Edit(source);
    const std::vector<uint8_t> body = SaveEditor(source);
    // Counts, two layer records (the second with 64 opacity bytes), 81 samples of 8 and 12 bytes,
    // 64 passability words.
    EXPECT_EQ(body.size(),
              12u + (4 + std::strlen(dirtRecord)) + (4 + std::strlen(grassRecord) + 64) + 81 * 20 + 64 * 4);

    Terrain copy(nullptr);
    ASSERT_TRUE(LoadEditor(copy, body));
    ASSERT_EQ(copy.GetNumXSamples(), 9u);
    ASSERT_EQ(copy.GetNumTextureLayers(), 2u);
    EXPECT_NE(copy.GetLayerTerrainType(1), nullptr);
    for (int y = 0; y <= 8; ++y)
        for (int x = 0; x <= 8; ++x) {
            EXPECT_EQ(copy.GetHeight(x, y), source.GetHeight(x, y));
            const Terrain::Offset &a = copy.GetOffset()[y * 9 + x], &b = source.GetOffset()[y * 9 + x];
            EXPECT_EQ(a.baseHeight, b.baseHeight);
            EXPECT_EQ(a.targetHeight, b.targetHeight);
            EXPECT_EQ(a.weight, b.weight);
            // Cut-away flags are not kept: placed tiles cut the ground again.
            EXPECT_FALSE(copy.IsInvisible(x, y));
        }
    for (unsigned y = 0; y < 8; ++y)
        for (unsigned x = 0; x < 8; ++x) {
            EXPECT_EQ(copy.GetLayerOpacity(1, x, y), source.GetLayerOpacity(1, x, y));
            EXPECT_EQ(copy.GetLayerState(1, x, y), source.GetLayerState(1, x, y));
            EXPECT_EQ(copy.IsImpassable(static_cast<int>(x), static_cast<int>(y)),
                      (x == 2 && y == 3) || (x == 7 && y == 7));
        }
    EXPECT_EQ(copy.GetLayerOpacity(0, 3, 3), 255u);

    // Level version 12 has no passability: the cells stored by a newer writer are not read.
    Terrain old(nullptr);
    ASSERT_TRUE(LoadEditor(old, body, 12));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_FALSE(old.IsImpassable(x, y));
    EXPECT_EQ(old.GetHeight(4, 4), source.GetHeight(4, 4));

    // A new terrain saves and loads again: New counts cells, the form samples.
    Terrain fresh(nullptr);
    ASSERT_TRUE(fresh.New(16, 4));
    Terrain freshCopy(nullptr);
    ASSERT_TRUE(LoadEditor(freshCopy, SaveEditor(fresh)));
    EXPECT_EQ(freshCopy.GetNumXSamples(), 17u);
    EXPECT_EQ(freshCopy.GetNumYSamples(), 5u);
    // Counts that are not powers of two, and a single sample a side, are refused.
    for (const auto& [x, y] :
         std::vector<std::pair<unsigned, unsigned>>{{0, 4}, {4, 0}, {3, 4}, {4, 6}, {8192, 8}})
        EXPECT_FALSE(fresh.New(x, y)) << x << "," << y;
    EXPECT_EQ(fresh.GetNumXSamples(), 0u);
    copy.Unload();
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
}

TEST(TerrainEditorFileTest, LayerNamesAndLayersWithoutATypeSurviveASave)
{
    TypeRecords records;
    // 2 x 2 cells; layer 0 named with a leading backslash, layer 1 a record that is not there.
    std::vector<uint8_t> body;
    Put32(body, 3);
    Put32(body, 3);
    Put32(body, 2);
    const std::string first = std::string("\\") + stoneRecord, second = "records/terrain/missing.dbr";
    Put32(body, static_cast<uint32_t>(first.size()));
    body.insert(body.end(), first.begin(), first.end());
    Put32(body, static_cast<uint32_t>(second.size()));
    body.insert(body.end(), second.begin(), second.end());
    for (uint8_t o : {10, 250, 251, 252})
        body.push_back(o);
    for (int i = 0; i < 9; ++i) {
        float h = static_cast<float>(i);
        uint8_t bytes[4];
        std::memcpy(bytes, &h, 4);
        body.insert(body.end(), bytes, bytes + 4);
        Put32(body, 1); // cut away in the file: dropped
    }
    body.insert(body.end(), 9 * 12, 0);
    body.insert(body.end(), 4 * 4, 0);

    GAME::Test::LogCapture log;
    Terrain terrain(nullptr);
    ASSERT_TRUE(LoadEditor(terrain, body));
    ASSERT_EQ(terrain.GetNumTextureLayers(), 2u);
    ASSERT_NE(terrain.GetLayerTerrainType(0), nullptr);
    EXPECT_EQ(terrain.GetLayerRecordName(0), stoneRecord);
    // The missing type is logged and its layer kept in place, untyped, with its paint.
    EXPECT_TRUE(log.Contains("Failed to load terrain type records/terrain/missing.dbr.", 1));
    EXPECT_EQ(terrain.GetLayerTerrainType(1), nullptr);
    EXPECT_EQ(terrain.GetLayerRecordName(1), second);
    EXPECT_EQ(terrain.GetLayerOpacity(1, 1, 0), 250u);
    EXPECT_FALSE(terrain.IsInvisible(1, 1));
    EXPECT_EQ(terrain.GetHeight(2, 2), 8.0f);

    // Saved again, the layer is still there: only the backslash and the cut-away flags differ.
    const std::vector<uint8_t> again = SaveEditor(terrain);
    Terrain reloaded(nullptr);
    ASSERT_TRUE(LoadEditor(reloaded, again));
    EXPECT_EQ(reloaded.GetLayerRecordName(1), second);
    EXPECT_EQ(reloaded.GetLayerOpacity(1, 0, 1), 251u);
    EXPECT_EQ(SaveEditor(reloaded), again);

    // The run-time form names the untyped layer too, and keeps its opacity.
    BinaryWriter writer(0x400);
    ASSERT_TRUE(terrain.SaveRunTimeFormat(writer));
    TerrainRT runTime(nullptr);
    BinaryReader reader(writer.GetBuffer(), writer.GetSize());
    ASSERT_TRUE(runTime.Load(reader, 13));
    ASSERT_EQ(runTime.GetNumTextureLayers(), 2u);
    EXPECT_EQ(runTime.GetLayerOpacity(1, 1, 1), 252u);
    terrain.Unload();
    reloaded.Unload();
    runTime.Unload();
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
}

TEST(TerrainEditorFileTest, BadAndTruncatedBodiesAnswerFalse)
{
    TypeRecords records;
    Terrain source(nullptr);
    Edit(source);
    const std::vector<uint8_t> body = SaveEditor(source);
    Terrain terrain(nullptr);
    // Every cut of the body is refused (the reads are bounded by the copy's end) and leaves the
    // terrain empty.
    for (size_t size = 0; size < body.size(); size += (size < 64 ? 1 : 37)) {
        const std::vector<uint8_t> cut(body.begin(), body.begin() + static_cast<ptrdiff_t>(size));
        EXPECT_FALSE(LoadEditor(terrain, cut)) << size;
        EXPECT_EQ(terrain.GetNumXSamples(), 0u);
        EXPECT_EQ(terrain.GetNumTextureLayers(), 0u);
    }
    // Version 12 needs no passability: the body without it is whole.
    EXPECT_TRUE(LoadEditor(terrain, std::vector<uint8_t>(body.begin(), body.end() - 64 * 4), 12));

    auto patched = [&](size_t offset, uint32_t value) {
        std::vector<uint8_t> bad(body);
        std::memcpy(bad.data() + offset, &value, 4);
        return bad;
    };
    // One sample a side, counts that are not a power of two plus one, counts whose bytes would
    // overflow 32 bits, more layers than a run-time mask can hold.
    for (const std::vector<uint8_t>& bad :
         {patched(0, 1), patched(4, 1), patched(0, 10), patched(0, 0x80000001u), patched(4, 0x40000001u),
          patched(8, 4000), patched(8, 1000)})
        EXPECT_FALSE(LoadEditor(terrain, bad));
    // A height that is not a number fails the load.
    const size_t heights = 12 + (4 + std::strlen(dirtRecord)) + (4 + std::strlen(grassRecord) + 64);
    const float nan = std::nanf("");
    uint32_t nanBits;
    std::memcpy(&nanBits, &nan, 4);
    EXPECT_FALSE(LoadEditor(terrain, patched(heights + 8 * 10, nanBits)));
    source.Unload();
    terrain.Unload();
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
}

TEST(TerrainEditorFileTest, TheRunTimeFormKeepsTheShowingLayersAndTheVisibleBits)
{
    TypeRecords records;
    Terrain terrain(nullptr);
    ASSERT_TRUE(terrain.New(8, 8));
    // Eight layers need a second mask byte (bits 1 to 8); layer 0 everywhere, layer 3 opaque
    // over the right half (hiding 0 to 2 there), layer 7 partly visible in one corner.
    const char* types[8] = {dirtRecord,  grassRecord, stoneRecord, dirtRecord,
                            grassRecord, stoneRecord, dirtRecord,  "records/terrain/none.dbr"};
    for (const char* type : types)
        ASSERT_TRUE(terrain.AddNamedLayer(type, nullptr));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            terrain.SetLayerOpacity(3, x, y, x >= 4 ? 255 : 0);
            terrain.SetLayerOpacity(1, x, y, 128);
        }
    terrain.SetLayerOpacity(7, 0, 0, 100);
    terrain.UpdateVisibilityMap(DirtyRect(0, 0, 8, 8));
    terrain.SetInvisible(6, 2, true);
    for (int y = 0; y <= 8; ++y)
        for (int x = 0; x <= 8; ++x)
            terrain.SetBaseHeight(x, y, static_cast<float>(x * y) * 0.1f);

    BinaryWriter writer(0x1000);
    ASSERT_TRUE(terrain.SaveRunTimeFormat(writer));
    TerrainRT runTime(nullptr);
    BinaryReader reader(writer.GetBuffer(), writer.GetSize());
    ASSERT_TRUE(runTime.Load(reader, 13));
    EXPECT_EQ(runTime.GetMaskBytes(), 2u);
    ASSERT_EQ(runTime.GetNumTextureLayers(), 8u);
    EXPECT_EQ(runTime.GetHeight(7, 5), terrain.GetHeight(7, 5));
    // Left half: dirt and the half-painted grass; right half: layer 3 alone.
    EXPECT_TRUE(runTime.HasLayerAt(1, 5, 0));
    EXPECT_TRUE(runTime.HasLayerAt(1, 5, 1));
    EXPECT_FALSE(runTime.HasLayerAt(1, 5, 3));
    EXPECT_FALSE(runTime.HasLayerAt(6, 5, 0));
    EXPECT_FALSE(runTime.HasLayerAt(6, 5, 1));
    EXPECT_TRUE(runTime.HasLayerAt(6, 5, 3));
    // Layer 7's bit lives in the second byte; the last sample column repeats the last cells.
    EXPECT_TRUE(runTime.HasLayerAt(0, 0, 7));
    EXPECT_FALSE(runTime.HasLayerAt(3, 3, 7));
    EXPECT_TRUE(runTime.HasLayerAt(8, 5, 3));
    EXPECT_FALSE(runTime.HasLayerAt(8, 5, 0));
    EXPECT_TRUE(runTime.IsInvisible(6, 2));
    EXPECT_FALSE(runTime.IsInvisible(6, 3));
    EXPECT_EQ(runTime.GetLayerOpacity(1, 2, 2), 128u);

    // Seven layers fit one mask byte; a terrain without samples writes nothing.
    terrain.DeleteLayer(7);
    BinaryWriter seven(0x1000);
    ASSERT_TRUE(terrain.SaveRunTimeFormat(seven));
    TerrainRT sevenRT(nullptr);
    BinaryReader sevenReader(seven.GetBuffer(), seven.GetSize());
    ASSERT_TRUE(sevenRT.Load(sevenReader, 13));
    EXPECT_EQ(sevenRT.GetMaskBytes(), 1u);
    Terrain empty(nullptr);
    BinaryWriter nothing(16);
    EXPECT_FALSE(empty.SaveRunTimeFormat(nothing));
    EXPECT_EQ(nothing.GetSize(), 0u);
    terrain.Unload();
    runTime.Unload();
    sevenRT.Unload();
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
}

} // namespace
} // namespace GAME::TerrainTest
