// The content of one region once it is loaded: its ground (editable or run-time terrain, a cell
// grid, or neither), its water, path mesh and sector layers, and every entity placed in it, filed
// in the level's entity tree (a loose quadtree over the region's x/z plane). Reads and writes the
// level file ("LVL", versions 10 to 13; Save writes 13) and the saved state of its entities, and
// answers the spatial queries of the engine (entities in spheres, boxes and frusta, ray picks,
// collisions with ground, water and other entities).
//
// Owns the tree, the ground, the water and the path mesh; destroys its entities through the
// object manager (DestroyAllEntities, Unload). The destructor unloads a level that is still loaded
// and frees whatever a failed load left. A region owns its level.
//
// Threads: Load, RestoreState and LoadRenderData run on the region's level loading thread under
// the region's level lock, before the main thread is handed the level; everything else runs on
// the main thread. Nothing here locks.
//
// The path mesh goes to the path finder when the level is complete and leaves it when the level
// unloads. In editor mode the level builds its own path mesh (CreatePathMesh) from the ground and
// the solid entities of the regions around it, and keeps the faces and obstacle boxes of the last
// build for drawing (RenderPathMeshes). Sector layers beyond 2^24 cells (a 4096-unit ground) are
// not made.
#pragma once

#include "core/ABBox.h"
#include "core/Coords.h"
#include "core/Frustum.h"
#include "core/IntSpaceBox.h"
#include "core/Intersection.h"
#include "core/OBBox.h"
#include "core/Space.h"
#include "core/Sphere.h"
#include "core/Vec2.h"
#include "navigation/PathFace.h"
#include "navigation/PathMesh.h"
#include "navigation/PhysicsTypes.h"
#include "world/EntityListType.h"
#include "world/FilterFunction.h"
#include "world/SectorLayers.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace GAME {

class BinaryReader;
class BinaryWriter;
class CollisionBox;
class Entity;
class GraphicsReflectionManager;
class GraphicsSceneRenderer;
class GridRegion;
class Ray;
class Region;
class Terrain;
class TerrainBase;
class Water;
class WorldFrustum;
class WorldPrimitiveDrawer;
class WorldVec3;
struct CollisionContact;

class Level
{
public:
    using EntityTree = Space<Entity>;

    static constexpr char magic[3] = {'L', 'V', 'L'};
    static constexpr int minVersion = 10;
    static constexpr int version = 13;
    // The widest ground a level may have along x or z, in units: far beyond any region (a terrain
    // of 16384 cells, a grid of 2048 cells of eight units), and short of where float positions
    // lose their fractions. A level whose ground is wider is refused.
    static constexpr float maxGroundExtent = 16384.0f;

    explicit Level(Region* region);
    virtual ~Level();
    Level(const Level&) = delete;
    Level& operator=(const Level&) = delete;

    // ---- Files --------------------------------------------------------------------------------
    // Through the engine's file system. False when the file cannot be opened or read.
    bool Load(const char* fileName, bool restoringState);
    // A level file in memory. On failure everything read is freed again. An entity whose frame is
    // not finite or not rigid (axes of unit length at right angles) is left out with a log line.
    bool Load(const void* data, int size, bool restoringState);
    // Version 13; runTimeFormat writes an editable terrain in its run-time form. A run-time ground
    // (loaded in editor mode, or handed over) is written back as it was read, whatever the flag.
    // False when the file cannot be opened or written, and for a run-time ground loaded outside
    // editor mode (whose bytes were not kept).
    bool Save(const char* fileName, bool runTimeFormat);
    // The level file image Save writes.
    bool SaveToMemory(BinaryWriter& writer, bool runTimeFormat) const;
    // The saved state of the entities that ask for it (a chunk 5 of records). False for null.
    bool SaveState(BinaryWriter* writer) const;
    // Re-creates the entities of saved state; false at the first record that cannot be restored
    // (one whose frame is not finite or not rigid among them). A state saved before the object
    // manager's renumbering number `renumberedSince` (ObjectManager::GetRenumberCount then; the
    // default: none since) has its entities' ids follow the renumberings since, and an entity under
    // a host they left takes a new id.
    bool RestoreState(const void* data, unsigned size, unsigned renumberedSince = ~0u);

    // ---- Life cycle ---------------------------------------------------------------------------
    // Steps: path mesh to the path finder, grid post-load, OnAddToLevel for every entity, editor
    // refresh, done. Incremental: one step a call.
    bool PostLoad(bool incremental);
    bool GetPostLoadCalled() const { return m_postLoadDone; }
    bool IsLoaded() const { return m_loaded; }
    bool LoadRenderData();
    bool HasLoadedRenderData() const { return m_renderDataLoaded; }
    // Steps: entities (8 a call), path mesh, then the tree, grounds, water and sector layers, of
    // which the level keeps nothing. Incremental: one step a call.
    bool Unload(bool incremental);
    // The first maximum entities of the tree walk (all for a negative maximum). False when a
    // maximum was given and some entity was destroyed (more may remain).
    bool DestroyAllEntities(int maximum);

