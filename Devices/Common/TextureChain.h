// The mip chain of a colour texture as both render devices count and build it (four bytes a
// texel, each level half the one above, down to 1 x 1), and the texels of an intensity image.
// Header only; pure functions, any thread.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace GAME::DeviceCommon {

// The levels a texture gets: the whole chain for a count of 0 or less, else at most the count.
inline int ChainLevels(int width, int height, int levelCount)
{
    int full = 1;
    for (int size = std::max(width, height); size > 1; size >>= 1)
        ++full;
    return levelCount <= 0 ? full : std::min(levelCount, full);
}

// The bytes of the first `levels` levels.
inline uint64_t ChainBytes(int width, int height, int levels)
{
    uint64_t bytes = 0;
    for (int level = 0; level < levels; ++level)
        bytes += uint64_t(std::max(1, width >> level)) * uint64_t(std::max(1, height >> level)) * 4;
    return bytes;
}

// The level below a level of packed texels (0xAARRGGBB): each texel the rounded mean of the 2 x 2
// above it, per channel; a side that is already 1 texel wide averages the same texel twice.
inline void HalveTexels(const uint32_t* src, int srcWidth, int srcHeight, std::vector<uint32_t>& dst)
{
    const int dstWidth = std::max(1, srcWidth >> 1), dstHeight = std::max(1, srcHeight >> 1);
    dst.resize(size_t(dstWidth) * size_t(dstHeight));
    for (int y = 0; y < dstHeight; ++y) {
        const uint32_t* row0 = src + size_t(std::min(2 * y, srcHeight - 1)) * size_t(srcWidth);
        const uint32_t* row1 = src + size_t(std::min(2 * y + 1, srcHeight - 1)) * size_t(srcWidth);
        uint32_t* out = dst.data() + size_t(y) * size_t(dstWidth);
        for (int x = 0; x < dstWidth; ++x) {
            const int x0 = std::min(2 * x, srcWidth - 1), x1 = std::min(2 * x + 1, srcWidth - 1);
            const uint32_t a = row0[x0], b = row0[x1], c = row1[x0], d = row1[x1];
            // Two channels at a time, each in 16 bits: four bytes and the rounding fit.
            const uint32_t low = ((a & 0x00FF00FFu) + (b & 0x00FF00FFu) + (c & 0x00FF00FFu) +
                                  (d & 0x00FF00FFu) + 0x00020002u) >> 2 & 0x00FF00FFu;
            const uint32_t high = (((a >> 8) & 0x00FF00FFu) + ((b >> 8) & 0x00FF00FFu) +
                                   ((c >> 8) & 0x00FF00FFu) + ((d >> 8) & 0x00FF00FFu) + 0x00020002u) >> 2 &
                                  0x00FF00FFu;
            out[x] = low | high << 8;
        }
    }
}

// One intensity byte a texel, in colour and alpha alike, as packed texels (0xAARRGGBB).
inline std::vector<uint32_t> ExpandIntensity(const uint8_t* bytes, size_t count)
{
    std::vector<uint32_t> texels(count);
    for (size_t i = 0; i < count; ++i)
        texels[i] = uint32_t(bytes[i]) * 0x01010101u;
    return texels;
}

} // namespace GAME::DeviceCommon
