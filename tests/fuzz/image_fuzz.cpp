// Decodes any bytes as an image file in each pixel format and as a TGA file only: no crash, no
// hang, no allocation larger than the bytes can describe; a decoded picture is whole and a failed
// one leaves the image empty.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "data/BinaryWriter.h"
#include "datakit/ImageWriter.h"
#include "graphics/Image.h"

#include <cstdlib>

namespace {

void Check(const GAME::Image& image, GAME::Image::Error error)
{
    if (error == GAME::Image::ERROR_NONE) {
        if (!image.GetBuffer() || image.GetWidth() == 0 || image.GetHeight() == 0 ||
            image.GetBufferSize() !=
                uint64_t(image.GetWidth()) * image.GetHeight() * image.GetBitsPerPixel() / 8)
            std::abort();
    } else if (image.GetBuffer() || image.GetWidth() != 0 || image.GetFormat() != GAME::Image::FORMAT_NONE) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    if (size > 1u << 20)
        return 0;
    GAME::Image image;
    // The last byte picks the format asked for, so every conversion is reached.
    const auto format = static_cast<GAME::Image::Format>(size ? data[size - 1] % 4 : 0);
    const GAME::Image::Error loaded = image.Load(data, static_cast<uint32_t>(size), format);
    Check(image, loaded);
    const GAME::Image::Error tga = image.LoadTGA(data, static_cast<uint32_t>(size), GAME::Image::FORMAT_RGBA);
    Check(image, tga);
    if (loaded == GAME::Image::ERROR_NONE || tga == GAME::Image::ERROR_NONE)
        FuzzAccepted();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    using DataKit::ImageWriter;
    // What the image class writes.
    GAME::Image image;
    std::vector<uint8_t> pixels(6 * 3 * 4);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint8_t>(i * 13);
    for (GAME::Image::Format format : {GAME::Image::FORMAT_RGB, GAME::Image::FORMAT_RGBA}) {
        GAME::BinaryWriter tga(256);
        if (image.Create(6, 3, format, pixels.data()) && image.WriteTGA(tga))
            sink.Add(format == GAME::Image::FORMAT_RGB ? "rgb.tga" : "rgba.tga",
                     std::vector<uint8_t>(tga.GetBuffer(), tga.GetBuffer() + tga.GetSize()));
    }
    // Run-length encoded true colour and grey, rows from the top.
    sink.Add("rle.tga", std::vector<uint8_t>{0, 0,  10,   0,    0, 0, 0,   0,    0, 0,   0, 0,   2, 0, 2,
                                             0, 24, 0x20, 0x81, 0, 0, 255, 0x01, 0, 255, 0, 255, 0, 0});
    sink.Add("grey-rle.tga",
             std::vector<uint8_t>{0, 0, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 1, 0, 8, 0, 0x82, 7});

    // PNG of each colour type, one interlaced with text, and JPEG of each kind.
    const int kinds[][2] = {{0, 1}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 4}, {4, 8}, {6, 8}};
    for (const auto& kind : kinds) {
        ImageWriter::Png png;
        png.width = 7;
        png.height = 5;
        png.colorType = kind[0];
        png.bitDepth = kind[1];
        png.rows.resize(ImageWriter::PngRowBytes(png) * png.height);
        for (size_t i = 0; i < png.rows.size(); ++i)
            png.rows[i] = static_cast<uint8_t>(i * 29);
        if (png.colorType == 3) {
            png.palette.assign(16 * 3, 0x80);
            png.paletteAlpha = {0, 128};
        }
        png.transparentColor = png.colorType == 2;
        sink.Add("type" + std::to_string(kind[0]) + "-" + std::to_string(kind[1]) + ".png",
                 ImageWriter::WritePng(png));
        if (png.colorType == 6) {
            png.interlaced = true;
            png.comment = "fuzz seed";
            sink.Add("interlaced.png", ImageWriter::WritePng(png));
        }
    }
    for (int components : {1, 3, 4})
        for (bool progressive : {false, true}) {
            ImageWriter::Jpeg jpeg;
            jpeg.width = 17;
            jpeg.height = 9;
            jpeg.components = components;
            jpeg.progressive = progressive;
            jpeg.pixels.resize(size_t(jpeg.width) * jpeg.height * components);
            for (size_t i = 0; i < jpeg.pixels.size(); ++i)
                jpeg.pixels[i] = static_cast<uint8_t>(i * 5);
            sink.Add("c" + std::to_string(components) + (progressive ? "-progressive" : "") + ".jpg",
                     ImageWriter::WriteJpeg(jpeg));
        }
    sink.AddRefused("text", std::string("not an image"));
}
