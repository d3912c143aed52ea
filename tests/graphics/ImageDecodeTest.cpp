// Image decoding against hostile bytes: good files decode exactly as DevIL's own loaders decoded
// them, and files cut short, inconsistent or of refused kinds fail fast with the right error.
#include "common/LogCapture.h"

#include "datakit/ImageWriter.h"
#include "graphics/Image.h"

#include <IL/il.h>

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace GAME {
namespace {

using DataKit::ImageWriter;

struct Decoded
{
    ILenum error = IL_NO_ERROR;
    uint32_t width = 0;
    uint32_t height = 0;
    Image::Format format = Image::FORMAT_NONE;
    std::vector<uint8_t> pixels;
};

// What DevIL's own loaders make of good bytes, in the format asked for (the image class's earlier
// decoding).
Decoded DecodeWithDevil(const std::vector<uint8_t>& bytes, Image::Format format)
{
    Decoded out;
    ilInit();
    ilEnable(IL_ORIGIN_SET);
    ilOriginFunc(IL_ORIGIN_UPPER_LEFT);
    ILuint id = 0;
    ilGenImages(1, &id);
    ilBindImage(id);
    if (!ilLoadL(IL_TYPE_UNKNOWN, bytes.data(), static_cast<ILuint>(bytes.size()))) {
        out.error = ilGetError();
    } else {
        out.width = static_cast<uint32_t>(ilGetInteger(IL_IMAGE_WIDTH));
        out.height = static_cast<uint32_t>(ilGetInteger(IL_IMAGE_HEIGHT));
        const ILint bits = ilGetInteger(IL_IMAGE_BITS_PER_PIXEL);
        if (format == Image::FORMAT_NONE)
            format =
                bits >= 32 ? Image::FORMAT_RGBA : (bits < 24 ? Image::FORMAT_LUMINANCE : Image::FORMAT_RGB);
        out.format = format;
        const ILenum layout = format == Image::FORMAT_RGBA
                                  ? IL_RGBA
                                  : (format == Image::FORMAT_LUMINANCE ? IL_LUMINANCE : IL_RGB);
        out.pixels.resize(size_t(out.width) * out.height * Image::GetBitsPerPixel(format) / 8);
        ilCopyPixels(0, 0, 0, out.width, out.height, 1, layout, IL_UNSIGNED_BYTE, out.pixels.data());
    }
    ilDeleteImages(1, &id);
    return out;
}

// Decodes with the image class and with DevIL in every format and expects the same pictures.
void ExpectAsDevil(const std::vector<uint8_t>& bytes, const std::string& what)
{
    ASSERT_FALSE(bytes.empty()) << what;
    for (Image::Format format :
         {Image::FORMAT_NONE, Image::FORMAT_RGB, Image::FORMAT_RGBA, Image::FORMAT_LUMINANCE}) {
        const Decoded expected = DecodeWithDevil(bytes, format);
        ASSERT_EQ(expected.error, ILenum(IL_NO_ERROR)) << what;
        Image image;
        ASSERT_EQ(image.Load(bytes.data(), uint32_t(bytes.size()), format), Image::ERROR_NONE)
            << what << " format " << format;
        EXPECT_EQ(image.GetWidth(), expected.width) << what;
        EXPECT_EQ(image.GetHeight(), expected.height) << what;
        EXPECT_EQ(image.GetFormat(), expected.format) << what << " format " << format;
        EXPECT_EQ(std::vector<uint8_t>(image.GetBuffer(), image.GetBuffer() + image.GetBufferSize()),
                  expected.pixels)
            << what << " format " << format;
    }
}

ImageWriter::Png PngOf(uint32_t width, uint32_t height, int depth, int colorType)
{
    ImageWriter::Png png;
    png.width = width;
    png.height = height;
    png.bitDepth = depth;
    png.colorType = colorType;
    png.rows.resize(ImageWriter::PngRowBytes(png) * height);
    for (size_t i = 0; i < png.rows.size(); ++i)
        png.rows[i] = uint8_t(i * 37 + i / 7);
    if (colorType == 3) {
        const int entries = 1 << (depth < 4 ? depth : 4);
        for (int i = 0; i < entries; ++i)
            png.palette.insert(png.palette.end(), {uint8_t(i * 16), uint8_t(255 - i * 10), uint8_t(i * 3)});
        if (depth == 8)
            for (uint8_t& index : png.rows)
                index %= 16;
    }
    return png;
}

ImageWriter::Jpeg JpegOf(uint32_t width, uint32_t height, int components)
{
    ImageWriter::Jpeg jpeg;
    jpeg.width = width;
    jpeg.height = height;
    jpeg.components = components;
    jpeg.pixels.resize(size_t(width) * height * components);
    for (size_t i = 0; i < jpeg.pixels.size(); ++i)
        jpeg.pixels[i] = uint8_t((i * 7) ^ (i / 13));
    return jpeg;
}

// A TGA file: kind, size, bits, descriptor, then the bytes as given.
std::vector<uint8_t> Tga(uint8_t kind, uint16_t width, uint16_t height, uint8_t bits, uint8_t descriptor,
                         const std::vector<uint8_t>& body, uint8_t colorMapType = 0)
{
    std::vector<uint8_t> file = {0, colorMapType, kind, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (uint16_t v : {width, height}) {
        file.push_back(uint8_t(v));
        file.push_back(uint8_t(v >> 8));
    }
    file.push_back(bits);
    file.push_back(descriptor);
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

std::vector<uint8_t> Counting(size_t count)
{
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = uint8_t(i * 11 + 3);
    return bytes;
}

TEST(ImageDecodeTest, PngOfEveryKindDecodesAsDevilDecodedIt)
{
    struct Kind
    {
        int colorType;
        std::vector<int> depths;
    };
    const Kind kinds[] = {{0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
    for (const Kind& kind : kinds)
        for (int depth : kind.depths)
            for (int variant = 0; variant < 3; ++variant) {
                ImageWriter::Png png = PngOf(5, 3, depth, kind.colorType);
                const std::string what = "PNG colour type " + std::to_string(kind.colorType) + ", " +
                                         std::to_string(depth) + " bits, variant " + std::to_string(variant);
                // 1: a transparent colour or palette alphas and a text chunk; 2: interlaced, with a
                // gamma chunk that DevIL never applied.
                if (variant == 1) {
                    if (kind.colorType == 3)
                        png.paletteAlpha = {10, 20};
                    png.transparentColor = kind.colorType == 0 || kind.colorType == 2;
                    png.comment = "made by the tests";
                } else if (variant == 2) {
                    png.interlaced = true;
                    png.gamma = 1.0;
                }
                ExpectAsDevil(ImageWriter::WritePng(png), what);
            }
}

TEST(ImageDecodeTest, JpegAndTgaOfEveryKindDecodeAsDevilDecodedThem)
{
    for (int components : {1, 3, 4})
        for (bool progressive : {false, true}) {
            ImageWriter::Jpeg jpeg = JpegOf(19, 11, components);
            jpeg.progressive = progressive;
            ExpectAsDevil(ImageWriter::WriteJpeg(jpeg), "JPEG of " + std::to_string(components) +
                                                            " components" +
                                                            (progressive ? ", progressive" : ""));
        }

    // True colour and grey, plain and run-length encoded (a run, then pixels as they are), rows
    // from the bottom and from the top, with an image identifier before the pixels.
    for (uint8_t bits : {24, 32, 8})
        for (bool runLength : {false, true})
            for (uint8_t descriptor : {0x00, 0x20, 0x28}) {
                const uint32_t pixelBytes = bits / 8u;
                std::vector<uint8_t> body = {'i', 'd'};
                if (runLength) {
                    body.push_back(0x83);
                    const std::vector<uint8_t> pixel = Counting(pixelBytes);
                    body.insert(body.end(), pixel.begin(), pixel.end());
                    body.push_back(0x01);
                    const std::vector<uint8_t> two = Counting(2 * pixelBytes);
                    body.insert(body.end(), two.begin(), two.end());
                } else {
                    const std::vector<uint8_t> six = Counting(6 * pixelBytes);
                    body.insert(body.end(), six.begin(), six.end());
                }
                std::vector<uint8_t> file =
                    Tga(uint8_t((bits == 8 ? 3 : 2) + (runLength ? 8 : 0)), 3, 2, bits, descriptor, body);
                file[0] = 2; // the identifier's length
                ExpectAsDevil(file, "TGA of " + std::to_string(bits) + " bits" +
                                        (runLength ? ", run-length" : "") + ", descriptor " +
                                        std::to_string(descriptor));
            }
}

TEST(ImageDecodeTest, TgaKindsNotReadAndInconsistentTgaFilesAreRefused)
{
    GAME::Test::LogCapture log;
    Image image;
    // The 15-bit file that overran DevIL's reader: refused before any pixel is read.
    const std::vector<uint8_t> fifteen = {0,  0, 2, 0, 0, 0, 0, 0, 0, 0, 0,    0,    6,    0,    3,   0x40,
                                          15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x2B, 0x40, 0x40, 0x40};
    EXPECT_EQ(image.Load(fifteen.data(), uint32_t(fifteen.size()), Image::FORMAT_NONE),
              Image::ERROR_FORMAT_NOT_SUPPORTED);
    EXPECT_TRUE(log.Contains("TGA files of kind 2 with 15-bit pixels are not read", 1));
    const std::vector<uint8_t> sixteen = Tga(10, 2, 1, 16, 0, Counting(8));
    EXPECT_EQ(image.Load(sixteen.data(), uint32_t(sixteen.size()), Image::FORMAT_NONE),
              Image::ERROR_FORMAT_NOT_SUPPORTED);
    const std::vector<uint8_t> mapped = Tga(1, 2, 1, 8, 0, Counting(2 + 768), 1);
    EXPECT_EQ(image.Load(mapped.data(), uint32_t(mapped.size()), Image::FORMAT_NONE),
              Image::ERROR_FORMAT_NOT_SUPPORTED);
    const std::vector<uint8_t> greyOf24 = Tga(3, 1, 1, 24, 0, Counting(3));
    EXPECT_EQ(image.Load(greyOf24.data(), uint32_t(greyOf24.size()), Image::FORMAT_NONE),
              Image::ERROR_FORMAT_NOT_SUPPORTED);
    const std::vector<uint8_t> empty = Tga(2, 0, 5, 24, 0, {});
    EXPECT_EQ(image.Load(empty.data(), uint32_t(empty.size()), Image::FORMAT_NONE), Image::ERROR_BAD_FILE);
    // Sides as large as TGA allows, in a few bytes: refused from the header, nothing allocated.
    const std::vector<uint8_t> huge = Tga(10, 65535, 65535, 32, 0, {0xFF, 1, 2, 3, 4});
    EXPECT_EQ(image.Load(huge.data(), uint32_t(huge.size()), Image::FORMAT_NONE), Image::ERROR_BAD_FILE);
    EXPECT_TRUE(log.Contains("a TGA file of 65535 x 65535 pixels in 23 bytes is cut short", 1));

    // Every cut of good files fails, and leaves the image empty.
    std::vector<uint8_t> runs =
        Tga(10, 4, 2, 24, 0, {0x82, 1, 2, 3, 0x04, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18});
    for (const std::vector<uint8_t>& file : {runs, Tga(3, 3, 3, 8, 0x20, Counting(9))})
        for (size_t size = 1; size < file.size(); ++size) {
            EXPECT_NE(image.Load(file.data(), uint32_t(size), Image::FORMAT_NONE), Image::ERROR_NONE) << size;
            EXPECT_EQ(image.GetBuffer(), nullptr);
            EXPECT_EQ(image.GetWidth(), 0u);
        }
    // A run that crosses the picture's end.
    runs[18] = 0x85;
    EXPECT_EQ(image.Load(runs.data(), uint32_t(runs.size()), Image::FORMAT_NONE), Image::ERROR_BAD_FILE);

    // Columns from the right are read (DevIL refused them), mirrored into place.
    const std::vector<uint8_t> mirrored = Tga(3, 3, 1, 8, 0x30, {1, 2, 3});
    ASSERT_EQ(image.Load(mirrored.data(), uint32_t(mirrored.size()), Image::FORMAT_NONE), Image::ERROR_NONE);
    EXPECT_EQ(std::vector<uint8_t>(image.GetBuffer(), image.GetBuffer() + 3),
              (std::vector<uint8_t>{3, 2, 1}));

    // LoadTGA takes nothing else.
    const std::vector<uint8_t> png = ImageWriter::WritePng(PngOf(2, 2, 8, 2));
    EXPECT_EQ(image.LoadTGA(png.data(), uint32_t(png.size()), Image::FORMAT_NONE),
              Image::ERROR_FORMAT_NOT_SUPPORTED);
    EXPECT_EQ(image.Load(png.data(), uint32_t(png.size()), Image::FORMAT_NONE), Image::ERROR_NONE);
}

TEST(ImageDecodeTest, PngFilesCutShortOrOfImpossibleSizesFailFast)
{
    GAME::Test::LogCapture log;
    Image image;
    // Text chunks before the pixels: DevIL hung on a file cut inside one.
    ImageWriter::Png description = PngOf(6, 5, 8, 6);
    description.comment = "Generated by the tests, a text chunk before the pixels";
    description.interlaced = true;
    const std::vector<uint8_t> png = ImageWriter::WritePng(description);
    ASSERT_FALSE(png.empty());
    for (size_t size = 1; size < png.size() - 12; ++size) { // the last 12 bytes are the end chunk
        EXPECT_NE(image.Load(png.data(), uint32_t(size), Image::FORMAT_NONE), Image::ERROR_NONE) << size;
        EXPECT_EQ(image.GetBuffer(), nullptr);
    }
    EXPECT_TRUE(log.Contains("the file ends early", 1));

    // A header claiming far more pixels than the file's bytes could inflate to.
    std::vector<uint8_t> tall = png;
    tall[16] = 0x00, tall[17] = 0x01, tall[18] = 0x00, tall[19] = 0x00; // 65536 wide
    tall[20] = 0x00, tall[21] = 0x01, tall[22] = 0x00, tall[23] = 0x00; // 65536 high
    log.Clear();
    EXPECT_EQ(image.Load(tall.data(), uint32_t(tall.size()), Image::FORMAT_NONE), Image::ERROR_BAD_FILE);
    EXPECT_EQ(log.Count(), 1u);

    // Palette indices past the palette find black, never memory past it.
    ImageWriter::Png indices = PngOf(4, 1, 8, 3);
    indices.palette.assign(2 * 3, 200);
    indices.rows = {0, 1, 2, 255};
    const std::vector<uint8_t> outside = ImageWriter::WritePng(indices);
    ASSERT_FALSE(outside.empty());
    if (image.Load(outside.data(), uint32_t(outside.size()), Image::FORMAT_RGB) == Image::ERROR_NONE)
        EXPECT_EQ(std::vector<uint8_t>(image.GetBuffer(), image.GetBuffer() + 12),
                  (std::vector<uint8_t>{200, 200, 200, 200, 200, 200, 0, 0, 0, 0, 0, 0}));
    else
        EXPECT_EQ(image.GetBuffer(), nullptr);
}

TEST(ImageDecodeTest, JpegFilesCutShortOverlargeOrOfRefusedKindsFail)
{
    GAME::Test::LogCapture log;
    Image image;
    ImageWriter::Jpeg description = JpegOf(24, 16, 3);
    for (bool progressive : {false, true}) {
        description.progressive = progressive;
        const std::vector<uint8_t> jpeg = ImageWriter::WriteJpeg(description);
        ASSERT_FALSE(jpeg.empty());
        for (size_t size = 1; size < jpeg.size() - 2; ++size) { // the last 2 bytes are the end marker
            EXPECT_NE(image.Load(jpeg.data(), uint32_t(size), Image::FORMAT_NONE), Image::ERROR_NONE) << size;
            EXPECT_EQ(image.GetBuffer(), nullptr);
        }
    }
    EXPECT_TRUE(log.Contains("Premature end of JPEG file", 1));

    // The frame header claims 60000 x 60000 pixels of a file of a few hundred bytes.
    description.progressive = false;
    std::vector<uint8_t> jpeg = ImageWriter::WriteJpeg(description);
    size_t frame = 2;
    while (frame + 9 < jpeg.size() && !(jpeg[frame] == 0xFF && jpeg[frame + 1] == 0xC0))
        frame += 2 + size_t(jpeg[frame + 2] << 8 | jpeg[frame + 3]);
    ASSERT_LT(frame + 9, jpeg.size());
    jpeg[frame + 5] = 0xEA, jpeg[frame + 6] = 0x60; // height
    jpeg[frame + 7] = 0xEA, jpeg[frame + 8] = 0x60; // width
    log.Clear();
    EXPECT_EQ(image.Load(jpeg.data(), uint32_t(jpeg.size()), Image::FORMAT_NONE), Image::ERROR_BAD_FILE);
    EXPECT_TRUE(log.Contains("cannot hold 60000 x 60000 pixels", 1));

    // Arithmetic coding can pack a huge flat picture in a few bytes: not read.
    description.arithmetic = true;
    jpeg = ImageWriter::WriteJpeg(description);
    ASSERT_FALSE(jpeg.empty());
    EXPECT_EQ(image.Load(jpeg.data(), uint32_t(jpeg.size()), Image::FORMAT_NONE),
              Image::ERROR_FORMAT_NOT_SUPPORTED);

    // Each scan goes over the whole picture again: 128 scans are too many.
    ImageWriter::Jpeg grey = JpegOf(16, 16, 1);
    grey.scanPerCoefficient = true;
    jpeg = ImageWriter::WriteJpeg(grey);
    ASSERT_FALSE(jpeg.empty());
    log.Clear();
    EXPECT_EQ(image.Load(jpeg.data(), uint32_t(jpeg.size()), Image::FORMAT_NONE), Image::ERROR_BAD_FILE);
    EXPECT_TRUE(log.Contains("more than 100 scans", 1));
    EXPECT_EQ(image.GetBuffer(), nullptr);

    // Other formats are refused.
    const std::vector<uint8_t> bmp = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  40,
                                      0,   0,   0,  1, 0, 0, 0, 1, 0, 0, 0,  1, 0, 24, 0,
                                      0,   0,   0,  0, 4, 0, 0, 0, 0, 0, 0,  0, 0, 0};
    EXPECT_EQ(image.Load(bmp.data(), uint32_t(bmp.size()), Image::FORMAT_NONE),
              Image::ERROR_FORMAT_NOT_SUPPORTED);
    EXPECT_EQ(image.Load(nullptr, 10, Image::FORMAT_NONE), Image::ERROR_BAD_FILE);
}

} // namespace
} // namespace GAME
