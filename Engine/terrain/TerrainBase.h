// The height-field ground of one outdoor region, in its editable form (Terrain) or its run-time
// form (TerrainRT). Samples lie one unit apart in the region's own space, sample (x, y) at region
// X = x, Z = y with its height on Y; a cell is the square between four neighbouring samples, and
// both cell counts are powers of two. The ground is cut into blocks of 9 x 9 cells (10 x 10
// samples; neighbouring blocks share their edge samples), and every object set into the terrain
// (blocks, plugs, placed tiles) is filed in the terrain's loose quadtree, through which the rest of
// the engine asks its questions: ray hits, collision contacts, collision boxes, objects in a box or
// in frusta, the bounding box. How heights, layers and cut-away samples are stored is the
// subclasses' business: each points the base's height-field view (m_field) at its arrays, and
// every height, ray and collision query reads that view. The device data both forms draw the same
// way is the base's: the ground vertices (24 bytes: position (x, height, y), then the sample's
// normal, in sample order) and their declaration, one index buffer of 350 grass quads that serves
// every grass draw, and a pool of grass vertex buffers (at most 16 records) reused across blocks.
//
// Owns the blocks, the tree, those device buffers and every tile made through CreateTile (a tile
// belongs to the terrain that made it until DestroyTile or the terrain's Unload frees it); plugs
// are owned by the tree's terrain and destroyed by Unload. The loaded set lists the objects whose
// render data is built; objects unused for 11 frames are unloaded from it (UnloadOldObjects).
//
// Threads: built on the region's level loading thread (Load), used afterwards only on the main
// thread; nothing locks.
#pragma once

#include "core/ABBox.h"
#include "core/OBBox.h"
#include "core/Plane.h"
#include "core/Space.h"
#include "navigation/PhysicsTypes.h"
#include "terrain/HeightField.h"
#include "terrain/TerrainObject.h"

