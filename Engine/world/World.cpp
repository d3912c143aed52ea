#include "world/World.h"

#include "core/EventManager.h"
#include "core/Frustum.h"
#include "core/GameEvent.h"
#include "core/Intersect.h"
#include "core/Log.h"
#include "core/MathUtil.h"
#include "core/OBBox.h"
#include "core/ObjectManager.h"
#include "core/Sphere.h"
#include "core/Thread.h"
#include "core/WorldFrustum.h"
#include "core/WorldRay.h"
#include "core/WorldVec3.h"
#include "data/BinaryReader.h"
#include "data/ChunkedBinaryWriter.h"
#include "data/EngineDataServices.h"
#include "data/FileSystem.h"
#include "navigation/CollisionContact.h"
#include "navigation/FogOfWar.h"
#include "navigation/PathFinder.h"
#include "navigation/PhysicsGrassWind.h"
#include "network/NetworkControllerBase.h"
#include "platform/SystemInfo.h"
#include "terrain/GridRegion.h"
#include "terrain/TerrainBase.h"
#include "terrain/Water.h"
#include "world/Entity.h"
#include "world/InstanceGroupManager.h"
#include "world/Level.h"
#include "world/MapChunkCallback.h"
#include "world/Portal.h"
#include "world/Region.h"
#include "world/SectorDataManager.h"
#include "world/WorldFile.h"
#include "world/WorldServices.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

namespace GAME {

namespace {

std::atomic<World*> sCurrentWorld{nullptr};

// |p - centre| < half-extent on every axis: a point on a face belongs to no region, so two
// touching regions never both claim it.
bool StrictlyContains(const ABBox& box, const Vec3& p)
{
    const Vec3 r = p - box.center;
    return std::fabs(r.x) < box.extents.x && std::fabs(r.y) < box.extents.y && std::fabs(r.z) < box.extents.z;
}

// The box of a region moved into another region's space.
ABBox MovedBox(const Region* region, const Region* into)
{
    const ABBox& box = region->GetBoundingBox();
    return ABBox(box.center + Region::GetOffsetDifference(region, into), box.extents);
}

constexpr float kNoTerrainHeight = -9999999.0f;
constexpr float kPi = 3.14159265358979f;

// The unit vector, or zero for a zero vector.
Vec3 SafeUnit(const Vec3& v)
{
    const float length = v.Length();
    return length > 0.0f ? v * (1.0f / length) : Vec3();
}

// A ray of from's space moved into another region's space.
Ray MoveRay(const Ray& ray, const Region* from, const Region* to)
{
    return Ray(ray.origin + Region::GetOffsetDifference(from, to), ray.direction);
}

// Hands visit(level, ray moved into the region) the level of each region whose box the ray meets,
// until visit answers true.
template <class Visit>
void VisitLevelsOnRay(const std::list<Region*>& regions, const WorldRay& ray, Visit&& visit)
{
    Region* from = ray.GetRegion();
    if (!from)
        return;
    for (const Region* region : regions) {
        const Ray moved = MoveRay(ray.GetRegionRay(), from, region);
        if (region->GetBoundingBox().GetIntersection(moved) == gInfinity)
            continue;
        if (const Level* level = region->GetLevelPtr())
            if (visit(*level, moved))
                return;
    }
}

// Hands visit(level, region) the level of each region whose box meets the box (from's space),
// until visit answers true.
template <class Visit>
void VisitLevelsInBox(const std::list<Region*>& regions, const Region* from, const ABBox& box, Visit&& visit)
{
    for (Region* region : regions) {
        if (!ABBoxesOverlap(MovedBox(region, from), box))
            continue;
        if (Level* level = region->GetLevelPtr())
            if (visit(*level, *region))
                return;
    }
}

} // namespace

// Gives the heap pages that the world's levels freed back to the system on a thread of its own:
// the pages lie in the middle of the heap, and releasing them takes tens to hundreds of
// milliseconds. Only as the world unloads: the allocator holds each heap's lock while it walks
// that heap, so that a frame drawn meanwhile waits at its first allocation.
class World::HeapTrimmer : public Thread
{
public:
    ~HeapTrimmer() override { Wait(); }

    void Run() override
    {
        SetThreadName("Heap Trimming Thread");
        Platform::ReleaseFreeHeapMemory();
        m_busy.store(false, std::memory_order_release);
    }

