// DDS files whose header asks for more mip levels than the image's full chain, read through the
// software device's texture file operations.
#include "SoftwareDeviceAccess.h"

#include "graphics/RenderDevice.h"
#include "graphics/RenderTexture.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace GAME {
namespace {

// An uncompressed 32-bit DDS file whose header claims `levels` mip levels and whose data holds the
// chain of `stored` levels, level i filled with the value i + 1.
std::vector<uint8_t> ChainFile(uint32_t width, uint32_t height, uint32_t levels, uint32_t stored)
{
    std::vector<uint8_t> bytes(128, 0);
    auto put = [&bytes](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = uint8_t(value >> (8 * i));
    };
    std::memcpy(bytes.data(), "DDS ", 4);
    put(4, 124);
    put(8, 0x21007);
    put(12, height);
    put(16, width);
    put(28, levels);
    put(76, 32);
    put(80, 0x41); // RGB with alpha
    put(88, 32);
    put(92, 0x00FF0000);
    put(96, 0x0000FF00);
    put(100, 0x000000FF);
    put(104, 0xFF000000);
    put(108, 0x401008);
    for (uint32_t level = 0; level < stored; ++level) {
        const uint32_t w = std::max(1u, width >> level), h = std::max(1u, height >> level);
        for (uint32_t i = 0; i < w * h; ++i)
            for (int b = 0; b < 4; ++b)
                bytes.push_back(uint8_t((level + 1) >> (8 * b)));
    }
    return bytes;
}

class DdsMipChain : public ::testing::Test
{
protected:
    void SetUp() override
    {
        device = RenderDevice::Create("Software");
        ASSERT_NE(device, nullptr);
    }
    void TearDown() override
    {
        RenderDevice::Destroy(device);
        RenderDevice::UnloadLibraries();
    }

    GAME::Test::SoftwareModuleAccess software;
    RenderDevice* device = nullptr;
};

TEST_F(DdsMipChain, LevelsBeyondTheFullChainAreHeldToIt)
{
    // 8 x 4: the full chain is 8 x 4, 4 x 2, 2 x 1 and 1 x 1.
    constexpr unsigned chainBytes = 128 + (32 + 8 + 2 + 1) * 4;
    for (uint32_t asked : {4u, 5u, 13u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(asked);
        const std::vector<uint8_t> file = ChainFile(8, 4, asked, 4);
        ASSERT_EQ(file.size(), chainBytes);
        EXPECT_EQ(device->GetTextureFileInfo(file.data(), unsigned(file.size()), 0), chainBytes);
        RenderTexture* texture = device->CreateTextureFromFile(file.data(), unsigned(file.size()), 0);
        ASSERT_NE(texture, nullptr);
        EXPECT_EQ(texture->GetWidth(), 8);
        EXPECT_EQ(texture->GetHeight(), 4);
        EXPECT_EQ(texture->GetLevelCount(), 4);
        device->DestroyTexture(&texture);

        // Dropping all but the last level keeps the 1 x 1 level, read from its place in the file.
        RenderTexture* smallest = device->CreateTextureFromFile(file.data(), unsigned(file.size()), 3);
        ASSERT_NE(smallest, nullptr);
        EXPECT_EQ(smallest->GetWidth(), 1);
        EXPECT_EQ(smallest->GetLevelCount(), 1);
        int pitch = 0;
        const auto* texel = static_cast<const uint32_t*>(smallest->Lock(pitch));
        ASSERT_NE(texel, nullptr);
        EXPECT_EQ(*texel, 4u);
        smallest->Unlock();
        device->DestroyTexture(&smallest);
    }

    // A file one byte short of the full chain is refused whatever the header asks.
    std::vector<uint8_t> cut = ChainFile(8, 4, 9, 4);
    cut.pop_back();
    EXPECT_EQ(device->CreateTextureFromFile(cut.data(), unsigned(cut.size()), 0), nullptr);

    // A 1 x 1 image has a chain of one level.
    const std::vector<uint8_t> dot = ChainFile(1, 1, 2, 1);
    EXPECT_EQ(device->GetTextureFileInfo(dot.data(), unsigned(dot.size()), 0), 132u);
    RenderTexture* texture = device->CreateTextureFromFile(dot.data(), unsigned(dot.size()), 0);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->GetLevelCount(), 1);
    device->DestroyTexture(&texture);
}

} // namespace
} // namespace GAME