#include <cstdint>
#include <deque>
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
class RenderIndexBuffer;
class RenderTexture;
class RenderVertexBuffer;
class RenderVertexDeclaration;
class TerrainBlock;
class TerrainRenderInterfaceBase;
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
    static constexpr unsigned groundVertexSize = 24;
    // A returned grass record joins the pool while it holds at most this many.
    static constexpr size_t maxGrassBufferCacheSize = 15;
    static constexpr unsigned grassIndexCount = 2100;
    static constexpr unsigned grassBladeBufferSize = 44800;
    static constexpr unsigned grassWindBufferSize = 11200;

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

    // What every form keeps of a texture layer: its terrain type (null when it has none) and its
    // opacity texture (made as the form makes it).
    struct LayerResources
    {
        TerrainType* type = nullptr;
        RenderTexture* texture = nullptr;
    };

    // The render interface is the subclass's member; the base only keeps its address.
    TerrainBase(TerrainBaseType type, Region* region, TerrainRenderInterfaceBase& renderInterface);
    virtual ~TerrainBase();
    TerrainBase(const TerrainBase&) = delete;
    TerrainBase& operator=(const TerrainBase&) = delete;

    // ---- Virtual operations (the subclasses implement what the base leaves pure) ----
    // Exact ray test against the ground of the cells x0..x1, y0..y1 (both ends included): a hit
    // nearer than the intersection's distance replaces it and gives the hit cell.
    virtual void GetIntersection(const Ray& ray, unsigned x0, unsigned y0, unsigned x1, unsigned y1,
                                 Intersection& intersection, unsigned& hitX, unsigned& hitY) const;
    // The ground's contacts in the cells, offered to the collision box.
    virtual void FindCollisions(CollisionBox& box, unsigned x0, unsigned y0, unsigned x1, unsigned y1,
                                PhysicsSurface surface) const;
    // Contacts of the box with the ground of the cells, at most capacity; the count.
    virtual int FindCollisions(const OBBox& box, unsigned x0, unsigned y0, unsigned x1, unsigned y1,
                               CollisionContact* contacts, int capacity, PhysicsSurface surface) const;
    virtual Region* GetRegion() const { return m_region; }
    // Frees everything: the ground vertices, plugs and tiles, blocks, tree, grass buffers; counts
    // become zero. The subclasses free their layers first and their samples after.
    virtual void Unload();
    // Every object's device data, the layers' opacity textures and the map geometry go.
    virtual void PreDeviceReset();
    virtual void PostDeviceReset();
    // The layers' bump maps again.
    virtual void ReloadGenerationDependentData();
    // Reads the ground body of a level file; version is the level file's.
    virtual bool Load(BinaryReader& reader, int version) = 0;
    virtual void LoadRenderData() = 0;
    virtual void AddToScene(GraphicsSceneRenderer& renderer, const Frustum& frustum) = 0;
    // Old objects unloaded, the objects in the frusta updated.
    virtual void Update(const Frustum* frusta, unsigned count, int elapsed);
    // The objects in the frusta load their render data: at once those the first frustum sees, the
    // rest queued.
    virtual void PreLoad(const Frustum* frusta, unsigned count);
    virtual void DisplaceGrass(float x, float z, float radius, float strength);
    virtual void CreateGrassWind(const PhysicsGrassWind& wind);
    virtual void RemoveGrassWind();
    virtual unsigned GetNumTextureLayers() const = 0;
    virtual TerrainType* GetLayerTerrainType(unsigned layer);
    virtual const TerrainType* GetLayerTerrainType(unsigned layer) const;
    virtual RenderTexture* GetLayerOpacityTexture(unsigned layer) const;
    // 0 to 255 at a cell.
    virtual unsigned GetLayerOpacity(unsigned layer, unsigned x, unsigned y) const = 0;
    // Bilinear between cells, the position clamped to the cells (NaN to 0).
    virtual unsigned GetLayerOpacityInterpolated(unsigned layer, float x, float z) const;
    // Bilinear height at a region position (clamped to the terrain).
    virtual float GetHeightInterpolated(float x, float z) const;
    virtual float GetHeight(int x, int y) const;
    // A sample's normal from its four neighbours.
    virtual Vec3 GetFastNormal(int x, int y) const;
    virtual Vec3 GetNormalInterpolated(float x, float z) const;
    virtual const GraphicsShader2* GetLayerShader() const;
    virtual bool LowQuality() const;
    virtual RenderVertexDeclaration* GetVertexDeclaration() const { return m_groundDeclaration; }
    // True where the ground is cut away.
    virtual bool IsInvisible(int x, int y) const = 0;
    // The layers that show anywhere under the box, ascending.
    virtual void GetLayersInBox(std::vector<unsigned>& layers, const ABBox& box) const = 0;
    // A record from the pool (oldest first), else two new dynamic buffers; no buffers when the
    // device refuses either.
    virtual GrassGeometry CreateGrassGeometry();
    // Back to the pool while it holds at most maxGrassBufferCacheSize, else to the device; a
    // record missing a buffer is never pooled. The record is emptied.
    virtual void DestroyGrassGeometry(GrassGeometry& geometry);
    // The ground vertices from the samples, and the grass index buffer.
    virtual void CreateMapGeometry();
    // The ground vertices and declaration, the grass index buffer and the pool.
    virtual void DestroyMapGeometry();
    // True when the tile may not be placed: its box reaches within 2 units of the terrain's edge.
    virtual bool IsTileOverlapping(const TerrainTile& tile) const;
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

    RenderVertexBuffer* GetGroundVertexBuffer() const { return m_groundVertices; }
    RenderIndexBuffer* GetGrassIndexBuffer() const { return m_grassIndices; }
    size_t GetGrassPoolSize() const { return m_grassPool.size(); }

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
    // The layer's type and texture; null past the last layer.
    virtual const LayerResources* GetLayerResources(unsigned layer) const = 0;
    // The ground vertices of the samples x0 .. x1 - 1, y0 .. y1 - 1, each at its place in out (the
    // locked ground vertex buffer).
    void WriteGroundVertices(float* out, unsigned x0, unsigned y0, unsigned x1, unsigned y1) const;
    // The objects in the frustum join the scene (plugs only with drawPlugs), then the render
    // interface with them; false when no object is in view.
    bool AddObjectsToScene(GraphicsSceneRenderer& renderer, const Frustum& frustum, bool drawPlugs);
    // The cells (x0, y0) .. (x1, y1) the box covers (the far edges rounded), clamped to the
    // terrain; false when none.
    bool GetCellsInBox(const ABBox& box, int64_t& x0, int64_t& y0, int64_t& x1, int64_t& y1) const;
    // Whether x and y sample counts make a terrain: at least 2 and a power of two cells a side.
    static bool AreSampleCounts(uint32_t x, uint32_t y);

    TerrainBaseType m_type;
    Region* m_region;
    TerrainRenderInterfaceBase& m_renderInterfaceBase;
    // The view of the subclass's heights and cut-away samples that every query reads; empty while
    // the terrain has no samples (Unload empties it).
    HeightField m_field;
    unsigned m_numXBlocks = 0;
    unsigned m_numYBlocks = 0;
    Space<TerrainObject>* m_space = nullptr;
    std::set<TerrainObject*> m_loadedObjects;
    TerrainBlock* m_blocks = nullptr;
    unsigned m_numXSamples = 0;
    unsigned m_numYSamples = 0;
    RenderVertexDeclaration* m_groundDeclaration = nullptr;
    RenderVertexBuffer* m_groundVertices = nullptr;
    RenderIndexBuffer* m_grassIndices = nullptr;
    std::deque<GrassGeometry> m_grassPool;

private:
    // The ground's part of GetIntersection: the blocks the ray passes, nearest first.
    void GetGroundIntersection(const Ray& ray, Intersection& intersection) const;
    // The contacts of the box with the objects in the bounds, at most capacity; the count.
    int FindObjectCollisions(const ABBox& bounds, const OBBox& box, CollisionContact* contacts, int capacity,
                             PhysicsSurface surface) const;
    void FreeTiles();
    // Every plug out of the tree and the loaded set, and destroyed.
    void DeletePlugs();
    void DestroyGrassPool();
    // Calls the operation on every object in the tree (a list taken first).
    void ForAllObjects(void (TerrainObject::*call)());
    LayerResources* MutableLayerResources(unsigned layer)
    {
        return const_cast<LayerResources*>(GetLayerResources(layer));
    }

    std::vector<TerrainTile*> m_tiles;
};

} // namespace GAME
