// The loaded world: the ordered regions of one map. The engine owns exactly one; region-relative
// values reach it through GetCurrent to resolve region ids and to find the region that holds a
// position. Owns its regions. Main thread (GetCurrent may be read from any thread).
//
// TODO(stand-in): only the region list and the queries region-relative values need exist.
// Missing: loading and saving world and map files (Load, LoadMap, Save, the map file and its lock,
// quest files, spawn points, chunk callbacks), the loaded-regions list (GetRegionById's
// loaded-first search therefore searches all regions), region removal and connectivity, the
// per-frame PostLoadPass and Update, entities, fog of war and the rest of the queries.
#pragma once

#include "core/ABBox.h"
#include "core/IntVec3.h"
#include "world/RegionId.h"

#include <string>
#include <vector>

namespace GAME {

class Entity;
class Region;
class Vec3;
class WorldFrustum;
class WorldRay;
class WorldVec3;

class World
{
public:
    World() = default;
    virtual ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // The engine's world: the engine installs the one it owns while it lives (tests without an
    // engine install their own). A world that is destroyed while current uninstalls itself.
    static void SetCurrent(World* world);
    static World* GetCurrent();

    int GetNumRegions() const { return static_cast<int>(m_regions.size()); }
    // Null outside [0, GetNumRegions()).
    Region* GetRegion(int index) const;
    // -1 when the region is not in this world.
    int GetRegionIndex(const Region* region) const;
    // Appends a region without map data; an all-zero id gets a new unique one. Returns its index.
    int AddRegion(const char* name, const IntVec3& offset, const ABBox& box, const RegionId& id);

    // Null when no region has the id (an all-zero id never matches).
    Region* GetRegionById(const RegionId& id, bool searchLoadedFirst) const;
    // The first region (index order) whose box strictly contains p, taken from `from`'s space
    // (the world origin's when from is null) into its own; null when none.
    Region* GetRegionContainingPoint(const Region* from, const Vec3& p) const;
    // The same for an integer world position.
    Region* GetRegionContainingPoint(const IntVec3& p) const;

    // The floor under (or else over) the position: a ray cast 2.5 units down from above it, then
    // 2.5 units up from below it; -gInfinity when neither hits or the position has no region.
    float GetNearestFloorHeight(const WorldVec3& p) const;

    // ---- what the engine's frame, device resets and shut-down call ----
    // Deletes every region. TODO(stand-in): also waits for the regions' loading threads, destroys
    // the level entities, clears quest files and spawn points and closes the map file.
    void Unload();
    // TODO(stand-in): regions complete their loaded levels here, the frame walk updates the regions
    // the frusta reach, and levels and entities carry their device objects through a reset and
    // answer the frustum query; without levels and entities there is nothing to do yet.
    void PostLoadPass() {}
    void Update(const std::vector<WorldFrustum>& frusta);
    void PreDeviceReset() {}
    void PostDeviceReset() {}
    void GetEntitiesInFrustum(std::vector<Entity*>& entities, const WorldFrustum& frustum,
                              bool neighboursOnly, int listType, bool exact) const;

private:
    // Distance to the nearest hit along the ray, gInfinity for none. TODO(stand-in): the region
    // levels answer ray queries; without levels nothing is hit.
    float CastRay(const WorldRay& ray) const;

    std::vector<Region*> m_regions;
};

} // namespace GAME
