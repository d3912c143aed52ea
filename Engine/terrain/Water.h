// The water of one region's level: every sheet of standing water (WaterLayer, up to 128), every
// river (WaterPath, up to 128) and every row of shore waves (WaterWaveSet, up to 256), with the
// device resources they share (the block and waves index buffers, the water and waves shaders,
// the three wave textures), the loose quadtree of all their elements, the renderable that draws
// them (WaterRenderInterface), the ripples on the surface (WaterRippleSet) and the splash effects
// that disturbances start. It answers ray, collision and surface queries for the level and offers
// its reflection planes.
//
// Slots: a piece's slot is the index it was made with; a count is one more than the highest slot
// used, and a slot below it may be empty (removing the last piece lowers the count by one).
// Everything needs a render device: without one Initialize does nothing and the water stays
// empty (no tree, Load refuses).
//
// The water block (the body of the level file's water chunk, little-endian):
//   u32 magic 0xFEEDCBA9, u32 version (written 2), u32 type count, u32 layer count, u32 path
//   count, u32 wave set count (version 2 and later only); then the type records (WaterType), the
//   layer records (WaterLayer), the path records (WaterPath) and the wave set records
//   (WaterWaveSet). Slots are not stored: pieces load into slots 0, 1, 2 ... in record order.
// A block announcing more than 128 layers or paths or 256 wave sets, or whose records run past
// its end, loads nothing. A type whose values are not all numbers is left out with a log line, and
// so is a piece that cannot be used (its type is unknown, its values are not numbers), after its
// whole record was read; it leaves nothing in the tree, and the rest loads.
//
// Threads: Load runs on the region's level loading thread before the level is handed over;
// everything else on the main thread. The water holds no lock (the type manager has its own).
#pragma once

#include "core/ABBox.h"
#include "core/MathUtil.h"
#include "core/OBBox.h"
#include "core/Space.h"
#include "core/Vec3.h"
#include "navigation/PhysicsTypes.h"
#include "terrain/WaterCurve.h"
#include "terrain/WaterRenderInterface.h"
#include "terrain/WaterRippleSet.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class BinaryReader;
class BinaryWriter;
class CollisionBox;
class Entity;
class Frustum;
class GraphicsPrimitiveDrawer;
class GraphicsReflectionManager;
class GraphicsSceneRenderer;
class GraphicsShader2;
class GraphicsTexture;
class GridRegion;
class Intersection;
class Ray;
class Region;
class RenderDevice;
class RenderIndexBuffer;
class TerrainBase;
class WaterElement;
class WaterLayer;
class WaterPath;
class WaterType;
class WaterWaveSet;
class WorldCoords;
struct CollisionContact;

class Water
{
public:
    static constexpr uint32_t magic = 0xFEEDCBA9;
    static constexpr uint32_t version = 2;
    static constexpr unsigned maxLayers = 128;
    static constexpr unsigned maxPaths = 128;
    static constexpr unsigned maxWaveSets = 256;
    static constexpr float blockSize = 9.0f;
    static constexpr unsigned numWavesTextures = 3;
    static constexpr const char* waterShaderName = "Shaders/Water/WaterBasic.ssh";
    static constexpr const char* wavesShaderName = "Shaders/Water/WaterWaves.ssh";
    static constexpr const char* wakeTextureName = "Effects/Waves/Wake.tex";
    static constexpr const char* bumpTextureName = "Effects/Waves/Bump.tex";
    static constexpr const char* shoreWaveTextureName = "Effects/Waves/ShoreWave.tex";
    static constexpr const char* interactionRecord = "Records/WaterType/WaterInteraction.dbr";

    // What disturbs the surface (CreateRipple).
    enum SplashKind : unsigned
    {
        SPLASH_KIND_WAKE = 1,
        SPLASH_KIND_OBJECT = 2,
        SPLASH_KIND_BODY = 3,
    };

    explicit Water(Region* region);
    // Releases every piece and device resource.
    virtual ~Water();
    Water(const Water&) = delete;
    Water& operator=(const Water&) = delete;

    // The ground's size in units and the ground under the water (either may be null); the device
    // is the graphics engine's. Releases everything held before, then makes the tree, the index
    // buffers and the ripple buffers, reads the splash effects' record and loads the shaders and
    // wave textures. Nothing happens without graphics engine or device.
    void Initialize(unsigned sizeX, unsigned sizeZ, const TerrainBase* terrain, const GridRegion* gridRegion);
    // The same on a device of the caller's (tools and tests without a graphics engine).
    void Initialize(unsigned sizeX, unsigned sizeZ, const TerrainBase* terrain, const GridRegion* gridRegion,
                    RenderDevice* device);
    bool IsInitialized() const { return m_tree && m_device; }

