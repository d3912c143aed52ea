// The loaded world: the ordered regions of one map, the map's quest files and player spawn points,
// and the one open compiled map file every region's level and minimap is read from. The engine
// owns exactly one (region-relative values reach it through GetCurrent); the host loads a world
// file into it with Load, and the engine drives it every frame with PostLoadPass and Update, which
// walk from the region of each view frustum through the portals, load what comes within the
// level-load distance (55 units) of a view (and what lies behind the portals within that distance
// of a region the view nears), update what is seen and let idle levels unload. The
// geometric queries across regions (distances through portals, entities in spheres, boxes,
// frusta and cones, rays, floors, collisions) are answered here by asking each region's level.
//
// Moves: an entity that stays when it enters a region whose level is not in (a player's character)
// has that level loaded at once by SetCoords, except on a network server, whose main thread loads
// no level for a move: there the level comes in on its region's loading thread and the entity
// stays where it is (at the border) until a later SetCoords finds the level in. A server host that
// wants a level at once all the same (a character sent far away, say) calls
// GuaranteedGetRegionLevel (or the region's LoadLevel) before SetCoords, and takes that frame's
// stall. A move into a region whose level failed to load is refused until the host asks for the
// level again (Region::IsLevelBroken): the entity stays where it was, one log line says so (on a
// server and off one, however many moves are refused), and on a server the host's network
// controller hears OnEntityAdded(entity, false), the region not having taken it. The
// world's own queries and moves never ask for a level again (Region::GetLevelUnlessBroken).
//
// Files: Load reads a compiled map ("MAP", kept open for the regions' levels) or a source world
// file ("WRL") with the sector data file beside it; Save writes the source form.
//
// Threads: everything is a main-thread call, except LockMapFile / UnlockMapFile, which the
// regions' level loading threads use to read the map file, and GetCurrent. The loaded-regions
// list changes on the main thread only.
//
// Memory: what an unloaded level freed goes back to the system as far as the allocator gives it
// back as it frees (large blocks, the free top of a heap: Platform::LimitKeptHeapMemory, which the
// engine sets at start-up); the rest stays with the allocator for the next levels' loads. The free
// pages in the middle of the heaps are given back (by a "Heap Trimming Thread") only when the world
// unloads: the allocator walks each of its heaps under that heap's lock as it gives pages back (20
// to 400 ms on the sample host's heap), and every thread that allocates from that heap, the main
// thread drawing a frame among them, waits that long.
#pragma once

#include "core/ABBox.h"
#include "core/CriticalSection.h"
#include "core/GeometryBus.h"
#include "core/IntVec3.h"
#include "core/Intersection.h"
#include "core/Timer.h"
#include "core/WorldCoords.h"
#include "core/WorldVec3.h"
#include "data/RegionId.h"
#include "navigation/PhysicsTypes.h"
#include "world/EntityListType.h"
#include "world/FilterFunction.h"
#include "world/SplashType.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <set>
#include <string>
#include <vector>

namespace GAME {

struct PhysicsGrassWind;

class BinaryReader;
class CollisionBox;
class Entity;
class File;
class FileSystem;
class Frustum;
class Level;
class MapChunkCallback;
class OBBox;
class Path;
class Portal;
class Ray;
class Region;
class Sphere;
class Vec3;
class WorldFrustum;
class WorldRay;
struct CollisionContact;

// A ray hit across regions: distance (gInfinity for none), the hit position in the region that was
// hit, and the surface value the level set.
class WorldIntersection
{
public:
    float distance = gInfinity;
    WorldVec3 position;
    uint32_t surface = 0;

    bool IsHit() const { return distance != gInfinity; }
};

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

    // ---- Files --------------------------------------------------------------------------------
    // Replaces the world by the one in the file, read through the engine's file system: a compiled
    // map (connectivity built when asked) or a source world file with its sector data file. False
    // when the file is missing, of another kind, or (logged) corrupt; the world is then empty.
    bool Load(const char* fileName, bool buildConnectivity);
    // Writes the source world file under the file name and the sector data file beside it. False
    // (logged) when either could not be written.
    bool Save();
    // Waits for every region's loading thread, destroys the level entities, deletes the regions,
    // quest files and spawn points, clears the engine's sector data and closes the map file.
    void Unload();
    void SetFileName(const char* fileName) { m_fileName = fileName ? fileName : ""; }
    const char* GetFileName() const { return m_fileName.c_str(); }
    // The world file name up to its last '.' (all of it without one), then ".sd".
    static std::string GetSectorDataFileName(const std::string& worldFileName);

