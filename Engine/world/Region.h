// One area of the world with its own coordinate space: an integer offset from the world origin, a
// bounding box in region space, its portals and (later) its level. Region-relative values
// (core/World*.h) ask it for offsets, bounds and portals. Owns its portals. Main thread.
//
// TODO(stand-in): only the space, identity and portal parts exist, with the level pointer and
// entity placement that levels and entities need. Missing: the level's loading thread, level
// lock, loading flags and usage counting (LoadLevel, BackgroundLoadLevel, PostLoadLevel,
// UnloadLevel, UpdateUsage, PrepareUnload), the loaded-regions list, the per-frame walk (Update,
// PreLoad, AddToScene), connectivity, saved state, fog of war, zone record, minimap and icon,
// device resets, the free-standing Region(const ABBox&) form and Save.
#pragma once

#include "core/ABBox.h"
#include "core/Coords.h"
#include "core/IntVec3.h"
#include "world/RegionId.h"

#include <string>
#include <vector>

namespace GAME {

class Entity;
class Level;
class Portal;
class WorldCoords;
class Ray;
class UniqueId;
class World;
class WorldVec3;

class Region
{
public:
    // An all-zero id is replaced by a new unique one.
    Region(World* world, int index, const std::string& name, const ABBox& box, const IntVec3& offset,
           const RegionId& id, unsigned levelOffset, unsigned levelSize);
    virtual ~Region();
    Region(const Region&) = delete;
    Region& operator=(const Region&) = delete;

    const std::string& GetName() const { return m_name; }
    void SetName(const std::string& name) { m_name = name; }
    const RegionId& GetId() const { return m_id; }
    RegionId& GetId() { return m_id; }
    void SetId(const RegionId& id) { m_id = id; }
    void CreateUniqueId() { m_id.CreateUnique(); }
    World* GetWorld() const { return m_world; }
    int GetRegionIndex() const { return m_index; }
    void SetRegionIndex(int index) { m_index = index; }

    const IntVec3& GetOffsetFromWorld() const { return m_offset; }
    void SetOffsetFromWorld(const IntVec3& offset) { m_offset = offset; }
    const ABBox& GetBoundingBox() const { return m_box; }
    // Where the level data lies in the world's map file (both 0 outside compiled maps).
    unsigned GetLevelOffset() const { return m_levelOffset; }
    unsigned GetLevelSize() const { return m_levelSize; }

    // A translation by (this offset - other offset): positions in this region's space into the
    // other's. Identity for a null region.
    Coords GetRelativeTransformation(const Region* other) const;
    // The position in this region's space; (0, 0, 0) when it has no region.
    Vec3 GetRelativePosition(const WorldVec3& position) const;
    // (from's offset - to's offset) as floats, subtracted in 64-bit integers first so that
    // distant offsets neither wrap nor lose precision. A null region counts as the world origin.
    static Vec3 GetOffsetDifference(const Region* from, const Region* to);

    // The region's level (owned), null when none is set.
    Level* GetLevel() const { return m_level; }
    // TODO(stand-in): levels are not loaded from files yet; this answers the level as it is.
    Level* GuaranteedGetLevel(bool renderData) const;
    // Unloads and deletes the current level, then owns the new one and takes its bounding box.
    // TODO(stand-in): the loaded-regions list and the region's new unique id.
    void SetLevel(Level* level);
    // The box becomes the level's bounding box (nothing without a level).
    void UpdateBoundingBox();

    // Places the entity in the level at coords (which must name this region). False when the
    // entity or the level cannot take it; an entity that asks to be deleted on entering an
    // unloaded level is destroyed then. Updates the entity once; unless quiet, the host's network
    // controller hears of it.
    bool AddEntity(Entity* entity, const WorldCoords& coords, bool quiet);
    // Out of the clients' tables, the level (or only region-less coords when the level is not
    // ready) and the physics simulation.
    void RemoveEntity(Entity* entity);

    Portal* CreatePortal();
    void DestroyPortal(Portal* portal);
    Portal* GetPortal(const UniqueId& id) const;
    int GetNumPortals() const { return static_cast<int>(m_portals.size()); }
    // Null outside [0, GetNumPortals()).
    Portal* GetPortal(int index) const;
    // The portal the ray meets nearest, lowering distance to its hit; null when none lies closer
    // than the distance passed in. bothSides also accepts rays from behind a portal.
    Portal* TraceSegmentAgainstPortals(const Ray& ray, float& distance, bool bothSides) const;

private:
    World* m_world;
    int m_index;
    RegionId m_id;
    IntVec3 m_offset;
    std::string m_name;
    ABBox m_box;
    unsigned m_levelOffset;
    unsigned m_levelSize;
    std::vector<Portal*> m_portals;
    Level* m_level = nullptr;
};

} // namespace GAME
