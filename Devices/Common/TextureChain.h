// The mip chain of a colour texture as both render devices count it (four bytes a texel, each
// level half the one above, down to 1 x 1), and the texels of an intensity image. Header only;
// pure functions, any thread.
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

// One intensity byte a texel, in colour and alpha alike, as packed texels (0xAARRGGBB).
inline std::vector<uint32_t> ExpandIntensity(const uint8_t* bytes, size_t count)
{
    std::vector<uint32_t> texels(count);
    for (size_t i = 0; i < count; ++i)
        texels[i] = uint32_t(bytes[i]) * 0x01010101u;
    return texels;
}

} // namespace GAME::DeviceCommon