    // Enters the map file lock and returns the open map. Null, with the lock left again, when there
    // is no map file or the calling thread holds it already (a nested lock): call UnlockMapFile
    // only after a non-null answer.
    File* LockMapFile() const;
    void UnlockMapFile() const;
    // Hands the callback to the engine's table: false for null, for an id already taken (with a
    // notice) and without an engine.
    bool InstallMapChunkCallback(MapChunkCallback* callback);
    // A compiled map's region chunk has been read.
    bool RegionsLoaded() const { return m_regionsLoaded; }
    // Every region lists the regions whose boxes it touches; Update then walks from the views'
    // regions only.
    void BuildConnectivity();
    bool IsConnectivityBuilt() const { return m_connectivityBuilt; }

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

    // ---- Regions ------------------------------------------------------------------------------
    int GetNumRegions() const { return static_cast<int>(m_regions.size()); }
    // Null outside [0, GetNumRegions()).
    Region* GetRegion(int index) const;
    // -1 when the region is not in this world.
    int GetRegionIndex(const Region* region) const;
    const char* GetRegionName(int index) const;
    void SetRegionName(int index, const char* name);
    // Null for index -1; otherwise the region's GetLevel(false).
    Level* GetRegionLevel(int index) const;
    // The region's level, loaded at once if need be; null for index -1 or without regions.
    Level* GuaranteedGetRegionLevel(int index) const;
    // The index of the level's region; -1 when it has none.
    int GetLevelRegion(const Level* level) const;
    // Appends a region without map data; an all-zero id gets a new unique one. Returns its index.
    int AddRegion(const char* name, const IntVec3& offset, const ABBox& box, const RegionId& id);
    // Appends a region with an empty box and a new id and loads its level file (the name) at once;
    // -1 (logged, region removed again) when it cannot be loaded.
    int AddRegion(const char* name, const IntVec3& offset);
    // Appends a region named "Unnamed" holding the level (its box the level's).
    int AddRegion(Level* level, const IntVec3& offset);
    // Waits for the region's thread, forgets it everywhere, deletes it and renumbers the rest.
    void RemoveRegion(int index);
    void UnloadLevel(int index, bool saveState);
    // Every region unloads within its next 2 to 24 frames without use (one a frame at most; on a
    // server, in turn: see serverUnloadSpacingFrames).
    void UnloadExtraRegions();
    // How many times the world has asked for the heap's free pages to be given back (once at each
    // Unload of a world that had regions; never in a frame).
    unsigned GetHeapReleasesAsked() const { return m_heapReleasesAsked; }
    // The first region whose level this is takes the level's box.
    void UpdateRegionBoundingBox(Level* level);
    // Keeps the list of regions whose levels are completed (no duplicates; null ignored).
    void SetRegionLoaded(const Region* region, bool loaded);
    // The regions whose levels are completed, in order of completion.
    const std::list<Region*>& GetLoadedRegions() const { return m_loadedRegions; }
    bool IsRegionLoaded(const Region* region) const;
    // Null when no region has the id (an all-zero id never matches); the loaded regions are
    // searched first when asked.
    Region* GetRegionById(const RegionId& id, bool searchLoadedFirst) const;

    // ---- Per frame ----------------------------------------------------------------------------
    // Levels unload for want of use one a frame at most, the longest overdue first (the rest stay
    // in until their turn): an unload is the main thread's work, and levels that came due together
    // (their staggers met, or UnloadExtraRegions) would add theirs up in one frame. On a server,
    // the frames from one such unload to the next: clients' views, which bring levels in and leave
    // them, must not be able to make every frame unload one either. The server takes a client's
    // view at most every 100 ms, some 6 frames: one client's views cannot bring levels in faster
    // than they go.
    static constexpr unsigned serverUnloadSpacingFrames = 4;

    // Completes, one step a frame, every region whose level finished loading on its thread.
    void PostLoadPass();
    // The frame walk: updates every region the frusta reach (any number of frusta), starting
    // loads, then counts the frames without use of every region.
    void Update(const std::vector<WorldFrustum>& frusta);
    void EnableDebugging(bool enable) { m_debugging = enable; }
    void ShowConnections(bool show) { m_showConnections = show; }
    float GetShadowSoftness() const { return m_shadowSoftness; }
    void SetShadowSoftness(float softness) { m_shadowSoftness = softness; }
    // The world timer's elapsed milliseconds of the last Update.
    int GetElapsedTime() const { return m_elapsed; }
    void PreDeviceReset();
    void PostDeviceReset();
    void ReloadGenerationDependentData();
    void ReleaseMinimapImages();
    void ValidateSectorLayers();