    // Starts a trim unless one is under way (which gives back these pages too).
    void Request()
    {
        bool idle = false;
        if (m_busy.compare_exchange_strong(idle, true, std::memory_order_acq_rel) && !Start())
            m_busy.store(false, std::memory_order_release);
    }

private:
    std::atomic<bool> m_busy{false};
};

World::~World()
{
    World* self = this;
    sCurrentWorld.compare_exchange_strong(self, nullptr);
    Unload();
    delete m_heapTrimmer;
    m_heapTrimmer = nullptr;
}

void World::SetCurrent(World* world)
{
    sCurrentWorld.store(world);
}

World* World::GetCurrent()
{
    return sCurrentWorld.load();
}

// ---- Regions ------------------------------------------------------------------------------------

Region* World::GetRegion(int index) const
{
    if (index < 0 || index >= GetNumRegions())
        return nullptr;
    return m_regions[static_cast<size_t>(index)];
}

int World::GetRegionIndex(const Region* region) const
{
    for (size_t i = 0; i < m_regions.size(); ++i)
        if (m_regions[i] == region)
            return static_cast<int>(i);
    return -1;
}

const char* World::GetRegionName(int index) const
{
    const Region* region = GetRegion(index);
    return region ? region->GetName().c_str() : "";
}

void World::SetRegionName(int index, const char* name)
{
    if (Region* region = GetRegion(index))
        region->SetName(name ? name : "");
}

Level* World::GetRegionLevel(int index) const
{
    const Region* region = GetRegion(index);
    return region ? region->GetLevel(false) : nullptr;
}

Level* World::GuaranteedGetRegionLevel(int index) const
{
    const Region* region = GetRegion(index);
    return region ? region->GuaranteedGetLevel(false) : nullptr;
}

int World::GetLevelRegion(const Level* level) const
{
    if (!level || !level->GetRegion())
        return -1;
    return GetRegionIndex(level->GetRegion());
}

int World::AddRegion(const char* name, const IntVec3& offset, const ABBox& box, const RegionId& id)
{
    const int index = GetNumRegions();
    m_regions.push_back(new Region(this, index, name ? name : "", box, offset, id, 0, 0));
    return index;
}

int World::AddRegion(const char* name, const IntVec3& offset)
{
    const int index = AddRegion(name, offset, ABBox(), RegionId());
    if (!m_regions.back()->LoadLevel(false)) {
        LogPrintf(1, "Couldn't load %s\n", name ? name : "");
        RemoveRegion(index);
        return -1;
    }
    return index;
}

int World::AddRegion(Level* level, const IntVec3& offset)
{
    const ABBox box = level ? level->GetBoundingBox() : ABBox(Vec3(), Vec3(100.0f, 100.0f, 100.0f));
    const int index = AddRegion("Unnamed", offset, box, RegionId());
    m_regions.back()->SetLevel(level);
    return index;
}

void World::RemoveRegion(int index)
{
    Region* region = GetRegion(index);
    if (!region)
        return;
    region->WaitForLoadingToFinish();
    SetRegionLoaded(region, false);
    for (Region* other : m_regions)
        if (other)
            other->RemoveConnectedRegion(region);
    m_regions.erase(m_regions.begin() + index);
    delete region;
    for (size_t i = 0; i < m_regions.size(); ++i)
        m_regions[i]->SetRegionIndex(static_cast<int>(i));
}

void World::UnloadLevel(int index, bool saveState)
{
    if (Region* region = GetRegion(index))
        region->UnloadLevel(saveState);
}

void World::UnloadExtraRegions()
{
    ForEachRegion(&Region::PrepareUnload);
}

void World::UpdateRegionBoundingBox(Level* level)
{
    if (!level)
        return;
    for (Region* region : m_regions) {
        if (region && region->GetLevelPtr() == level) {
            region->UpdateBoundingBox();
            return;
        }
    }
}

void World::SetRegionLoaded(const Region* region, bool loaded)
{
    if (!region)
        return;
    auto it = std::find(m_loadedRegions.begin(), m_loadedRegions.end(), region);
    if (loaded && it == m_loadedRegions.end())
        m_loadedRegions.push_back(const_cast<Region*>(region));
    else if (!loaded && it != m_loadedRegions.end())
        m_loadedRegions.erase(it);
}

bool World::IsRegionLoaded(const Region* region) const
{
    return std::find(m_loadedRegions.begin(), m_loadedRegions.end(), region) != m_loadedRegions.end();
}

Region* World::GetRegionById(const RegionId& id, bool searchLoadedFirst) const
{
    if (id.IsInvalid())
        return nullptr;
    if (searchLoadedFirst)
        for (Region* region : m_loadedRegions)
            if (region->GetId() == id)
                return region;
    for (Region* region : m_regions)
        if (region && region->GetId() == id)
            return region;
    return nullptr;
}

void World::BuildConnectivity()
{
    for (Region* region : m_regions)
        if (region)
            region->BuildRegionConnectivity(m_regions);
    m_connectivityBuilt = true;
}

void World::DeleteRegions()
{
    // Every thread first: a loading thread may still read the map file or a neighbour's id.
    for (Region* region : m_regions)
        region->WaitForLoadingToFinish();
    // Group centres point at regions; they are found again from the members once levels load.
    if (InstanceGroupManager::HasInstantiated())
        InstanceGroupManager::Get()->ForgetCenters();
    for (Region* region : m_regions)
        region->DestroyLevelEntities();
    // Deleted from a copy, so that regions leaving the loaded list find the vector intact.
    std::vector<Region*> regions;
    regions.swap(m_regions);
    for (Region* region : regions)
        delete region;
    m_loadedRegions.clear();
}

void World::ClearSectorData()
{
    // Another world's sectors must not stay behind for the next one.
    WorldServices* services = WorldServices::Get();
    if (SectorDataManager* sectorData = services ? services->GetSectorDataManager() : nullptr)
        sectorData->Clear();
    m_ownsSectorData = false;
}

void World::Unload()
{
    const bool hadRegions = !m_regions.empty();
    DeleteRegions();
    if (hadRegions) {
        if (!m_heapTrimmer)
            m_heapTrimmer = new HeapTrimmer();
        m_heapTrimmer->Request();
        ++m_heapReleasesAsked;
    }
    m_questFiles.clear();
    m_spawnPoints.clear();
    m_regionsLoaded = false;
    if (m_ownsSectorData)
        ClearSectorData();
    CloseMapFile();
}

// ---- Per frame ----------------------------------------------------------------------------------

void World::PostLoadPass()
{
    for (size_t i = 0; i < m_regions.size(); ++i)
        m_regions[i]->PostLoadLevel(true);
}

void World::Update(const std::vector<WorldFrustum>& frusta)
{
    m_timer.Update(false);
    m_elapsed = m_timer.GetElapsedTime();
    const unsigned count = static_cast<unsigned>(frusta.size());

    if (m_debugging) {
        char line[512];
        if (!frusta.empty() && frusta[0].GetRegion()) {
            const Region* current = frusta[0].GetRegion();
            std::snprintf(line, sizeof(line), "^bCurrent region %s", current->GetName().c_str());
            EngineDataServices::StatisticText(line);
            if (m_showConnections) {
                for (const Region* connected : current->GetConnectedRegions()) {
                    std::snprintf(line, sizeof(line), " -> %s", connected->GetName().c_str());
                    EngineDataServices::StatisticText(line);
                }
            }
        }
        for (const Region* region : m_loadedRegions) {
            const Level* level = region->GetLevel(true);
            if (!level)
                continue;
            std::snprintf(line, sizeof(line), level->HasLoadedRenderData() ? ": %s (%i)" : "^k: %s (%i)",
                          region->GetName().c_str(), static_cast<int>(region->GetFramesNotUpdated()));
            EngineDataServices::StatisticText(line);
        }
    }

    // The regions only count their frames without use here; the unloads are spread below. A
    // server's clients decide when their views leave regions: there they are spread further.
    if (!m_connectivityBuilt) {
        for (size_t i = 0; i < m_regions.size(); ++i) {
            m_regions[i]->Update(frusta.data(), count, m_elapsed, false, nullptr, 0);
            m_regions[i]->UpdateUsage(false);
        }
    } else {
        for (const WorldFrustum& frustum : frusta)
            if (Region* region = frustum.GetRegion())
                region->Update(frusta.data(), count, m_elapsed, true, nullptr, 0);
        for (size_t i = 0; i < m_regions.size(); ++i)
            m_regions[i]->UpdateUsage(false);
    }
    UnloadOneOverdueLevel(WorldServices::NetworkServer() ? serverUnloadSpacingFrames : 1);
}

bool World::UnloadOneOverdueLevel(unsigned spacingFrames)
{
    if (m_framesSinceUnload < spacingFrames)
        ++m_framesSinceUnload;
    if (m_framesSinceUnload < spacingFrames)
        return false;
    // The longest overdue first, so that none waits behind regions that keep coming due.
    Region* oldest = nullptr;
    unsigned most = 0;
    for (Region* region : m_regions) {
        const unsigned overdue = region->GetFramesOverdue();
        if (overdue > most) {
            most = overdue;
            oldest = region;
        }
    }
    if (!oldest || !oldest->UnloadIfOverdue())
        return false;
    m_framesSinceUnload = 0;
    return true;
}

void World::ForEachRegion(void (Region::*operation)())
{
    for (Region* region : m_regions)
        (region->*operation)();
}

void World::PreDeviceReset()
{
    // The engine has told the graphics engine's shared resources already.
    ForEachRegion(&Region::PreDeviceReset);
}

void World::PostDeviceReset()
{
    ForEachRegion(&Region::PostDeviceReset);
}

void World::ReloadGenerationDependentData()
{
    ForEachRegion(&Region::ReloadGenerationDependentData);
}

void World::ReleaseMinimapImages()
{
    ForEachRegion(&Region::ReleaseMinimapImage);
}

void World::ValidateSectorLayers()
{
    for (Region* region : m_regions)
        if (region->IsLevelLoaded())
            region->GetLevelPtr()->GetSectorLayers().ValidateMapping();
}

// ---- Entities -----------------------------------------------------------------------------------

bool World::AddEntity(Entity* entity, const WorldCoords& coords, bool quiet)
{
    if (!entity || !coords.GetRegion() || entity->GetRegion())
        return false;
    return coords.GetRegion()->AddEntity(entity, coords, quiet);
}

void World::RemoveEntity(Entity* entity)
{
    if (!entity)
        return;
    WorldServices::RemoveEntityFromAllClients(entity);
    if (Region* region = entity->GetRegion())
        region->RemoveEntity(entity);
}

void World::SetCoords(Entity* entity, const WorldCoords& coords)
{
    if (!entity)
        return;
    Region* from = entity->GetRegion();
    Region* to = coords.GetRegion();
    if (!from || !to)
        return;
    const bool deleteOnUnloaded = entity->DeleteOnEnteringUnloadedLevel();
    // A server loads no level on its main thread for a move (a client's character walking into
    // regions no view has brought in would stall a frame at every border): the level comes in on
    // the region's loading thread, and the entity stays where it is until a later move finds it in.
    // A level that cannot load refuses the move: the game hears that the region did not take the
    // entity, which stays where it was.
    if (!deleteOnUnloaded && to != from && WorldServices::NetworkServer() && !to->RequestLevelForMove()) {
        if (to->IsLevelBroken())
            if (NetworkControllerBase* controller = WorldServices::NetworkController())
                controller->OnEntityAdded(entity, false);
        return;
    }
    // Off a server the level loads here and now (on one it is in by now); a broken one refuses the
    // move, said once.
    if (!deleteOnUnloaded && !to->GetLevelForMove())
        return;
    bool wasListed = false;
    if (from != to) {
        if (Level* old = from->GetLevel()) {
            wasListed = old->IsInNetworkList(entity);
            if (wasListed)
                old->RemoveEntityFromNetworkList(entity);
            old->RemoveEntity(entity);
        }
    }
    if (!to->IsLevelLoaded() && deleteOnUnloaded) {
        LogPrintf(2, "Entity '%s' tried to move into an unloaded level.", entity->GetObjectName().c_str());
        ObjectManager::Get()->DestroyObjectEx(entity, __FILE__, __LINE__);
        return;
    }
    Level* target = to->GetLevelUnlessBroken(false);
    if (!target)
        return;
    if (from != to) {
        target->AddEntity(entity, coords.GetRegionCoords());
        if (wasListed)
            target->AddEntityToNetworkList(entity);
    } else {
        target->MoveEntity(entity, coords.GetRegionCoords());
    }
}

void World::AddEntityToNetworkList(Entity* entity)
{
    Region* region = entity ? entity->GetRegion() : nullptr;
    if (region && region->IsLevelLoaded())
        region->GetLevelPtr()->AddEntityToNetworkList(entity);
}

void World::RemoveEntityFromNetworkList(Entity* entity)
{
    Region* region = entity ? entity->GetRegion() : nullptr;
    if (!region)
        return;
    Level* level = region->GetLevel(true);
    if (!level) {
        LogPrintf(1, "Attempt to remove entity from NetworkList on NULL level (%s, id: %d).",
                  entity->GetObjectName().c_str(), static_cast<int>(entity->GetObjectId()));
        return;
    }
    level->RemoveEntityFromNetworkList(entity);
}

// ---- Fog of war ---------------------------------------------------------------------------------

bool World::IsInFog(const WorldVec3& position) const
{
    Region* region = position.GetRegion();
    return !region || region->IsInFog(position);
}

void World::AddFOWVisibility(const WorldVec3& position, int radius)
{
    Region* from = position.GetRegion();
    if (!from)
        return;
    std::vector<Region*> regions;
    GetRegionsInBox(regions, from, ABBox(position.GetRegionPosition(), Vec3(30.0f, 30.0f, 30.0f)));
    for (Region* region : regions)
        region->AddFOWVisibility(region->GetRelativePosition(position), radius);
}

void World::UnloadFOWForMapClose()
{
    for (Region* region : m_regions)
        if (!region->IsLevelLoaded())
            region->UnloadFOW();
}

// ---- Region queries -----------------------------------------------------------------------------

Region* World::GetRegionContainingPoint(const Region* from, const Vec3& p) const
{
    for (Region* region : m_regions) {
        if (region &&
            StrictlyContains(region->GetBoundingBox(), p + Region::GetOffsetDifference(from, region)))
            return region;
    }
    return nullptr;
}

Region* World::GetRegionContainingPoint(const IntVec3& p) const
{
    for (Region* region : m_regions) {
        if (!region)
            continue;
        const IntVec3& o = region->GetOffsetFromWorld();
        const Vec3 local(static_cast<float>(static_cast<int64_t>(p.x) - o.x),
                         static_cast<float>(static_cast<int64_t>(p.y) - o.y),
                         static_cast<float>(static_cast<int64_t>(p.z) - o.z));
        if (StrictlyContains(region->GetBoundingBox(), local))
            return region;
    }
    return nullptr;
}

void World::GetRegionsInFrustum(std::vector<Region*>& out, Region* from, const Frustum& frustum,
                                bool connectedOnly) const
{
    if (!from)
        return;
    for (Region* region : m_regions) {
        if (!ABBoxInFrustum(MovedBox(region, from), frustum))
            continue;
        if (!connectedOnly || AreRegionsConnected(from, region, 8))
            out.push_back(region);
    }
}

void World::GetLoadedRegionsInFrustum(std::vector<const Region*>& out, Region* from, const Frustum& frustum,
                                      bool neighboursOnly) const
{
    if (!from)
        return;
    for (const Region* region : m_loadedRegions) {
        if (neighboursOnly && !from->IsNeighbor(region))
            continue;
        if (ABBoxInFrustum(MovedBox(region, from), frustum))
            out.push_back(region);
    }
}

void World::GetRegionsInBox(std::vector<Region*>& out, Region* from, const ABBox& box) const
{
    if (!from)
        return;
    for (Region* region : m_regions)
        if (ABBoxesOverlap(MovedBox(region, from), box))
            out.push_back(region);
}

void World::GetConnectedRegionSet(const Region* region, std::set<Region*>& out, int maxDepth) const
{
    if (!region)
        return;
    out.insert(const_cast<Region*>(region));
    std::vector<const Region*> level(1, region);
    for (int depth = 0; depth <= maxDepth && !level.empty(); ++depth) {
        std::vector<const Region*> next;
        for (const Region* r : level)
            for (Region* connected : r->GetConnectedRegions())
                if (out.insert(connected).second)
                    next.push_back(connected);
        level.swap(next);
    }
}

bool World::AreRegionsConnected(const Region* a, const Region* b, int maxDepth) const
{
    if (!a || !b)
        return false;
    if (a == b)
        return true;
    std::vector<const Region*> seen(1, a);
    std::vector<const Region*> level(a->GetConnectedRegions().begin(), a->GetConnectedRegions().end());
    for (int depth = 0; depth < maxDepth && !level.empty(); ++depth) {
        if (std::find(level.begin(), level.end(), b) != level.end())
            return true;
        seen.insert(seen.end(), level.begin(), level.end());
        std::vector<const Region*> next;
        for (const Region* r : level)
            for (const Region* connected : r->GetConnectedRegions())
                if (std::find(seen.begin(), seen.end(), connected) == seen.end() &&
                    std::find(next.begin(), next.end(), connected) == next.end())
                    next.push_back(connected);
        level.swap(next);
    }
    return false;
}

// ---- Distances ----------------------------------------------------------------------------------

float World::GetDistanceSquared(const WorldVec3& a, const WorldVec3& b) const
{
    return a.GetRegion() && b.GetRegion() ? GetDirection(a, b).LengthSquared() : gInfinity;
}

float World::GetDistance(const WorldVec3& a, const WorldVec3& b) const
{
    return std::sqrt(GetDistanceSquared(a, b));
}

Vec3 World::GetDirection(const WorldVec3& from, const WorldVec3& to) const
{
    Region* a = from.GetRegion();
    Region* b = to.GetRegion();
    if (!a || !b)
        return Vec3(gInfinity, gInfinity, gInfinity);
    Vec3 best = to - from;
    if (a == b)
        return best;
    float bestLength = best.LengthSquared();
    for (int i = 0; i < a->GetNumPortals(); ++i) {
        const Portal* portal = a->GetPortal(i);
        if (portal->GetConnectedRegionId() != b->GetId())
            continue;
        Coords backToFront;
        Region* other = nullptr;
        if (!portal->GetBackToFrontCoords(backToFront, other))
            continue;
        const Vec3 through = backToFront.TransformPoint(to.GetRegionPosition()) - from.GetRegionPosition();
        const float length = through.LengthSquared();
        if (length < bestLength) {
            bestLength = length;
            best = through;
        }
    }
    return best;
}

// ---- Entity queries -----------------------------------------------------------------------------

void World::GetEntities(std::vector<Entity*>& out, EntityListType type) const
{
    for (const Region* region : m_loadedRegions)
        if (const Level* level = region->GetLevelPtr())
            level->GetEntities(out, type);
}

void World::GetEntities(std::vector<Entity*>& out, const FilterFunction<Entity>& filter,
                        EntityListType type) const
{
    for (const Region* region : m_loadedRegions)
        if (const Level* level = region->GetLevelPtr())
            level->GetEntities(out, filter, type);
}

void World::GetEntitiesInSphere(std::vector<Entity*>& out, Region* from, const Sphere& sphere, bool alternate,
                                EntityListType type) const
{
    if (!from)
        return;
    for (const Region* region : m_loadedRegions) {
        const Sphere moved(sphere.center + Region::GetOffsetDifference(from, region), sphere.radius);
        if (!ABBoxIntersectsSphere(region->GetBoundingBox(), moved))
            continue;
        if (const Level* level = region->GetLevelPtr())
            level->GetEntitiesInSphere(out, moved, alternate, type);
    }
}

void World::GetEntitiesInBox(std::vector<Entity*>& out, const ABBox& box, Region* from, bool force,
                             EntityListType type) const
{
    if (!from)
        return;
    std::vector<Region*> regions;
    GetRegionsInBox(regions, from, box);
    for (Region* region : regions) {
        const Level* level = force ? region->GetLevelUnlessBroken(false)
                                   : (region->IsLevelLoaded() ? region->GetLevelPtr() : nullptr);
        if (level)
            level->GetEntitiesInBox(out, ABBox(box.center + Region::GetOffsetDifference(from, region), box.extents),
                                    type);
    }
}

void World::GetEntitiesInFrustum(std::vector<Entity*>& out, const WorldFrustum& frustum, bool neighboursOnly,
                                 EntityListType type, bool exact) const
{
    std::vector<const Region*> regions;
    GetLoadedRegionsInFrustum(regions, frustum.GetRegion(), frustum.GetRegionFrustum(), neighboursOnly);
    for (const Region* region : regions) {
        Frustum moved;
        frustum.GetRelativeFrustum(region, moved);
        const_cast<Region*>(region)->GetEntitiesInFrustum(out, moved, false, nullptr, type, exact, false);
    }
}

void World::GetEntitiesInCone(std::vector<Entity*>& out, const WorldVec3& apex, const Vec3& axis, float angle,
                              float range, bool alternate, EntityListType type) const
{
    constexpr float twoPi = 2.0f * kPi;
    if (angle >= twoPi)
        angle = twoPi - 0.01f;
    else if (angle <= 0.0f)
        angle = 0.01f;
    else if (angle == kPi)
        angle = kPi - 0.01f;
    Region* region = apex.GetRegion();
    if (!region)
        return;
    const Vec3 unitAxis = SafeUnit(axis);
    std::vector<Entity*> inSphere;
    GetEntitiesInSphere(inSphere, region, Sphere(apex.GetRegionPosition(), range), alternate, type);
    std::vector<std::pair<float, Entity*>> kept;
    for (Entity* entity : inSphere) {
        if (!entity->GetRegion())
            continue;
        const ABBox& box = entity->GetRegionBoundingBox();
        const float radius = (box.extents.x + box.extents.y + box.extents.z) / 3.0f;
        // The entity's centre in the apex's space.
        const Vec3 center = box.center + Region::GetOffsetDifference(entity->GetRegion(), region);
        const Vec3 toCenter = SafeUnit(center - apex.GetRegionPosition());
        const float cosine = Vec3::Dot(unitAxis, toCenter);
        bool keep;
        if (angle < kPi)
            keep = SphereInCone(apex.GetRegionPosition(), unitAxis, angle, center, radius);
        else
            keep = !SphereInCone(apex.GetRegionPosition(), -unitAxis, twoPi - angle, center, radius);
        if (keep)
            kept.emplace_back(cosine, entity);
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const std::pair<float, Entity*>& a, const std::pair<float, Entity*>& b) {
                         return a.first > b.first;
                     });
    for (const auto& entry : kept)
        out.push_back(entry.second);
}

