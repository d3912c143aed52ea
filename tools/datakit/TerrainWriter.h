// Writes the run-time terrain form (the body of a level file's ground chunk of kind 2) from a height
// field, painted layers and plugs, the way the editable terrain converts itself when a level is
// saved for the game: heights as given; per sample, mask bytes built from each layer's visibility
// state at the sample's cell (state 2 sets the layer's bit, state 3 sets it and clears every bit
// below it, 0 and 1 set nothing) and the visible bit unless the sample is cut away; each layer's
// terrain type record and, after the first, its opacity bytes; then the plugs.
//
// Also the sample game's terrain: three terrain type records (dirt, grass with blades, stone) and
// their small textures (uncompressed DDS), used by the generated world.
//
// Tests, fuzz seeds and benchmarks write hand-made bodies here (masks from states given directly,
// bodies that break the form on purpose); the world generator shapes an editable terrain and saves
// it through the engine's own writer (Terrain::SaveRunTimeFormat). Plain values and pure
// functions; any thread.
#pragma once

#include "terrain/TerrainPlug.h"

#include <cstdint>
#include <string>
#include <vector>

namespace DataKit {

class ArzWriter;
class SampleGameData;

class TerrainWriter
{
public:
    // The visibility state of a layer at a cell, as the editable terrain keeps it.
    enum CellState : uint8_t
    {
        CELL_NONE = 0,
        CELL_HIDDEN = 1,
        CELL_SHOWN = 2,
        CELL_COVERING = 3, // shown, and hides every layer below
    };

    struct Layer
    {
        // The terrain type's record name; empty for a layer without a type.
        std::string typeRecord;
        // One CellState a cell ((X - 1) x (Y - 1), y outer, x inner); empty: shown everywhere.
        std::vector<uint8_t> states;
        // One opacity byte a cell; written for every layer but the first (empty: 255 everywhere).
        std::vector<uint8_t> opacity;
    };

    struct Plug
    {
        std::vector<GAME::TerrainPlug::Triangle> triangles; // positions in terrain space
        std::vector<uint32_t> layers;
    };

    // Sample records and textures of the sample game's terrain.
    static constexpr const char* dirtTypeRecord = "Records/Terrain/Dirt.dbr";
    static constexpr const char* grassTypeRecord = "Records/Terrain/Grass.dbr";
    static constexpr const char* stoneTypeRecord = "Records/Terrain/Stone.dbr";
    static constexpr const char* dirtTexture = "Textures/Terrain/Dirt.tex";
    static constexpr const char* grassTexture = "Textures/Terrain/Grass.tex";
    static constexpr const char* grassBladeTexture = "Textures/Terrain/GrassBlades.tex";
    static constexpr const char* stoneTexture = "Textures/Terrain/Stone.tex";

    TerrainWriter() = default;
    // A flat terrain of x by y samples without layers.
    TerrainWriter(unsigned numXSamples, unsigned numYSamples);

    unsigned numXSamples = 0;
    unsigned numYSamples = 0;
    uint32_t version = 1;
    std::vector<float> heights; // X x Y, y outer
    std::vector<bool> cutAway;  // X x Y; empty: nothing is cut away
    std::vector<Layer> layers;
    std::vector<Plug> plugs;

    float& Height(unsigned x, unsigned y) { return heights[static_cast<size_t>(y) * numXSamples + x]; }
    // The body; sizes that do not match the sample counts are written as they stand (tests write
    // bad bodies through it).
    std::vector<uint8_t> Build() const;
    // The mask bytes of one sample, as Build writes them.
    std::vector<uint8_t> BuildMask(unsigned x, unsigned y) const;

    // The three sample terrain types' records (class "TerrainType").
    static void AddSampleTypeRecords(ArzWriter& database);
    // The sample types' textures, as files of the sample data.
    static void AddSampleTextures(SampleGameData& data);
    // An uncompressed 32-bit DDS image of width x height texels (0xAARRGGBB, rows from the top).
    static std::vector<uint8_t> Dds(uint32_t width, uint32_t height, const std::vector<uint32_t>& texels);
};

} // namespace DataKit
