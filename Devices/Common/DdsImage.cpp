#include "DdsImage.h"

#include <algorithm>
#include <cstring>

namespace GAME::DeviceCommon {

namespace {

constexpr size_t headerSize = 128; // "DDS " and the 124-byte header

constexpr uint32_t pixelAlphaPixels = 0x1;
constexpr uint32_t pixelAlpha = 0x2;
constexpr uint32_t pixelFourCC = 0x4;
constexpr uint32_t pixelRGB = 0x40;
constexpr uint32_t pixelLuminance = 0x20000;
constexpr uint32_t caps2CubeMap = 0x200;
constexpr uint32_t caps2Volume = 0x200000;

uint32_t ReadU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

constexpr uint32_t FourCC(char a, char b, char c, char d)
{
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}

bool ReadHeader(const uint8_t* data, size_t size, DdsLayout& header)
{
    if (!data || size < headerSize || std::memcmp(data, "DDS ", 4) != 0)
        return false;
    if (ReadU32(data + 4) != 124 || ReadU32(data + 76) != 32)
        return false;
    const uint32_t height = ReadU32(data + 12);
    const uint32_t width = ReadU32(data + 16);
    if (width == 0 || height == 0 || width > maxDdsDimension || height > maxDdsDimension)
        return false;
    if (ReadU32(data + 112) & (caps2CubeMap | caps2Volume))
        return false;
    header.width = int(width);
    header.height = int(height);

    // A full chain ends at 1 x 1; a header asking for more levels is held to that.
    int fullChain = 1;
    for (uint32_t s = std::max(width, height); s > 1; s >>= 1)
        ++fullChain;
    const uint32_t levels = ReadU32(data + 28);
    header.levelCount = levels == 0 ? 1 : int(std::min<uint32_t>(levels, uint32_t(fullChain)));

    const uint32_t flags = ReadU32(data + 80);
    if (flags & pixelFourCC) {
        const uint32_t fourCC = ReadU32(data + 84);
        if (fourCC == FourCC('D', 'X', 'T', '1'))
            header.format = DdsFormat::Dxt1;
        else if (fourCC == FourCC('D', 'X', 'T', '2') || fourCC == FourCC('D', 'X', 'T', '3'))
            header.format = DdsFormat::Dxt3;
        else if (fourCC == FourCC('D', 'X', 'T', '4') || fourCC == FourCC('D', 'X', 'T', '5'))
            header.format = DdsFormat::Dxt5;
        else
            return false;
        header.hasAlpha = header.format != DdsFormat::Dxt1;
        return true;
    }
    if (!(flags & (pixelRGB | pixelLuminance | pixelAlpha)))
        return false;
    header.bitCount = ReadU32(data + 88);
    if (header.bitCount != 8 && header.bitCount != 16 && header.bitCount != 24 && header.bitCount != 32)
        return false;
    for (int i = 0; i < 4; ++i)
        header.masks[i] = ReadU32(data + 92 + 4 * i);
    if (!(flags & (pixelAlphaPixels | pixelAlpha)))
        header.masks[3] = 0;
    if (flags & pixelAlpha && !(flags & (pixelRGB | pixelLuminance)))
        header.masks[0] = header.masks[1] = header.masks[2] = 0;
    // Masks must lie inside the texel.
    if (header.bitCount < 32)
        for (uint32_t mask : header.masks)
            if (mask >> header.bitCount)
                return false;
    header.luminance = (flags & pixelLuminance) != 0;
    header.hasAlpha = header.masks[3] != 0;
    return true;
}

uint64_t LevelBytes(const DdsLayout& header, int level)
{
    const uint64_t w = std::max(1, header.width >> level);
    const uint64_t h = std::max(1, header.height >> level);
    switch (header.format) {
    case DdsFormat::Dxt1:
        return ((w + 3) / 4) * ((h + 3) / 4) * 8;
    case DdsFormat::Dxt3:
    case DdsFormat::Dxt5:
        return ((w + 3) / 4) * ((h + 3) / 4) * 16;
    case DdsFormat::Masked:
        break;
    }
    return w * h * (header.bitCount / 8);
}

// Scales a masked channel to 8 bits; absent channels read as `absent`.
uint32_t Channel(uint32_t texel, uint32_t mask, uint32_t absent)
{
    if (!mask)
        return absent;
    int shift = 0;
    while (!((mask >> shift) & 1))
        ++shift;
    const uint32_t max = mask >> shift;
    const uint32_t value = (texel & mask) >> shift;
    return uint32_t((uint64_t(value) * 255 + max / 2) / max);
}

void DecodeMasked(const DdsLayout& header, const uint8_t* src, int width, int height,
                  std::vector<uint32_t>& out)
{
    const uint32_t bytes = header.bitCount / 8;
    out.resize(size_t(width) * size_t(height));
    for (size_t i = 0; i < out.size(); ++i, src += bytes) {
        uint32_t texel = 0;
        for (uint32_t b = 0; b < bytes; ++b)
            texel |= uint32_t(src[b]) << (8 * b);
        const uint32_t a = Channel(texel, header.masks[3], 255);
        uint32_t r = Channel(texel, header.masks[0], 0);
        uint32_t g = header.luminance ? r : Channel(texel, header.masks[1], 0);
        uint32_t b = header.luminance ? r : Channel(texel, header.masks[2], 0);
        out[i] = a << 24 | r << 16 | g << 8 | b;
    }
}

uint32_t Expand565(uint16_t c)
{
    const uint32_t r = (c >> 11) & 31, g = (c >> 5) & 63, b = c & 31;
    return (r * 255 + 15) / 31 << 16 | (g * 255 + 31) / 63 << 8 | (b * 255 + 15) / 31;
}

uint32_t Mix(uint32_t a, uint32_t b, uint32_t wa, uint32_t wb, uint32_t div)
{
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t ca = (a >> shift) & 255, cb = (b >> shift) & 255;
        out |= ((ca * wa + cb * wb) / div) << shift;
    }
    return out;
}

// Colours of one block as 0x00RRGGBB plus whether index 3 is transparent black (DXT1 only).
void BlockColors(const uint8_t* block, bool dxt1, uint32_t colors[4], bool& punchThrough)
{
    const uint16_t c0 = uint16_t(block[0] | block[1] << 8);
    const uint16_t c1 = uint16_t(block[2] | block[3] << 8);
    colors[0] = Expand565(c0);
    colors[1] = Expand565(c1);
    punchThrough = false;
    if (c0 > c1 || !dxt1) {
        colors[2] = Mix(colors[0], colors[1], 2, 1, 3);
        colors[3] = Mix(colors[0], colors[1], 1, 2, 3);
    } else {
        colors[2] = Mix(colors[0], colors[1], 1, 1, 2);
        colors[3] = 0;
        punchThrough = true;
    }
}

void DecodeBlocks(const DdsLayout& header, const uint8_t* src, int width, int height,
                  std::vector<uint32_t>& out)
{
    out.assign(size_t(width) * size_t(height), 0);
    const int blocksX = (width + 3) / 4, blocksY = (height + 3) / 4;
    const size_t blockBytes = header.format == DdsFormat::Dxt1 ? 8 : 16;
    for (int by = 0; by < blocksY; ++by)
        for (int bx = 0; bx < blocksX; ++bx, src += blockBytes) {
            const uint8_t* colorBlock = header.format == DdsFormat::Dxt1 ? src : src + 8;
            uint32_t colors[4];
            bool punchThrough = false;
            BlockColors(colorBlock, header.format == DdsFormat::Dxt1, colors, punchThrough);
            uint32_t alphas[8] = {};
            if (header.format == DdsFormat::Dxt5) {
                const uint32_t a0 = src[0], a1 = src[1];
                alphas[0] = a0;
                alphas[1] = a1;
                if (a0 > a1) {
                    for (uint32_t i = 1; i < 7; ++i)
                        alphas[i + 1] = ((7 - i) * a0 + i * a1) / 7;
                } else {
                    for (uint32_t i = 1; i < 5; ++i)
                        alphas[i + 1] = ((5 - i) * a0 + i * a1) / 5;
                    alphas[6] = 0;
                    alphas[7] = 255;
                }
            }
            uint64_t alphaBits = 0;
            for (int i = 0; i < 6; ++i)
                alphaBits |= uint64_t(src[2 + i]) << (8 * i);
            const uint32_t colorBits = ReadU32(colorBlock + 4);
            for (int py = 0; py < 4; ++py)
                for (int px = 0; px < 4; ++px) {
                    const int x = bx * 4 + px, y = by * 4 + py;
                    if (x >= width || y >= height)
                        continue;
                    const int i = py * 4 + px;
                    const uint32_t index = (colorBits >> (2 * i)) & 3;
                    uint32_t alpha = 255;
                    if (header.format == DdsFormat::Dxt1)
                        alpha = punchThrough && index == 3 ? 0 : 255;
                    else if (header.format == DdsFormat::Dxt3)
                        alpha = ((src[i / 2] >> (4 * (i & 1))) & 15) * 17;
                    else
                        alpha = alphas[(alphaBits >> (3 * i)) & 7];
                    out[size_t(y) * size_t(width) + size_t(x)] = alpha << 24 | colors[index];
                }
        }
}

} // namespace

