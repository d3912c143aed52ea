#include "LevelFixtures.h"

#include "common/FullDisk.h"
#include "common/LogCapture.h"
#include "common/TempDir.h"
#include "data/EngineDataServices.h"
#include "data/FileSystem.h"
#include "datakit/TerrainWriter.h"
#include "platform/SystemInfo.h"
#include "terrain/GridRegion.h"
#include "terrain/Terrain.h"
#include "terrain/Water.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>

namespace GAME::WorldTest {
namespace {

// The chunks of a level image by id (the last of an id wins), after checking the header.
std::map<uint32_t, std::vector<uint8_t>> Chunks(const std::vector<uint8_t>& image)
{
    std::map<uint32_t, std::vector<uint8_t>> chunks;
    BinaryReader reader(image.data(), static_cast<unsigned>(image.size()));
    reader.Skip(4);
    while (!reader.AtEnd()) {
        uint32_t id = 0;
        BinaryReader body;
        if (!reader.ReadBlock(id, body))
            break;
        chunks[id].assign(body.GetData(), body.GetData() + body.GetSize());
    }
    return chunks;
}

std::vector<uint8_t> Image(const Level& level)
{
    BinaryWriter writer(0x400);
    EXPECT_TRUE(level.SaveToMemory(writer, false));
    return Bytes(writer);
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words)
{
    BinaryWriter writer(64);
    for (uint32_t w : words)
        writer.WriteUInt32(w);
    return Bytes(writer);
}

class LevelFileTest : public WorldFixture
{
protected:
    // A level of its own over the fixture's region, loaded from the image.
    std::unique_ptr<Level> LoadLevel(const std::vector<uint8_t>& image, bool restoring = false,
                                     bool expect = true)
    {
        auto loaded = std::make_unique<Level>(region);
        EXPECT_EQ(loaded->Load(image.data(), static_cast<int>(image.size()), restoring), expect);
        return loaded;
    }

    std::vector<TestEntity*> Entities(const Level& l)
    {
        std::vector<Entity*> all;
        l.GetEntities(all, ENTITY_LIST_ALL);
        std::vector<TestEntity*> out;
        for (Entity* e : all)
            out.push_back(static_cast<TestEntity*>(e));
        return out;
    }
};

TEST_F(LevelFileTest, Version13RoundTripKeepsEntitiesInTreeOrderIdsExtraDataAndGround)
{
    Level source(region);
    source.NewTerrain(17, 17);
    source.NewWater();
    std::vector<TestEntity*> placed;
    for (int i = 0; i < 12; ++i) {
        TestEntity* e = Make(i % 3 == 0 ? "records/big.dbr" : "records/box.dbr");
        source.AddEntity(e, Coords::Translation(Vec3(1.0f + 1.3f * static_cast<float>(i), 0.5f,
                                                     15.0f - static_cast<float>(i))));
        if (i % 2 == 0)
            e->SetUniqueID(UniqueId(7, 0, 0, static_cast<uint32_t>(i)));
        if (i % 4 == 1)
            e->extra = "extra " + std::to_string(i);
        placed.push_back(e);
    }
    const std::vector<uint8_t> image = Image(source);
    auto chunks = Chunks(image);
    ASSERT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + 4),
              (std::vector<uint8_t>{'L', 'V', 'L', 13}));
    EXPECT_EQ(chunks.count(5) + chunks.count(20) + chunks.count(6) + chunks.count(9) + chunks.count(23), 5u);
    EXPECT_EQ(chunks.count(10), 0u); // no path mesh

    // The records follow the tree walk of the saved level, not the order of creation.
    const std::vector<TestEntity*> original = Entities(source);
    EXPECT_NE(original, std::vector<TestEntity*>(placed.rbegin(), placed.rend()));
    {
        BinaryReader records(chunks[5].data(), static_cast<unsigned>(chunks[5].size()));
        const uint32_t names = records.ReadUInt32();
        std::vector<std::string> table(names);
        for (std::string& name : table)
            records.ReadString(name);
        ASSERT_EQ(records.ReadUInt32(), 12u);
        for (TestEntity* e : original) {
            EXPECT_EQ(table.at(records.ReadUInt32()), e->GetObjectName());
            EXPECT_EQ(records.ReadCoords(), e->GetCoords().GetRegionCoords());
            ASSERT_EQ(records.ReadUInt32() != 0, e->HasUniqueID());
            if (e->HasUniqueID()) {
                EXPECT_EQ(records.ReadUniqueId(), e->GetUniqueID());
            }
        }
    }

