// The height-field ground of one outdoor region, in its editable form (Terrain) or its run-time
// form (TerrainRT). Samples lie one unit apart in the region's own space, sample (x, y) at region
// X = x, Z = y with its height on Y; a cell is the square between four neighbouring samples, and
// both cell counts are powers of two. The ground is cut into blocks of 9 x 9 cells (10 x 10
// samples; neighbouring blocks share their edge samples), and every object set into the terrain
// (blocks, plugs, placed tiles) is filed in the terrain's loose quadtree, through which the rest of
// the engine asks its questions: ray hits, collision contacts, collision boxes, objects in a box or
// in frusta, the bounding box. How heights and layers are stored is the subclasses' business,
// reached through the virtual operations.
//
// Owns the blocks, the tree and every tile made through CreateTile (a tile belongs to the terrain
// that made it until DestroyTile or the terrain's Unload frees it); plugs are owned by the tree's
// terrain and destroyed by Unload. The loaded set lists the objects whose render data is built;
// objects unused for 11 frames are unloaded from it (UnloadOldObjects).
//
// Threads: built on the region's level loading thread (Load), used afterwards only on the main
// thread; nothing locks.
#pragma once

#include "core/ABBox.h"
#include "core/OBBox.h"
#include "core/Plane.h"
#include "core/Space.h"
#include "navigation/PhysicsTypes.h"
#include "terrain/TerrainObject.h"

#include <cstdint>
#include <set>
#include <vector>

namespace GAME {

class BinaryReader;
class CollisionBox;
class Coords;
class Entity;
class Frustum;
class GraphicsMesh;
class GraphicsSceneRenderer;
class GraphicsShader2;
class Intersection;
class Ray;
class Region;
class RenderDevice;
class RenderTexture;
class RenderVertexBuffer;
class RenderVertexDeclaration;
class TerrainBlock;
class TerrainTile;
class TerrainType;
struct CollisionContact;
struct PhysicsGrassWind;

class TerrainBase
{
public:
    enum TerrainBaseType : uint32_t
    {
        TERRAIN_BASE_EDITABLE = 0,
        TERRAIN_BASE_RUN_TIME = 1,
    };

    // A block spans this many samples a side (9 cells).
    static constexpr unsigned blockSize = 10;
    static constexpr unsigned cellsPerBlock = blockSize - 1;
    // The surface of a ray that hits nothing or ground without a typed layer.
    static constexpr PhysicsSurface noSurface = 100;

    // One triangle for exact hit tests: three corners and the plane through them (in that order).
    struct IntersectionFace
    {
        Vec3 corners[3];
        Plane plane;

        IntersectionFace() = default;
        IntersectionFace(const Vec3& a, const Vec3& b, const Vec3& c) : corners{a, b, c}, plane(a, b, c) {}
    };

    // The grass render data of one block and layer: blade vertices and their wind offsets.
    struct GrassGeometry
    {
        RenderVertexBuffer* bladeBuffer = nullptr;
        RenderVertexBuffer* windBuffer = nullptr;
    };

    TerrainBase(TerrainBaseType type, Region* region);
    virtual ~TerrainBase();
    TerrainBase(const TerrainBase&) = delete;
    TerrainBase& operator=(const TerrainBase&) = delete;

    // ---- Virtual operations (the subclasses implement what the base leaves pure) ----
    // Exact ray test against the ground of the cells x0..x1, y0..y1 (both ends included): a hit
    // nearer than the intersection's distance replaces it and gives the hit cell.
    virtual void GetIntersection(const Ray& ray, unsigned x0, unsigned y0, unsigned x1, unsigned y1,
                                 Intersection& intersection, unsigned& hitX, unsigned& hitY) const = 0;
    // The ground's contacts in the cells, offered to the collision box.
    virtual void FindCollisions(CollisionBox& box, unsigned x0, unsigned y0, unsigned x1, unsigned y1,
                                PhysicsSurface surface) const = 0;
    // Contacts of the box with the ground of the cells, at most capacity; the count.
    virtual int FindCollisions(const OBBox& box, unsigned x0, unsigned y0, unsigned x1, unsigned y1,
                               CollisionContact* contacts, int capacity, PhysicsSurface surface) const = 0;
    virtual Region* GetRegion() const { return m_region; }
    // Frees everything: plugs and tiles, blocks, tree; counts become zero.
    virtual void Unload();
    virtual void PreDeviceReset();
    virtual void PostDeviceReset();
    virtual void ReloadGenerationDependentData() = 0;
    // Reads the ground body of a level file; version is the level file's.
    virtual bool Load(BinaryReader& reader, int version) = 0;
    virtual void LoadRenderData() = 0;
    virtual void AddToScene(GraphicsSceneRenderer& renderer, const Frustum& frustum) = 0;
    virtual void Update(const Frustum* frusta, unsigned count, int elapsed) = 0;
    virtual void PreLoad(const Frustum* frusta, unsigned count) = 0;
    virtual void DisplaceGrass(float x, float z, float radius, float strength) = 0;
    virtual void CreateGrassWind(const PhysicsGrassWind& wind) = 0;
    virtual void RemoveGrassWind() = 0;
    virtual unsigned GetNumTextureLayers() const = 0;
    virtual TerrainType* GetLayerTerrainType(unsigned layer) = 0;
    virtual const TerrainType* GetLayerTerrainType(unsigned layer) const = 0;
    virtual RenderTexture* GetLayerOpacityTexture(unsigned layer) const = 0;
    // 0 to 255 at a cell.
    virtual unsigned GetLayerOpacity(unsigned layer, unsigned x, unsigned y) const = 0;
    virtual unsigned GetLayerOpacityInterpolated(unsigned layer, float x, float z) const = 0;
    // Bilinear height at a region position (clamped to the terrain).
    virtual float GetHeightInterpolated(float x, float z) const = 0;
    virtual float GetHeight(int x, int y) const = 0;
    // A sample's normal from its four neighbours.
    virtual Vec3 GetFastNormal(int x, int y) const = 0;
    virtual Vec3 GetNormalInterpolated(float x, float z) const = 0;
    virtual const GraphicsShader2* GetLayerShader() const = 0;
    virtual bool LowQuality() const = 0;
    virtual RenderVertexDeclaration* GetVertexDeclaration() const = 0;
    // True where the ground is cut away.
    virtual bool IsInvisible(int x, int y) const = 0;
    // The layers that show anywhere under the box, ascending.
    virtual void GetLayersInBox(std::vector<unsigned>& layers, const ABBox& box) const = 0;
    virtual GrassGeometry CreateGrassGeometry() = 0;
    virtual void DestroyGrassGeometry(GrassGeometry& geometry) = 0;
    virtual void CreateMapGeometry() = 0;
    virtual void DestroyMapGeometry() = 0;
    // True when the tile may not be placed: its box reaches within 2 units of the terrain's edge.
    virtual bool IsTileOverlapping(const TerrainTile& tile) const = 0;
    virtual void AddTileDirtyRects(const TerrainTile& tile) = 0;

