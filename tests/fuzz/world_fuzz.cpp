// Reads any bytes as a source world file, directly and through World::Load: no crash, no hang,
// and a world that loads saves and loads again to the same regions.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "common/WorldFuzzServices.h"
#include "core/Log.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "world/InstanceGroupManager.h"
#include "world/Region.h"
#include "world/World.h"
#include "world/WorldFile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    {
        GAME::BinaryReader reader(data, static_cast<unsigned>(size));
        GAME::WorldFile file;
        file.Read(reader);
    }
    {
        FuzzWorld::Services services;
        services.source->Put("fuzz.wrl", std::vector<uint8_t>(data, data + size));
        GAME::World world;
        if (world.Load("fuzz.wrl", false)) {
            FuzzAccepted();
            world.SetFileName("again.wrl");
            if (!world.Save())
                std::abort();
            GAME::World again;
            if (!again.Load("again.wrl", false) || again.GetNumRegions() != world.GetNumRegions() ||
                again.GetNumQuestFiles() != world.GetNumQuestFiles())
                std::abort();
            for (int i = 0; i < world.GetNumRegions(); ++i)
                if (again.GetRegion(i)->GetName() != world.GetRegion(i)->GetName() ||
                    again.GetRegion(i)->GetId() != world.GetRegion(i)->GetId() ||
                    again.GetRegion(i)->GetIconData() != world.GetRegion(i)->GetIconData())
                    std::abort();
        }
    }
    GAME::InstanceGroupManager::Destroy();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    {
        FuzzWorld::Services services;
        GAME::InstanceGroupManager::Get()->CreateNewGroup()->SetName("Guards");
        GAME::World world;
        world.SetNumQuestFiles(1);
        world.SetQuestFile(0, "quests/main.qst");
        world.AddRegion("levels/a.lvl", GAME::IntVec3(0, 0, 0),
                        GAME::ABBox(GAME::Vec3(), GAME::Vec3(20, 20, 20)), GAME::RegionId(1, 2, 3, 4));
        const int b = world.AddRegion("levels/b.lvl", GAME::IntVec3(40, 0, 0),
                                      GAME::ABBox(GAME::Vec3(), GAME::Vec3(20, 20, 20)), GAME::RegionId());
        world.GetRegion(b)->SetZoneRecord("records/zones/woods.dbr");
        world.GetRegion(b)->SetIcon(1, 2, 2, {'T', 'G', 'A', 0});
        world.SetFileName("seed.wrl");
        world.Save();
        sink.Add("world_v6", services.source->Get("seed.wrl"));
        GAME::InstanceGroupManager::Destroy();
    }
    for (int version : {1, 3, 4}) {
        GAME::BinaryWriter w(64);
        w.WriteBytes("WRL", 3);
        w.WriteInt8(static_cast<int8_t>(version));
        if (version >= 2)
            w.WriteString("old");
        w.WriteUInt32(1);
        w.WriteString("levels/a.lvl");
        w.WriteVec3(GAME::Vec3(1, 2, 3));
        w.WriteVec3(GAME::Vec3(4, 5, 6));
        w.WriteVec3(GAME::Vec3(2.9f, -2.9f, 0));
        if (version == 3) {
            w.WriteUInt32(7);
            w.WriteString("skipped");
        }
        sink.Add("world_v" + std::to_string(version),
                 std::vector<uint8_t>(w.GetBuffer(), w.GetBuffer() + w.GetSize()));
    }
}
