#include "datakit/WaterWriter.h"

#include "data/BinaryWriter.h"
#include "datakit/SampleEffects.h"

#include <cmath>

namespace DataKit {

namespace {

void WritePoints(GAME::BinaryWriter& writer, const std::vector<WaterWriter::Point>& points)
{
    static const uint8_t zeros[36] = {};
    writer.WriteUInt32(static_cast<uint32_t>(points.size()));
    for (const WaterWriter::Point& p : points) {
        for (float value :
             {p.position[0], p.position[1], p.tangent[0], p.tangent[1], p.side[0], p.side[1], p.width})
            writer.WriteFloat(value);
        writer.WriteBytes(zeros, sizeof(zeros));
    }
}

} // namespace

std::vector<uint8_t> WaterWriter::Build() const
{
    GAME::BinaryWriter writer(1024);
    writer.WriteUInt32(magic);
    writer.WriteUInt32(version);
    writer.WriteUInt32(static_cast<uint32_t>(types.size()));
    writer.WriteUInt32(layerCountOverride >= 0 ? static_cast<uint32_t>(layerCountOverride)
                                               : static_cast<uint32_t>(layers.size()));
    writer.WriteUInt32(static_cast<uint32_t>(paths.size()));
    if (version >= 2)
        writer.WriteUInt32(static_cast<uint32_t>(waveSets.size()));
    for (const Type& t : types) {
        writer.WriteUInt32(1);
        for (float value : {t.minDepthOpacity, t.maxDepthOpacity, t.minDepth, t.maxDepth, t.scrollSpeed,
                            t.smoothness, t.specularity, t.reflectivity, t.direction, t.textureScale[0],
                            t.textureScale[1], t.color[0], t.color[1], t.color[2]})
            writer.WriteFloat(value);
        writer.WriteString(t.name);
        writer.WriteString(t.skyTexture);
        writer.WriteString(t.noiseRecord);
    }
    for (const Layer& layer : layers) {
        writer.WriteString(layer.type);
        writer.WriteFloat(layer.height);
        writer.WriteFloat(layer.extent[0]);
        writer.WriteFloat(layer.extent[1]);
        writer.WriteUInt32(static_cast<uint32_t>(layer.blocks.size()));
        for (const Block& block : layer.blocks) {
            writer.WriteUInt32(block.index);
            writer.WriteBytes(block.coverage.data(), static_cast<unsigned>(block.coverage.size()));
        }
    }
    for (const Path& path : paths) {
        writer.WriteString(path.type);
        writer.WriteFloat(path.height);
        WritePoints(writer, path.points);
    }
    if (version >= 2)
        for (const WaveSet& waves : waveSets) {
            static const uint8_t zeros[40] = {};
            writer.WriteFloat(waves.height);
            writer.WriteFloat(waves.speed);
            writer.WriteFloat(waves.amplitude);
            writer.WriteUInt32(waves.flags);
            writer.WriteFloat(waves.spacing);
            writer.WriteBytes(zeros, sizeof(zeros));
            WritePoints(writer, waves.points);
        }
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

std::vector<WaterWriter::Point> WaterWriter::SmoothCurve(const std::vector<std::array<float, 2>>& positions,
                                                         float width)
{
    std::vector<Point> points(positions.size());
    for (size_t i = 0; i < positions.size(); ++i) {
        const std::array<float, 2>& before = positions[i > 0 ? i - 1 : i];
        const std::array<float, 2>& after = positions[i + 1 < positions.size() ? i + 1 : i];
        // A third of the way between the neighbours either side (half a step at the ends).
        const float scale = (i > 0 && i + 1 < positions.size()) ? 1.0f / 6.0f : 1.0f / 3.0f;
        Point& p = points[i];
        p.position[0] = positions[i][0];
        p.position[1] = positions[i][1];
        p.tangent[0] = (after[0] - before[0]) * scale;
        p.tangent[1] = (after[1] - before[1]) * scale;
        const float length = std::sqrt(p.tangent[0] * p.tangent[0] + p.tangent[1] * p.tangent[1]);
        if (length > 0.0f) {
            p.side[0] = -p.tangent[1] / length;
            p.side[1] = p.tangent[0] / length;
        }
        p.width = width;
    }
    return points;
}

std::vector<WaterWriter::Block> WaterWriter::PaintBlocks(unsigned blocksX, unsigned blocksZ,
                                                         const std::function<bool(float x, float z)>& covered)
{
    std::vector<Block> blocks;
    for (unsigned bz = 0; bz < blocksZ; ++bz)
        for (unsigned bx = 0; bx < blocksX; ++bx) {
            Block block;
            block.index = bz * blocksX + bx;
            bool any = false;
            for (unsigned row = 0; row < 10; ++row)
                for (unsigned column = 0; column < 10; ++column) {
                    const float x = static_cast<float>(bx * blockCells + column);
                    const float z = static_cast<float>(bz * blockCells + row);
                    if (covered(x, z)) {
                        block.coverage[row * 10 + column] = 255;
                        any = true;
                    }
                }
            if (any)
                blocks.push_back(block);
        }
    return blocks;
}

void WaterWriter::AddSampleRecords(ArzWriter& database)
{
    database.AddRecord(noiseTextureRecord)
        .String("Class", "NoiseTexture")
        .Int("size", 64)
        .Bool("normalMap", true)
        .Float("levels", std::vector<float>{0.5f, 0.25f, 0.15f, 0.1f})
        .Float("rates", std::vector<float>{0.3f, 0.5f, 0.8f, 1.2f});
    database.AddRecord(interactionRecord)
        .String("WakeSplashEffect", SampleEffects::burstRecord)
        .String("ObjectSplashEffect", SampleEffects::burstRecord)
        .String("BodySplashEffect", SampleEffects::burstRecord);
}

WaterWriter::Type WaterWriter::LakeType()
{
    Type type;
    type.name = lakeTypeName;
    type.minDepthOpacity = 0.25f;
    type.maxDepthOpacity = 0.9f;
    type.maxDepth = 3.0f;
    type.scrollSpeed = 0.3f;
    type.reflectivity = 0.9f;
    type.color[0] = 0.1f;
    type.color[1] = 0.3f;
    type.color[2] = 0.55f;
    return type;
}

WaterWriter::Type WaterWriter::RiverType()
{
    Type type;
    type.name = riverTypeName;
    type.minDepthOpacity = 0.3f;
    type.maxDepthOpacity = 0.85f;
    type.maxDepth = 2.0f;
    type.scrollSpeed = 2.0f;
    type.reflectivity = 0.6f;
    type.textureScale[0] = 8.0f;
    type.textureScale[1] = 4.0f;
    type.color[0] = 0.15f;
    type.color[1] = 0.4f;
    type.color[2] = 0.45f;
    return type;
}

} // namespace DataKit