// ---- Rays ---------------------------------------------------------------------------------------

void World::GetIntersection(const WorldRay& ray, WorldIntersection& out, PhysicsSurface surface,
                            bool excludeEntities) const
{
    out = WorldIntersection();
    Region* from = ray.GetRegion();
    if (!from)
        return;
    GetIntersectionThroughPortals(from, ray.GetRegionRay(), out, surface);
    // The regions are asked even after a hit behind a portal: what stands in front of the portal
    // is nearer.
    for (Region* region : m_loadedRegions) {
        const Ray moved = MoveRay(ray.GetRegionRay(), from, region);
        if (region->GetBoundingBox().GetIntersection(moved) == gInfinity &&
            !StrictlyContains(region->GetBoundingBox(), moved.origin))
            continue;
        const Level* level = region->GetLevelPtr();
        if (!level)
            continue;
        Intersection hit;
        level->GetIntersection(moved, hit, surface, excludeEntities);
        if (hit.distance < out.distance) {
            out.distance = hit.distance;
            out.position = WorldVec3(region, hit.point);
            out.surface = hit.surface;
        }
    }
}

void World::GetIntersectionThroughPortals(Region* region, const Ray& ray, WorldIntersection& out,
                                          PhysicsSurface surface) const
{
    if (!region)
        return;
    float portalDistance = gInfinity;
    const Portal* portal = region->TraceSegmentAgainstPortals(ray, portalDistance, false);
    if (!portal)
        return;
    Coords toOther;
    Region* behind = nullptr;
    if (!portal->GetFrontToBackCoords(toOther, behind) || !behind->IsLevelLoaded())
        return;
    const Ray moved(toOther.TransformPoint(ray.origin), toOther.TransformVector(ray.direction));
    Intersection hit;
    behind->GetLevelPtr()->GetIntersection(moved, hit, surface, false);
    // Only what lies beyond the portal is seen through it.
    if (hit.distance >= portalDistance && hit.distance < out.distance) {
        out.distance = hit.distance;
        out.position = WorldVec3(behind, hit.point);
        out.surface = hit.surface;
    }
}