    // ---- Entities -----------------------------------------------------------------------------
    bool AddEntity(Entity* entity, const Coords& coords);
    void RemoveEntity(Entity* entity);
    void MoveEntity(Entity* entity, const Coords& coords);
    void AddEntityToNetworkList(Entity* entity);
    void RemoveEntityFromNetworkList(Entity* entity);
    bool IsInNetworkList(Entity* entity) const;
    unsigned GetNumEntities() const { return m_numEntities; }

    // ---- Frame --------------------------------------------------------------------------------
    // Marks the entities of the first frustum for render pre-loading and pre-loads them, all at
    // once or a tenth of them a call (by object id).
    void PreLoad(const Frustum* frusta, unsigned count, bool all);
    void Update(const Frustum* frusta, unsigned count, int elapsed);
    void AddToScene(GraphicsSceneRenderer& renderer, const Frustum& frustum,
                    const WorldFrustum* worldFrustum = nullptr);
    void AddReflectionPlanes(GraphicsReflectionManager& manager, const Frustum& frustum);
    // Every entity in the world that is included in the minimap updates once (10 ms).
    void RebuildMapData();

    // ---- Editor -------------------------------------------------------------------------------
    // A flat editable terrain of width x height samples (each one more than a power of two);
    // false, the level left empty, for other counts.
    bool NewTerrain(unsigned width, unsigned height);
    // The level's ground becomes a run-time terrain read from the body of a ground chunk of that
    // kind (a tool builds the ground in memory); the body is kept and written back as it is by
    // SaveToMemory. False (the level empty, one log line) when the body cannot be read.
    bool NewRunTimeTerrain(const std::vector<uint8_t>& body);
    // A grid of x, y, z cells. Refused (one log line, the level left as it was) when x or z cells
    // at the grid's spacing are wider than maxGroundExtent: Load would refuse the level.
    void NewGrid(int x, int y, int z);
    void NewSpace(const Vec2& halfSize);
    Water* NewWater();
    // Refused like NewGrid, and left as it was when the grid refuses the counts.
    void ResizeGrid(int x, int y, int z);
    void ResizeSectorLayers();

    // ---- Path mesh (editor) -------------------------------------------------------------------
    // Rebuilds the path mesh over the build box: the walkable ground of every region the box meets
    // (their levels loaded for the build when they were not, and unloaded again before the
    // answer; a level that failed to load is not read again but left out, said in a line), with
    // the solid parts of their entities as obstacles. True with a mesh registered with the path
    // finder, or true without a mesh when no walkable ground is there; false when the mesh could
    // not be built (the mesh stays empty and unregistered).
    bool CreatePathMesh();
    // The box CreatePathMesh builds over, in world units: the level's box grown by 8 units on every
    // side, centred on it.
    IntSpaceBox GetPathMeshBuildBox() const;
    // The faces of the last build (blue walkable, white obstacle lines) and its obstacle boxes
    // (yellow), drawn in frame combined with the move from the build frame to the region's space.
    void RenderPathMeshes(WorldPrimitiveDrawer& drawer, const Coords& frame) const;
    const std::vector<PathFace>& GetPathFaces() const { return m_pathFaces; }
    const std::vector<OBBox>& GetPathObstacles() const { return m_pathObstacles; }

    void PreDeviceReset();
    void PostDeviceReset();
    void ReloadGenerationDependentData();

    // ---- Accessors ----------------------------------------------------------------------------
    Region* GetRegion() const { return m_region; }
    TerrainBase* GetTerrain() { return m_terrain; }
    const TerrainBase* GetTerrain() const { return m_terrain; }
    Terrain* GetEditableTerrain();
    const Terrain* GetEditableTerrain() const;
    GridRegion* GetGridRegion() { return m_gridRegion; }
    const GridRegion* GetGridRegion() const { return m_gridRegion; }
    Water* GetWater() { return m_water; }
    const Water* GetWater() const { return m_water; }
    PathMesh& GetPathMesh() { return m_pathMesh; }
    const PathMesh& GetPathMesh() const { return m_pathMesh; }
    const EntityTree* GetEntityTree() const { return m_tree; }
    bool IsUnderground() const { return m_gridRegion != nullptr; }
    ABBox GetBoundingBox() const;
    float GetGroundHeight(float x, float z) const;
    SectorLayers& GetSectorLayers() { return m_sectorLayers; }
    const SectorLayers& GetSectorLayers() const { return m_sectorLayers; }