size_t GetDdsFileSize(const uint8_t* data, size_t size)
{
    DdsLayout header;
    if (!ReadHeader(data, size, header))
        return 0;
    uint64_t total = headerSize;
    for (int level = 0; level < header.levelCount; ++level)
        total += LevelBytes(header, level);
    return size_t(total);
}

DdsResult ReadDdsLayout(const uint8_t* data, size_t size, int reduction, DdsLayout& out)
{
    out = DdsLayout();
    if (!ReadHeader(data, size, out)) {
        out = DdsLayout();
        return DdsResult::BadData;
    }
    // Every level must be present before any is used.
    uint64_t fileBytes = headerSize;
    for (int level = 0; level < out.levelCount; ++level)
        fileBytes += LevelBytes(out, level);
    if (fileBytes > size) {
        out = DdsLayout();
        return DdsResult::BadData;
    }
    const int skip = std::clamp(reduction, 0, out.levelCount - 1);
    uint64_t offset = headerSize;
    for (int level = 0; level < out.levelCount; ++level) {
        const uint64_t bytes = LevelBytes(out, level);
        if (level >= skip) {
            DdsLevel view;
            view.width = std::max(1, out.width >> level);
            view.height = std::max(1, out.height >> level);
            view.data = data + offset;
            view.bytes = size_t(bytes);
            out.levels.push_back(view);
        }
        offset += bytes;
    }
    return DdsResult::Ok;
}

void DecodeDdsLevel(const DdsLayout& layout, const DdsLevel& level, std::vector<uint32_t>& out)
{
    if (layout.format == DdsFormat::Masked)
        DecodeMasked(layout, level.data, level.width, level.height, out);
    else
        DecodeBlocks(layout, level.data, level.width, level.height, out);
}

DdsResult DecodeDds(const uint8_t* data, size_t size, int reduction, uint64_t byteLimit, DdsImage& out)
{
    out = DdsImage();
    DdsLayout layout;
    const DdsResult read = ReadDdsLayout(data, size, reduction, layout);
    if (read != DdsResult::Ok)
        return read;
    uint64_t decodedBytes = 0;
    for (const DdsLevel& level : layout.levels)
        decodedBytes += uint64_t(level.width) * uint64_t(level.height) * 4;
    if (decodedBytes > byteLimit)
        return DdsResult::TooLarge;
    for (const DdsLevel& level : layout.levels) {
        out.levels.emplace_back();
        DecodeDdsLevel(layout, level, out.levels.back());
    }
    out.width = layout.levels.front().width;
    out.height = layout.levels.front().height;
    out.hasAlpha = layout.hasAlpha;
    return DdsResult::Ok;
}

} // namespace GAME::DeviceCommon