    // ---- Entities -----------------------------------------------------------------------------
    // False when the coords have no region or the entity has one already; otherwise the target
    // region places it.
    bool AddEntity(Entity* entity, const WorldCoords& coords, bool quiet);
    // Out of every client's table and its region's level.
    void RemoveEntity(Entity* entity);
    // Moves an entity, changing level when the region changes. On a server a move into a region
    // whose level is not in only starts that level's load, and one whose level is broken is
    // refused: the entity stays (see the banner).
    void SetCoords(Entity* entity, const WorldCoords& coords);
    void AddEntityToNetworkList(Entity* entity);
    void RemoveEntityFromNetworkList(Entity* entity);

    // ---- Fog of war ---------------------------------------------------------------------------
    // True without a region; otherwise the region's persistent fog.
    bool IsInFog(const WorldVec3& position) const;
    // Visibility of the radius at the position in every region within 30 units.
    void AddFOWVisibility(const WorldVec3& position, int radius);
    // Regions without a loaded level save and release their persistent fog.
    void UnloadFOWForMapClose();

    // ---- Region queries -----------------------------------------------------------------------
    // The first region (index order) whose box strictly contains p, taken from `from`'s space
    // (the world origin's when from is null) into its own; null when none.
    Region* GetRegionContainingPoint(const Region* from, const Vec3& p) const;
    // The same for an integer world position.
    Region* GetRegionContainingPoint(const IntVec3& p) const;
    // Regions whose box (moved into from's space) meets the frustum; with connectedOnly only those
    // within 8 connectivity steps of from. Nothing without from.
    void GetRegionsInFrustum(std::vector<Region*>& out, Region* from, const Frustum& frustum,
                             bool connectedOnly) const;
    // The same over the loaded regions (list order); neighboursOnly keeps from and its neighbours.
    void GetLoadedRegionsInFrustum(std::vector<const Region*>& out, Region* from, const Frustum& frustum,
                                   bool neighboursOnly) const;
    // Regions whose box (moved into from's space) overlaps the box. Nothing without from.
    void GetRegionsInBox(std::vector<Region*>& out, Region* from, const ABBox& box) const;
    // The region, its connected regions and theirs, up to maxDepth levels.
    void GetConnectedRegionSet(const Region* region, std::set<Region*>& out, int maxDepth) const;
    // Breadth-first over connected-regions lists; a region is connected to itself.
    bool AreRegionsConnected(const Region* a, const Region* b, int maxDepth) const;

    // ---- Distances ----------------------------------------------------------------------------
    // gInfinity when either has no region; across regions the offset-corrected distance, or the
    // distance through a portal of a's region that leads to b's region when that is shorter.
    float GetDistanceSquared(const WorldVec3& a, const WorldVec3& b) const;
    float GetDistance(const WorldVec3& a, const WorldVec3& b) const;
    // to - from in from's space, through a portal when that way is shorter.
    Vec3 GetDirection(const WorldVec3& from, const WorldVec3& to) const;

    // ---- Entity queries (only regions with loaded levels answer) ------------------------------
    void GetEntities(std::vector<Entity*>& out, EntityListType type) const;
    void GetEntities(std::vector<Entity*>& out, const FilterFunction<Entity>& filter, EntityListType type) const;
    void GetEntitiesInSphere(std::vector<Entity*>& out, Region* from, const Sphere& sphere, bool alternate,
                             EntityListType type) const;
    // Appends the entities whose region boxes meet the box (given in from's space) from every
    // region it overlaps whose level is loaded (with force, every such region's level, loaded at
    // once unless it is broken: Region::GetLevelUnlessBroken); nothing without from.
    void GetEntitiesInBox(std::vector<Entity*>& out, const ABBox& box, Region* from, bool force,
                          EntityListType type) const;
    // The loaded regions the frustum meets each collect their entities in it (not through portals).
    void GetEntitiesInFrustum(std::vector<Entity*>& out, const WorldFrustum& frustum, bool neighboursOnly,
                              EntityListType type, bool exact) const;
    // Entities in the cone of the angle (clamped to (0, 2pi)) and range about the axis, nearest to
    // the axis first.
    void GetEntitiesInCone(std::vector<Entity*>& out, const WorldVec3& apex, const Vec3& axis, float angle,
                           float range, bool alternate, EntityListType type) const;