    std::unique_ptr<Level> copy = LoadLevel(image);
    std::vector<TestEntity*> loaded = Entities(*copy);
    ASSERT_EQ(loaded.size(), original.size());
    EXPECT_EQ(copy->GetNumEntities(), 12u);
    auto byPosition = [](std::vector<TestEntity*> v) {
        std::sort(v.begin(), v.end(), [](TestEntity* a, TestEntity* b) {
            return a->GetCoords().GetOrigin().GetRegionPosition().x <
                   b->GetCoords().GetOrigin().GetRegionPosition().x;
        });
        return v;
    };
    const std::vector<TestEntity*> a = byPosition(original), b = byPosition(loaded);
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(b[i]->GetObjectName(), a[i]->GetObjectName());
        EXPECT_EQ(b[i]->GetCoords().GetRegionCoords(), a[i]->GetCoords().GetRegionCoords());
        EXPECT_EQ(b[i]->extra, a[i]->extra);
        EXPECT_EQ(b[i]->half, a[i]->half); // record data loaded
        ASSERT_EQ(b[i]->HasUniqueID(), a[i]->HasUniqueID());
        if (a[i]->HasUniqueID()) {
            EXPECT_EQ(b[i]->GetUniqueID(), a[i]->GetUniqueID());
        }
        EXPECT_EQ(b[i]->added, 0); // OnAddToLevel waits for post-load
    }
    copy->PostLoad(false);
    EXPECT_EQ(loaded.front()->added, 1);
    ASSERT_NE(copy->GetEditableTerrain(), nullptr);
    EXPECT_EQ(copy->GetEditableTerrain()->GetNumXSamples(), 17u);
    EXPECT_NE(copy->GetWater(), nullptr);
    const auto copied = Chunks(Image(*copy));
    EXPECT_EQ(copied.at(6), chunks[6]);
    EXPECT_EQ(copied.at(9), chunks[9]);
    EXPECT_EQ(copied.at(23), chunks[23]);
    // Saved again, the level keeps its entities (node lists run from the last added, so their
    // order may change) and every other chunk byte for byte.
    const std::vector<uint8_t> again = Image(*copy);
    auto sameLevel = [&](const std::vector<uint8_t>& x, const std::vector<uint8_t>& y) {
        auto cx = Chunks(x), cy = Chunks(y);
        for (uint32_t id : {6u, 9u, 23u})
            EXPECT_EQ(cx[id], cy[id]) << "chunk " << id;
        EXPECT_EQ(cx[5].size(), cy[5].size());
        EXPECT_EQ(cx[20].size(), cy[20].size());
    };
    sameLevel(Image(*LoadLevel(again)), again);

    // Through the file system as well.
    GAME::Test::TempDir dir;
    struct Files : EngineDataServices
    {
        FileSystem fs;
        unsigned GetFrameCount() override { return 0; }
        FileSystem* GetFileSystem() override { return &fs; }
        void AddStatisticText(const char*) override {}
        unsigned GetEngineLogCategory() override { return 0; }
        bool AreGraphicsStatsEnabled() override { return false; }
    } files;
    ASSERT_TRUE(files.fs.AddSource(FileSystem::PARTITION_0, dir.Path().c_str(), false, false, false));
    EngineDataServices::Install(&files);
    EXPECT_TRUE(copy->Save("levels/copy.lvl", false));
    // Saved over it while the disk fills, at any point, the level on disk stays whole with nothing
    // beside it, and a line names it and says why.
    const std::string good = dir.Read("levels/copy.lvl");
    for (const int64_t limit : {int64_t{0}, int64_t{100}, static_cast<int64_t>(good.size()) - 1}) {
        GAME::Test::LogCapture log;
        GAME::Test::FullDisk disk(limit);
        EXPECT_FALSE(copy->Save("levels/copy.lvl", false)) << limit;
        EXPECT_TRUE(log.Contains("copy.lvl failed (No space left on device)")) << limit;
        EXPECT_EQ(dir.Read("levels/copy.lvl"), good) << limit;
        EXPECT_EQ(GAME::Test::FolderNames(dir.File("levels")), std::vector<std::string>{"copy.lvl"}) << limit;
    }
    Level fromFile(region);
    EXPECT_TRUE(fromFile.Load("levels/copy.lvl", false));
    sameLevel(Image(fromFile), again);
    EXPECT_EQ(fromFile.GetNumEntities(), 12u);
    EXPECT_FALSE(fromFile.Load("levels/missing.lvl", false));
    EngineDataServices::Install(nullptr);
}

