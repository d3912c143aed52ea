#include "datakit/ImageWriter.h"

// libjpeg's header needs FILE and size_t declared first.
#include <cstdio>
#include <jpeglib.h>
#include <png.h>

#include <csetjmp>
#include <cstdlib>

namespace DataKit {

namespace {

// libpng and libjpeg leave a failed call by longjmp: the functions holding a jump point keep no
// object with a destructor.
void PngAppend(png_structp png, png_bytep data, size_t size)
{
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

void PngFlush(png_structp) {}

void PngQuiet(png_structp, png_const_charp) {}

void PngFail(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

bool PngWriteAll(png_structp png, png_infop info, const ImageWriter::Png& image, std::vector<uint8_t>* out)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, out, PngAppend, PngFlush);
    png_set_IHDR(png, info, image.width, image.height, image.bitDepth, image.colorType,
                 image.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (image.colorType == PNG_COLOR_TYPE_PALETTE) {
        png_color colors[256] = {};
        const int count = static_cast<int>(image.palette.size() / 3 < 256 ? image.palette.size() / 3 : 256);
        for (int i = 0; i < count; ++i)
            colors[i] = {image.palette[i * 3], image.palette[i * 3 + 1], image.palette[i * 3 + 2]};
        png_set_PLTE(png, info, colors, count);
        if (!image.paletteAlpha.empty())
            png_set_tRNS(png, info, image.paletteAlpha.data(), static_cast<int>(image.paletteAlpha.size()),
                         nullptr);
    } else if (image.transparentColor) {
        png_color_16 color = {};
        color.gray = 1;
        color.red = 1;
        color.green = 2;
        color.blue = 3;
        png_set_tRNS(png, info, nullptr, 0, &color);
    }
    if (image.gamma > 0.0)
        png_set_gAMA(png, info, image.gamma);
    if (!image.comment.empty()) {
        png_text text = {};
        text.compression = PNG_TEXT_COMPRESSION_NONE;
        text.key = const_cast<png_charp>("Comment");
        text.text = const_cast<png_charp>(image.comment.c_str());
        png_set_text(png, info, &text, 1);
    }
    png_write_info(png, info);
    const size_t pitch = ImageWriter::PngRowBytes(image);
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; ++pass)
        for (uint32_t y = 0; y < image.height; ++y)
            png_write_row(png, image.rows.data() + y * pitch);
    png_write_end(png, info);
    return true;
}

struct JpegFailure
{
    jpeg_error_mgr errors;
    std::jmp_buf jump;
};

[[noreturn]] void JpegFail(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegFailure*>(info->err)->jump, 1);
}

void JpegQuiet(j_common_ptr, int) {}

bool JpegWriteAll(jpeg_compress_struct* info, const ImageWriter::Jpeg& image, jpeg_scan_info* scans,
                  unsigned char** bytes, unsigned long* size)
{
    if (setjmp(reinterpret_cast<JpegFailure*>(info->err)->jump))
        return false;
    jpeg_create_compress(info);
    jpeg_mem_dest(info, bytes, size);
    info->image_width = image.width;
    info->image_height = image.height;
    info->input_components = image.components;
    info->in_color_space =
        image.components == 1 ? JCS_GRAYSCALE : (image.components == 4 ? JCS_CMYK : JCS_RGB);
    jpeg_set_defaults(info);
    jpeg_set_quality(info, image.quality, TRUE);
    info->arith_code = image.arithmetic ? TRUE : FALSE;
    if (image.scanPerCoefficient && image.components == 1) {
        int n = 0;
        scans[n++] = {1, {0}, 0, 0, 0, 1};
        scans[n++] = {1, {0}, 0, 0, 1, 0};
        for (int k = 1; k < 64; ++k)
            scans[n++] = {1, {0}, k, k, 0, 1};
        for (int k = 1; k < 64; ++k)
            scans[n++] = {1, {0}, k, k, 1, 0};
        info->scan_info = scans;
        info->num_scans = n;
    } else if (image.progressive) {
        jpeg_simple_progression(info);
    }
    jpeg_start_compress(info, TRUE);
    const size_t pitch = size_t(image.width) * image.components;
    while (info->next_scanline < info->image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image.pixels.data() + info->next_scanline * pitch);
        jpeg_write_scanlines(info, &row, 1);
    }
    jpeg_finish_compress(info);
    return true;
}

} // namespace

size_t ImageWriter::PngRowBytes(const Png& image)
{
    const int channels =
        image.colorType == 2 ? 3 : (image.colorType == 4 ? 2 : (image.colorType == 6 ? 4 : 1));
    return (size_t(image.width) * channels * image.bitDepth + 7) / 8;
}

std::vector<uint8_t> ImageWriter::WritePng(const Png& image)
{
    std::vector<uint8_t> out;
    if (image.rows.size() < PngRowBytes(image) * image.height)
        return out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngFail, PngQuiet);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || !PngWriteAll(png, info, image, &out))
        out.clear();
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    return out;
}

std::vector<uint8_t> ImageWriter::WriteJpeg(const Jpeg& image)
{
    if (image.pixels.size() < size_t(image.width) * image.height * image.components)
        return {};
    jpeg_compress_struct info = {};
    JpegFailure failure;
    info.err = jpeg_std_error(&failure.errors);
    failure.errors.error_exit = JpegFail;
    failure.errors.emit_message = JpegQuiet;
    jpeg_scan_info scans[128] = {};
    unsigned char* bytes = nullptr;
    unsigned long size = 0;
    const bool written = JpegWriteAll(&info, image, scans, &bytes, &size);
    jpeg_destroy_compress(&info);
    std::vector<uint8_t> out;
    if (written && bytes)
        out.assign(bytes, bytes + size);
    std::free(bytes);
    return out;
}

} // namespace DataKit
