// The DDS reader both render devices use (Devices/Common/DdsImage.cpp) over hostile texture files:
// sizes, layouts at several reductions and decoding under a byte limit.
#include "common/FuzzSeeds.h"

#include "DdsImage.h"

#include <cstring>

namespace {

using namespace GAME::DeviceCommon;

std::vector<uint8_t> Header(int width, int height, int levels, uint32_t flags, uint32_t fourCC, uint32_t bits,
                            const uint32_t masks[4])
{
    std::vector<uint8_t> bytes(128, 0);
    auto put = [&](size_t offset, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bytes[offset + size_t(i)] = uint8_t(value >> (8 * i));
    };
    std::memcpy(bytes.data(), "DDS ", 4);
    put(4, 124);
    put(12, uint32_t(height));
    put(16, uint32_t(width));
    put(28, uint32_t(levels));
    put(76, 32);
    put(80, flags);
    put(84, fourCC);
    put(88, bits);
    for (int i = 0; i < 4; ++i)
        put(92 + 4 * size_t(i), masks ? masks[i] : 0);
    return bytes;
}

std::vector<uint8_t> WithLevels(std::vector<uint8_t> bytes, size_t levelBytes)
{
    for (size_t i = 0; i < levelBytes; ++i)
        bytes.push_back(uint8_t(i * 37 + 11));
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    GetDdsFileSize(data, size);
    for (int reduction : {0, 1, 3}) {
        DdsLayout layout;
        if (ReadDdsLayout(data, size, reduction, layout) != DdsResult::Ok)
            continue;
        // Every level the layout hands out lies inside the data.
        for (const DdsLevel& level : layout.levels)
            if (level.data < data || level.data + level.bytes > data + size)
                __builtin_trap();
    }
    DdsImage image;
    if (DecodeDds(data, size, 1, 16u * 1024u * 1024u, image) == DdsResult::Ok)
        FuzzAccepted();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    const uint32_t argb[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    const uint32_t rgb565[4] = {0xF800, 0x07E0, 0x001F, 0};
    const uint32_t luminance[4] = {0xFF, 0, 0, 0};
    const uint32_t alpha[4] = {0, 0, 0, 0xFF};
    auto fourCC = [](const char* code) {
        return uint32_t(uint8_t(code[0])) | uint32_t(uint8_t(code[1])) << 8 |
               uint32_t(uint8_t(code[2])) << 16 | uint32_t(uint8_t(code[3])) << 24;
    };
    sink.Add("argb32_mips", WithLevels(Header(4, 4, 3, 0x41, 0, 32, argb), (16 + 4 + 1) * 4));
    sink.Add("rgb24", WithLevels(Header(3, 5, 1, 0x40, 0, 24, argb), 3 * 5 * 3));
    sink.Add("rgb565", WithLevels(Header(4, 2, 1, 0x40, 0, 16, rgb565), 4 * 2 * 2));
    sink.Add("luminance8", WithLevels(Header(5, 3, 1, 0x20000, 0, 8, luminance), 15));
    sink.Add("alpha8", WithLevels(Header(2, 2, 2, 0x2, 0, 8, alpha), 4 + 1));
    sink.Add("dxt1", WithLevels(Header(8, 4, 2, 0x4, fourCC("DXT1"), 0, nullptr), 2 * 8 + 8));
    sink.Add("dxt3", WithLevels(Header(4, 4, 1, 0x4, fourCC("DXT3"), 0, nullptr), 16));
    sink.Add("dxt5_odd", WithLevels(Header(5, 7, 3, 0x4, fourCC("DXT5"), 0, nullptr), (4 + 2 + 1) * 16));
    sink.AddRefused("truncated", WithLevels(Header(64, 64, 1, 0x41, 0, 32, argb), 100));
}