    // ---- The base's own operations ----
    TerrainBaseType GetType() const { return m_type; }
    bool IsEditable() const { return m_type == TERRAIN_BASE_EDITABLE; }
    unsigned GetNumXSamples() const { return m_numXSamples; }
    unsigned GetNumYSamples() const { return m_numYSamples; }
    unsigned NumXBlocks() const { return m_numXBlocks; }
    unsigned NumYBlocks() const { return m_numYBlocks; }
    // The block of column i and row j; null outside.
    TerrainBlock* GetBlock(unsigned i, unsigned j) const;
    const Space<TerrainObject>* GetSpace() const { return m_space; }

    // Map geometry when asked for, then the blocks and the tree.
    void InitializeBlocks(bool createMapGeometry);
    void ConstructBlocks();
    void DestroyTerrainBlocks();

    void AddLoadedObject(TerrainObject* object);
    bool IsLoadedObject(const TerrainObject* object) const
    {
        return m_loadedObjects.count(const_cast<TerrainObject*>(object)) != 0;
    }
    size_t GetNumLoadedObjects() const { return m_loadedObjects.size(); }
    // Objects unused for 11 or more frames are unloaded and leave the loaded set.
    void UnloadOldObjects();

    void AddObjectToSpace(TerrainObject* object);
    void RemoveObjectFromSpace(TerrainObject* object);
    void UpdateObjectInSpace(TerrainObject* object);
    void GetAllObjects(std::vector<TerrainObject*>& out) const;
    void GetObjectsInBox(std::vector<TerrainObject*>& out, const ABBox& box) const;
    // Objects in any of the frusta, each once; firstFrustum (optional) tells which the first saw.
    void GetObjectsInFrustum(std::vector<TerrainObject*>& out, const Frustum* frusta, unsigned count,
                             std::vector<bool>* firstFrustum = nullptr) const;
    // Update on every object in the frusta.
    void UpdateObjects(const Frustum* frusta, unsigned count, int elapsed);

    // Tiles: made, owned and freed by the terrain; in its tree while they exist.
    TerrainTile* CreateTile(const Coords& coords, GraphicsMesh* mesh);
    // A tile this terrain does not own is ignored.
    void DestroyTile(TerrainTile* tile);
    void MoveTile(TerrainTile* tile, const Coords& coords);
    void AddTile(TerrainTile* tile);
    void RemoveTile(TerrainTile* tile);
    size_t GetNumTiles() const { return m_tiles.size(); }

    // Over the samples; vertically the tree root's extent (12 +- 12 without a tree).
    ABBox GetBoundingBox() const;
    // The nearest hit of the ground, plugs and tiles; +infinity and surface 100 when none.
    void GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const;
    int FindCollisions(const Entity* entity, CollisionContact* contacts, int capacity, Region* region,
                       PhysicsSurface surface) const;
    int FindCollisions(const OBBox& box, CollisionContact* contacts, int capacity,
                       PhysicsSurface surface) const;
    void FindCollisions(std::vector<CollisionBox>& boxes, const ABBox& box, PhysicsSurface surface) const;

    // The face's plane hit by the ray inside the face; +infinity otherwise.
    static float GetFaceIntersection(const IntersectionFace& face, const Ray& ray);
    // Whether a point of the face's plane lies in the face (edges included).
    static bool IsPointInFace(const IntersectionFace& face, const Vec3& point);

    // The device the terrain makes its buffers and textures on; null without a graphics engine.
    static RenderDevice* GetRenderDevice();

protected:
    // Whether the tree holds objects other than blocks (plugs, tiles).
    bool HasObjectsBesideBlocks() const;

    TerrainBaseType m_type;
    Region* m_region;
    unsigned m_numXBlocks = 0;
    unsigned m_numYBlocks = 0;
    Space<TerrainObject>* m_space = nullptr;
    std::set<TerrainObject*> m_loadedObjects;
    TerrainBlock* m_blocks = nullptr;
    unsigned m_numXSamples = 0;
    unsigned m_numYSamples = 0;

private:
    // The ground's part of GetIntersection: the blocks the ray passes, nearest first.
    void GetGroundIntersection(const Ray& ray, Intersection& intersection) const;
    void FreeTiles();

    std::vector<TerrainTile*> m_tiles;
};

} // namespace GAME