    // ---- Rays ---------------------------------------------------------------------------------
    // Through the portals of the ray's region first; without a hit there, the nearest hit of every
    // loaded region the ray meets.
    void GetIntersection(const WorldRay& ray, WorldIntersection& out, PhysicsSurface surface,
                         bool excludeEntities) const;
    void GetIntersectionThroughPortals(Region* region, const Ray& ray, WorldIntersection& out,
                                       PhysicsSurface surface) const;
    // The entity the first loaded region (list order) picks; null when none.
    Entity* PickEntity(const WorldRay& ray) const;
    Entity* PickEntity(const WorldRay& ray, const FilterFunction<Entity>& filter) const;
    void PickEntities(const WorldRay& ray, std::vector<Entity*>& out) const;
    void GetAllIntersections(const WorldRay& ray, std::vector<Entity*>& out, bool alternate,
                             float maxDistance) const;
    // The index of the loaded region whose ground the ray hits nearest; -1 when none.
    int PickRegion(const WorldRay& ray) const;
    // The nearest portal of the loaded regions the ray meets, distance lowered to its hit.
    Portal* TraceRayAgainstPortals(const WorldRay& ray, float& distance, bool bothSides) const;

    // ---- Heights ------------------------------------------------------------------------------
    // The floor under (or else over) the position: a ray cast 2.5 units down from above it, then
    // 2.5 units up from below it; -gInfinity when neither hits or the position has no region.
    float GetNearestFloorHeight(const WorldVec3& p) const;
    // The highest ground over the vertical line at (x, z) of region's space, the levels of the
    // regions there loaded at once unless broken (Region::GetLevelUnlessBroken); -9999999 for none.
    float GetHighestTerrainHeight(Region* region, float x, float z) const;

    // ---- Collisions ---------------------------------------------------------------------------
    int FindCollisions(const Entity* entity, CollisionContact* contacts, int maxContacts, const WorldVec3& pos,
                       EntityListType type, PhysicsSurface surface) const;
    int FindCollisions(const Entity* entity, const OBBox& box, CollisionContact* contacts, int maxContacts,
                       const WorldVec3& pos, EntityListType type, PhysicsSurface surface) const;
    void FindCollisions(const Entity* entity, std::vector<CollisionBox>& boxes, const WorldVec3& pos,
                        EntityListType type, PhysicsSurface surface) const;
    // The planes moved by shift.
    static void ShiftFrustum(const Frustum& in, const Vec3& shift, Frustum& out);

    // ---- Disturbances -------------------------------------------------------------------------
    // Something moving at the position disturbs the ground and water around it: every loaded
    // region that the box of half size radius around it reaches has its terrain's grass pushed
    // away from the position (radius and strength passed on), and its water a ripple and the
    // splash of the type where the surface lies near the position.
    void CreateDisturbance(const WorldVec3& position, float radius, float strength, SplashType type);
    // A copy of the wind, moved into each loaded region's space, to every terrain; nothing for a
    // wind without a region.
    void CreateGrassWind(const PhysicsGrassWind& wind);
    // Every loaded region's terrain drops its grass wind.
    void RemoveGrassWind();
    // Geometry queries gather nothing at the world level (the regions answer them).
    void GeometryBusStop(const ABBox&, std::vector<GeometryBus::SimpleFace>&) {}

    // ---- Paths ----------------------------------------------------------------------------------
    // The path finder's answer, unchanged.
    Path* FindPath(int agentShape, const WorldVec3& from, const WorldVec3& to, const Vec3& extents, float range,
                   float radius, float height, float slope, unsigned flags);
    void InvalidateAllPathing() {}

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
    // Waits for every thread of every region, then deletes them all.
    void DeleteRegions();
    void ClearSectorData();
    // Calls the operation on every region.
    void ForEachRegion(void (Region::*operation)());
    // The unloads for want of use: the longest overdue level goes, when the last such unload lies
    // that many frames back; whether one went.
    bool UnloadOneOverdueLevel(unsigned spacingFrames);

    class HeapTrimmer;

    bool m_debugging = false;
    bool m_showConnections = true;
    int m_elapsed = 0;
    std::string m_fileName;
    std::vector<std::string> m_questFiles;
    std::vector<Region*> m_regions;
    std::list<Region*> m_loadedRegions;
    std::vector<WorldCoords> m_spawnPoints;
    File* m_mapFile = nullptr;
    FileSystem* m_mapFileSystem = nullptr; // the file system the map file came from
    mutable CriticalSection m_mapFileLock;
    mutable std::atomic<bool> m_mapFileInUse{false};
    bool m_regionsLoaded = false;
    bool m_connectivityBuilt = false;
    // Sector data was read into the engine's manager for this world.
    bool m_ownsSectorData = false;
    float m_shadowSoftness = 1.5f;
    GameTimer m_timer;
    // Gives back the heap pages of the levels when the world unloads; made then.
    HeapTrimmer* m_heapTrimmer = nullptr;
    unsigned m_heapReleasesAsked = 0;
    // World updates since a level last unloaded for want of use.
    unsigned m_framesSinceUnload = serverUnloadSpacingFrames;
};

} // namespace GAME