Entity* World::PickEntity(const WorldRay& ray) const
{
    Entity* picked = nullptr;
    VisitLevelsOnRay(m_loadedRegions, ray, [&](const Level& level, const Ray& moved) {
        picked = level.PickEntity(moved);
        return picked != nullptr;
    });
    return picked;
}

Entity* World::PickEntity(const WorldRay& ray, const FilterFunction<Entity>& filter) const
{
    Entity* picked = nullptr;
    VisitLevelsOnRay(m_loadedRegions, ray, [&](const Level& level, const Ray& moved) {
        picked = level.PickEntity(moved, filter);
        return picked != nullptr;
    });
    return picked;
}

void World::PickEntities(const WorldRay& ray, std::vector<Entity*>& out) const
{
    VisitLevelsOnRay(m_loadedRegions, ray, [&](const Level& level, const Ray& moved) {
        level.PickEntities(moved, out, false);
        return false;
    });
}

void World::GetAllIntersections(const WorldRay& ray, std::vector<Entity*>& out, bool alternate,
                                float maxDistance) const
{
    VisitLevelsOnRay(m_loadedRegions, ray, [&](const Level& level, const Ray& moved) {
        level.GetAllIntersections(moved, out, alternate, maxDistance);
        return false;
    });
}

int World::PickRegion(const WorldRay& ray) const
{
    Region* from = ray.GetRegion();
    if (!from)
        return -1;
    int best = -1;
    float nearest = gInfinity;
    for (size_t i = 0; i < m_regions.size(); ++i) {
        const Region* region = m_regions[i];
        if (!region->IsLevelLoaded())
            continue;
        const Level* level = region->GetLevelPtr();
        const Ray moved = MoveRay(ray.GetRegionRay(), from, region);
        float distance = gInfinity;
        if (level->GetGridRegion()) {
            distance = region->GetBoundingBox().GetIntersection(moved);
        } else if (const TerrainBase* terrain = level->GetTerrain()) {
            Intersection hit;
            terrain->GetIntersection(moved, hit, physicsSurfaceAny);
            distance = hit.distance;
        }
        if (distance < nearest) {
            nearest = distance;
            best = static_cast<int>(i);
        }
    }
    return best;
}

