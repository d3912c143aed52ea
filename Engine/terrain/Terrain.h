// The editable form of a region's terrain, the one the editor builds and changes: a height field
// whose samples are pulled towards the outlines of placed tiles (each sample keeps a base height,
// a target and a weight; its height is base + (target - base) x weight), texture layers painted
// with one opacity byte a cell, one passability flag a cell, a cut-away flag a sample (the ground
// under placed tiles) and plugs that close the ground around the cut-away samples. Edits collect
// dirty rectangles (heights, opacity) that Update applies once a frame.
//
// Editor form (the body of a level file's ground chunk of kind 0; little-endian, strings are a
// u32 length and that many bytes, bools 32-bit words):
//   u32 X, u32 Y (sample counts; X - 1 and Y - 1 powers of two, both at least 2), u32 layer count,
//   per layer: the terrain type's record name, then for every layer but the first (X - 1) x (Y - 1)
//   opacity bytes (y outer, x inner);
//   X x Y samples: f32 height, bool cut-away (read and dropped: placed tiles cut the ground again);
//   X x Y offsets: f32 base height, f32 target height, f32 weight;
//   (X - 1) x (Y - 1) bool impassable cells, stored from level version 13 on.
// Plugs, visibility states and blocks are not stored; they are rebuilt after loading. Every count
// is checked against the bytes left (in 64 bits) before anything is allocated. A layer whose
// terrain type cannot be made is kept without a type, with its record name and opacity bytes, so
// that saving again loses nothing. SaveRunTimeFormat writes the form TerrainRT reads.
//
// Visibility state of a layer at a cell: 0 covered (a layer above hides it), 1 transparent here,
// 2 partly visible, 3 opaque (hides every layer below).
//
// Owns its samples, layers (terrain types through the object manager, opacity bytes, textures),
// device buffers, plugs (through the base's tree) and its render interface. Load may run on the
// region's level loading thread; editing, Update and drawing run on the main thread.
#pragma once

#include "core/GeometryBus.h"
#include "graphics/DirtyRectSet.h"
#include "terrain/TerrainBase.h"
#include "terrain/TerrainRenderInterface.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class BinaryWriter;
class Coords;
class GraphicsPrimitiveDrawer;
class ImpassableData;
class SimplePolygon;
class Terrain;

// Receives the samples a polygon covers (Terrain::Rasterize).
class TerrainRasterizeCallback
{
public:
    virtual ~TerrainRasterizeCallback() = default;
    virtual void Rasterize(Terrain& terrain, int x, int y) = 0;
};

class Terrain : public TerrainBase
{
public:
    // The run-time form holds at most 256 mask bytes a sample.
    static constexpr uint32_t maxLayers = 2047;
    // New refuses larger terrains (the file form is bounded by its bytes instead).
    static constexpr unsigned maxNewCells = 4096;
    static constexpr double plugSnapSpacing = 0.001;
    // Plugs are built in squares of this many units.
    static constexpr float plugSquareSize = 15.0f;
    // Passability is stored from this level version on.
    static constexpr int passabilityVersion = 13;
    static constexpr const char* impassableShaderName = "Shaders/Debug/Impassable.ssh";

    enum VisibilityState : uint8_t
    {
        STATE_COVERED = 0,
        STATE_TRANSPARENT = 1,
        STATE_PARTLY_VISIBLE = 2,
        STATE_OPAQUE = 3,
    };

    struct Offset
    {
        float baseHeight = 0.0f;
        float targetHeight = 0.0f;
        float weight = 0.0f;
    };

    // The type is null for a layer whose type could not be made: recordName keeps what the file
    // named. The texture holds the opacity bytes, one a texel.
    struct TerrainLayer : LayerResources
    {
        std::string recordName;
        std::vector<uint8_t> opacity; // one byte a cell
        std::vector<uint8_t> states;  // VisibilityState a cell
    };

    explicit Terrain(Region* region);
    ~Terrain() override;

    // ---- TerrainBase ----
    void Unload() override;
    // The layer textures (one byte a texel) and the map geometry made again.
    void PostDeviceReset() override;
    // The editor form; version is the level file's (passability from 13 on).
    bool Load(BinaryReader& reader, int version) override;
    void LoadRenderData() override {}
    void AddToScene(GraphicsSceneRenderer& renderer, const Frustum& frustum) override;
    // The dirty rectangles applied first.
    void Update(const Frustum* frusta, unsigned count, int elapsed) override;
    // Everything any of the frusta sees loads at once: the editor shows no ground still loading.
    void PreLoad(const Frustum* frusta, unsigned count) override;
    unsigned GetNumTextureLayers() const override { return static_cast<unsigned>(m_layers.size()); }
    // The cell clamped to the cells.
    unsigned GetLayerOpacity(unsigned layer, unsigned x, unsigned y) const override;
    // The sample's cut-away flag; false outside the samples.
    bool IsInvisible(int x, int y) const override;
    void GetLayersInBox(std::vector<unsigned>& layers, const ABBox& box) const override;
    // Marks the ground around each of the tile's contours for rebuilding.
    void AddTileDirtyRects(const TerrainTile& tile) override;

