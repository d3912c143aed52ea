// Loads any bytes as a compiled map through the world, with a callback for one chunk id: no crash,
// no hang, and a map that loads keeps every level and minimap range inside the file.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "common/WorldFuzzServices.h"
#include "core/Log.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/ChunkedBinaryWriter.h"
#include "datakit/MapWriter.h"
#include "world/InstanceGroupManager.h"
#include "world/Region.h"
#include "world/World.h"

#include <cstdlib>

namespace {

// Reads a count and that many words, as a host's chunk might.
class WordsCallback : public GAME::MapChunkCallback
{
public:
    WordsCallback() : MapChunkCallback(0x40) {}
    void ReadChunk(GAME::BinaryReader& reader) override
    {
        const uint32_t count = reader.ReadUInt32();
        for (uint32_t i = 0; i < count && !reader.Failed(); ++i)
            reader.ReadUInt32();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    {
        FuzzWorld::Services services;
        services.callbacks.Install(new WordsCallback);
        services.source->Put("fuzz.map", std::vector<uint8_t>(data, data + size));
        GAME::World world;
        if (world.Load("fuzz.map", true)) {
            FuzzAccepted();
            for (int i = 0; i < world.GetNumRegions(); ++i) {
                const GAME::Region* region = world.GetRegion(i);
                if (uint64_t(region->GetLevelOffset()) + region->GetLevelSize() > size ||
                    uint64_t(region->GetMinimapOffset()) + region->GetMinimapSize() > size)
                    std::abort();
            }
            for (unsigned i = 0; i < world.GetNumPlayerSpawnPoints(); ++i)
                if (!world.GetPlayerSpawnPoint(i).GetRegion())
                    std::abort();
        }
    }
    GAME::InstanceGroupManager::Destroy();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    for (int8_t version : {4, 5, 6}) {
        DataKit::MapWriter map(version);
        for (int i = 0; i < 2; ++i) {
            DataKit::MapWriter::Region& region = map.AddRegion(i ? "levels/b.lvl" : "levels/a.lvl");
            region.extents[0] = region.extents[1] = region.extents[2] = 20;
            region.offset[0] = 40 * i;
            region.id[0] = static_cast<uint32_t>(i + 1);
            region.zoneRecord = "records/zones/woods.dbr";
            region.level = {'L', 'V', 'L', 13, 0, 0, 0, 0};
            region.minimap = {1, 2, 3, 4};
        }
        map.AddSpawnPoint(1, 1, 2, 3);
        map.AddQuestFile("quests/main.qst");
        GAME::SectorDataManager sectors;
        for (unsigned kind = 0; kind < GAME::SectorDataManager::NUM_SECTOR_KINDS; ++kind)
            sectors.NewSectorData(kind);
        GAME::BinaryWriter sd(256);
        sectors.Save(sd);
        map.SetSectorData(std::vector<uint8_t>(sd.GetBuffer(), sd.GetBuffer() + sd.GetSize()));
        GAME::InstanceGroupManager::Get()->CreateNewGroup()->SetName("Guards");
        GAME::ChunkedBinaryWriter groups(256);
        GAME::InstanceGroupManager::Get()->Save(groups);
        GAME::InstanceGroupManager::Destroy();
        map.SetInstanceGroups(groups.GetBytes());
        map.AddChunk(0x40, {2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0});
        map.AddChunk(0x16, {0});
        sink.Add("map_v" + std::to_string(version), map.Build());
        map.SetChunkOrder({0x40, 0x19, 0x10, 0x01});
        sink.Add("map_reordered_v" + std::to_string(version), map.Build());
    }
}