Portal* World::TraceRayAgainstPortals(const WorldRay& ray, float& distance, bool bothSides) const
{
    Region* from = ray.GetRegion();
    if (!from)
        return nullptr;
    Portal* nearest = nullptr;
    for (const Region* region : m_loadedRegions)
        if (Portal* portal =
                region->TraceSegmentAgainstPortals(MoveRay(ray.GetRegionRay(), from, region), distance, bothSides))
            nearest = portal;
    return nearest;
}

// ---- Heights ------------------------------------------------------------------------------------

float World::GetNearestFloorHeight(const WorldVec3& p) const
{
    Region* region = p.GetRegion();
    if (!region)
        return -gInfinity;
    const Vec3& pos = p.GetRegionPosition();
    WorldIntersection hit;
    GetIntersection(WorldRay(WorldVec3(region, pos + Vec3(0.0f, 2.5f, 0.0f)), Vec3(0.0f, -1.0f, 0.0f)), hit, 0,
                    false);
    if (hit.IsHit())
        return (pos.y + 2.5f) - hit.distance;
    GetIntersection(WorldRay(WorldVec3(region, pos - Vec3(0.0f, 2.5f, 0.0f)), Vec3(0.0f, 1.0f, 0.0f)), hit, 0,
                    false);
    if (hit.IsHit())
        return (pos.y - 2.5f) + hit.distance;
    return -gInfinity;
}

float World::GetHighestTerrainHeight(Region* from, float x, float z) const
{
    float highest = kNoTerrainHeight;
    if (!from)
        return highest;
    std::vector<Region*> regions;
    GetRegionsInBox(regions, from, ABBox(Vec3(x, 0.0f, z), Vec3(0.0f, gInfinity, 0.0f)));
    for (Region* region : regions) {
        const Level* level = region->GetLevelUnlessBroken(false);
        if (!level)
            continue;
        const Vec3 shift = Region::GetOffsetDifference(from, region);
        const Vec3 local(x + shift.x, 0.0f, z + shift.z);
        // The height back in from's space.
        if (const TerrainBase* terrain = level->GetTerrain())
            highest = std::max(highest, terrain->GetHeightInterpolated(local.x, local.z) - shift.y);
        if (const GridRegion* grid = level->GetGridRegion())
            highest = std::max(highest, grid->GetGroundHeight(local.x, local.z) - shift.y);
    }
    return highest;
}

// ---- Collisions ---------------------------------------------------------------------------------

int World::FindCollisions(const Entity* entity, CollisionContact* contacts, int maxContacts, const WorldVec3& pos,
                          EntityListType type, PhysicsSurface surface) const
{
    Region* from = pos.GetRegion();
    if (!entity || !contacts || maxContacts <= 0 || !from)
        return 0;
    const ABBox& box = entity->GetRegionBoundingBox();
    int found = 0;
    VisitLevelsInBox(m_loadedRegions, from, ABBox(pos.GetRegionPosition(), box.extents),
                     [&](const Level& level, const Region&) {
                         found += level.FindCollisions(entity, contacts + found, maxContacts - found, pos,
                                                       type, surface);
                         return found >= maxContacts;
                     });
    return found;
}

