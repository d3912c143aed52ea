// Reads any bytes as sector data: no crash, no hang, and what loads saves and loads again to the
// same records.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Log.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "world/NameSectorData.h"
#include "world/SectorDataManager.h"

#include <cstdlib>

namespace {

std::vector<uint8_t> Save(const GAME::SectorDataManager& manager)
{
    GAME::BinaryWriter writer(256);
    manager.Save(writer);
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    GAME::SectorDataManager manager;
    GAME::BinaryReader reader(data, static_cast<unsigned>(size));
    if (!manager.Load(reader))
        return 0;
    FuzzAccepted();
    const std::vector<uint8_t> saved = Save(manager);
    GAME::SectorDataManager again;
    GAME::BinaryReader second(saved.data(), static_cast<unsigned>(saved.size()));
    if (!again.Load(second) || Save(again) != saved)
        std::abort();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    GAME::SectorDataManager manager;
    for (unsigned kind = 0; kind < GAME::SectorDataManager::NUM_SECTOR_KINDS; ++kind) {
        manager.NewSectorData(kind);
        manager.NewSectorData(kind);
    }
    sink.Add("all_kinds", Save(manager));
    // Name and ambient kinds of version 1, and a file of two kinds.
    GAME::BinaryWriter w(64);
    w.WriteUInt32(1);
    w.WriteUInt32(2);
    w.WriteUInt32(1);
    w.WriteUInt32(0);
    w.WriteUInt32(1);
    w.WriteUInt32(1);
    w.WriteUInt32(1);
    w.WriteString("Hall");
    w.WriteUniqueIdReversed(GAME::UniqueId(1, 2, 3, 4));
    for (int i = 0; i < 8; ++i)
        w.WriteFloat(0.5f);
    w.WriteString("tagHall");
    w.WriteBool(true);
    sink.Add("old_name_kind", std::vector<uint8_t>(w.GetBuffer(), w.GetBuffer() + w.GetSize()));
}
