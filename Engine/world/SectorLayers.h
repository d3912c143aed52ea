// The sectors painted on one level's ground: four byte grids, one per sector data kind (0 fog,
// 1 name, 2 ambient, 3 boss), one cell per ground unit. A cell holds a value 1-255 that the layer's
// target list maps to the id of a sector data record (0: no sector). The level reads and writes it
// as chunk 23 of its file; the ambiance manager asks GetTargetId; the editor paints and draws.
// Owns its cell arrays. Read on the level's loading thread as part of the level, otherwise main
// thread only.
#pragma once

#include "core/UniqueId.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace GAME {

class BinaryReader;
class BinaryWriter;
class GridRegion;
class SectorDataManager;
class TerrainBase;
class WorldPrimitiveDrawer;

class SectorLayers
{
public:
    static constexpr int kNumLayers = 4;

    struct Target
    {
        uint8_t value = 0;
        UniqueId id;
    };

    SectorLayers() = default;
    virtual ~SectorLayers() = default;
    SectorLayers(const SectorLayers&) = delete;
    SectorLayers& operator=(const SectorLayers&) = delete;

    // Replaces the arrays by four of width x height cells, all 0. False (logged, layers left empty)
    // when that many cells cannot be allocated.
    bool Initialize(unsigned width, unsigned height);
    // Frees the arrays (size 0 x 0); the target lists stay.
    void Destroy();
    bool IsInitialized() const;
    unsigned GetWidth() const { return m_width; }
    unsigned GetHeight() const { return m_height; }

    // The ground the heights come from (either may be null); not owned.
    void SetHeightCallbacks(TerrainBase* terrain, GridRegion* grid);
    // The terrain's height at the sample, else the grid's ground height there, else 0.
    float GetHeight(int x, int z) const;

    // The cell's value; 0 outside the grid or for a layer outside 0-3.
    uint8_t GetValue(int layer, int x, int z) const;
    // Within the grid, the cell becomes 0 when clear is set, else the paint value.
    void SetValue(int layer, int x, int z, bool clear);
    unsigned GetIndex(int x, int z) const
    {
        return m_width * static_cast<unsigned>(z) + static_cast<unsigned>(x);
    }

    // The sector at the cell, the coordinates clamped to the grid; null for empty layers, a cell
    // of value 0 or a value no target holds.
    UniqueId GetTargetId(int layer, int x, int z) const;

    int GetNumTargets(int layer) const;
    // Null outside the list.
    const Target* GetTarget(int layer, int index) const;

    // Edit and Fill will paint the layer with the value mapped to the id (a new value, the
    // smallest free one, when the layer has none for it).
    void PrimeForEdit(int layer, const UniqueId& id);
    // Within the grid, the cell of the edit layer becomes the paint value (paint) or 0.
    void Edit(int x, int z, bool paint);
    void Fill();
    int GetEditLayer() const { return m_editLayer; }
    uint8_t GetPaintValue() const { return m_paintValue; }

    // Drops every target whose id names no record of the layer's kind, clearing its cells. The
    // first form asks the engine's manager (nothing happens without one).
    void ValidateMapping();
    void ValidateMapping(const SectorDataManager& sectorData);
    // Every cell of the layer holding the value becomes 0.
    void RemovePatches(int layer, uint8_t value);

    // Draws the layer the engine's manager names as current.
    void Render(WorldPrimitiveDrawer& drawer) const;
    void RenderLayer(int layer, WorldPrimitiveDrawer& drawer) const;
    void RenderLayer(int layer, WorldPrimitiveDrawer& drawer, const SectorDataManager& sectorData) const;

    void Save(BinaryWriter& writer) const;
    // Another version, counts or cells past the end are refused (false, logged) and change nothing.
    bool Load(BinaryReader& reader);

private:
    uint8_t* Layer(int layer) const;

    int m_editLayer = 0;
    uint8_t m_paintValue = 0;
    TerrainBase* m_terrain = nullptr;
    GridRegion* m_grid = nullptr;
    std::vector<Target> m_targets[kNumLayers];
    unsigned m_width = 0;
    unsigned m_height = 0;
    std::unique_ptr<uint8_t[]> m_cells[kNumLayers];
};

} // namespace GAME