int World::FindCollisions(const Entity* entity, const OBBox& box, CollisionContact* contacts, int maxContacts,
                          const WorldVec3& pos, EntityListType type, PhysicsSurface surface) const
{
    Region* from = pos.GetRegion();
    if (!contacts || maxContacts <= 0 || !from)
        return 0;
    // The box is relative to the position.
    ABBox enclosing = ABBox::FromOBBox(box);
    enclosing.center += pos.GetRegionPosition();
    int found = 0;
    VisitLevelsInBox(m_loadedRegions, from, enclosing, [&](const Level& level, const Region&) {
        found += level.FindCollisions(entity, box, contacts + found, maxContacts - found, pos, type, surface);
        return found >= maxContacts;
    });
    return found;
}

void World::FindCollisions(const Entity* entity, std::vector<CollisionBox>& boxes, const WorldVec3& pos,
                           EntityListType type, PhysicsSurface surface) const
{
    Region* from = pos.GetRegion();
    if (!entity || !from)
        return;
    // The entity's box about the position, relative to it.
    const ABBox relative(Vec3(), entity->GetRegionBoundingBox().extents);
    VisitLevelsInBox(m_loadedRegions, from, ABBox(pos.GetRegionPosition(), relative.extents),
                     [&](const Level& level, const Region&) {
                         level.FindCollisions(boxes, relative, pos, type, surface);
                         return false;
                     });
}

// ---- Disturbances -------------------------------------------------------------------------------

void World::CreateDisturbance(const WorldVec3& position, float radius, float strength, SplashType type)
{
    Region* from = position.GetRegion();
    if (!from)
        return;
    const ABBox around(position.GetRegionPosition(), Vec3(radius, radius, radius));
    VisitLevelsInBox(m_loadedRegions, from, around, [&](Level& level, const Region& region) {
        const Vec3 local = region.GetRelativePosition(position);
        if (TerrainBase* terrain = level.GetTerrain())
            terrain->DisplaceGrass(local.x, local.z, radius, strength);
        if (Water* water = level.GetWater())
            water->CreateRipple(local, radius, strength, static_cast<unsigned>(type));
        return false;
    });
}

void World::CreateGrassWind(const PhysicsGrassWind& wind)
{
    if (!wind.region)
        return;
    for (Region* region : m_loadedRegions) {
        Level* level = region->GetLevelPtr();
        TerrainBase* terrain = level ? level->GetTerrain() : nullptr;
        if (!terrain)
            continue;
        PhysicsGrassWind moved = wind;
        const Vec3 shift = Region::GetOffsetDifference(wind.region, region);
        moved.region = region;
        moved.x += shift.x;
        moved.z += shift.z;
        terrain->CreateGrassWind(moved);
    }
}

void World::RemoveGrassWind()
{
    for (Region* region : m_loadedRegions)
        if (Level* level = region->GetLevelPtr())
            if (TerrainBase* terrain = level->GetTerrain())
                terrain->RemoveGrassWind();
}

void World::ShiftFrustum(const Frustum& in, const Vec3& shift, Frustum& out)
{
    out = in;
    for (Plane& plane : out.planes)
        plane.d -= Vec3::Dot(plane.normal, shift);
}

Path* World::FindPath(int agentShape, const WorldVec3& from, const WorldVec3& to, const Vec3& extents, float range,
                      float radius, float height, float slope, unsigned flags)
{
    return PathFinder::Get()->FindPath(agentShape, from, to, extents, range, radius, height, slope, flags);
}

// ---- Files ----------------------------------------------------------------------------------

namespace {

// The map's regions as stored, before any is made.
struct MapRegionRecord
{
    ABBox box;
    IntVec3 offset;
    RegionId id;
    std::string zoneRecord;
    std::string name;
    uint32_t levelOffset = 0;
    uint32_t levelSize = 0;
};

// Smallest region record of a compiled map: box and offset (nine words), id (four), the name's
// length, level offset and size.
constexpr unsigned kMinMapRegionSize = 9 * 4 + 16 + 4 + 8;

bool RangeInFile(uint32_t offset, uint32_t size, unsigned fileLength)
{
    return static_cast<uint64_t>(offset) + size <= fileLength;
}

// A quest file name of the map: a length the data cannot hold leaves the entry empty and the read
// goes on after the length word.
std::string ReadLenientString(BinaryReader& reader)
{
    const uint32_t length = reader.ReadUInt32();
    std::string text;
    if (length <= BinaryReader::kMaxStringLength && length <= reader.GetRemaining()) {
        text.assign(reinterpret_cast<const char*>(reader.GetCursor()), length);
        reader.Skip(length);
    }
    return text;
}

void SendEvent(const char* name)
{
    GameEvent event;
    if (EventManager* events = EventManager::Get())
        events->Send(&event, name);
}

} // namespace

// What a compiled map's chunks leave to be applied after the last one.
struct World::MapReadState
{
    struct SpawnRecord
    {
        uint32_t regionIndex;
        Vec3 position;
    };
    std::vector<SpawnRecord> spawnPoints;
    std::vector<std::pair<uint32_t, uint32_t>> minimaps;
    bool haveMinimaps = false;
    // Instance group and sector data chunks, checked as they are met and handed to their
    // managers only once the whole map has been read, so a refused map changes neither.
    struct Deferred
    {
        Deferred(uint32_t id_, const BinaryReader& chunk)
            : id(id_), data(chunk.GetData()), size(chunk.GetSize())
        {
        }
        uint32_t id;
        const uint8_t* data;
        unsigned size;
    };
    std::vector<Deferred> deferred;
};

bool World::IsValidWorldFile(const char* header)
{
    return header && header[0] == 'W' && header[1] == 'R' && header[2] == 'L' && header[3] == 6;
}

bool World::IsValidMapFile(const char* header)
{
    return header && header[0] == 'M' && header[1] == 'A' && header[2] == 'P' &&
           static_cast<signed char>(header[3]) >= 4;
}

std::string World::GetSectorDataFileName(const std::string& worldFileName)
{
    const size_t dot = worldFileName.rfind('.');
    return (dot == std::string::npos ? worldFileName : worldFileName.substr(0, dot)) + ".sd";
}

void World::SetQuestFile(unsigned index, const std::string& name)
{
    if (index < m_questFiles.size())
        m_questFiles[index] = name;
}

WorldCoords World::GetPlayerSpawnPoint(unsigned n) const
{
    if (m_spawnPoints.empty())
        return WorldCoords();
    return m_spawnPoints[n % m_spawnPoints.size()];
}

void World::SetPlayerSpawnPoint(const WorldCoords& coords)
{
    if (!coords.GetRegion())
        return;
    m_spawnPoints.assign(1, coords);
}

File* World::LockMapFile() const
{
    m_mapFileLock.Enter();
    // A nested lock by the thread that holds it, or no map: the lock is left again at once, so a
    // caller that sees null never holds it.
    if (m_mapFileInUse.load(std::memory_order_relaxed) || !m_mapFile) {
        m_mapFileLock.Exit();
        return nullptr;
    }
    m_mapFileInUse.store(true, std::memory_order_relaxed);
    return m_mapFile;
}

