#include "datakit/TextureWriter.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace DataKit {

namespace {

void PutU32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t Average(uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
    uint32_t result = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const uint32_t sum =
            ((a >> shift) & 0xFF) + ((b >> shift) & 0xFF) + ((c >> shift) & 0xFF) + ((d >> shift) & 0xFF);
        result |= ((sum + 2) / 4) << shift;
    }
    return result;
}

} // namespace

std::vector<uint8_t> TextureWriter::Dds(uint32_t width, uint32_t height, const std::vector<uint32_t>& texels,
                                        bool mipmaps)
{
    std::vector<std::vector<uint32_t>> levels;
    levels.push_back(texels);
    levels.front().resize(size_t(width) * height, 0);
    uint32_t w = width, h = height;
    while (mipmaps && (w > 1 || h > 1)) {
        const uint32_t nw = std::max(1u, w / 2), nh = std::max(1u, h / 2);
        const std::vector<uint32_t>& above = levels.back();
        std::vector<uint32_t> level(size_t(nw) * nh);
        for (uint32_t y = 0; y < nh; ++y)
            for (uint32_t x = 0; x < nw; ++x) {
                const uint32_t x0 = std::min(2 * x, w - 1), x1 = std::min(2 * x + 1, w - 1);
                const uint32_t y0 = std::min(2 * y, h - 1), y1 = std::min(2 * y + 1, h - 1);
                level[size_t(y) * nw + x] = Average(above[size_t(y0) * w + x0], above[size_t(y0) * w + x1],
                                                    above[size_t(y1) * w + x0], above[size_t(y1) * w + x1]);
            }
        levels.push_back(std::move(level));
        w = nw;
        h = nh;
    }

    std::vector<uint8_t> out = {'D', 'D', 'S', ' '};
    PutU32(out, 124); // header size
    PutU32(out, 0x1 | 0x2 | 0x4 | 0x8 | 0x1000 |
                    (mipmaps ? 0x20000 : 0)); // caps, height, width, pitch, format, mips
    PutU32(out, height);
    PutU32(out, width);
    PutU32(out, width * 4); // pitch
    PutU32(out, 0);         // depth
    PutU32(out, static_cast<uint32_t>(levels.size()));
    for (int i = 0; i < 11; ++i)
        PutU32(out, 0);
    // Pixel format: 32-bit RGB with alpha.
    PutU32(out, 32);
    PutU32(out, 0x40 | 0x1);
    PutU32(out, 0); // no fourCC
    PutU32(out, 32);
    PutU32(out, 0x00FF0000);
    PutU32(out, 0x0000FF00);
    PutU32(out, 0x000000FF);
    PutU32(out, 0xFF000000);
    PutU32(out, 0x1000 | (mipmaps ? 0x400000 | 0x8 : 0)); // caps: texture, mipmap, complex
    for (int i = 0; i < 4; ++i)
        PutU32(out, 0); // caps2, caps3, caps4, reserved
    for (const std::vector<uint32_t>& level : levels)
        for (uint32_t texel : level)
            PutU32(out, texel);
    return out;
}

std::vector<uint8_t> TextureWriter::SolidDds(uint32_t width, uint32_t height, uint32_t argb, bool mipmaps)
{
    return Dds(width, height, std::vector<uint32_t>(size_t(width) * height, argb), mipmaps);
}

std::vector<uint8_t> TextureWriter::Tex(int32_t frameRate, const std::vector<std::vector<uint8_t>>& frames,
                                        uint8_t version, uint32_t padding)
{
    std::vector<uint8_t> out = {'T', 'E', 'X', version};
    PutU32(out, static_cast<uint32_t>(frameRate));
    for (const std::vector<uint8_t>& frame : frames) {
        PutU32(out, static_cast<uint32_t>(frame.size()) + padding);
        out.insert(out.end(), frame.begin(), frame.end());
        out.insert(out.end(), padding, 0);
    }
    return out;
}

bool TextureWriter::Save(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::error_code error;
    const std::filesystem::path file(path);
    if (file.has_parent_path())
        std::filesystem::create_directories(file.parent_path(), error);
    std::FILE* stream = std::fopen(path.c_str(), "wb");
    if (!stream)
        return false;
    const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
    return std::fclose(stream) == 0 && written;
}

} // namespace DataKit