TEST_F(LevelFileTest, GroundsWaterPathMeshAndLayersAreKeptByteForByte)
{
    // A grid of 1 x 1 x 1 cells: version 2, lattice block with 9 lattice and 2 feature bytes.
    BinaryWriter grid(64);
    grid.WriteUInt32(2);
    grid.BeginBlock(1);
    grid.WriteString("records/grid/system.dbr");
    grid.WriteUInt32(1);
    grid.WriteUInt32(1);
    grid.WriteUInt32(1);
    for (int i = 0; i < 11; ++i)
        grid.WriteUInt8(static_cast<uint8_t>(i * 7));
    grid.EndBlock();
    const std::vector<uint8_t> gridBody = Bytes(grid);
    // An empty water block, as a water without render device writes it back.
    const std::vector<uint8_t> water = Words({Water::magic, 2, 0, 0, 0, 0});
    const std::vector<uint8_t> path = {'P', 'T', 'H', 4, 9, 9, 9};
    const std::vector<uint8_t> layers = Concat({Words({1, 4, 1}),
                                                {5, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
                                                Words({0, 0, 0, 2, 1}),
                                                std::vector<uint8_t>(8, 5)});

    LevelFileBuilder file(13);
    file.Chunk(77, {1, 2, 3}); // unknown: skipped
    file.Chunk(10, path);
    file.Chunk(6, Concat({Words({1}), gridBody}));
    file.Chunk(9, water);
    file.Chunk(23, layers);
    file.Entities({"records/box.dbr"}, {{0, Coords::Translation(Vec3(4.0f, 0.0f, 4.0f))}});
    std::unique_ptr<Level> loaded = LoadLevel(file.Bytes());
    ASSERT_NE(loaded->GetGridRegion(), nullptr);
    EXPECT_TRUE(loaded->IsUnderground());
    EXPECT_EQ(loaded->GetGridRegion()->GetYNumCells(), 1);
    EXPECT_EQ(loaded->GetSectorLayers().GetWidth(), 2u);
    // Another library's path mesh is carried to be written back, but is no mesh here.
    EXPECT_FALSE(loaded->GetPathMesh().HasMesh());
    EXPECT_TRUE(loaded->GetPathMesh().HasData());

    auto chunks = Chunks(Image(*loaded));
    EXPECT_EQ(chunks[6], Concat({Words({1}), gridBody}));
    EXPECT_EQ(chunks[9], water);
    EXPECT_EQ(chunks[10], path);
    EXPECT_EQ(chunks[23], layers);
    EXPECT_EQ(chunks.count(77), 0u);

    // Without ground and water the chunks still come, empty where they have nothing.
    Level empty(region);
    empty.NewSpace(Vec2(8.0f, 8.0f));
    chunks = Chunks(Image(empty));
    EXPECT_TRUE(chunks[6].empty());
    EXPECT_EQ(chunks[5], Words({0, 0}));
    EXPECT_TRUE(chunks[20].empty());
    EXPECT_EQ(chunks[23], Words({1, 4, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(chunks.count(9), 0u);
}

// A run-time ground of 1025 x 1025 samples (5.3 MB as read) with its sector layers (4.2 MB): only
// the editor, which saves levels, keeps a copy of the ground's bytes (and writes them back as
// read), and an unloaded level holds nothing of either. Measured on the process's heap.
TEST_F(LevelFileTest, OnlyTheEditorKeepsARunTimeGroundsBytesAndAnUnloadedLevelHoldsNoneOfIt)
{
    DataKit::TerrainWriter ground(1025, 1025);
    ground.layers.resize(1);
    const std::vector<uint8_t> body = ground.Build();
    std::vector<uint8_t> image;
    {
        Level source(region);
        ASSERT_TRUE(source.NewRunTimeTerrain(body));
        image = Image(source);
    }
    const std::vector<uint8_t> groundChunk = Chunks(image)[6];
    ASSERT_GT(groundChunk.size(), body.size());
    auto heapSince = [](uint64_t before) {
        return static_cast<int64_t>(Platform::GetProcessHeapBytes()) - static_cast<int64_t>(before);
    };
    GAME::Test::LogCapture log;
    int64_t held[2] = {0, 0}; // by a loaded level: in the game, in the editor
    for (const bool editor : {false, true}) {
        SCOPED_TRACE(editor ? "editor" : "game");
        services.editor = editor;
        const uint64_t before = Platform::GetProcessHeapBytes();
        Level loaded(region);
        ASSERT_TRUE(loaded.Load(image.data(), static_cast<int>(image.size()), false));
        ASSERT_EQ(loaded.GetSectorLayers().GetWidth(), 1024u);
        held[editor] = heapSince(before);
        {
            BinaryWriter saved(0x400);
            if (editor) {
                ASSERT_TRUE(loaded.SaveToMemory(saved, false));
                EXPECT_EQ(Chunks(Bytes(saved))[6], groundChunk);
            } else {
                EXPECT_FALSE(loaded.SaveToMemory(saved, false));
                EXPECT_TRUE(log.Contains("kept for saving in editor mode only", 1));
            }
        }
        ASSERT_TRUE(loaded.Unload(false));
        EXPECT_FALSE(loaded.IsLoaded());
        EXPECT_LT(heapSince(before), 256 << 10);
    }
    EXPECT_GT(held[1] - held[0], static_cast<int64_t>(body.size() * 9 / 10));
}

TEST_F(LevelFileTest, HandBuiltVersions10And12AndRecordsWithBrokenFrames)
{
    // Version 10: no ground kind word, no unique-id fields. A terrain of 5 x 5 samples.
    const std::vector<uint8_t> terrain = Concat({Words({5, 5, 0}), std::vector<uint8_t>(25 * 20, 0)});
    LevelFileBuilder v10(10);
    v10.Chunk(6, terrain);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Coords broken = Coords::Translation(Vec3(1.0f, nan, 1.0f));
    // Flattened (a ray 2 units away from it hit it) and stretched frames: the entities' queries
    // take rigid frames. A mirrored one is rigid.
    Coords flat = Coords::Translation(Vec3(1.0f, 0.0f, 1.0f));
    flat.zAxis = Vec3();
    Coords stretched = Coords::Translation(Vec3(1.0f, 0.0f, 1.0f));
    stretched.xAxis = Vec3(2.0f, 0.0f, 0.0f);
    Coords mirrored = Coords::Translation(Vec3(2.0f, 0.0f, 3.0f));
    mirrored.yAxis = Vec3(0.0f, -1.0f, 0.0f);
    v10.Entities({"records/box.dbr", "records/big.dbr"},
                 {{0, broken}, {0, flat}, {0, stretched}, {1, mirrored}});
    GAME::Test::LogCapture log;
    std::unique_ptr<Level> old = LoadLevel(v10.Bytes());
    EXPECT_TRUE(log.Contains("Entity 'records/box.dbr' has non-finite coords, skipping", 1));
    EXPECT_TRUE(log.Contains(
        "Entity 'records/box.dbr' has a frame whose axes are not of unit length at right angles, skipping", 1));
    std::vector<TestEntity*> loaded = Entities(*old);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0]->GetObjectName(), "records/big.dbr");
    EXPECT_EQ(loaded[0]->GetCoords().GetOrigin().GetRegionPosition(), Vec3(2.0f, 0.0f, 3.0f));
    EXPECT_FALSE(loaded[0]->HasUniqueID());
    ASSERT_NE(old->GetEditableTerrain(), nullptr);
    // Written with its kind, and with the passability of its 16 cells that version 10 lacked.
    EXPECT_EQ(Chunks(Image(*old))[6], Concat({Words({0}), terrain, std::vector<uint8_t>(16 * 4, 0)}));

    // Version 12: unique ids, first word first; the skipped record's id is read past.
    LevelFileBuilder v12(12);
    v12.Entities({"records/box.dbr"},
                 {{0, broken, true, UniqueId(1, 2, 3, 4)},
                  {0, Coords::Translation(Vec3(5.0f, 0.0f, 5.0f)), true, UniqueId(5, 6, 7, 8)},
                  {3, Coords()}}); // name index out of range: no entity
    std::unique_ptr<Level> withIds = LoadLevel(v12.Bytes());
    loaded = Entities(*withIds);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0]->GetUniqueID(), UniqueId(5, 6, 7, 8));
    EXPECT_EQ(UniqueIdMap::Get()->GetEntity(UniqueId(5, 6, 7, 8)), loaded[0]);

    // Extra data before the entity list; records naming skipped or missing slots are ignored.
    LevelFileBuilder ordered(13);
    ordered.Chunk(20,
                  Concat({Words({0, 4}), Words({0}), Words({9, 0}), Words({1, 8, 4}), {'a', 'b', 'c', 'd'}}));
    ordered.Entities({"records/box.dbr", "records/object.dbr"},
                     {{1, Coords()}, {0, Coords::Translation(Vec3(1.0f, 1.0f, 1.0f))}});
    std::unique_ptr<Level> extra = LoadLevel(ordered.Bytes());
    loaded = Entities(*extra);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0]->extra, "abcd");

    // Versions outside 10..13 and other magics are refused before anything is made.
    for (int bad : {9, 14}) {
        LevelFileBuilder refused(bad);
        refused.Entities({"records/box.dbr"}, {{0, Coords()}});
        LoadLevel(refused.Bytes(), false, false);
    }
    std::vector<uint8_t> magic = v12.Bytes();
    magic[0] = 'X';
    LoadLevel(magic, false, false);
    EXPECT_EQ(ObjectManager::Get()->GetNumObjects(), 3u);
}

