// Writes water blocks (the body of a level file's water chunk) the way the engine's Water reads
// them, from plain records: water types, layers with their blocks' coverage, paths and wave sets.
// Every count and the version are written as given, so tests and fuzz seeds can make blocks the
// engine refuses (too many layers, a version 1 block without wave set count, a block index outside
// the grid) as well as good ones. Also the records the water reads (the noise texture of the
// default water type, the splash effects' record) and the sample water types.
//
// The world generator makes its lakes and rivers here. Plain values; one thread at a time.
#pragma once

#include "datakit/ArzWriter.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace DataKit {

class WaterWriter
{
public:
    static constexpr uint32_t magic = 0xFEEDCBA9;
    static constexpr unsigned blockCells = 9;
    static constexpr const char* noiseTextureRecord = "Records/WaterType/NoiseTextures/defaultWaves.dbr";
    static constexpr const char* interactionRecord = "Records/WaterType/WaterInteraction.dbr";
    // The sample water types the world generator's lakes and rivers use.
    static constexpr const char* lakeTypeName = "Lake";
    static constexpr const char* riverTypeName = "River";

    struct Type
    {
        float minDepthOpacity = 0.0f;
        float maxDepthOpacity = 0.8f;
        float minDepth = 0.0f;
        float maxDepth = 5.0f;
        float scrollSpeed = 1.0f;
        float smoothness = 4.0f;
        float specularity = 100.0f;
        float reflectivity = 1.0f;
        float direction = 0.0f;
        float textureScale[2] = {16.0f, 16.0f};
        float color[3] = {1.0f, 1.0f, 1.0f};
        std::string name;
        std::string skyTexture = "Effects/EnvironmentMaps/SkyBright.tex";
        std::string noiseRecord = noiseTextureRecord;
    };

    struct Block
    {
        uint32_t index = 0; // z x blocks X + x
        std::array<uint8_t, 100> coverage{};
    };

    struct Layer
    {
        std::string type;
        float height = 0.0f;
        float extent[2] = {0.0f, 0.0f};
        std::vector<Block> blocks;
    };

    struct Point
    {
        float position[2] = {0.0f, 0.0f};
        float tangent[2] = {0.0f, 0.0f};
        float side[2] = {0.0f, 1.0f};
        float width = 1.0f;
    };

    struct Path
    {
        std::string type;
        float height = 0.0f;
        std::vector<Point> points;
    };

    struct WaveSet
    {
        float height = 0.0f;
        float speed = 1.0f;
        float amplitude = 0.5f;
        uint32_t flags = 3;
        float spacing = 1.0f;
        std::vector<Point> points;
    };

    uint32_t version = 2;
    std::vector<Type> types;
    std::vector<Layer> layers;
    std::vector<Path> paths;
    std::vector<WaveSet> waveSets;
    // When set, written in place of the real counts (the records written stay the real ones).
    int64_t layerCountOverride = -1;

    std::vector<uint8_t> Build() const;

    // A point of a smooth curve through the points: its tangent a third of the way to each
    // neighbour, its side across it.
    static std::vector<Point> SmoothCurve(const std::vector<std::array<float, 2>>& positions, float width);
    // The blocks of a layer over a grid of blocksX x blocksZ blocks, with coverage 255 at every
    // vertex for which covered(x, z) holds (vertices one unit apart, a block's first at its
    // corner); blocks without coverage are left out.
    static std::vector<Block> PaintBlocks(unsigned blocksX, unsigned blocksZ,
                                          const std::function<bool(float x, float z)>& covered);
    // The noise texture record of the default water type and the record naming the splash
    // effects, into a database being written (water types have no records: they travel in the
    // water block).
    static void AddSampleRecords(ArzWriter& database);
    // The sample lake (deep blue, still) and river (green-blue, flowing) types.
    static Type LakeType();
    static Type RiverType();
};

} // namespace DataKit
