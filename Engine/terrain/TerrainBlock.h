// One square piece of a terrain: 9 x 9 cells (10 x 10 samples, fewer in the last row and column of
// blocks), the unit in which the terrain is filed in its tree, drawn and given grass. A block
// knows its sample rectangle and box, which layers show in it (ascending), and, while its render
// data is built, its grass: for every layer whose terrain type has a blade texture, up to 350
// blades in a vertex buffer with a second buffer of per-vertex wind offsets, and a 17 x 17 spring
// grid (cells 0.58 units apart from the block's first sample) that bends the blades away from
// disturbances and wind.
//
// Blade placement depends only on the block's position, the layers' opacities and the terrain
// types: every rebuild places the same blades with the same variation and angle. Render data is
// built by EnsureRenderData (the render interfaces call it before drawing a block) and released
// when the block has not been used for 11 frames, when heights or layers change, on a device
// reset and when the low-quality setting changes.
//
// The terrain owns its blocks (an array); a block keeps its terrain, not owned. Main thread, except
// Initialize, which runs where the terrain is built.
#pragma once

#include "core/Vec2.h"
#include "terrain/TerrainBase.h"
#include "terrain/TerrainObject.h"

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace GAME {

class TerrainBlock : public TerrainObject
{
    GAME_DECLARE_CLASS(TerrainBlock)

public:
    // The spring grid of the grass.
    static constexpr unsigned grassGridSize = 17;
    static constexpr float grassCellSpacing = 0.58f;
    // Position to grid cell: 1 / 0.58.
    static constexpr float grassCellScale = 1.724138f;
    // Blades of one layer in one block.
    static constexpr unsigned maxNumGrassPlanes = 350;
    static constexpr unsigned bladeVertexSize = 32;
    static constexpr unsigned windVertexSize = 8;
    // Layers whose blades are shorter than this get no grass in low quality.
    static constexpr float lowQualityMinimumBladeHeight = 1.75f;

    struct GrassRecord
    {
        uint32_t numBlades = 0;
        // The spring grid cell of each blade vertex (i + 17 j).
        std::unique_ptr<uint32_t[]> cellIndices;
        TerrainBase::GrassGeometry geometry;
    };

    TerrainBlock();
    ~TerrainBlock() override;

    // Stores the block's place and size, computes its box and takes its layers from the terrain.
    void Initialize(TerrainBase* terrain, unsigned blockX, unsigned blockY, unsigned numXSamples,
                    unsigned numYSamples);
    void UpdateBoundingBox();
    // Builds the grass unless it is built for the terrain's current quality.
    void EnsureRenderData();
    void ReleaseRenderData();
    // Releases the render data and forgets the layers.
    void ClearLayers();
    // The grass of the layer; null when the layer is not in the block (or nothing is built).
    const GrassRecord* GetGrassRecord(unsigned layer) const;
    bool HasLayer(unsigned layer) const;
    const std::vector<unsigned>& GetLayers() const { return m_layers; }

    unsigned GetBlockX() const { return m_blockX; }
    unsigned GetBlockY() const { return m_blockY; }
    unsigned GetNumXSamples() const { return m_numXSamples; }
    unsigned GetNumYSamples() const { return m_numYSamples; }
    // The block's cells: x from GetFirstCellX to GetLastCellX, likewise y.
    unsigned GetFirstCellX() const { return TerrainBase::cellsPerBlock * m_blockX; }
    unsigned GetFirstCellY() const { return TerrainBase::cellsPerBlock * m_blockY; }
    unsigned GetLastCellX() const { return GetFirstCellX() + m_numXSamples - 2; }
    unsigned GetLastCellY() const { return GetFirstCellY() + m_numYSamples - 2; }
    bool IsRenderDataBuilt() const { return !m_renderDataReleased; }
    // The render interface's index list of the block's cells for a pass (its own key), kept with
    // the render data: null until stored, and gone with the next release.
    const std::vector<uint32_t>* FindCellIndices(int key) const;
    const std::vector<uint32_t>& StoreCellIndices(int key, std::vector<uint32_t> indices);

    // The surface of the layer that shows most at the cell (the layers walked from the top, each
    // weighed by its opacity and what the layers above leave); 100 without a typed layer.
    PhysicsSurface GetSurfaceAt(unsigned cellX, unsigned cellY) const;

    // The spring grid while the render data is built (zero otherwise).
    Vec2 GetGrassDisplacement(unsigned i, unsigned j) const;
    Vec2 GetGrassVelocity(unsigned i, unsigned j) const;
    bool HasDirtyGrass() const { return m_dirtyMinX <= m_dirtyMaxX && m_dirtyMinZ <= m_dirtyMaxZ; }
    // The grass is drawn: the wind offsets follow the springs for the next frame's drawing. A
    // block whose grass was not drawn since its last Update keeps stepping its springs but leaves
    // its offsets alone until it is drawn again (WindOffsetsStale; UploadWindOffsets then).
    void NoteGrassDrawn() { m_grassDrawn = true; }
    bool WindOffsetsStale() const { return m_windStale; }
    // How far the offsets last written move a blade's top sideways, at most.
    float GetWindReach() const { return m_windReach; }
    // Every blade vertex gets its spring cell's displacement times the layer's blade height.
    void UploadWindOffsets(const TerrainBase& terrain);

    void GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const override;
    void Update(TerrainBase& terrain, int elapsed) override;
    void Unload() override;
    void PreLoad(bool immediate) override;
    void FindCollisionBoxes(TerrainBase& terrain, std::vector<CollisionBox>& boxes,
                            PhysicsSurface surface) override;
    int FindCollisions(TerrainBase& terrain, const OBBox& box, CollisionContact* contacts, int maximum,
                       PhysicsSurface surface) override;
    void OnHeightsChanged() override;
    void OnLayersChanged() override;
    void DisplaceGrass(float x, float z, float radius, float strength) override;
    void CreateGrassWind(const PhysicsGrassWind& wind) override;
    void RemoveGrassWind() override;
    void PreDeviceReset() override;

private:
    static constexpr int emptyDirtyMin = 1000000;

    // The cells of the block that a box covers on X and Z; false when it covers none.
    bool GetCellsUnder(const ABBox& box, unsigned& x0, unsigned& y0, unsigned& x1, unsigned& y1) const;
    // The spring grid cells within radius of a point, clamped to the grid; false when none.
    bool GetGrassCellRange(float x, float z, float radius, int& i0, int& i1, int& j0, int& j1) const;
    void GrowDirtyRect(int i0, int i1, int j0, int j1);
    void ResetDirtyRect();
    void GenerateBlades();
    void GenerateBlades(size_t entry);

    TerrainBase* m_terrain = nullptr;
    unsigned m_blockX = 0;
    unsigned m_blockY = 0;
    unsigned m_numXSamples = 0;
    unsigned m_numYSamples = 0;
    bool m_renderDataReleased = false;
    bool m_lowQualityAtBuild = false;
    std::vector<unsigned> m_layers;
    std::vector<GrassRecord> m_grass; // one per entry of m_layers while built
    std::vector<std::pair<int, std::vector<uint32_t>>> m_cellIndices;
    bool m_grassDrawn = false;
    bool m_windStale = false;
    float m_windReach = 0.0f;
    std::unique_ptr<Vec2[]> m_displacement;
    std::unique_ptr<Vec2[]> m_velocity;
    std::unique_ptr<uint32_t[]> m_windGrid;
    int m_dirtyMinX = emptyDirtyMin;
    int m_dirtyMaxX = 0;
    int m_dirtyMinZ = emptyDirtyMin;
    int m_dirtyMaxZ = 0;
};

} // namespace GAME