    // ---- Pieces (the editor's interface; the level loader uses Load) ----
    // The layer in the lowest free slot (its type may be unknown: it stays, without type); null
    // when the water is not initialised or all 128 slots are taken.
    WaterLayer* AddWaterLayer(const char* typeName, float height);
    // Destroys the layer (emptying its slot when it holds it) and nulls the pointer.
    void RemoveWaterLayer(WaterLayer*& layer);
    // The first layer at exactly that height whose type is named so (ignoring case).
    WaterLayer* FindLayer(const char* typeName, float height) const;
    // Null for an unknown type, an uninitialised water, full slots or a point that is refused.
    WaterPath* AddWaterPath(const char* typeName, float height, const ControlPoint& point);
    WaterWaveSet* AddWaveSet(float height, const ControlPoint& point);
    // Type 0 a path, type 1 a wave set, else null.
    WaterCurve* AddWaterCurve(const char* typeName, float height, const ControlPoint& point,
                              WaterCurve::CurveType type);
    // Destroys the path or wave set (emptying its slot when it holds it).
    void RemoveWaterCurve(WaterCurve* curve);

    unsigned GetNumLayers() const { return m_numLayers; }
    WaterLayer* GetLayer(unsigned i) const { return i < m_numLayers ? m_layers[i] : nullptr; }
    unsigned GetNumPaths() const { return m_numPaths; }
    WaterPath* GetPath(unsigned i) const { return i < m_numPaths ? m_paths[i] : nullptr; }
    unsigned GetNumWaveSets() const { return m_numWaveSets; }
    WaterWaveSet* GetWaveSet(unsigned i) const { return i < m_numWaveSets ? m_waveSets[i] : nullptr; }

    Region* GetRegion() const { return m_region; }
    const TerrainBase* GetTerrain() const { return m_terrain; }
    const GridRegion* GetGridRegion() const { return m_gridRegion; }
    RenderDevice* GetRenderDevice() const { return m_device; }
    RenderIndexBuffer* GetBlockIndexBuffer() const { return m_blockIndexBuffer; }
    RenderIndexBuffer* GetWavesIndexBuffer() const { return m_wavesIndexBuffer; }
    GraphicsShader2* GetWaterShader() const { return m_waterShader; }
    GraphicsShader2* GetWavesShader() const { return m_wavesShader; }
    // Null for 3 and above.
    GraphicsTexture* GetWavesTexture(unsigned i) const
    {
        return i < numWavesTextures ? m_wavesTextures[i] : nullptr;
    }
    // Name::noName for 3 and above.
    const Name& GetWavesStyle(unsigned i) const;
    unsigned GetSizeX() const { return m_sizeX; }
    unsigned GetSizeZ() const { return m_sizeZ; }
    unsigned GetNumBlocksX() const { return m_blocksX; }
    unsigned GetNumBlocksZ() const { return m_blocksZ; }
    Space<WaterElement>* GetTree() const { return m_tree; }
    WaterRenderInterface& GetRenderInterface() { return m_renderInterface; }
    WaterRippleSet& GetRippleSet() { return m_rippleSet; }
    const std::string& GetSplashEffect(unsigned kind) const;

    // The first path, then the first wave set, whose point the ray selects; the selection goes to
    // the out-parameter (0 and null when nothing is hit).
    WaterCurve* SelectCurve(const Ray& ray, WaterCurve::SelectionType& selection, const WorldCoords& view);
    void DrawCurveSelectionPoints(GraphicsPrimitiveDrawer& drawer, const Vec3& offset,
                                  WaterCurve::CurveType type);
    // Each layer, path and wave set: swapped x and z first, then mirrored in x about the centre,
    // then in z.
    void Mirror(const Vec3& centre, bool x, bool z, bool xz);

    // ---- Water types ----
    bool IsWaterTypeUsed(const WaterType* type) const;
    // Rebuilds the layers and paths that use the type; whether there was one.
    bool UpdateWaterType(const WaterType* type);
    // Destroys the layers and paths that use the type.
    void RemoveWaterType(const WaterType* type);
    // Moves every type's animation on (once per frame).
    void UpdateWaterTypes();

