#include "common/LogCapture.h"
#include "common/TempDir.h"

#include "data/BinaryWriter.h"
#include "graphics/Image.h"

#include <IL/il.h>

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace GAME {
namespace {

// A tiny uncompressed TGA: rows from the bottom unless topDown, pixels as the file keeps them
// (B, G, R[, A] or one grey byte).
std::vector<uint8_t> MakeTga(uint16_t width, uint16_t height, uint8_t bits, bool topDown,
                             const std::vector<uint8_t>& pixels)
{
    std::vector<uint8_t> file = {0, 0, uint8_t(bits == 8 ? 3 : 2), 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (uint16_t v : {width, height}) {
        file.push_back(uint8_t(v));
        file.push_back(uint8_t(v >> 8));
    }
    file.push_back(bits);
    file.push_back(uint8_t((topDown ? 0x20 : 0) | (bits == 32 ? 8 : 0)));
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

// Encodes RGB rows (from the top) with DevIL's own writer.
std::vector<uint8_t> EncodeWithDevil(ILenum type, ILuint width, ILuint height, std::vector<uint8_t> rgb)
{
    ilInit();
    ILuint id = 0;
    ilGenImages(1, &id);
    ilBindImage(id);
    ilTexImage(width, height, 1, 3, IL_RGB, IL_UNSIGNED_BYTE, rgb.data());
    ilRegisterOrigin(IL_ORIGIN_UPPER_LEFT);
    std::vector<uint8_t> bytes(size_t(width) * height * 3 + 65536);
    const ILuint size = ilSaveL(type, bytes.data(), static_cast<ILuint>(bytes.size()));
    ilDeleteImages(1, &id);
    bytes.resize(size < bytes.size() ? size : 0);
    return bytes;
}

std::vector<uint8_t> Pixels(const Image& image)
{
    return std::vector<uint8_t>(image.GetBuffer(), image.GetBuffer() + image.GetBufferSize());
}

TEST(ImageTest, DecodesTgaInEachDepthWithTheTopRowFirst)
{
    // 2 x 2, bottom-up: the file's first row is the picture's bottom row.
    const std::vector<uint8_t> bgr = {0,   0, 255, 0,   255, 0,    // bottom: red, green
                                      255, 0, 0,   255, 255, 255}; // top: blue, white
    Image image;
    ASSERT_EQ(image.Load(MakeTga(2, 2, 24, false, bgr).data(), uint32_t(MakeTga(2, 2, 24, false, bgr).size()),
                         Image::FORMAT_NONE),
              Image::ERROR_NONE);
    EXPECT_EQ(image.GetFormat(), Image::FORMAT_RGB);
    EXPECT_EQ(image.GetBitsPerPixel(), 24u);
    EXPECT_EQ(image.GetPitch(), 6u);
    EXPECT_EQ(Pixels(image), (std::vector<uint8_t>{0, 0, 255, 255, 255, 255, 255, 0, 0, 0, 255, 0}));

    const std::vector<uint8_t> bgra = {10, 20, 30, 40, 50, 60, 70, 80};
    std::vector<uint8_t> file = MakeTga(2, 1, 32, true, bgra);
    ASSERT_EQ(image.Load(file.data(), uint32_t(file.size()), Image::FORMAT_NONE), Image::ERROR_NONE);
    EXPECT_EQ(image.GetFormat(), Image::FORMAT_RGBA);
    EXPECT_EQ(Pixels(image), (std::vector<uint8_t>{30, 20, 10, 40, 70, 60, 50, 80}));

    file = MakeTga(3, 1, 8, true, {5, 6, 7});
    ASSERT_EQ(image.Load(file.data(), uint32_t(file.size()), Image::FORMAT_NONE), Image::ERROR_NONE);
    EXPECT_EQ(image.GetFormat(), Image::FORMAT_LUMINANCE);
    EXPECT_EQ(Pixels(image), (std::vector<uint8_t>{5, 6, 7}));

    // A format asked for converts on the way out.
    file = MakeTga(2, 1, 32, true, bgra);
    ASSERT_EQ(image.Load(file.data(), uint32_t(file.size()), Image::FORMAT_RGB), Image::ERROR_NONE);
    EXPECT_EQ(Pixels(image), (std::vector<uint8_t>{30, 20, 10, 70, 60, 50}));
}

TEST(ImageTest, DecodesPngAndJpegAndRefusesWhatIsNoImage)
{
    std::vector<uint8_t> rgb(8 * 4 * 3);
    for (size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = uint8_t(i * 7);
    const std::vector<uint8_t> png = EncodeWithDevil(IL_PNG, 8, 4, rgb);
    ASSERT_FALSE(png.empty());
    Image image;
    ASSERT_EQ(image.Load(png.data(), uint32_t(png.size()), Image::FORMAT_NONE), Image::ERROR_NONE);
    EXPECT_EQ(image.GetWidth(), 8u);
    EXPECT_EQ(image.GetHeight(), 4u);
    EXPECT_EQ(image.GetFormat(), Image::FORMAT_RGB);
    EXPECT_EQ(Pixels(image), rgb); // lossless

    // JPEG is lossy: a flat colour comes back close.
    const std::vector<uint8_t> flat = [] {
        std::vector<uint8_t> v;
        for (int i = 0; i < 16 * 16; ++i)
            v.insert(v.end(), {200, 100, 50});
        return v;
    }();
    const std::vector<uint8_t> jpeg = EncodeWithDevil(IL_JPG, 16, 16, flat);
    ASSERT_FALSE(jpeg.empty());
    ASSERT_EQ(image.Load(jpeg.data(), uint32_t(jpeg.size()), Image::FORMAT_RGBA), Image::ERROR_NONE);
    EXPECT_EQ(image.GetWidth(), 16u);
    EXPECT_EQ(image.GetFormat(), Image::FORMAT_RGBA);
    const std::vector<uint8_t> decoded = Pixels(image);
    for (size_t i = 0; i < decoded.size(); i += 4) {
        EXPECT_NEAR(decoded[i], 200, 6);
        EXPECT_NEAR(decoded[i + 1], 100, 6);
        EXPECT_NEAR(decoded[i + 2], 50, 6);
        EXPECT_EQ(decoded[i + 3], 255);
    }

    // What is no image leaves the image empty with an error; a path that does not exist is 4.
    const std::vector<uint8_t> junk = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
    EXPECT_NE(image.Load(junk.data(), uint32_t(junk.size()), Image::FORMAT_NONE), Image::ERROR_NONE);
    EXPECT_EQ(image.GetBuffer(), nullptr);
    EXPECT_EQ(image.GetWidth(), 0u);
    ASSERT_EQ(image.Load(png.data(), uint32_t(png.size()), Image::FORMAT_NONE), Image::ERROR_NONE);
    EXPECT_EQ(image.Load("/no/such/folder/picture.png", Image::FORMAT_NONE), Image::ERROR_COULD_NOT_OPEN);
    EXPECT_EQ(image.GetBuffer(), nullptr);
    EXPECT_EQ(image.GetFormat(), Image::FORMAT_NONE);

    GAME::Test::TempDir dir;
    ASSERT_TRUE(dir.Write("picture.png", std::string(png.begin(), png.end())));
    EXPECT_EQ(image.Load(dir.File("picture.png").c_str(), Image::FORMAT_NONE), Image::ERROR_NONE);
    EXPECT_EQ(Pixels(image), rgb);
}

TEST(ImageTest, FormatChangesFollowTheWeights)
{
    const uint8_t rgba[] = {255, 0, 0, 9, 0, 255, 0, 9, 0, 0, 255, 9, 10, 20, 30, 40};
    Image image;
    ASSERT_TRUE(image.Create(2, 2, Image::FORMAT_RGBA, rgba));
    Image copy;
    copy = image;
    EXPECT_EQ(Pixels(copy), Pixels(image));
    EXPECT_NE(copy.GetBuffer(), image.GetBuffer());

    EXPECT_TRUE(copy.ChangeFormat(Image::FORMAT_LUMINANCE));
    EXPECT_EQ(copy.GetBitsPerPixel(), 8u);
    EXPECT_EQ(Pixels(copy), (std::vector<uint8_t>{76, 150, 28, 18})); // pure red gives 76
    EXPECT_TRUE(copy.ChangeFormat(Image::FORMAT_RGB));
    EXPECT_EQ(Pixels(copy), (std::vector<uint8_t>{76, 76, 76, 150, 150, 150, 28, 28, 28, 18, 18, 18}));
    EXPECT_FALSE(copy.ChangeFormat(Image::FORMAT_RGBA)); // nothing converts to RGBA
    EXPECT_EQ(copy.GetFormat(), Image::FORMAT_RGB);
    EXPECT_TRUE(copy.ChangeFormat(Image::FORMAT_RGB));

    EXPECT_TRUE(image.ChangeFormat(Image::FORMAT_RGB));
    EXPECT_EQ(Pixels(image), (std::vector<uint8_t>{255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30}));
    EXPECT_EQ(image.GetPitch(), 6u);

    Image empty;
    EXPECT_FALSE(empty.ChangeFormat(Image::FORMAT_RGB));
    GAME::Test::LogCapture log;
    EXPECT_FALSE(empty.Create(1u << 20, 1u << 20, Image::FORMAT_RGBA, nullptr)); // far too large
    EXPECT_EQ(empty.GetWidth(), 0u);
    EXPECT_TRUE(log.Contains("no room for a 1048576 x 1048576 picture", 1));
}

TEST(ImageTest, FlipsStayInsideAnyShape)
{
    // 3 x 2 luminance: rows {1, 2, 3} and {4, 5, 6}.
    const uint8_t values[] = {1, 2, 3, 4, 5, 6};
    Image image;
    ASSERT_TRUE(image.Create(3, 2, Image::FORMAT_LUMINANCE, values));
    image.FlipHorizontally();
    EXPECT_EQ(Pixels(image), (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));
    image.FlipVertically();
    EXPECT_EQ(Pixels(image), (std::vector<uint8_t>{6, 5, 4, 3, 2, 1}));
    image.FlipDiagonally();
    EXPECT_EQ(image.GetWidth(), 2u);
    EXPECT_EQ(image.GetHeight(), 3u);
    EXPECT_EQ(Pixels(image), (std::vector<uint8_t>{6, 3, 5, 2, 4, 1}));

    // A square RGB picture transposes in place of its sides.
    const uint8_t rgb[] = {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4};
    ASSERT_TRUE(image.Create(2, 2, Image::FORMAT_RGB, rgb));
    image.FlipDiagonally();
    EXPECT_EQ(Pixels(image), (std::vector<uint8_t>{1, 1, 1, 3, 3, 3, 2, 2, 2, 4, 4, 4}));
    Image empty;
    empty.FlipDiagonally();
    EXPECT_EQ(empty.GetBuffer(), nullptr);
}

TEST(ImageTest, WritesUncompressedTgaFromTheBottomRow)
{
    const uint8_t rgb[] = {1, 2, 3, 4, 5, 6};
    Image image;
    ASSERT_TRUE(image.Create(2, 1, Image::FORMAT_RGB, rgb));
    BinaryWriter writer(64);
    ASSERT_TRUE(image.WriteTGA(writer));
    const std::vector<uint8_t> expected = {0, 0, 2, 0, 0,  0, 0, 0, 0, 0, 0, 0,
                                           2, 0, 1, 0, 24, 0, 3, 2, 1, 6, 5, 4};
    EXPECT_EQ(std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize()), expected);

    // RGBA, two rows: the bottom row first, B, G, R, A.
    const uint8_t rgba[] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(image.Create(1, 2, Image::FORMAT_RGBA, rgba));
    BinaryWriter second(64);
    ASSERT_TRUE(image.WriteTGA(second));
    ASSERT_EQ(second.GetSize(), 18u + 8u);
    EXPECT_EQ(second.GetBuffer()[16], 32);
    EXPECT_EQ(std::vector<uint8_t>(second.GetBuffer() + 18, second.GetBuffer() + 26),
              (std::vector<uint8_t>{7, 6, 5, 8, 3, 2, 1, 4}));

    // And back again, byte for byte.
    Image decoded;
    ASSERT_EQ(decoded.Load(second.GetBuffer(), second.GetSize(), Image::FORMAT_NONE), Image::ERROR_NONE);
    EXPECT_EQ(Pixels(decoded), Pixels(image));

    // Luminance and sides past 16 bits are not written.
    ASSERT_TRUE(image.Create(2, 1, Image::FORMAT_LUMINANCE, rgb));
    BinaryWriter none(64);
    EXPECT_FALSE(image.WriteTGA(none));
    ASSERT_TRUE(image.Create(Image::maxTgaSide + 1, 1, Image::FORMAT_RGB, nullptr));
    EXPECT_FALSE(image.WriteTGA(none));
    EXPECT_EQ(none.GetSize(), 0u);
    ASSERT_TRUE(image.Create(1, Image::maxTgaSide, Image::FORMAT_RGB, nullptr));
    EXPECT_TRUE(image.WriteTGA(none));
}

} // namespace
} // namespace GAME
