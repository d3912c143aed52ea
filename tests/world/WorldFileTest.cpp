#include "world/WorldFile.h"
#include "common/FullDisk.h"
#include "common/LogCapture.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "world/SectorData.h"
#include "world/SectorDataManager.h"
#include "world/World.h"

#include "WorldFixtures.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

namespace GAME {
namespace {

std::vector<uint8_t> Bytes(const BinaryWriter& w)
{
    return std::vector<uint8_t>(w.GetBuffer(), w.GetBuffer() + w.GetSize());
}

bool ReadWorldFile(const std::vector<uint8_t>& bytes, WorldFile& file)
{
    BinaryReader reader(bytes.data(), static_cast<unsigned>(bytes.size()));
    return file.Read(reader);
}

// (id, offset of the id word) of each chunk after the 4-byte header.
std::vector<std::pair<uint32_t, size_t>> Chunks(const std::vector<uint8_t>& bytes)
{
    std::vector<std::pair<uint32_t, size_t>> chunks;
    BinaryReader reader(bytes.data(), static_cast<unsigned>(bytes.size()));
    reader.Skip(4);
    while (!reader.AtEnd()) {
        const size_t at = reader.GetPosition();
        uint32_t id;
        BinaryReader content;
        if (!reader.ReadBlock(id, content))
            break;
        chunks.emplace_back(id, at);
    }
    return chunks;
}

// A world of two touching regions with everything a source file holds.
void FillWorld(World& world)
{
    world.SetNumQuestFiles(2);
    world.SetQuestFile(0, "Quests/Intro.qst");
    world.SetQuestFile(1, "Quests/Crypt.qst");
    const int a = world.AddRegion("levels/a.lvl", IntVec3(-5, 0, 7), ABBox(Vec3(0.5f, 1, 2), Vec3(10, 4, 10)),
                                  RegionId(1, 2, 3, 4));
    const int b = world.AddRegion("levels/b.lvl", IntVec3(15, 0, 7), ABBox(Vec3(0, 0, 0), Vec3(10, 4, 10)),
                                  RegionId(5, 6, 7, 8));
    world.GetRegion(a)->SetZoneRecord("Records/Zones/Crypt.dbr");
    world.GetRegion(b)->SetIcon(77, 2, 3, {'T', 'G', 'A'});
}

TEST(WorldFileTest, SourceWorldRoundTrip)
{
    GAME::Test::WorldTestServices services;
    services.sectorData.NewSectorData(SectorDataManager::SECTOR_NAME);
    InstanceGroupManager::Get()->CreateNewGroup()->SetName("Guards");
    {
        World world;
        FillWorld(world);
        world.SetFileName("maps/keep.wrl");
        ASSERT_TRUE(world.Save());
    }
    const std::string file = services.Bytes("maps/keep.wrl");
    ASSERT_GE(file.size(), 12u);
    EXPECT_EQ(file.substr(0, 4), std::string("WRL\x06", 4));
    EXPECT_EQ(file[4], 27); // quest files first
    EXPECT_FALSE(services.Bytes("maps/keep.sd").empty());

    const UniqueId sector = services.sectorData.GetSectorData(SectorDataManager::SECTOR_NAME, 0u)->GetId();
    services.sectorData.DeleteSectorData(SectorDataManager::SECTOR_NAME, 0);
    InstanceGroupManager::Get()->DeleteGroup(0);
    InstanceGroupManager::Get()->CreateNewGroup()->SetName("Replaced by the load");

    GAME::Test::EventRecorder events({"GameEvent_LevelLoad", "GameEvent_WrlLoad"});
    World loaded;
    ASSERT_TRUE(loaded.Load("maps/keep.wrl", true));
    EXPECT_EQ(events.received, (std::vector<std::string>{"GameEvent_LevelLoad", "GameEvent_WrlLoad"}));
    ASSERT_EQ(loaded.GetNumQuestFiles(), 2u);
    EXPECT_EQ(loaded.GetQuestFile(1), "Quests/Crypt.qst");
    ASSERT_EQ(loaded.GetNumRegions(), 2);
    World reference;
    FillWorld(reference);
    for (int i = 0; i < 2; ++i) {
        const Region* r = loaded.GetRegion(i);
        const Region* e = reference.GetRegion(i);
        EXPECT_EQ(r->GetName(), e->GetName());
        EXPECT_EQ(r->GetBoundingBox(), e->GetBoundingBox());
        EXPECT_EQ(r->GetOffsetFromWorld(), e->GetOffsetFromWorld());
        EXPECT_EQ(r->GetId(), e->GetId());
        EXPECT_EQ(r->GetZoneRecord(), e->GetZoneRecord());
        EXPECT_EQ(r->GetLevelOffset(), 0u);
        // Source worlds never build connectivity, even when asked.
        EXPECT_TRUE(r->GetConnectedRegions().empty());
    }
    EXPECT_EQ(loaded.GetRegion(0)->GetZoneRecord(), "records/zones/crypt.dbr");
    EXPECT_EQ(loaded.GetRegion(1)->GetIconValue(), 77u);
    EXPECT_EQ(loaded.GetRegion(1)->GetIconHeight(), 3u);
    EXPECT_EQ(loaded.GetRegion(1)->GetIconData(), (std::vector<uint8_t>{'T', 'G', 'A'}));
    EXPECT_TRUE(loaded.GetRegion(0)->GetIconData().empty());
    EXPECT_TRUE(services.sectorData.IsValidSectorValue(SectorDataManager::SECTOR_NAME, sector));
    ASSERT_EQ(InstanceGroupManager::Get()->GetNumGroups(), 1);
    EXPECT_EQ(InstanceGroupManager::Get()->GetGroup(0)->GetName(), "Guards");
    // Reading writes nothing outside the engine's paths.
    EXPECT_FALSE(std::filesystem::exists("c:/LevelCompilation.txt"));
    EXPECT_FALSE(services.Bytes("maps/keep.wrl").empty());
}

TEST(WorldFileTest, OlderLayouts)
{
    // Versions 1 to 4 hold the regions directly, offsets as floats truncated toward zero;
    // version 3 adds a word and a string after each offset, versions 2 to 4 a string up front.
    for (int version : {1, 2, 3, 4}) {
        BinaryWriter w(64);
        w.WriteBytes("WRL", 3);
        w.WriteInt8(static_cast<int8_t>(version));
        if (version >= 2)
            w.WriteString("ignored");
        w.WriteUInt32(2);
        for (int i = 0; i < 2; ++i) {
            w.WriteString(i ? "levels/b.lvl" : "levels/a.lvl");
            w.WriteVec3(Vec3(1, 2, 3));
            w.WriteVec3(Vec3(4, 5, 6));
            w.WriteFloat(2.9f);
            w.WriteFloat(-2.9f);
            w.WriteFloat(i ? 100.5f : 0.0f);
            if (version == 3) {
                w.WriteUInt32(0xDEADBEEF);
                w.WriteString("skipped");
            }
        }
        WorldFile file;
        ASSERT_TRUE(ReadWorldFile(Bytes(w), file)) << version;
        ASSERT_EQ(file.GetNumRegions(), 2u);
        EXPECT_EQ(file.GetRegion(1).name, "levels/b.lvl");
        EXPECT_EQ(file.GetRegion(1).box, ABBox(Vec3(1, 2, 3), Vec3(4, 5, 6)));
        EXPECT_EQ(file.GetRegion(1).offset, IntVec3(2, -2, 100));
        EXPECT_TRUE(file.GetRegion(1).id.IsInvalid());
        EXPECT_EQ(file.GetNumQuestFiles(), 0u);
        EXPECT_EQ(file.GetInstanceData(), nullptr);
    }

    // Version 5 regions have no zone record; unknown chunks are passed over.
    BinaryWriter w(64);
    w.WriteBytes("WRL", 3);
    w.WriteInt8(5);
    w.BeginBlock(99);
    w.WriteUInt32(123);
    w.EndBlock();
    w.BeginBlock(WorldFile::CHUNK_REGIONS);
    w.WriteUInt32(1);
    w.WriteString("levels/a.lvl");
    w.WriteVec3(Vec3());
    w.WriteVec3(Vec3(8, 8, 8));
    w.WriteInt32(1);
    w.WriteInt32(2);
    w.WriteInt32(3);
    RegionId(9, 8, 7, 6).Write(w);
    w.EndBlock();
    WorldFile file;
    ASSERT_TRUE(ReadWorldFile(Bytes(w), file));
    ASSERT_EQ(file.GetNumRegions(), 1u);
    EXPECT_EQ(file.GetRegion(0).id, RegionId(9, 8, 7, 6));
    EXPECT_TRUE(file.GetRegion(0).zoneRecord.empty());

    // Loaded into a world, regions without ids get unique ones.
    GAME::Test::WorldTestServices services;
    BinaryWriter old(64);
    old.WriteBytes("WRL\x01", 4);
    old.WriteUInt32(1);
    old.WriteString("levels/a.lvl");
    for (int i = 0; i < 9; ++i)
        old.WriteFloat(1.0f);
    ASSERT_TRUE(services.Put("old.wrl", Bytes(old)));
    World world;
    ASSERT_TRUE(world.Load("old.wrl", false));
    ASSERT_EQ(world.GetNumRegions(), 1);
    EXPECT_FALSE(world.GetRegion(0)->GetId().IsInvalid());
}

TEST(WorldFileTest, CorruptFilesAreRefused)
{
    GAME::Test::WorldTestServices services;
    InstanceGroupManager::Get()->CreateNewGroup();
    World world;
    FillWorld(world);
    world.SetFileName("good.wrl");
    ASSERT_TRUE(world.Save());
    const std::string text = services.Bytes("good.wrl");
    const std::vector<uint8_t> good(text.begin(), text.end());

    {
        WorldFile file;
        EXPECT_FALSE(ReadWorldFile({'W', 'R', 'X', 6}, file));
        EXPECT_TRUE(ReadWorldFile({'W', 'R', 'L', 6}, file)); // no chunks at all
    }
    // Every truncation that cuts into a chunk.
    const auto chunks = Chunks(good);
    ASSERT_EQ(chunks.size(), 4u);
    for (size_t size = 5; size < good.size(); ++size) {
        if (std::any_of(chunks.begin(), chunks.end(), [&](const auto& c) { return c.second == size; }))
            continue;
        GAME::Test::LogCapture log;
        WorldFile file;
        EXPECT_FALSE(ReadWorldFile(std::vector<uint8_t>(good.begin(), good.begin() + size), file)) << size;
        EXPECT_GT(log.Count(), 0u) << size;
    }
    // A quest file count, a region count and a chunk size past the data.
    auto refused = [&](size_t at, uint8_t value) {
        std::vector<uint8_t> bad = good;
        bad[at] = value;
        GAME::Test::LogCapture log;
        WorldFile file;
        return !ReadWorldFile(bad, file) && log.Count() > 0;
    };
    EXPECT_TRUE(refused(4 + 8 + 3, 0x40));
    const size_t quests = 8 + 4 + 2 * 4 + 16 + 16;
    EXPECT_TRUE(refused(4 + quests + 8 + 3, 0x40));
    EXPECT_TRUE(refused(4 + 4 + 3, 0x40));

    // A world file whose icon block is short loads nothing.
    std::vector<uint8_t> icons = good;
    ASSERT_EQ(chunks[2].first, WorldFile::CHUNK_REGION_ICONS);
    icons[chunks[2].second + 8 + 16 + 12] = 0x30; // region 1's icon data size
    ASSERT_TRUE(services.Put("bad.wrl", icons));
    GAME::Test::LogCapture log;
    World loaded;
    EXPECT_FALSE(loaded.Load("bad.wrl", false));
    EXPECT_EQ(loaded.GetNumRegions(), 0);
    EXPECT_EQ(loaded.GetNumQuestFiles(), 0u);
    EXPECT_GT(log.Count(), 0u);
}

TEST(WorldFileTest, SaveReportsAWorldFileThatCannotBeWritten)
{
    GAME::Test::WorldTestServices services;
    ASSERT_TRUE(services.dir.Write("taken.wrl/keep", "x"));
    World world;
    FillWorld(world);
    world.SetFileName("taken.wrl");
    GAME::Test::LogCapture log;
    EXPECT_FALSE(world.Save());
    EXPECT_TRUE(log.Contains("Could not write taken.wrl", 2));
    EXPECT_TRUE(services.Bytes("taken.sd").empty());

    // Saved over a good world while the disk fills, at any point of either file, the world file
    // and its sector data stay whole (each the old or the new one), nothing else is left in the
    // folder, and a line names the file and says why.
    // More sector data than world, so that the world file can fit where its sector data does not.
    for (int i = 0; i < 8; ++i)
        services.sectorData.NewSectorData(SectorDataManager::SECTOR_AMBIENT);
    world.SetFileName("worlds/good.wrl");
    ASSERT_TRUE(world.Save());
    const std::string goodWorld = services.Bytes("worlds/good.wrl");
    const std::string goodSectors = services.Bytes("worlds/good.sd");
    ASSERT_GT(goodSectors.size(), goodWorld.size());
    const std::vector<std::string> names = {"good.sd", "good.wrl"};
    ASSERT_EQ(GAME::Test::FolderNames(services.dir.File("worlds")), names);
    world.SetQuestFile(1, "Quests/Tombs.qst");
    const int64_t worldSize = static_cast<int64_t>(goodWorld.size());
    for (const int64_t limit : {int64_t{0}, int64_t{50}, worldSize - 1, worldSize}) {
        log.Clear();
        {
            GAME::Test::FullDisk disk(limit);
            EXPECT_FALSE(world.Save()) << limit;
        }
        const std::string failed = limit < worldSize ? "good.wrl" : "good.sd";
        EXPECT_TRUE(log.Contains(failed + " failed (No space left on device)")) << limit;
        EXPECT_EQ(services.Bytes("worlds/good.sd"), goodSectors) << limit;
        if (limit < worldSize)
            EXPECT_EQ(services.Bytes("worlds/good.wrl"), goodWorld) << limit;
        else // the world file fitted (the changed quest file makes it as long)
            EXPECT_NE(services.Bytes("worlds/good.wrl").find("Tombs"), std::string::npos);
        EXPECT_EQ(GAME::Test::FolderNames(services.dir.File("worlds")), names) << limit;
    }
}

} // namespace
} // namespace GAME