void World::UnlockMapFile() const
{
    m_mapFileInUse.store(false, std::memory_order_relaxed);
    m_mapFileLock.Exit();
}

bool World::InstallMapChunkCallback(MapChunkCallback* callback)
{
    if (!callback)
        return false;
    WorldServices* services = WorldServices::Get();
    if (!services) {
        LogPrintf(1, "No engine to hold the map chunk callback for Id %u", callback->GetChunkId());
        return false;
    }
    return services->InstallMapChunkCallback(callback);
}

void World::CloseMapFile()
{
    CriticalSectionLock lock(m_mapFileLock);
    if (m_mapFile && m_mapFileSystem)
        m_mapFileSystem->CloseFile(m_mapFile);
    m_mapFile = nullptr;
    m_mapFileSystem = nullptr;
}


bool World::Load(const char* fileName, bool buildConnectivity)
{
    Unload();
    // The new world's sector data is read into an empty manager.
    ClearSectorData();
    SetFileName(fileName);
    FileSystem* files = EngineDataServices::Files();
    if (!files || !fileName)
        return false;
    File* file = files->OpenFile(fileName, FILE_MODE_READ);
    if (!file)
        return false;
    char header[4] = {0, 0, 0, 0};
    if (const void* bytes = file->GetLength() >= 4 ? file->Lock(0, 4) : nullptr) {
        std::memcpy(header, bytes, 4);
        file->Unlock();
    }
    if (IsValidMapFile(header)) {
        {
            CriticalSectionLock lock(m_mapFileLock);
            m_mapFile = file;
            m_mapFileSystem = files;
        }
        if (!LoadMap()) {
            Unload();
            return false;
        }
        if (buildConnectivity)
            BuildConnectivity();
        return true;
    }
    const bool loaded = LoadSourceWorld(file);
    files->CloseFile(file);
    if (!loaded) {
        Unload();
        return false;
    }
    SendEvent("GameEvent_LevelLoad");
    SendEvent("GameEvent_WrlLoad");
    return true;
}

bool World::LoadSourceWorld(File* file)
{
    WorldFile worldFile;
    const unsigned length = file->GetLength();
    const void* bytes = length ? file->Lock(0, length) : nullptr;
    if (!bytes)
        return false;
    BinaryReader reader(bytes, length);
    const bool read = worldFile.Read(reader);
    file->Unlock();
    if (!read)
        return false;

    for (unsigned i = 0; i < worldFile.GetNumQuestFiles(); ++i)
        m_questFiles.push_back(worldFile.GetQuestFile(i));
    m_regions.reserve(worldFile.GetNumRegions());
    for (unsigned i = 0; i < worldFile.GetNumRegions(); ++i) {
        const WorldFile::Region& r = worldFile.GetRegion(i);
        Region* region = new Region(this, static_cast<int>(i), r.name, r.box, r.offset, r.id, 0, 0);
        region->SetZoneRecord(r.zoneRecord);
        m_regions.push_back(region);
    }
    if (worldFile.GetIconData()) {
        BinaryReader icons(worldFile.GetIconData(), worldFile.GetIconDataSize());
        for (Region* region : m_regions)
            if (!region->LoadRegionIcon(icons))
                return false;
    }
    if (worldFile.GetInstanceData()) {
        BinaryReader instances(worldFile.GetInstanceData(), worldFile.GetInstanceDataSize());
        InstanceGroupManager* groups = InstanceGroupManager::Get();
        if (!groups || !groups->Load(instances, false))
            return false;
    }
    // Read last, so a world file that is refused adds no sector data.
    if (SectorDataManager* sectorData = WorldServices::SectorData()) {
        m_ownsSectorData = true;
        sectorData->Load(GetSectorDataFileName(m_fileName).c_str());
    }
    return true;
}

bool World::LoadMap()
{
    CriticalSectionLock lock(m_mapFileLock);
    File* file = m_mapFile;
    if (!file)
        return false;
    const unsigned fileLength = file->GetLength();
    const uint8_t* head = fileLength >= 8 ? static_cast<const uint8_t*>(file->Lock(0, 8)) : nullptr;
    if (!head)
        return false;
    char header[4];
    std::memcpy(header, head, 4);
    const uint32_t dataLength = static_cast<uint32_t>(head[4]) | static_cast<uint32_t>(head[5]) << 8 |
                                static_cast<uint32_t>(head[6]) << 16 | static_cast<uint32_t>(head[7]) << 24;
    file->Unlock();
    if (!IsValidMapFile(header))
        return false;
    const int version = static_cast<signed char>(header[3]);
    if (dataLength > fileLength - 8) {
        LogPrintf(1, "World: map %s announces %u bytes of chunks but holds %u", m_fileName.c_str(),
                  dataLength, fileLength - 8);
        return false;
    }
    const void* data = dataLength ? file->Lock(8, dataLength) : nullptr;
    if (dataLength && !data) {
        LogPrintf(1, "World: cannot read map %s", m_fileName.c_str());
        return false;
    }
    BinaryReader reader(data, dataLength);
    MapReadState state;
    const bool read = ReadMapChunks(reader, version, fileLength, state);
    if (read) {
        for (const MapReadState::Deferred& chunk : state.deferred) {
            BinaryReader content(chunk.data, chunk.size);
            if (chunk.id == MAP_CHUNK_INSTANCE_GROUPS) {
                if (InstanceGroupManager* groups = InstanceGroupManager::Get())
                    groups->Load(content, false);
            } else if (SectorDataManager* sectorData = WorldServices::SectorData()) {
                m_ownsSectorData = true;
                sectorData->Load(content);
            }
        }
    }
    if (data)
        file->Unlock();
    if (!read)
        return false;

    if (state.haveMinimaps && state.minimaps.size() == m_regions.size()) {
        for (size_t i = 0; i < m_regions.size(); ++i)
            m_regions[i]->SetMinimapData(state.minimaps[i].first, state.minimaps[i].second);
    }
    for (const MapReadState::SpawnRecord& spawn : state.spawnPoints) {
        Region* region = GetRegion(static_cast<int>(std::min<uint32_t>(spawn.regionIndex, INT32_MAX)));
        if (!region) {
            LogPrintf(1, "World: map %s puts a spawn point in region %u, which it does not have",
                      m_fileName.c_str(), spawn.regionIndex);
            continue;
        }
        WorldCoords coords(region);
        coords.SetOrigin(WorldVec3(region, spawn.position));
        m_spawnPoints.push_back(coords);
    }
    SendEvent("GameEvent_LevelLoad");
    return true;
}

