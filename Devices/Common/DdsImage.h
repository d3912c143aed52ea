// Reads DDS images (the texture files' frames) for the render device modules: uncompressed
// formats described by channel masks (8, 16, 24 and 32 bits a texel, luminance and alpha-only
// included) and the block formats DXT1 to DXT5. Cube maps, volumes and the extended header are
// refused. Every dimension, level count and level size is checked against the bytes given before
// anything is read or allocated. Both device modules compile this file (Devices/Common); the
// software device decodes every image to 32-bit texels, the OpenGL device hands block-compressed
// levels to the driver as they are. Pure functions; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace GAME::DeviceCommon {

constexpr int maxDdsDimension = 16384;

enum class DdsFormat
{
    Masked, // uncompressed, channels by mask
    Dxt1,
    Dxt3, // DXT2 and DXT3
    Dxt5, // DXT4 and DXT5
};

enum class DdsResult
{
    Ok,
    BadData,  // malformed, refused or truncated
    TooLarge, // the decoded texels would exceed the byte limit
};

// One mip level as it lies in the file.
struct DdsLevel
{
    int width = 0;
    int height = 0;
    const uint8_t* data = nullptr;
    size_t bytes = 0;
};

// What the header says, with the levels from the kept largest one down.
struct DdsLayout
{
    int width = 0; // of the whole file's top level
    int height = 0;
    int levelCount = 0; // in the file (held to a full chain)
    DdsFormat format = DdsFormat::Masked;
    bool hasAlpha = false;
    // Masked formats only.
    uint32_t bitCount = 0;
    uint32_t masks[4] = {}; // red, green, blue, alpha
    bool luminance = false;
    std::vector<DdsLevel> levels; // the kept levels, largest first
};

struct DdsImage
{
    int width = 0; // of levels[0]
    int height = 0;
    bool hasAlpha = false;
    // Mip levels from the largest kept, texels packed as 0xAARRGGBB.
    std::vector<std::vector<uint32_t>> levels;
};

// Bytes of the whole image (header and every level) as its header describes it; 0 when the
// header is missing, malformed or of a kind this reader refuses.
size_t GetDdsFileSize(const uint8_t* data, size_t size);

// Reads the header and finds the levels, dropping the `reduction` largest (the smallest level is
// always kept). Fails unless every level of the file lies inside the data.
DdsResult ReadDdsLayout(const uint8_t* data, size_t size, int reduction, DdsLayout& out);

// Decodes one level of the layout to 0xAARRGGBB texels.
void DecodeDdsLevel(const DdsLayout& layout, const DdsLevel& level, std::vector<uint32_t>& out);

// Decodes the image, dropping its `reduction` largest levels (the smallest level is always
// kept). Checks the decoded size against byteLimit before allocating; out is left empty on
// failure.
DdsResult DecodeDds(const uint8_t* data, size_t size, int reduction, uint64_t byteLimit, DdsImage& out);

} // namespace GAME::DeviceCommon

// The software device names the reader unqualified inside its own namespace.
namespace GAME::Software {
using DeviceCommon::DdsImage;
using DeviceCommon::DdsResult;
using DeviceCommon::DecodeDds;
using DeviceCommon::GetDdsFileSize;
using DeviceCommon::maxDdsDimension;
} // namespace GAME::Software