    // ---- Queries (all append to out; the list type filters only what a call appended) --------
    void GetEntities(std::vector<Entity*>& out, EntityListType type) const;
    void GetEntities(std::vector<Entity*>& out, const FilterFunction<Entity>& filter,
                     EntityListType type) const;
    void GetEntitiesInSphere(std::vector<Entity*>& out, const Sphere& sphere, bool alternate,
                             EntityListType type) const;
    void GetEntitiesInBox(std::vector<Entity*>& out, const ABBox& box, EntityListType type) const;
    // Several frusta give each entity once, in address order. No list-type filter.
    void GetEntitiesInFrustum(std::vector<Entity*>& out, const Frustum* frusta, unsigned count,
                              bool alternate, EntityListType type, bool exact) const;
    bool HasEntity(const Entity* entity) const;
    // The entity hit nearest; null when nothing is hit or the level is not loaded.
    Entity* PickEntity(const Ray& ray) const;
    // As PickEntity, asking every entity the filter accepts.
    Entity* PickEntity(const Ray& ray, const FilterFunction<Entity>& filter) const;
    void PickEntities(const Ray& ray, std::vector<Entity*>& out, bool alternate) const;
    void GetAllIntersections(const Ray& ray, std::vector<Entity*>& out, bool alternate,
                             float maxDistance) const;
    // Ground, then entities (unless excluded), then water; the nearest hit wins.
    void GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface,
                         bool excludeEntities) const;
    // Contacts relative to the reference position; each answers the number written.
    int FindCollisions(const Entity* entity, CollisionContact* contacts, int capacity,
                       const WorldVec3& reference, EntityListType type, PhysicsSurface surface) const;
    int FindCollisions(const Entity* entity, const OBBox& box, CollisionContact* contacts, int capacity,
                       const WorldVec3& reference, EntityListType type, PhysicsSurface surface) const;
    void FindCollisions(std::vector<CollisionBox>& boxes, const ABBox& enclosing, const WorldVec3& reference,
                        EntityListType type, PhysicsSurface surface) const;

private:
    friend class Entity;

    // A deleted entity leaves the tree and the network list.
    void ForgetEntity(Entity* entity);
    // Frees the tree, grounds, water, path mesh and layers; entities still filed are destroyed.
    void FreeContents();
    void MakeTree(float x, float z, float hx, float hz);
    bool ReadEntityList(BinaryReader& reader, int fileVersion, bool restoringState,
                        std::vector<Entity*>& slots);
    bool ReadExtraData(BinaryReader& reader, const std::vector<Entity*>& slots);
    bool KeepsLoadedEntity(Entity* entity, bool restoringState) const;
    void UpdateEntity(Entity* entity, int elapsed);
    bool PostLoadStep();
    bool UnloadStep();
    void InitSectorLayers(unsigned width, unsigned height);
    // Entity test of the frustum queries.
    static bool EntityInFrustum(const Entity* entity, const ABBox& treeBox, const SpaceFrustum& frustum,
                                bool alternate, bool exact);
    static void FilterByListType(std::vector<Entity*>& out, size_t from, EntityListType type);
    // Collides a reference-relative box with another entity's mesh or boxes.
    int CollideWithEntity(const OBBox& box, const Entity* other, const WorldVec3& reference,
                          CollisionContact* contacts, int capacity) const;
    // The obstacle faces and boxes of the entities of a level in the build box.
    void AddPathObstacles(const Level& level, const IntSpaceBox& box);
    // Out of the path finder and emptied.
    void ClearPathMesh();

    Region* m_region;
    EntityTree* m_tree = nullptr;
    TerrainBase* m_terrain = nullptr;
    // The run-time terrain's body as it was read in editor mode or handed over (NewRunTimeTerrain),
    // written back by SaveToMemory.
    std::vector<uint8_t> m_runTimeGround;
    GridRegion* m_gridRegion = nullptr;
    Water* m_water = nullptr;
    PathMesh m_pathMesh;
    // The last path-mesh build's faces and obstacle boxes (build frame) and its box.
    std::vector<PathFace> m_pathFaces;
    std::vector<OBBox> m_pathObstacles;
    IntSpaceBox m_pathBuildBox;
    bool m_loaded = false;
    // Written by the loading thread while the main thread may ask (render-data loads).
    std::atomic<bool> m_renderDataLoaded{false};
    unsigned m_numEntities = 0;
    unsigned m_preLoadRotation = 0;
    bool m_postLoadDone = false;
    SectorLayers m_sectorLayers;
    std::vector<Entity*> m_networkList;
    unsigned m_lastNetworkGeneration = 0;
    bool m_postLoadStarted = false;
    unsigned m_postLoadStep = 0;
    bool m_unloadStarted = false;
    unsigned m_unloadStep = 0;
};

} // namespace GAME