    // ---- Making and storing ----
    // A flat terrain of cellsX x cellsY cells (one more sample a side), passable, without layers;
    // false (the terrain left empty) unless both counts are powers of two from 1 to maxNewCells.
    bool New(unsigned cellsX, unsigned cellsY);
    void SetNumXSamples(unsigned count);
    void SetNumYSamples(unsigned count);
    // The editor form (always with the passability cells).
    void Save(BinaryWriter& writer) const;
    // The run-time form; false (nothing written) for a terrain without samples.
    bool SaveRunTimeFormat(BinaryWriter& writer) const;

    // ---- Heights ----
    float GetBaseHeight(int x, int y) const;
    // Sets the base and the height that follows from it; the caller adds a dirty rectangle.
    void SetBaseHeight(int x, int y, float height);
    const Offset* GetOffset() const { return m_offsets.data(); }
    // (x, height, y).
    void GetTerrainVertex(Vec3& out, int x, int y) const;
    // The editable terrain hands the geometry bus no faces: the path-mesh builders read its ground,
    // plugs and passability themselves.
    void GeometryBusStop(const ABBox&, std::vector<GeometryBus::SimpleFace>&) const {}
    void SetInvisible(int x, int y, bool invisible);

    // ---- Passability ----
    // True outside the cells, else the cell's flag.
    bool IsImpassable(int x, int y) const;
    // 0 changes nothing, 1 makes the cell passable, anything else impassable; ignored outside.
    void SetPassable(int x, int y, int value);
    // Copies every cell's flag from the data when it has a grid.
    void SetImpassableData(const ImpassableData& data);
    // Whether a cell's corners differ from their mean by more than 0.6.
    bool SlopeImpassable(int x, int y) const;
    // Every cell: impassable when its lower corner is not cut away and its slope is too steep.
    void PathingFirstPass();

    // ---- Dirty rectangles ----
    void AddDirtyRect(const DirtyRect& rect) { m_dirtyRects.AddRect(rect); }
    void AddOpacityDirtyRect(const DirtyRect& rect) { m_opacityDirtyRects.AddRect(rect); }
    const DirtyRectSet& GetDirtyRects() const { return m_dirtyRects; }
    const DirtyRectSet& GetOpacityDirtyRects() const { return m_opacityDirtyRects; }
    // Heights pulled to the tiles, vertices, objects told, tiles cut again, plugs rebuilt.
    void ProcessDirtyRects();
    // Visibility states and the objects' layers.
    void ProcessDirtyOpacityRects();
    // The tile offsets of the samples of the rectangle (samples x, y, width, height).
    void UpdateHeightMap(const DirtyRect& rect);
    // The pull of the contours on the samples of the rectangle: each contour vertex (x, y,
    // height) draws the samples within 5 units towards its height.
    void ApplyContourPull(const DirtyRect& rect, const std::vector<SimplePolygon>& contours);
    // The visibility states of every layer over the cells of the rectangle.
    void UpdateVisibilityMap(const DirtyRect& cells);
    void UpdateVertexBuffer(const DirtyRectSet& set);

    // ---- Layers ----
    bool AddLayer(const std::string& recordName);
    // False, nothing changed, when the record is not a terrain type (or the layers are full).
    bool InternalAddLayer(const std::string& recordName, const uint8_t* opacity);
    // A layer as loading adds it: with its type when the record makes one, otherwise kept without
    // a type under the record name (saved again as it came). Opacity as InternalAddLayer takes it.
    // False only when the layers are full or the terrain has no cells.
    bool AddNamedLayer(const std::string& recordName, const uint8_t* opacity);
    // A layer under the record name without asking for its type (a tool shaping a terrain where
    // the records are not loaded); saved as any layer, typed when the terrain is loaded again.
    bool AddUntypedLayer(const std::string& recordName, const uint8_t* opacity);
    void DeleteLayer(unsigned layer);
    void MoveUpLayer(unsigned layer);
    void MoveDownLayer(unsigned layer);
    void SetLayerTerrainType(unsigned layer, const std::string& recordName);
    const TerrainLayer* GetTerrainLayer(unsigned layer) const;
    // Layer 0 is ignored; no dirty rectangle is added.
    void SetLayerOpacity(unsigned layer, int x, int y, uint8_t value);
    void UpdateLayerOpacity(unsigned layer);
    // The layer's state at the cell (STATE_COVERED outside).
    unsigned GetLayerState(unsigned layer, unsigned x, unsigned y) const;
    // The layer's record name: its type's, or what the file named for a layer without a type.
    std::string GetLayerRecordName(unsigned layer) const;

