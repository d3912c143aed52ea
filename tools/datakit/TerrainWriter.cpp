#include "datakit/TerrainWriter.h"

#include "data/BinaryWriter.h"
#include "datakit/ArzWriter.h"
#include "datakit/SampleGameData.h"
#include "datakit/TextureWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace DataKit {

namespace {

void PutU32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A small texture of the colour with some noise and, for blades, a few light stalks on clear.
std::vector<uint32_t> Texels(uint32_t size, uint32_t argb, uint32_t seed, bool blades)
{
    std::vector<uint32_t> texels(static_cast<size_t>(size) * size);
    uint32_t state = seed * 2654435761u + 1u;
    for (uint32_t y = 0; y < size; ++y)
        for (uint32_t x = 0; x < size; ++x) {
            state = state * 1664525u + 1013904223u;
            const int shade = static_cast<int>((state >> 24) % 32) - 16;
            auto channel = [&](int shift) {
                return static_cast<uint32_t>(
                           std::clamp(static_cast<int>((argb >> shift) & 0xFF) + shade, 0, 255))
                       << shift;
            };
            uint32_t texel = (argb & 0xFF000000u) | channel(16) | channel(8) | channel(0);
            if (blades && (x % 8 != 3 || y < (x * 7) % 16))
                texel &= 0x00FFFFFFu; // clear between the stalks
            texels[static_cast<size_t>(y) * size + x] = texel;
        }
    return texels;
}

} // namespace

TerrainWriter::TerrainWriter(unsigned x, unsigned y)
    : numXSamples(x), numYSamples(y), heights(static_cast<size_t>(x) * y, 0.0f)
{
}

std::vector<uint8_t> TerrainWriter::BuildMask(unsigned x, unsigned y) const
{
    const size_t layerCount = layers.size();
    std::vector<uint8_t> mask((layerCount >> 3) + 1, 0);
    const unsigned cellX = std::min(x, numXSamples >= 2 ? numXSamples - 2 : 0u);
    const unsigned cellY = std::min(y, numYSamples >= 2 ? numYSamples - 2 : 0u);
    const size_t cell = static_cast<size_t>(cellY) * (numXSamples >= 2 ? numXSamples - 1 : 0) + cellX;
    for (size_t i = 0; i < layerCount; ++i) {
        const std::vector<uint8_t>& states = layers[i].states;
        const uint8_t state =
            states.empty() ? uint8_t(CELL_SHOWN) : (cell < states.size() ? states[cell] : uint8_t(CELL_NONE));
        const size_t bit = i + 1;
        if (state == CELL_COVERING) {
            // Every bit below this layer's is cleared: lower bytes whole, lower bits of its own.
            for (size_t b = 0; b < (bit >> 3); ++b)
                mask[b] = 0;
            mask[bit >> 3] &= static_cast<uint8_t>(~((1u << (bit & 7)) - 1u));
        }
        if (state == CELL_SHOWN || state == CELL_COVERING)
            mask[bit >> 3] |= static_cast<uint8_t>(1u << (bit & 7));
    }
    const size_t sample = static_cast<size_t>(y) * numXSamples + x;
    const bool cut = sample < cutAway.size() && cutAway[sample];
    if (!cut)
        mask[0] |= 1u;
    return mask;
}

