#include "common/LogCapture.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/ChunkedBinaryWriter.h"
#include "data/File.h"
#include "datakit/MapWriter.h"
#include "world/MapChunkCallback.h"
#include "world/NameSectorData.h"
#include "world/World.h"

#include "WorldFixtures.h"

#include <gtest/gtest.h>
#include <thread>

namespace GAME {
namespace {

using DataKit::MapWriter;

std::vector<uint8_t> Level(char tag, size_t size)
{
    std::vector<uint8_t> bytes(size < 4 ? 4 : size, static_cast<uint8_t>(tag));
    const uint8_t header[4] = {'L', 'V', 'L', 13};
    std::copy(header, header + 4, bytes.begin());
    return bytes;
}

// Two regions with levels and minimaps, spawn points, quest files, groups and sector data.
MapWriter MakeMap(int8_t version, SectorDataManager& sectors)
{
    MapWriter map(version);
    MapWriter::Region& a = map.AddRegion("levels/a.lvl");
    a.center[0] = 3;
    a.extents[0] = a.extents[1] = a.extents[2] = 50;
    a.offset[2] = -100;
    a.id[0] = 0xA0;
    a.id[3] = 0xA3;
    a.zoneRecord = "Records/Zones/Woods.dbr";
    a.level = Level('a', 40);
    a.minimap = {1, 2, 3};
    MapWriter::Region& b = map.AddRegion("levels/b.lvl");
    b.extents[0] = b.extents[1] = b.extents[2] = 50;
    b.offset[0] = 101;
    b.id[1] = 0xB1;
    b.level = Level('b', 25);
    b.minimap = {4, 5};
    map.AddSpawnPoint(1, 1.5f, 2, 3);
    map.AddSpawnPoint(0, -4, 0, 0);
    map.AddQuestFile("Quests/Main.qst");

    sectors.NewSectorData(SectorDataManager::SECTOR_NAME);
    BinaryWriter sd(64);
    sectors.Save(sd);
    map.SetSectorData(std::vector<uint8_t>(sd.GetBuffer(), sd.GetBuffer() + sd.GetSize()));
    InstanceGroupManager::Destroy();
    InstanceGroupManager::Get()->CreateNewGroup()->SetName("Guards");
    ChunkedBinaryWriter groups(256);
    InstanceGroupManager::Get()->Save(groups);
    map.SetInstanceGroups(groups.GetBytes());
    InstanceGroupManager::Destroy();
    return map;
}

// Reads the bytes at (offset, size) of the world's open map file.
std::vector<uint8_t> MapRange(const World& world, unsigned offset, unsigned size)
{
    File* file = world.LockMapFile();
    std::vector<uint8_t> bytes;
    if (!file)
        return bytes;
    if (const auto* p = static_cast<const uint8_t*>(file->Lock(offset, size))) {
        bytes.assign(p, p + size);
        file->Unlock();
    }
    world.UnlockMapFile();
    return bytes;
}

class MapTest : public ::testing::Test
{
protected:
    bool LoadBytes(World& world, const std::vector<uint8_t>& bytes, bool connectivity = false)
    {
        EXPECT_TRUE(services.Put("maps/test.map", bytes));
        return world.Load("maps/test.map", connectivity);
    }

