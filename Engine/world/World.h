// The loaded world: the ordered regions of one map. The engine owns exactly one; region-relative
// values reach it through GetCurrent to resolve region ids and to find the region that holds a
// position. Owns its regions. Main thread (GetCurrent may be read from any thread).
//
// Files: Load reads a compiled map ("MAP", kept open for the regions' levels) or a source world
// file ("WRL") with the sector data file beside it; Save writes the source form. The map file is
// shared with the level loading threads through LockMapFile / UnlockMapFile.
//
// TODO(stand-in): only the region list, the files, quest files, spawn points, connectivity, the
// queries region-relative values need and the entity placement levels need exist. Missing: the
// loaded-regions list (GetRegionById's loaded-first search therefore searches all regions, and
// entity queries ask every region that has a loaded level), waiting for loading threads and
// destroying level entities in Unload, region removal, the per-frame PostLoadPass and Update, the
// network lists, fog of war and the rest of the queries.
#pragma once

#include "core/ABBox.h"
#include "core/CriticalSection.h"
#include "core/IntVec3.h"
#include "core/WorldCoords.h"
#include "world/EntityListType.h"
#include "world/RegionId.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class Entity;
class Level;
class Region;
class Vec3;
class WorldCoords;
class BinaryReader;
class Entity;
class File;
class FileSystem;
class MapChunkCallback;
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

    // Compiled map chunk ids.
    enum MapChunkId : uint32_t
    {
        MAP_CHUNK_REGIONS = 0x01,
        MAP_CHUNK_SPAWN_POINTS = 0x10,
        MAP_CHUNK_INSTANCE_GROUPS = 0x11,
        MAP_CHUNK_OLD_MINIMAP = 0x16,
        MAP_CHUNK_SECTOR_DATA = 0x18,
        MAP_CHUNK_MINIMAP = 0x19,
        MAP_CHUNK_QUEST_FILES = 0x1b,
    };

    // Replaces the world by the one in the file, read through the engine's file system: a compiled
    // map (connectivity built when asked) or a source world file with its sector data file. False
    // when the file is missing, of another kind, or (logged) corrupt; the world is then empty.
    bool Load(const char* fileName, bool buildConnectivity);
    // Writes the source world file under the file name and the sector data file beside it. False
    // (logged) when either could not be written.
    bool Save();
    // Deletes the regions, quest files and spawn points and closes the map file.
    void Unload();
    void SetFileName(const char* fileName) { m_fileName = fileName ? fileName : ""; }
    const char* GetFileName() const { return m_fileName.c_str(); }
    // The world file name up to its last '.' (all of it without one), then ".sd".
    static std::string GetSectorDataFileName(const std::string& worldFileName);

    // Enters the map file lock and returns the open map (null without one). A nested call by the
    // thread that holds it answers null and leaves the lock again at once.
    File* LockMapFile() const;
    void UnlockMapFile() const;
    // Hands the callback to the engine's table: false for null, for an id already taken (with a
    // notice) and without an engine.
    bool InstallMapChunkCallback(MapChunkCallback* callback);
    // A compiled map's region chunk has been read.
    bool RegionsLoaded() const { return m_regionsLoaded; }
    // Every region lists the regions whose boxes it touches.
    void BuildConnectivity();

    unsigned GetNumQuestFiles() const { return static_cast<unsigned>(m_questFiles.size()); }
    const std::string& GetQuestFile(unsigned index) const { return m_questFiles[index]; }
    void SetQuestFile(unsigned index, const std::string& name);
    void SetNumQuestFiles(unsigned count) { m_questFiles.resize(count); }
    void RemoveAllQuestFiles() { m_questFiles.clear(); }

    // The spawn point n modulo their number; a region-less value when there is none.
    WorldCoords GetPlayerSpawnPoint(unsigned n) const;
    // Replaces the spawn points by this one when it has a region.
    void SetPlayerSpawnPoint(const WorldCoords& coords);
    unsigned GetNumPlayerSpawnPoints() const { return static_cast<unsigned>(m_spawnPoints.size()); }

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
    // ---- what the engine's frame, device resets and shut-down call ----
    // TODO(stand-in): regions complete their loaded levels here, the frame walk updates the regions
    // the frusta reach, and levels and entities carry their device objects through a reset and
    // answer the frustum query; without levels and entities there is nothing to do yet.
    void PostLoadPass() {}
    void Update(const std::vector<WorldFrustum>& frusta);
    void PreDeviceReset() {}
    void PostDeviceReset() {}
    void GetEntitiesInFrustum(std::vector<Entity*>& entities, const WorldFrustum& frustum,
                              bool neighboursOnly, int listType, bool exact) const;

protected:
    bool LoadMap();
    static bool IsValidWorldFile(const char* header);
    static bool IsValidMapFile(const char* header);

private:
    struct MapReadState;

    bool ReadMapChunks(BinaryReader& reader, int version, unsigned fileLength, MapReadState& state);
    bool ReadMapRegions(BinaryReader& reader, int version, unsigned fileLength);
    bool LoadSourceWorld(File* file);
    void CloseMapFile();

    // Distance to the nearest hit along the ray, gInfinity for none. TODO(stand-in): the region
    // levels answer ray queries; without levels nothing is hit.
    float CastRay(const WorldRay& ray) const;

    std::string m_fileName;
    std::vector<std::string> m_questFiles;
    std::vector<Region*> m_regions;
    std::vector<WorldCoords> m_spawnPoints;
    File* m_mapFile = nullptr;
    FileSystem* m_mapFileSystem = nullptr; // the file system the map file came from
    mutable CriticalSection m_mapFileLock;
    mutable bool m_mapFileInUse = false;
    bool m_regionsLoaded = false;
    bool m_connectivityBuilt = false;
};

} // namespace GAME