std::vector<uint8_t> TerrainWriter::Build() const
{
    GAME::BinaryWriter writer(0x1000);
    writer.WriteUInt32(version);
    writer.WriteUInt32(static_cast<uint32_t>(layers.size()));
    writer.WriteUInt32(numXSamples);
    writer.WriteUInt32(numYSamples);
    for (int i = 0; i < 4; ++i)
        writer.WriteUInt32(0);
    if (!heights.empty())
        writer.WriteBytes(heights.data(), static_cast<unsigned>(heights.size() * sizeof(float)));
    for (unsigned y = 0; y < numYSamples; ++y)
        for (unsigned x = 0; x < numXSamples; ++x) {
            const std::vector<uint8_t> mask = BuildMask(x, y);
            writer.WriteBytes(mask.data(), static_cast<unsigned>(mask.size()));
        }
    const size_t cells =
        numXSamples >= 2 && numYSamples >= 2 ? static_cast<size_t>(numXSamples - 1) * (numYSamples - 1) : 0;
    for (size_t i = 0; i < layers.size(); ++i) {
        writer.WriteString(layers[i].typeRecord);
        if (i == 0)
            continue;
        std::vector<uint8_t> opacity = layers[i].opacity;
        if (opacity.empty())
            opacity.assign(cells, 255);
        if (!opacity.empty())
            writer.WriteBytes(opacity.data(), static_cast<unsigned>(opacity.size()));
    }
    writer.WriteUInt32(static_cast<uint32_t>(plugs.size()));
    for (const Plug& plug : plugs) {
        writer.WriteUInt32(static_cast<uint32_t>(plug.triangles.size()));
        if (!plug.triangles.empty())
            writer.WriteBytes(
                plug.triangles.data(),
                static_cast<unsigned>(plug.triangles.size() * sizeof(GAME::TerrainPlug::Triangle)));
        writer.WriteUInt32(static_cast<uint32_t>(plug.layers.size()));
        for (uint32_t layer : plug.layers)
            writer.WriteUInt32(layer);
    }
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

std::vector<uint8_t> TerrainWriter::Dds(uint32_t width, uint32_t height, const std::vector<uint32_t>& texels)
{
    std::vector<uint8_t> out;
    out.reserve(128 + texels.size() * 4);
    PutU32(out, 0x20534444u);                         // "DDS "
    PutU32(out, 124);                                 // header size
    PutU32(out, 0x1u | 0x2u | 0x4u | 0x8u | 0x1000u); // caps, height, width, pitch, pixel format
    PutU32(out, height);
    PutU32(out, width);
    PutU32(out, width * 4); // pitch
    PutU32(out, 0);         // depth
    PutU32(out, 0);         // mip levels
    for (int i = 0; i < 11; ++i)
        PutU32(out, 0);
    PutU32(out, 32);           // pixel format size
    PutU32(out, 0x1u | 0x40u); // alpha pixels, RGB
    PutU32(out, 0);            // four-cc
    PutU32(out, 32);           // bits a texel
    PutU32(out, 0x00FF0000u);
    PutU32(out, 0x0000FF00u);
    PutU32(out, 0x000000FFu);
    PutU32(out, 0xFF000000u);
    PutU32(out, 0x1000u); // a texture
    for (int i = 0; i < 4; ++i)
        PutU32(out, 0);
    for (uint32_t texel : texels)
        PutU32(out, texel);
    return out;
}

void TerrainWriter::AddSampleTypeRecords(ArzWriter& database)
{
    database.AddRecord(NormalizeRecordName(dirtTypeRecord))
        .String("Class", "TerrainType")
        .String("TextureFileName1", dirtTexture)
        .String("surfaceType", "Dirt")
        .Int("minimapRed", 120)
        .Int("minimapGreen", 90)
        .Int("minimapBlue", 60);
    database.AddRecord(NormalizeRecordName(grassTypeRecord))
        .String("Class", "TerrainType")
        .String("TextureFileName1", grassTexture)
        .String("BladeTextureFileName", grassBladeTexture)
        .String("surfaceType", "Grass")
        .Int("MinimumBladeOpacity", 20)
        .Int("BladeSpacing", 1)
        .Int("BladeVariations", 2)
        .Int("VariationProbability", std::vector<int32_t>{3, 1})
        .Float("BladeWidth", 0.3f)
        .Float("BladeHeight", 1.8f)
        .Int("minimapRed", 60)
        .Int("minimapGreen", 140)
        .Int("minimapBlue", 50);
    database.AddRecord(NormalizeRecordName(stoneTypeRecord))
        .String("Class", "TerrainType")
        .String("TextureFileName1", stoneTexture)
        .String("surfaceType", "Stone")
        .Int("minimapRed", 128)
        .Int("minimapGreen", 128)
        .Int("minimapBlue", 128);
}

void TerrainWriter::AddSampleTextures(SampleGameData& data)
{
    const uint32_t size = 32;
    data.AddFile(dirtTexture, Dds(size, size, Texels(size, 0xFF785A3Cu, 1, false)));
    data.AddFile(grassTexture, Dds(size, size, Texels(size, 0xFF3C8C32u, 2, false)));
    // The blades at twice the size, each stalk two texels wide, with their mip chain: with
    // distance the minified levels fall below the grass shader's alpha reference, so far blades
    // fade out, and the terrain stops drawing them where they have (its grass reach assumes
    // stalks a texel or two wide).
    const std::vector<uint32_t> blades = Texels(size, 0xFF5AB446u, 3, true);
    std::vector<uint32_t> doubled(static_cast<size_t>(4) * size * size);
    for (uint32_t y = 0; y < 2 * size; ++y)
        for (uint32_t x = 0; x < 2 * size; ++x)
            doubled[static_cast<size_t>(y) * 2 * size + x] =
                blades[static_cast<size_t>(y / 2) * size + x / 2];
    data.AddFile(grassBladeTexture, TextureWriter::Dds(2 * size, 2 * size, doubled, true));
    data.AddFile(stoneTexture, Dds(size, size, Texels(size, 0xFF808080u, 4, false)));
}

} // namespace DataKit
