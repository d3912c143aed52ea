// Shared by the streaming tests and their thread soak: the engine's part (file system over a
// temporary folder, a frame counter the test advances, a save path for fog files, the sector data
// manager), compiled maps of terrain regions written with the library's own writers, portal pairs
// between regions, and box-shaped views. Header-only: the threads executable has no other test
// sources.
#pragma once

#include "WorldFixtures.h"
#include "core/Frustum.h"
#include "core/ObjectManager.h"
#include "core/UniqueId.h"
#include "core/UniqueIdMap.h"
#include "core/WorldFrustum.h"
#include "data/BinaryWriter.h"
#include "data/EngineDataServices.h"
#include "data/FileSystem.h"
#include "datakit/MapWriter.h"
#include "world/Entity.h"
#include "world/InstanceGroupManager.h"
#include "world/Level.h"
#include "world/MapChunkCallback.h"
#include "world/Portal.h"
#include "world/Region.h"
#include "world/SectorDataManager.h"
#include "world/World.h"
#include "world/WorldServices.h"

#include <atomic>
#include <climits>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace GAME::Test {

// The world tests' services with a frame counter the test advances, statistics lines taken under
// a lock (loading threads add them), a save path for fog files, client and server switches and the
// entity list and the game's network controller of a server the test runs.
class StreamingServices : public WorldTestServices
{
public:
    unsigned int GetFrameCount() override { return frame.load(); }
    NetworkEntityList* GetNetworkEntityList() override { return entityList; }
    NetworkControllerBase* GetNetworkController() override { return controller; }
    void AddStatisticText(const char* text) override
    {
        std::lock_guard<std::mutex> lock(statsLock);
        WorldTestServices::AddStatisticText(text);
    }
    bool IsNetworkClient() override { return client; }
    bool IsNetworkServer() override { return server; }
    std::string GetSavePath() override { return dir.Path() + "/save/"; }

    std::atomic<unsigned> frame{1};
    std::mutex statsLock;
    bool client = false;
    bool server = false;
    NetworkEntityList* entityList = nullptr;
    NetworkControllerBase* controller = nullptr;
};

// A region of the test maps: 64 x 64 units of flat terrain (box x and z 0 to 64, y -30 to 30),
// placed at an offset, with entities of the given records at region positions.
struct StreamingRegion
{
    IntVec3 offset;
    std::vector<std::pair<std::string, Vec3>> entities;
    bool truncated = false; // its level cut off halfway: a level that cannot load
};

inline constexpr float kRegionSize = 64.0f;

// A level file image of such a region, made by the level's own writer.
inline std::vector<uint8_t> TerrainLevelImage(const std::vector<std::pair<std::string, Vec3>>& entities)
{
    Level level(nullptr);
    level.NewTerrain(static_cast<unsigned>(kRegionSize) + 1, static_cast<unsigned>(kRegionSize) + 1);
    for (const auto& [record, position] : entities) {
        Object* object = ObjectManager::Get()->CreateObjectFromFile(record, 0, true);
        if (object && Entity::IsEntity(object))
            level.AddEntity(static_cast<Entity*>(object), Coords::Translation(position));
    }
    BinaryWriter writer(4096);
    level.SaveToMemory(writer, false);
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

// A compiled map of the regions ("levels/r<i>.lvl"), written with the data kit's map writer.
inline std::vector<uint8_t> StreamingMapImage(const std::vector<StreamingRegion>& regions)
{
    DataKit::MapWriter map(4);
    for (size_t i = 0; i < regions.size(); ++i) {
        DataKit::MapWriter::Region& r = map.AddRegion("levels/r" + std::to_string(i) + ".lvl");
        const int32_t half = static_cast<int32_t>(kRegionSize / 2);
        r.center[0] = r.center[2] = half;
        r.extents[0] = r.extents[2] = half;
        r.extents[1] = 30;
        r.offset[0] = regions[i].offset.x;
        r.offset[1] = regions[i].offset.y;
        r.offset[2] = regions[i].offset.z;
        r.id[0] = 0x5000u + static_cast<uint32_t>(i);
        r.id[3] = 0xA11u;
        r.level = TerrainLevelImage(regions[i].entities);
        if (regions[i].truncated)
            r.level.resize(r.level.size() / 2);
    }
    // Levels made on the way leave their entities queued.
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
    return map.Build();
}

// A square portal, 20 x 20 units, standing in the plane x = at.x of the region, facing +x or -x.
inline Portal* MakePortal(Region* region, const UniqueId& id, const Vec3& at, bool facePlusX, Region* to,
                          const UniqueId& toPortal)
{
    Portal* portal = region->CreatePortal();
    portal->SetId(id);
    const Vec3 a(0.0f, -10.0f, -10.0f), b(0.0f, 10.0f, -10.0f), c(0.0f, 10.0f, 10.0f), d(0.0f, -10.0f, 10.0f);
    if (facePlusX)
        portal->SetTriangles({Triangle(a, b, c), Triangle(a, c, d)});
    else
        portal->SetTriangles({Triangle(a, c, b), Triangle(a, d, c)});
    portal->SetCoords(Coords::Translation(at));
    portal->SetConnectedRegionId(to->GetId());
    portal->SetConnectedPortalId(toPortal);
    return portal;
}

// A pair of portals: leaving `from` through x = fromX (moving +x) enters `to` at x = toX.
inline void JoinRegions(Region* from, float fromX, Region* to, float toX)
{
    const UniqueId p = UniqueId::CreateUnique(), q = UniqueId::CreateUnique();
    const float mid = kRegionSize / 2;
    MakePortal(from, p, Vec3(fromX, 0.0f, mid), false, to, q);
    MakePortal(to, q, Vec3(toX, 0.0f, mid), true, from, p);
}

// A view shaped like a box (six inward planes), in a region.
inline WorldFrustum BoxView(Region* region, const Vec3& center, const Vec3& extents)
{
    return WorldFrustum(region, Region::GetBoxFrustum(ABBox(center, extents)));
}

// One engine frame of the world: the frame count moves on, regions complete, the views walk.
inline void WorldFrame(StreamingServices& services, World& world, const std::vector<WorldFrustum>& views)
{
    services.frame.fetch_add(1);
    world.PostLoadPass();
    world.Update(views);
}

} // namespace GAME::Test