bool World::ReadMapChunks(BinaryReader& reader, int version, unsigned fileLength, MapReadState& state)
{
    while (!reader.AtEnd()) {
        // Every chunk is read through a reader bounded to its payload, and the next one starts at
        // the announced end whatever its reader took.
        uint32_t id;
        BinaryReader chunk;
        if (reader.GetRemaining() >= 8) {
            // An instance-groups chunk whose size, taken as signed, is not above 0 holds nothing:
            // the next chunk follows its head.
            BinaryReader head(reader.GetCursor(), 8);
            const uint32_t headId = head.ReadUInt32();
            if (headId == MAP_CHUNK_INSTANCE_GROUPS && head.ReadInt32() <= 0) {
                reader.Skip(8);
                continue;
            }
        }
        if (!reader.ReadBlock(id, chunk)) {
            LogPrintf(1, "World: map %s has a chunk that runs past its data", m_fileName.c_str());
            return false;
        }
        bool ok = true;
        switch (id) {
        case MAP_CHUNK_REGIONS:
            ok = ReadMapRegions(chunk, version, fileLength);
            break;
        case MAP_CHUNK_SPAWN_POINTS: {
            const int32_t count = chunk.ReadInt32();
            if (count > 0 && chunk.CheckCount(static_cast<uint32_t>(count), 16, "spawn points")) {
                for (int32_t i = 0; i < count; ++i) {
                    MapReadState::SpawnRecord spawn;
                    spawn.regionIndex = chunk.ReadUInt32();
                    spawn.position = chunk.ReadVec3();
                    state.spawnPoints.push_back(spawn);
                }
            }
            ok = !chunk.Failed();
            break;
        }
        case MAP_CHUNK_INSTANCE_GROUPS: {
            InstanceGroupManager check;
            ok = check.Load(chunk, false);
            state.deferred.emplace_back(id, chunk);
            break;
        }
        case MAP_CHUNK_OLD_MINIMAP:
            LogPrintf(2, "Map file is using old mini-map data format. Mini-map will not be loaded, please "
                         "rebuild the .wrl file.");
            break;
        case MAP_CHUNK_SECTOR_DATA: {
            SectorDataManager check;
            ok = check.Load(chunk);
            state.deferred.emplace_back(id, chunk);
            break;
        }
        case MAP_CHUNK_MINIMAP: {
            chunk.ReadUInt32(); // carried by the format, unused
            const uint32_t count = chunk.ReadUInt32();
            state.minimaps.clear();
            if (chunk.CheckCount(count, 8, "minimap records")) {
                state.minimaps.resize(count);
                for (auto& entry : state.minimaps) {
                    entry.first = chunk.ReadUInt32();
                    entry.second = chunk.ReadUInt32();
                    if (!RangeInFile(entry.first, entry.second, fileLength)) {
                        LogPrintf(1, "World: a minimap of map %s lies past the end of the file",
                                  m_fileName.c_str());
                        return false;
                    }
                }
            }
            state.haveMinimaps = true;
            ok = !chunk.Failed();
            break;
        }
        case MAP_CHUNK_QUEST_FILES: {
            const uint32_t count = chunk.ReadUInt32();
            if (chunk.CheckCount(count, 4, "quest files")) {
                std::vector<std::string> names;
                names.reserve(count);
                for (uint32_t i = 0; i < count; ++i)
                    names.push_back(ReadLenientString(chunk));
                m_questFiles = std::move(names);
            }
            ok = !chunk.Failed();
            break;
        }
        default: {
            WorldServices* services = WorldServices::Get();
            MapChunkCallback* callback = services ? services->GetChunkCallbackMap().Find(id) : nullptr;
            if (callback) {
                callback->ReadChunk(chunk);
                if (chunk.Failed())
                    LogPrintf(1, "World: the callback for map chunk %u read past the chunk's end", id);
            }
            break;
        }
        }
        if (!ok) {
            LogPrintf(1, "World: chunk %u of map %s is truncated or corrupt", id, m_fileName.c_str());
            return false;
        }
    }
    return true;
}

bool World::ReadMapRegions(BinaryReader& reader, int version, unsigned fileLength)
{
    const uint32_t count = reader.ReadUInt32();
    if (!reader.CheckCount(count, kMinMapRegionSize, "map regions"))
        return false;
    std::vector<MapRegionRecord> records(count);
    for (MapRegionRecord& record : records) {
        Vec3 v[2];
        for (Vec3& vector : v) {
            vector.x = static_cast<float>(reader.ReadInt32());
            vector.y = static_cast<float>(reader.ReadInt32());
            vector.z = static_cast<float>(reader.ReadInt32());
        }
        record.box = ABBox(v[0], v[1]);
        record.offset.x = reader.ReadInt32();
        record.offset.y = reader.ReadInt32();
        record.offset.z = reader.ReadInt32();
        record.id.Read(reader);
        if (version == 5 && !reader.ReadString(record.zoneRecord))
            return false;
        if (!reader.ReadString(record.name))
            return false;
        record.levelOffset = reader.ReadUInt32();
        record.levelSize = reader.ReadUInt32();
        if (reader.Failed())
            return false;
        if (!RangeInFile(record.levelOffset, record.levelSize, fileLength)) {
            LogPrintf(1, "World: the level of region %s lies past the end of map %s", record.name.c_str(),
                      m_fileName.c_str());
            return false;
        }
    }
    DeleteRegions();
    m_regions.reserve(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        const MapRegionRecord& r = records[i];
        Region* region =
            new Region(this, static_cast<int>(i), r.name, r.box, r.offset, r.id, r.levelOffset, r.levelSize);
        region->SetZoneRecord(r.zoneRecord);
        m_regions.push_back(region);
    }
    m_regionsLoaded = true;
    return true;
}

bool World::Save()
{
    FileSystem* files = EngineDataServices::Files();
    if (!files)
        return false;
    ChunkedBinaryWriter writer(0x100000);
    writer.WriteBytes("WRL", 3);
    writer.WriteUInt8(WorldFile::kVersion);

    writer.BeginBlock(WorldFile::CHUNK_QUEST_FILES);
    writer.WriteUInt32(static_cast<uint32_t>(m_questFiles.size()));
    for (const std::string& name : m_questFiles)
        writer.WriteString(name);
    writer.EndBlock();

    writer.BeginBlock(WorldFile::CHUNK_REGIONS);
    writer.WriteUInt32(static_cast<uint32_t>(m_regions.size()));
    for (const Region* region : m_regions)
        region->Save(writer);
    writer.EndBlock();

    writer.BeginBlock(WorldFile::CHUNK_REGION_ICONS);
    for (const Region* region : m_regions)
        region->SaveRegionIcon(writer);
    writer.EndBlock();

    writer.BeginBlock(WorldFile::CHUNK_INSTANCE_GROUPS);
    if (InstanceGroupManager* groups = InstanceGroupManager::Get())
        groups->Save(writer);
    writer.EndBlock();

    File* file = writer.Failed() ? nullptr : files->OpenFile(m_fileName.c_str(), FILE_MODE_WRITE);
    if (!file) {
        LogPrintf(2, "Could not write %s", m_fileName.c_str());
        return false;
    }
    bool written = writer.WriteTo(*file);
    written = files->CloseFile(file) && written;
    if (!written) {
        LogPrintf(2, "Could not write %s", m_fileName.c_str());
        return false;
    }
    SectorDataManager* sectorData = WorldServices::SectorData();
    return sectorData && sectorData->Save(GetSectorDataFileName(m_fileName).c_str());
}


} // namespace GAME
