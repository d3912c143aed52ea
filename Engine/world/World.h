// The loaded world: the ordered regions of one map. The engine owns exactly one; region-relative
// values reach it through GetCurrent to resolve region ids and to find the region that holds a
// position. Owns its regions. Main thread (GetCurrent may be read from any thread).
//
// TODO(stand-in): only the region list, the queries region-relative values need and the entity
// placement levels need exist. Missing: loading and saving world and map files (Load, LoadMap,
// Save, Unload, the map file and its lock, quest files, spawn points, chunk callbacks), the
// loaded-regions list (GetRegionById's loaded-first search therefore searches all regions, and
// entity queries ask every region that has a loaded level), region removal and connectivity,
// the per-frame PostLoadPass and Update, the network lists, fog of war, the rest of the queries,
// and the engine's ownership of the current world (SetCurrent).
#pragma once

#include "core/ABBox.h"
#include "core/IntVec3.h"
#include "world/EntityListType.h"
#include "world/RegionId.h"

#include <string>
#include <vector>

namespace GAME {

class Entity;
class Level;
class Region;
class Vec3;
class WorldCoords;
class WorldRay;
class WorldVec3;

class World
{
public:
    World() = default;
    virtual ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // The engine's world. TODO(stand-in): the engine will own and install it; until then hosts and
    // tests install one here. A world that is destroyed while current uninstalls itself.
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

    // False when the coords have no region or the entity has one already; otherwise the target
    // region places it.
    bool AddEntity(Entity* entity, const WorldCoords& coords, bool quiet);
    // Out of every client's table and its region's level.
    void RemoveEntity(Entity* entity);
    // Moves an entity, changing level when the region changes.
    void SetCoords(Entity* entity, const WorldCoords& coords);
    // The first region whose level this is takes the level's box.
    void UpdateRegionBoundingBox(Level* level);
    // Appends the entities whose region boxes meet the box (given in from's space) from every
    // region whose level is loaded (with force, every region's level as it is); nothing without
    // from.
    void GetEntitiesInBox(std::vector<Entity*>& out, const ABBox& box, Region* from, bool force,
                          EntityListType type) const;

private:
    // Distance to the nearest hit along the ray, gInfinity for none. TODO(stand-in): the region
    // levels answer ray queries; without levels nothing is hit.
    float CastRay(const WorldRay& ray) const;

    std::vector<Region*> m_regions;
};

} // namespace GAME