    GAME::Test::WorldTestServices services;
};

TEST_F(MapTest, ChunksInAnyOrder)
{
    const std::vector<std::vector<uint32_t>> orders = {
        {},
        {MapWriter::CHUNK_MINIMAP, MapWriter::CHUNK_SPAWN_POINTS, MapWriter::CHUNK_QUEST_FILES,
         MapWriter::CHUNK_SECTOR_DATA, MapWriter::CHUNK_INSTANCE_GROUPS, MapWriter::CHUNK_REGIONS},
    };
    for (const auto& order : orders) {
        SectorDataManager sectors;
        MapWriter writer = MakeMap(4, sectors);
        writer.SetChunkOrder(order);
        MapWriter::Layout layout;
        const std::vector<uint8_t> image = writer.Build(&layout);
        services.sectorData.DeleteSectorData(SectorDataManager::SECTOR_NAME, 0);

        GAME::Test::EventRecorder events({"GameEvent_LevelLoad", "GameEvent_WrlLoad"});
        World world;
        ASSERT_TRUE(LoadBytes(world, image, true));
        EXPECT_EQ(events.received, std::vector<std::string>{"GameEvent_LevelLoad"});
        EXPECT_TRUE(world.RegionsLoaded());
        ASSERT_EQ(world.GetNumRegions(), 2);
        const Region* a = world.GetRegion(0);
        const Region* b = world.GetRegion(1);
        EXPECT_EQ(a->GetName(), "levels/a.lvl");
        EXPECT_EQ(a->GetBoundingBox(), ABBox(Vec3(3, 0, 0), Vec3(50, 50, 50)));
        EXPECT_EQ(a->GetOffsetFromWorld(), IntVec3(0, 0, -100));
        EXPECT_EQ(a->GetId(), RegionId(0xA0, 0, 0, 0xA3));
        EXPECT_TRUE(a->GetZoneRecord().empty()); // version 4 has no zone records
        EXPECT_EQ(b->GetId(), RegionId(0, 0xB1, 0, 0));
        EXPECT_EQ(MapRange(world, a->GetLevelOffset(), a->GetLevelSize()), Level('a', 40));
        EXPECT_EQ(MapRange(world, b->GetLevelOffset(), b->GetLevelSize()), Level('b', 25));
        EXPECT_EQ(MapRange(world, b->GetMinimapOffset(), b->GetMinimapSize()), (std::vector<uint8_t>{4, 5}));
        EXPECT_EQ(a->GetMinimapSize(), 3u);

        // Spawn points may precede the regions; they are placed after the last chunk.
        ASSERT_EQ(world.GetNumPlayerSpawnPoints(), 2u);
        EXPECT_EQ(world.GetPlayerSpawnPoint(4).GetRegion(), b);
        EXPECT_EQ(world.GetPlayerSpawnPoint(5).GetRegion(), a);
        EXPECT_EQ(world.GetPlayerSpawnPoint(5).GetOrigin().GetRegionPosition(), Vec3(-4, 0, 0));
        ASSERT_EQ(world.GetNumQuestFiles(), 1u);
        EXPECT_EQ(world.GetQuestFile(0), "Quests/Main.qst");
        EXPECT_EQ(services.sectorData.GetNumSectorData(SectorDataManager::SECTOR_NAME), 1u);
        ASSERT_EQ(InstanceGroupManager::Get()->GetNumGroups(), 1);
        EXPECT_EQ(InstanceGroupManager::Get()->GetGroup(0)->GetName(), "Guards");
        // Boxes 4 units apart (a: x 53 at most, b: x -50 + 101 = 51 at least... touching within 2).
        ASSERT_EQ(a->GetConnectedRegions().size(), 1u);
        EXPECT_EQ(a->GetConnectedRegions().front(), b);

        world.Unload();
        EXPECT_FALSE(world.RegionsLoaded());
        EXPECT_EQ(world.GetNumRegions(), 0);
        EXPECT_EQ(world.LockMapFile(), nullptr); // no map: nothing to unlock
    }
}

TEST_F(MapTest, ZoneRecordsOnlyInVersionFive)
{
    for (int8_t version : {5, 6}) {
        SectorDataManager sectors;
        World world;
        ASSERT_TRUE(LoadBytes(world, MakeMap(version, sectors).Build())) << int(version);
        EXPECT_EQ(world.GetRegion(0)->GetZoneRecord(), version == 5 ? "records/zones/woods.dbr" : "");
        EXPECT_EQ(MapRange(world, world.GetRegion(1)->GetLevelOffset(), 25), Level('b', 25));
    }
}

TEST_F(MapTest, RefusedAndPartialMaps)
{
    SectorDataManager sectors;
    MapWriter writer = MakeMap(3, sectors);
    {
        GAME::Test::LogCapture log;
        World world;
        EXPECT_FALSE(LoadBytes(world, writer.Build()));
        EXPECT_EQ(world.GetNumRegions(), 0);
        EXPECT_EQ(log.Count(), 0u);
    }
    // One minimap record short: no region gets a minimap.
    writer.SetVersion(4);
    writer.SetMinimapRecordCount(1);
    // The old minimap chunk is announced and passed over.
    writer.AddChunk(MapWriter::CHUNK_OLD_MINIMAP, {9, 9, 9});
    GAME::Test::LogCapture log;
    World world;
    ASSERT_TRUE(LoadBytes(world, writer.Build()));
    EXPECT_EQ(world.GetRegion(0)->GetMinimapSize(), 0u);
    EXPECT_EQ(world.GetRegion(1)->GetMinimapSize(), 0u);
    EXPECT_TRUE(log.Contains("Map file is using old mini-map data format.", 2));

    // A nested lock of the map file answers null and does not keep the lock: after the one
    // unlock another thread gets the file.
    File* file = world.LockMapFile();
    EXPECT_NE(file, nullptr);
    EXPECT_EQ(world.LockMapFile(), nullptr);
    world.UnlockMapFile();
    File* other = nullptr;
    std::thread([&] {
        other = world.LockMapFile();
        if (other)
            world.UnlockMapFile();
    }).join();
    EXPECT_EQ(other, file);
}

// Reads a given number of bytes of its chunk.
class CountingCallback : public MapChunkCallback
{
public:
    CountingCallback(unsigned id, unsigned take, std::vector<uint32_t>& seen)
        : MapChunkCallback(id), m_take(take), m_seen(seen)
    {
    }
    void ReadChunk(BinaryReader& reader) override
    {
        m_seen.push_back(GetChunkId());
        for (unsigned i = 0; i < m_take; ++i)
            reader.ReadUInt8();
    }

private:
    unsigned m_take;
    std::vector<uint32_t>& m_seen;
};

TEST_F(MapTest, OtherChunksGoToTheirCallbacksAndEveryChunkEndsWhereItSays)
{
    std::vector<uint32_t> seen;
    World world;
    EXPECT_FALSE(world.InstallMapChunkCallback(nullptr));
    ASSERT_TRUE(world.InstallMapChunkCallback(new CountingCallback(0x40, 1, seen)));   // reads too little
    ASSERT_TRUE(world.InstallMapChunkCallback(new CountingCallback(0x41, 100, seen))); // reads too much
    {
        GAME::Test::LogCapture log;
        CountingCallback duplicate(0x40, 0, seen);
        EXPECT_FALSE(world.InstallMapChunkCallback(&duplicate));
        EXPECT_TRUE(log.Contains("Duplicate MapChunkCallback being installed for Id 64", 2));
    }

    SectorDataManager sectors;
    MapWriter writer = MakeMap(4, sectors);
    writer.AddChunk(0x40, {1, 2, 3, 4});
    writer.AddChunk(0x41, {5, 6});
    writer.AddChunk(0x42, {7}); // no callback: passed over
    // A known chunk with bytes its reader leaves: the next chunk still starts at its announced end.
    writer.SetChunkOrder({0x40, 0x41, 0x42, MapWriter::CHUNK_QUEST_FILES, MapWriter::CHUNK_SECTOR_DATA,
                          MapWriter::CHUNK_REGIONS});
    writer.AddChunk(MapWriter::CHUNK_QUEST_FILES, {1, 0, 0, 0, 2, 0, 0, 0, 'Q', '1', 0xEE, 0xEE});
    ASSERT_TRUE(LoadBytes(world, writer.Build()));
    EXPECT_EQ(seen, (std::vector<uint32_t>{0x40, 0x41}));
    ASSERT_EQ(world.GetNumRegions(), 2);
    // The later quest chunk replaces the first.
    ASSERT_EQ(world.GetNumQuestFiles(), 1u);
    EXPECT_EQ(world.GetQuestFile(0), "Q1");
}

TEST_F(MapTest, QuestNamesThatDoNotFitAreLeftEmpty)
{
    MapWriter writer(4);
    writer.AddRegion("levels/a.lvl");
    // Two names; the first announces more bytes than the chunk holds, so the reader goes on
    // right after its length word and reads the second from there.
    BinaryWriter quest(16);
    quest.WriteUInt32(2);
    quest.WriteUInt32(0x7000);
    quest.WriteUInt32(2);
    quest.WriteBytes("ok", 2);
    writer.AddChunk(MapWriter::CHUNK_QUEST_FILES,
                    std::vector<uint8_t>(quest.GetBuffer(), quest.GetBuffer() + quest.GetSize()));
    World world;
    ASSERT_TRUE(LoadBytes(world, writer.Build()));
    ASSERT_EQ(world.GetNumQuestFiles(), 2u);
    EXPECT_EQ(world.GetQuestFile(0), "");
    EXPECT_EQ(world.GetQuestFile(1), "ok");
}

TEST_F(MapTest, InstanceGroupChunksWithoutAPositiveSizeAreSkipped)
{
    // The size word, taken as signed, is 0 or below: the chunk holds nothing and the next chunk
    // follows its head.
    for (uint32_t size : {0u, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(size);
        MapWriter writer(4);
        writer.AddRegion("levels/a.lvl");
        writer.AddQuestFile("Quests/After.qst");
        writer.AddChunk(MapWriter::CHUNK_INSTANCE_GROUPS, {});
        writer.SetChunkOrder(
            {MapWriter::CHUNK_REGIONS, MapWriter::CHUNK_INSTANCE_GROUPS, MapWriter::CHUNK_QUEST_FILES});
        MapWriter::Layout layout;
        std::vector<uint8_t> bytes = writer.Build(&layout);
        const uint32_t sizeWord = layout.ChunkOffset(MapWriter::CHUNK_INSTANCE_GROUPS) + 4;
        for (int i = 0; i < 4; ++i)
            bytes[sizeWord + i] = static_cast<uint8_t>(size >> (8 * i));

        InstanceGroupManager::Destroy();
        InstanceGroupManager::Get()->CreateNewGroup()->SetName("Kept");
        World world;
        ASSERT_TRUE(LoadBytes(world, bytes));
        EXPECT_EQ(world.GetNumRegions(), 1);
        ASSERT_EQ(world.GetNumQuestFiles(), 1u);
        EXPECT_EQ(world.GetQuestFile(0), "Quests/After.qst");
        ASSERT_EQ(InstanceGroupManager::Get()->GetNumGroups(), 1);
        EXPECT_EQ(InstanceGroupManager::Get()->GetGroup(0)->GetName(), "Kept");
    }
}

TEST_F(MapTest, CorruptMapsAreRefused)
{
    SectorDataManager sectors;
    MapWriter writer = MakeMap(5, sectors);
    MapWriter::Layout layout;
    const std::vector<uint8_t> good = writer.Build(&layout);

    // A refused map leaves the groups and sector data as they were, also when the bad chunk
    // comes after theirs.
    InstanceGroupManager::Get()->CreateNewGroup()->SetName("Kept");
    auto refused = [&](const std::vector<uint8_t>& bytes, bool logged) {
        GAME::Test::LogCapture log;
        World world;
        const bool loaded = LoadBytes(world, bytes);
        return !loaded && world.GetNumRegions() == 0 && world.GetNumQuestFiles() == 0 &&
               world.GetNumPlayerSpawnPoints() == 0 && (!logged || log.Count() > 0) &&
               InstanceGroupManager::Get()->GetNumGroups() == 1 &&
               InstanceGroupManager::Get()->GetGroup(0)->GetName() == "Kept" &&
               services.sectorData.GetNumSectorData(SectorDataManager::SECTOR_NAME) == 0;
    };
    // Every truncation of the header and chunks (the level and minimap images follow them).
    for (size_t size = 0; size < 8 + layout.dataLength; ++size)
        EXPECT_TRUE(refused(std::vector<uint8_t>(good.begin(), good.begin() + size), size >= 8)) << size;
    auto patched = [&](size_t at, uint32_t value) {
        std::vector<uint8_t> bad = good;
        for (int i = 0; i < 4; ++i)
            bad[at + i] = static_cast<uint8_t>(value >> (8 * i));
        return bad;
    };
    const uint32_t regions = layout.ChunkOffset(MapWriter::CHUNK_REGIONS);
    const uint32_t record1 = layout.regionRecordOffsets[1];
    const size_t levelField = record1 + 13 * 4 + 4 + 4 + 12;         // zone "" and the name "levels/b.lvl"
    EXPECT_TRUE(refused(patched(4, layout.dataLength + 200), true)); // data past the file
    EXPECT_TRUE(refused(patched(regions + 4, layout.dataLength), true)); // chunk past the data
    EXPECT_TRUE(refused(patched(regions + 8, 0x01000000), true));        // region count
    EXPECT_TRUE(refused(patched(levelField, static_cast<uint32_t>(good.size())), true)); // level past the end
    EXPECT_TRUE(refused(patched(levelField + 4, 0xFFFFFFF0u), true)); // level size past the end
    const uint32_t minimap = layout.ChunkOffset(MapWriter::CHUNK_MINIMAP);
    EXPECT_TRUE(refused(patched(minimap + 12, 0x00100000), true));     // minimap count
    EXPECT_TRUE(refused(patched(minimap + 16 + 8, 0x7FFFFFFF), true)); // minimap offset
    const uint32_t spawn = layout.ChunkOffset(MapWriter::CHUNK_SPAWN_POINTS);
    EXPECT_TRUE(refused(patched(spawn + 8, 0x00100000), true)); // spawn count
    const uint32_t groups = layout.ChunkOffset(MapWriter::CHUNK_INSTANCE_GROUPS);
    EXPECT_TRUE(refused(patched(groups + 12, 0x00100000), true)); // group count
    const uint32_t sectorData = layout.ChunkOffset(MapWriter::CHUNK_SECTOR_DATA);
    EXPECT_TRUE(refused(patched(sectorData + 8 + 12 + 4 + 4, 0x00100000), true)); // name record count
}

} // namespace
} // namespace GAME