    // ---- Per frame and queries ----
    // Waves and ripples move on; nothing for 0 or less.
    void Update(int elapsedMilliseconds);
    // With a region and the renderer's water switch on: the visible water and then the ripples
    // join the scene (nothing when no element is in view).
    void AddToScene(GraphicsSceneRenderer& renderer, const Frustum& frustum);
    // The nearest layer or river surface the ray meets (surface 7); false, distance +infinity and
    // position zero when none, or for a surface filter of 0 or 7.
    bool GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const;
    // One contact where the surface lies inside the box's height above its bottom centre.
    int FindCollisions(const OBBox& box, CollisionContact* contacts, int capacity,
                       PhysicsSurface surface) const;
    // The entity's collision box; the region is the caller's and plays no part.
    int FindCollisions(const Entity* entity, CollisionContact* contacts, int capacity, Region* region,
                       PhysicsSurface surface) const;
    // Each collision box's contact with the water, added to its query.
    void FindCollisions(std::vector<CollisionBox>& boxes, const ABBox& bounds, PhysicsSurface surface) const;
    // The surface straight above the point and the water's flow there; false when none.
    bool GetWaterPointInfo(const Vec3& point, Vec3& surfacePoint, Vec3& velocity) const;
    // Something disturbs the surface near the position (less than 2 units under it, or above it):
    // a ripple for a strength of 1 or more, and the splash effect of the kind.
    void CreateRipple(const Vec3& position, float size, float strength, unsigned kind);
    void AddReflectionPlanes(GraphicsReflectionManager& manager, Region* region, const Frustum& frustum);
    // Appends the tree's elements inside the frusta.
    void GetBlocksInFrustum(std::vector<WaterElement*>& elements, const Frustum* frusta,
                            unsigned count) const;
    void PreDeviceReset();
    void PostDeviceReset();

    // ---- The water block ----
    // False (nothing loaded, one log line) for a block that cannot be read; pieces that cannot be
    // used are left out with their own lines and the rest loads.
    bool Load(BinaryReader& reader);
    // Runs Cleanup first; pieces without water type are not written (they could not load).
    void Save(BinaryWriter& writer);
    // Drops blocks without visible water, layers left without blocks and curves of fewer than two
    // points.
    void Cleanup();
    void LogInfo() const;

private:
    void ReleaseAll();
    void RemoveAllPieces();
    void CreateIndexBuffers();
    // A buffer that could not be made or filled: the failure logged, the buffer released.
    void DropIndexBuffer(RenderIndexBuffer*& buffer, const char* failure);
    void DestroyIndexBuffers();
    void LoadResources();
    void UnloadResources();
    template <class T> static unsigned FreeSlot(T* const* slots, unsigned count, unsigned capacity);
    template <class T> static void EmptySlot(T** slots, unsigned& count, unsigned index, const T* piece);
    // The piece make(slot) returns (null: nothing) in the lowest free slot; null when none is free.
    template <class T, class Make>
    static T* AddPiece(T** slots, unsigned& count, unsigned capacity, Make&& make);
    // count records of the block into slots 0, 1, 2 ...; a piece that cannot be used is logged and
    // left out.
    template <class T, class Make>
    static void LoadPieces(BinaryReader& reader, uint32_t count, uint32_t fileVersion, T** slots,
                           const char* kind, Make&& make);
    // f(piece) for every piece in the slots below count (read again after each call).
    template <class T, class F> static void ForEachIn(T* const* slots, const unsigned& count, F&& f);
    // f(piece) for every layer, then every path: the pieces with a water type.
    template <class F> void ForEachTypedPiece(F&& f) const;
    // f(curve) for every path, then every wave set.
    template <class F> void ForEachCurve(F&& f) const;
    // The nearest layer or river surface the ray meets, and where on the river.
    struct SurfaceHit
    {
        float distance = gInfinity;
        const WaterLayer* layer = nullptr;
        const WaterPath* path = nullptr;
        unsigned segment = 0;
        float parameter = 0.0f;
    };
    SurfaceHit GetNearestSurface(const Ray& ray) const;
    void StartSplash(const Vec3& position, unsigned kind) const;

    unsigned m_sizeX = 0;
    unsigned m_sizeZ = 0;
    unsigned m_blocksX = 0;
    unsigned m_blocksZ = 0;
    RenderIndexBuffer* m_blockIndexBuffer = nullptr;
    RenderIndexBuffer* m_wavesIndexBuffer = nullptr;
    WaterRenderInterface m_renderInterface;
    unsigned m_numLayers = 0;
    unsigned m_numPaths = 0;
    unsigned m_numWaveSets = 0;
    WaterLayer* m_layers[maxLayers] = {};
    WaterPath* m_paths[maxPaths] = {};
    WaterWaveSet* m_waveSets[maxWaveSets] = {};
    Space<WaterElement>* m_tree = nullptr;
    RenderDevice* m_device = nullptr;
    const TerrainBase* m_terrain = nullptr;
    const GridRegion* m_gridRegion = nullptr;
    Region* m_region;
    WaterRippleSet m_rippleSet;
    GraphicsShader2* m_wavesShader = nullptr;
    GraphicsShader2* m_waterShader = nullptr;
    GraphicsTexture* m_wavesTextures[numWavesTextures] = {};
    std::string m_wakeSplashEffect;
    std::string m_objectSplashEffect;
    std::string m_bodySplashEffect;
};

} // namespace GAME
