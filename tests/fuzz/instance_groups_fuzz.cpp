// Reads any bytes as an instance groups block: no crash, no hang, and what loads saves and loads
// again to the same block.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Log.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/ChunkedBinaryWriter.h"
#include "world/InstanceGroupManager.h"

#include <cstdlib>

namespace {

std::vector<uint8_t> Save()
{
    GAME::ChunkedBinaryWriter writer(4096);
    GAME::InstanceGroupManager::Get()->Save(writer);
    return writer.GetBytes();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    GAME::InstanceGroupManager* manager = GAME::InstanceGroupManager::Get();
    GAME::BinaryReader reader(data, static_cast<unsigned>(size));
    if (manager->Load(reader, false)) {
        FuzzAccepted();
        const std::vector<uint8_t> saved = Save();
        GAME::BinaryReader second(saved.data(), static_cast<unsigned>(saved.size()));
        if (!manager->Load(second, false) || Save() != saved)
            std::abort();
    }
    GAME::InstanceGroupManager::Destroy();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    GAME::InstanceGroupManager* manager = GAME::InstanceGroupManager::Get();
    GAME::InstanceGroup* a = manager->CreateNewGroup();
    a->SetName("Guards");
    GAME::InstanceGroup* b = manager->CreateNewGroup();
    a->AddChild(b);
    sink.Add("groups", Save());
    GAME::InstanceGroupManager::Destroy();
    // A version 1 group with one member.
    GAME::BinaryWriter w(64);
    w.WriteUInt32(0);
    w.WriteUInt32(1);
    w.WriteUInt32(1);
    w.WriteString("Old");
    w.WriteString("Loot");
    w.WriteUInt32(1);
    w.WriteUniqueId(GAME::UniqueId(1, 2, 3, 4));
    w.WriteUniqueId(GAME::UniqueId(5, 6, 7, 8));
    w.WriteVec3(GAME::Vec3(1, 2, 3));
    sink.Add("version1", std::vector<uint8_t>(w.GetBuffer(), w.GetBuffer() + w.GetSize()));
}
