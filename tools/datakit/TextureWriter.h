// Writes texture files (".tex") the way the engine reads them: plain DDS images (uncompressed
// 32-bit A8R8G8B8, optionally with their mip chain) and the "TEX" container of frames played at a
// frame rate. Tests, fuzz seeds and the sample data make their textures here. Pure functions;
// safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace DataKit {

class TextureWriter
{
public:
    // "DDS " and the 124-byte header.
    static constexpr uint32_t ddsHeaderSize = 128;

    // A DDS image of width x height texels given as 0xAARRGGBB, rows from the top. With mipmaps
    // the chain down to 1 x 1 follows, each level the 2 x 2 average of the one above.
    static std::vector<uint8_t> Dds(uint32_t width, uint32_t height, const std::vector<uint32_t>& texels,
                                    bool mipmaps = false);
    // Every texel the one colour.
    static std::vector<uint8_t> SolidDds(uint32_t width, uint32_t height, uint32_t argb,
                                         bool mipmaps = false);
    // "TEX", the version byte, the frame rate, then each frame as its size and its bytes. A frame
    // may carry padding after its image (padding bytes of zeros are added inside its size).
    static std::vector<uint8_t> Tex(int32_t frameRate, const std::vector<std::vector<uint8_t>>& frames,
                                    uint8_t version = 1, uint32_t padding = 0);
    // Writes the bytes to a file (folders made); false when it could not be written.
    static bool Save(const std::string& path, const std::vector<uint8_t>& bytes);
};

} // namespace DataKit
