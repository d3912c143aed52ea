// One area of the world with its own coordinate space: an integer offset from the world origin, a
// bounding box in region space, its portals and (later) its level. Region-relative values
// (core/World*.h) ask it for offsets, bounds and portals. Owns its portals. Main thread.
//
// TODO(stand-in): only the space, identity, portal, file-record (zone record, minimap range, icon
// record, Save) and connectivity parts exist, with the level pointer and entity placement that
// levels and entities need. Missing: the level's loading thread, level lock, loading flags and
// usage counting (LoadLevel, BackgroundLoadLevel, PostLoadLevel, UnloadLevel, UpdateUsage,
// PrepareUnload), the loaded-regions list, the per-frame walk (Update, PreLoad, AddToScene),
// IsNeighbor, saved state, fog of war, decoding the minimap and icon into textures
// (GetMinimapImage, ReleaseMinimapImage, GetIcon), device resets and the free-standing
// Region(const ABBox&) form.
#pragma once

#include "core/ABBox.h"
#include "core/Coords.h"
#include "core/IntVec3.h"
#include "world/RegionId.h"

#include <cstdint>
#include <list>
#include <string>
#include <vector>

namespace GAME {

class BinaryReader;
class ChunkedBinaryWriter;
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

    // The database record of the region's zone, kept in the file system's normalised form.
    const std::string& GetZoneRecord() const { return m_zoneRecord; }
    void SetZoneRecord(const std::string& record);
    // Where the minimap image lies in the world's map file (both 0 when there is none).
    void SetMinimapData(unsigned offset, unsigned size);
    unsigned GetMinimapOffset() const { return m_minimapOffset; }
    unsigned GetMinimapSize() const { return m_minimapSize; }

    // The icon record of the source world file: a value carried unchanged, the image's width and
    // height and the image file's bytes. TODO(stand-in): decoding the bytes into the icon texture
    // comes with the image decoder and the render device.
    // Reading frees the old icon first; false (icon left empty) when the record runs past the data.
    bool LoadRegionIcon(BinaryReader& reader);
    void SaveRegionIcon(ChunkedBinaryWriter& writer) const;
    // What map rendering makes of the region's icon.
    void SetIcon(unsigned value, unsigned width, unsigned height, const std::vector<uint8_t>& data);
    unsigned GetIconValue() const { return m_iconValue; }
    unsigned GetIconWidth() const { return m_iconWidth; }
    unsigned GetIconHeight() const { return m_iconHeight; }
    const std::vector<uint8_t>& GetIconData() const { return m_iconData; }
    // The region record of the source world file: name, box, offset, id and zone record.
    void Save(ChunkedBinaryWriter& writer) const;

    // Appends every other region whose box meets this one's grown by 2 units on each axis (the
    // list is not cleared first).
    void BuildRegionConnectivity(const std::vector<Region*>& regions);
    const std::list<Region*>& GetConnectedRegions() const { return m_connectedRegions; }

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
    unsigned m_minimapOffset = 0;
    unsigned m_minimapSize = 0;
    std::vector<Portal*> m_portals;
    Level* m_level = nullptr;
    std::string m_zoneRecord;
    std::list<Region*> m_connectedRegions;
    unsigned m_iconValue = 0;
    std::vector<uint8_t> m_iconData;
    unsigned m_iconWidth = 0;
    unsigned m_iconHeight = 0;
};

} // namespace GAME
