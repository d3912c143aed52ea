// One area of the world with its own coordinate space: an integer offset from the world origin, a
// bounding box in region space, its portals and (later) its level. Region-relative values
// (core/World*.h) ask it for offsets, bounds and portals. Owns its portals. Main thread.
//
// TODO(stand-in): only the space, identity and portal parts exist. Missing: the level and its
// loading thread, level lock, loading flags and usage counting (GetLevel, LoadLevel,
// BackgroundLoadLevel, PostLoadLevel, UnloadLevel, SetLevel, UpdateUsage, PrepareUnload), the
// per-frame walk (Update, PreLoad, AddToScene), connectivity, entities, saved state, fog of war,
// zone record, minimap and icon, device resets, the free-standing Region(const ABBox&) form and
// Save.
#pragma once

#include "core/ABBox.h"
#include "core/Coords.h"
#include "core/IntVec3.h"
#include "world/RegionId.h"

#include <string>
#include <vector>

namespace GAME {

class Level;
class Portal;
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

    // TODO(stand-in): levels do not exist yet; this would load the level at once and return it.
    Level* GuaranteedGetLevel(bool renderData) const;

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
};

} // namespace GAME