    // ---- Rectangles and objects ----
    DirtyRect GetRectForBox(const ABBox& box) const;
    static ABBox GetBoxForRect(const DirtyRect& rect);
    void GetObjectsInDirtySet(std::vector<TerrainObject*>& out, const DirtyRectSet& set, float margin) const;
    void GetBlocksInDirtySet(const DirtyRectSet& set, std::vector<unsigned>& out) const;
    static bool Overlap(const DirtyRectSet& set, const SimplePolygon& polygon);

    // ---- Cutting and plugs ----
    // Reports every sample of the terrain the polygon (grown by half a unit) covers, once.
    void Rasterize(const SimplePolygon& polygon, TerrainRasterizeCallback& callback);
    void MakeInvisible(const SimplePolygon& polygon);
    void MakeVisible(const DirtyRect& rect);
    // Closes the ground around the cut-away samples of the set with new plugs.
    void BuildPlugs(const DirtyRectSet& set);

    // ---- Drawing ----
    void RenderBorder(GraphicsPrimitiveDrawer& drawer) const;
    void RenderImpassableAreas(GraphicsPrimitiveDrawer& drawer, const Coords& placement) const;
    void EnablePlugRendering(bool enable) { m_plugRendering = enable; }
    bool IsPlugRenderingEnabled() const { return m_plugRendering; }
    void ShowTextureComplexity(bool show) { m_showTextureComplexity = show; }
    bool IsTextureComplexityShown() const { return m_showTextureComplexity; }
    TerrainRenderInterface& GetRenderInterface() { return m_renderInterface; }

protected:
    const LayerResources* GetLayerResources(unsigned layer) const override
    {
        return layer < m_layers.size() ? &m_layers[layer] : nullptr;
    }

private:
    class CutAwayCallback;

    size_t SampleIndex(unsigned x, unsigned y) const { return static_cast<size_t>(y) * m_numXSamples + x; }
    size_t CellIndex(unsigned x, unsigned y) const
    {
        return static_cast<size_t>(y) * (m_numXSamples - 1) + x;
    }
    size_t NumCells() const
    {
        return m_numXSamples > 1 && m_numYSamples > 1
                   ? static_cast<size_t>(m_numXSamples - 1) * (m_numYSamples - 1)
                   : 0;
    }
    float Height(unsigned x, unsigned y) const { return m_heights[SampleIndex(x, y)]; }
    bool IsSample(int x, int y) const
    {
        return x >= 0 && y >= 0 && static_cast<unsigned>(x) < m_numXSamples &&
               static_cast<unsigned>(y) < m_numYSamples;
    }
    // Samples, offsets and cells for the counts (zeroed); false when they cannot be had.
    bool AllocateSamples(unsigned x, unsigned y);
    // Points the base's height field at the samples and cut-away flags (empty without samples).
    void UpdateField();
    TerrainType* CreateTerrainType(const std::string& recordName) const;
    void AppendLayer(TerrainType* type, const std::string& recordName, const uint8_t* opacity);
    void ReleaseLayer(TerrainLayer& layer);
    RenderTexture* MakeLayerTexture(const TerrainLayer& layer) const;
    void UpdateAllVisibility();
    void NotifyLayersChanged();
    void ReadLayers(BinaryReader& reader, uint32_t count);
    void ReleaseDebugShaders();
    // The contours of the placed tiles among the objects, appended in order.
    static void GetPlacedTileContours(const std::vector<TerrainObject*>& objects,
                                      std::vector<SimplePolygon>& contours);

    TerrainRenderInterface m_renderInterface;
    std::vector<float> m_heights;
    std::vector<uint8_t> m_cutAway;
    std::vector<Offset> m_offsets;
    std::vector<uint8_t> m_impassableCells;
    DirtyRectSet m_dirtyRects;
    DirtyRectSet m_opacityDirtyRects;
    std::vector<TerrainLayer> m_layers;
    GraphicsShader2* m_loadedImpassableShader = nullptr;
    GraphicsShader2* m_impassableShader = nullptr;
    bool m_plugRendering = true;
    bool m_showTextureComplexity = false;
};

} // namespace GAME
