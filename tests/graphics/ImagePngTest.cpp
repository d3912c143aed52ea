// Images written as PNG read back through DevIL exactly as they were, in each of the three
// formats, at sizes whose rows are not multiples of four bytes; empty images write nothing.
#include "data/BinaryWriter.h"
#include "graphics/Image.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace GAME {
namespace {

TEST(ImagePngTest, EveryFormatReadsBackAsItWasWritten)
{
    for (Image::Format format : {Image::FORMAT_RGBA, Image::FORMAT_RGB, Image::FORMAT_LUMINANCE}) {
        const uint32_t width = 7, height = 5;
        const uint32_t bytes = Image::GetBitsPerPixel(format) / 8;
        std::vector<uint8_t> pixels(width * height * bytes);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<uint8_t>(i * 37 + 11);
        Image image;
        ASSERT_TRUE(image.Create(width, height, format, pixels.data()));
        BinaryWriter png(64);
        ASSERT_TRUE(image.WritePNG(png)) << format;
        ASSERT_GT(png.GetSize(), 8u);
        EXPECT_EQ(std::memcmp(png.GetBuffer(), "\x89PNG\r\n\x1a\n", 8), 0);

        Image read;
        ASSERT_EQ(read.Load(png.GetBuffer(), png.GetSize(), format), Image::ERROR_NONE) << format;
        ASSERT_EQ(read.GetWidth(), width);
        ASSERT_EQ(read.GetHeight(), height);
        ASSERT_EQ(read.GetFormat(), format);
        ASSERT_EQ(read.GetBufferSize(), pixels.size());
        EXPECT_EQ(std::memcmp(read.GetBuffer(), pixels.data(), pixels.size()), 0)
            << "format " << format << ": rows from the top, every byte kept";
    }
}

TEST(ImagePngTest, AnEmptyImageWritesNothing)
{
    Image image;
    BinaryWriter png(64);
    EXPECT_FALSE(image.WritePNG(png));
    EXPECT_EQ(png.GetSize(), 0u);
}

} // namespace
} // namespace GAME