TEST_F(LevelFileTest, ServerAndClientKeepRules)
{
    LevelFileBuilder file(13);
    file.Entities({"records/box.dbr", "records/saver.dbr", "records/spawned.dbr"},
                  {{0, Coords()}, {1, Coords()}, {2, Coords()}});
    const std::vector<uint8_t> image = file.Bytes();
    auto names = [&](bool restoring) {
        std::unique_ptr<Level> l = LoadLevel(image, restoring);
        std::vector<std::string> out;
        for (TestEntity* e : Entities(*l))
            out.push_back(e->GetObjectName());
        std::sort(out.begin(), out.end());
        return out;
    };
    const std::vector<std::string> all = {"records/box.dbr", "records/saver.dbr", "records/spawned.dbr"};
    const std::vector<std::string> noSaver = {"records/box.dbr", "records/spawned.dbr"};
    const std::vector<std::string> noSpawned = {"records/box.dbr", "records/saver.dbr"};
    EXPECT_EQ(names(false), all);
    EXPECT_EQ(names(true), noSaver); // saved state will make it
    services.editor = true;
    EXPECT_EQ(names(true), all);
    services.server = true; // the server rule even in editor mode
    EXPECT_EQ(names(true), noSaver);
    EXPECT_EQ(names(false), all);
    services.server = false;
    services.client = true; // the server replicates it
    EXPECT_EQ(names(true), noSpawned);
    EXPECT_EQ(names(false), noSpawned);
}

