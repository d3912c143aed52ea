// Reads DDS images (the texture files' frames) into 32-bit texels for the software device:
// uncompressed formats described by channel masks (8, 16, 24 and 32 bits a texel, luminance and
// alpha-only included) and the block formats DXT1 to DXT5. Cube maps, volumes and the extended
// header are refused. Every size is checked against the bytes given. Pure functions; safe from
// any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace GAME::Software {

struct DdsImage
{
    int width = 0; // of levels[0]
    int height = 0;
    bool hasAlpha = false;
    // Mip levels from the largest kept, texels packed as 0xAARRGGBB.
    std::vector<std::vector<uint32_t>> levels;
};

constexpr int maxDdsDimension = 16384;

// Bytes of the whole image (header and every level) as its header describes it; 0 when the
// header is missing, malformed or of a kind this reader refuses.
size_t GetDdsFileSize(const uint8_t* data, size_t size);

enum class DdsResult
{
    Ok,
    BadData,  // malformed, refused or truncated
    TooLarge, // the decoded texels would exceed the byte limit
};

// Decodes the image, dropping its `reduction` largest levels (the smallest level is always
// kept). Checks the decoded size against byteLimit before allocating; out is left empty on
// failure.
DdsResult DecodeDds(const uint8_t* data, size_t size, int reduction, uint64_t byteLimit, DdsImage& out);

} // namespace GAME::Software