TEST_F(LevelFileTest, SavedStateRecreatesEntitiesWithTheirIdsAndState)
{
    TestEntity* saver = Place(Vec3(3.0f, 0.0f, 4.0f), "records/saver.dbr");
    saver->hp = 42;
    saver->SetUniqueID(UniqueId(9, 9, 9, 9));
    Place(Vec3(), "records/box.dbr"); // not saved
    const unsigned id = saver->GetObjectId();
    BinaryWriter state(0x400);
    ASSERT_TRUE(level->SaveState(&state));
    EXPECT_FALSE(level->SaveState(nullptr));
    level->RemoveEntity(saver);
    ObjectManager::Get()->DestroyObjectEx(saver, __FILE__, __LINE__);
    Flush();

    Level restored(region);
    restored.NewSpace(Vec2(50.0f, 50.0f));
    // An unknown chunk before the state is skipped.
    const std::vector<uint8_t> data = Concat({Words({99, 4, 0}), Bytes(state)});
    ASSERT_TRUE(restored.RestoreState(data.data(), static_cast<unsigned>(data.size())));
    std::vector<TestEntity*> back = Entities(restored);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0]->GetObjectId(), id);
    EXPECT_EQ(back[0]->hp, 42);
    EXPECT_TRUE(back[0]->IsRestored());
    EXPECT_EQ(back[0]->GetUniqueID(), UniqueId(9, 9, 9, 9));
    EXPECT_EQ(back[0]->GetCoords().GetOrigin().GetRegionPosition(), Vec3(3.0f, 0.0f, 4.0f));

    // A record whose entity cannot be made stops the restore.
    BinaryWriter bad(64);
    bad.BeginBlock(5);
    bad.WriteString("records/object.dbr");
    bad.WriteUInt32(0);
    bad.WriteCoords(Coords());
    bad.WriteUInt32(0);
    bad.EndBlock();
    GAME::Test::LogCapture log;
    EXPECT_FALSE(restored.RestoreState(bad.GetBuffer(), bad.GetSize()));
    EXPECT_TRUE(log.Contains("Failed to create entity 'records/object.dbr' while restoring level state", 1));
    const std::vector<uint8_t> cut(data.begin(), data.end() - 3);
    EXPECT_FALSE(restored.RestoreState(cut.data(), static_cast<unsigned>(cut.size())));
}

TEST_F(LevelFileTest, StepwisePostLoadUnloadAndDestruction)
{
    Level stepped(region);
    LevelFileBuilder file(13);
    std::vector<LevelFileBuilder::Record> records;
    for (int i = 0; i < 8; ++i)
        records.push_back({0, Coords::Translation(Vec3(static_cast<float>(i), 0.0f, 0.0f))});
    file.Entities({"records/box.dbr"}, records);
    const std::vector<uint8_t> image = file.Bytes();
    ASSERT_TRUE(stepped.Load(image.data(), static_cast<int>(image.size()), false));
    int calls = 1;
    while (!stepped.PostLoad(true))
        ++calls;
    EXPECT_EQ(calls, 5);
    EXPECT_TRUE(stepped.PostLoad(true));

    EXPECT_FALSE(stepped.DestroyAllEntities(8)); // eight destroyed, more may remain
    EXPECT_TRUE(stepped.DestroyAllEntities(8));
    EXPECT_EQ(stepped.GetNumEntities(), 0u);

    ASSERT_TRUE(stepped.Load(image.data(), static_cast<int>(image.size()), false));
    calls = 1;
    while (!stepped.Unload(true))
        ++calls;
    EXPECT_EQ(calls, 4); // entities (twice), path mesh, tree and grounds
    EXPECT_FALSE(stepped.IsLoaded());
    EXPECT_EQ(stepped.GetEntityTree(), nullptr);

    // Loaded again, the level is not complete until its post-load has run again, which adds the
    // new entities to it.
    ASSERT_TRUE(stepped.Load(image.data(), static_cast<int>(image.size()), false));
    EXPECT_FALSE(stepped.GetPostLoadCalled());
    calls = 1;
    while (!stepped.PostLoad(true))
        ++calls;
    EXPECT_EQ(calls, 5);
    for (TestEntity* entity : Entities(stepped))
        EXPECT_EQ(entity->added, 1);
    stepped.Unload(false);

    // A level dropped while loaded takes its entities with it.
    auto dropped = std::make_unique<Level>(region);
    ASSERT_TRUE(dropped->Load(image.data(), static_cast<int>(image.size()), false));
    dropped.reset();
    Flush();
    EXPECT_EQ(ObjectManager::Get()->GetNumObjects(), 0u);
}

} // namespace
} // namespace GAME::WorldTest
