#include "graphics/Image.h"

#include "core/Log.h"
#include "data/BinaryWriter.h"

#include <IL/il.h>
#include <zlib.h>
// libjpeg's header needs FILE and size_t declared first.
#include <cstdio>
#include <jerror.h>
#include <jpeglib.h>
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace GAME {

namespace {

// DevIL keeps one bound image, an error stack and its settings process-wide: every use of it
// goes through this lock.
std::mutex& DevilLock()
{
    static std::mutex lock;
    return lock;
}

// Under DevilLock.
void EnsureDevilInitialized()
{
    static bool initialized = false;
    if (!initialized) {
        ilInit();
        initialized = true;
    }
}

// Under DevilLock: empties DevIL's error stack so the next error read is the one of our call.
void ClearDevilErrors()
{
    for (int i = 0; i < 64 && ilGetError() != IL_NO_ERROR; ++i) {
    }
}

Image::Error MapDevilError(ILenum error)
{
    switch (error) {
    case IL_OUT_OF_MEMORY:
        return Image::ERROR_OUT_OF_MEMORY;
    case IL_FORMAT_NOT_SUPPORTED:
        return Image::ERROR_FORMAT_NOT_SUPPORTED;
    case IL_ILLEGAL_FILE_VALUE:
    case IL_INVALID_FILE_HEADER:
        return Image::ERROR_BAD_FILE;
    case IL_COULD_NOT_OPEN_FILE:
        return Image::ERROR_COULD_NOT_OPEN;
    case IL_FILE_READ_ERROR:
        return Image::ERROR_READ;
    default:
        return Image::ERROR_OTHER;
    }
}

// A new buffer of the size, or null.
uint8_t* Allocate(uint64_t bytes)
{
    if (bytes == 0 || bytes > Image::maxBufferBytes)
        return nullptr;
    return new (std::nothrow) uint8_t[static_cast<size_t>(bytes)];
}

// ---- Decoded pictures -------------------------------------------------------------------------
//
// The decoders below read a file within its bytes and leave its pixels in the layout DevIL's own
// loaders used to give (BGR TGA, 16-bit PNG samples in host order, palettes kept as indices), rows
// from the top. DevIL then only converts that buffer, which we made and sized, into the format
// asked for: the file's bytes never reach DevIL, and the conversions stay exactly DevIL's.

struct Decoded
{
    uint32_t width = 0;
    uint32_t height = 0;
    ILenum layout = 0;              // IL_RGB, IL_BGRA, IL_LUMINANCE, IL_COLOUR_INDEX...
    ILenum type = IL_UNSIGNED_BYTE; // or IL_UNSIGNED_SHORT
    uint32_t channels = 0;          // samples of a pixel
    uint32_t sampleBytes = 1;
    std::unique_ptr<uint8_t[]> pixels;
    // IL_COLOUR_INDEX only: 256 entries (indices past the file's palette find zeros), 3 bytes
    // each (R, G, B) or 4 (R, G, B, A).
    uint8_t palette[256 * 4] = {};
    uint32_t paletteBytes = 0;

    uint32_t PixelBytes() const { return channels * sampleBytes; }
    uint64_t Bytes() const { return uint64_t(width) * height * PixelBytes(); }
    // False, with a log line, when the picture is too large to decode; else allocates it.
    Image::Error Allocate(const char* kind)
    {
        if (uint64_t(width) * height > Image::maxPixels || Bytes() > Image::maxBufferBytes) {
            LogPrintf(1, "Image: a %u x %u %s picture is too large", width, height, kind);
            return Image::ERROR_OUT_OF_MEMORY;
        }
        pixels.reset(GAME::Allocate(Bytes()));
        if (!pixels) {
            LogPrintf(1, "Image: no room for a %u x %u %s picture", width, height, kind);
            return Image::ERROR_OUT_OF_MEMORY;
        }
        return Image::ERROR_NONE;
    }
};

// ---- TGA --------------------------------------------------------------------------------------

constexpr uint32_t kTgaHeaderSize = 18;
constexpr uint8_t kTgaColorMapped = 1;
constexpr uint8_t kTgaTrueColor = 2;
constexpr uint8_t kTgaGrey = 3;
constexpr uint8_t kTgaRunLength = 8; // added to the kind
constexpr uint8_t kTgaTopDown = 0x20;
constexpr uint8_t kTgaRightToLeft = 0x10;

uint16_t U16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// Whether the bytes have the header of a TGA file of any kind (TGA has no magic number).
bool LooksLikeTga(const uint8_t* bytes, uint32_t size)
{
    if (size < kTgaHeaderSize || bytes[1] > 1)
        return false;
    const uint8_t kind = bytes[2] & ~kTgaRunLength;
    const uint8_t bits = bytes[16];
    return (kind == kTgaColorMapped || kind == kTgaTrueColor || kind == kTgaGrey) &&
           (bits == 8 || bits == 15 || bits == 16 || bits == 24 || bits == 32);
}

// A file that LooksLikeTga: true colour of 24 or 32 bits and grey of 8 bits, plain or run-length
// encoded. Colour-mapped files and 15/16-bit pixels are refused: nothing the engine makes uses
// them, and decoders of them have been overrun by crafted files.
Image::Error DecodeTga(const uint8_t* bytes, uint32_t size, Decoded& out)
{
    const uint8_t idLength = bytes[0];
    const uint8_t colorMapType = bytes[1];
    const uint8_t kind = bytes[2] & ~kTgaRunLength;
    const bool runLength = (bytes[2] & kTgaRunLength) != 0;
    const uint32_t width = U16(bytes + 12);
    const uint32_t height = U16(bytes + 14);
    const uint8_t bits = bytes[16];
    const uint8_t descriptor = bytes[17];
    if (colorMapType != 0 || kind == kTgaColorMapped || (kind == kTgaTrueColor && bits != 24 && bits != 32) ||
        (kind == kTgaGrey && bits != 8)) {
        LogPrintf(1, "Image: TGA files of kind %u with %u-bit pixels%s are not read", bytes[2], bits,
                  colorMapType ? " and a colour map" : "");
        return Image::ERROR_FORMAT_NOT_SUPPORTED;
    }
    if (width == 0 || height == 0) {
        LogPrintf(1, "Image: a TGA file of %u x %u pixels", width, height);
        return Image::ERROR_BAD_FILE;
    }
    const uint32_t pixelBytes = bits / 8u;
    const uint64_t pixels = uint64_t(width) * height;
    uint64_t at = kTgaHeaderSize + idLength;
    const uint64_t left = at <= size ? size - at : 0;
    // Every pixel needs its bytes, or a run packet of at most 128 pixels needs 1 + one pixel.
    if (at > size || (!runLength && pixels * pixelBytes > left) ||
        (runLength && pixels > left / (1 + pixelBytes) * 128)) {
        LogPrintf(1, "Image: a TGA file of %u x %u pixels in %u bytes is cut short", width, height, size);
        return Image::ERROR_BAD_FILE;
    }
    out.width = width;
    out.height = height;
    out.channels = pixelBytes;
    out.layout = pixelBytes == 4 ? IL_BGRA : (pixelBytes == 3 ? IL_BGR : IL_LUMINANCE);
    if (const Image::Error error = out.Allocate("TGA"); error != Image::ERROR_NONE)
        return error;

    // The file's rows run from the bottom and its columns from the left unless it says otherwise.
    const bool topDown = (descriptor & kTgaTopDown) != 0;
    const bool rightToLeft = (descriptor & kTgaRightToLeft) != 0;
    const uint64_t pitch = uint64_t(width) * pixelBytes;
    uint8_t* const buffer = out.pixels.get();
    uint32_t x = 0;
    uint32_t y = 0; // row and column of the file's order
    uint64_t done = 0;
    while (done < pixels) {
        uint64_t count = pixels - done;
        bool repeat = false;
        if (runLength) {
            if (at >= size)
                break;
            const uint8_t packet = bytes[at++];
            count = (packet & 0x7F) + 1u;
            repeat = (packet & 0x80) != 0;
            if (count > pixels - done)
                break; // a packet past the picture's end
        }
        const uint64_t need = (repeat ? 1 : count) * pixelBytes;
        if (need > size - at)
            break;
        for (uint64_t i = 0; i < count; ++i) {
            const uint32_t row = topDown ? y : height - 1 - y;
            const uint32_t column = rightToLeft ? width - 1 - x : x;
            std::memcpy(buffer + row * pitch + uint64_t(column) * pixelBytes,
                        bytes + at + (repeat ? 0 : i * pixelBytes), pixelBytes);
            if (++x == width) {
                x = 0;
                ++y;
            }
        }
        at += need;
        done += count;
    }
    if (done < pixels) {
        LogPrintf(1, "Image: the pixels of a %u x %u TGA file are cut short or overrun it", width, height);
        out.pixels.reset();
        return Image::ERROR_BAD_FILE;
    }
    return Image::ERROR_NONE;
}

// ---- PNG --------------------------------------------------------------------------------------

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Deflate makes at most about 1032 bytes of each byte it is given: a file whose pixels could not
// come out of its bytes is refused before anything is allocated for them.
constexpr uint64_t kMaxInflateRatio = 1040;

// libpng leaves a failed call by longjmp: the functions that call it (PngReadHeader,
// PngReadRows) keep no object with a destructor, and everything they fill lives here.
struct PngState
{
    const uint8_t* bytes = nullptr;
    uint32_t size = 0;
    uint32_t at = 0;
    png_structp png = nullptr;
    png_infop info = nullptr;
    char message[160] = {};
    uint32_t passes = 1;
};

void PngRead(png_structp png, png_bytep to, size_t count)
{
    auto* state = static_cast<PngState*>(png_get_io_ptr(png));
    if (count > state->size - state->at)
        png_error(png, "the file ends early");
    std::memcpy(to, state->bytes + state->at, count);
    state->at += static_cast<uint32_t>(count);
}

void PngFail(png_structp png, png_const_charp message)
{
    auto* state = static_cast<PngState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof(state->message), "%s", message ? message : "");
    png_longjmp(png, 1);
}

void PngWarn(png_structp, png_const_charp) {}

// Reads the chunks before the image data and asks for DevIL's layout: grey of 1, 2 or 4 bits
// widened to 8, a transparent colour made an alpha channel (not for palettes), palette indices
// one a byte, 16-bit samples in host order, no gamma.
bool PngReadHeader(PngState& state, Decoded& out)
{
    if (setjmp(png_jmpbuf(state.png)))
        return false;
    png_set_read_fn(state.png, &state, PngRead);
    // Text, profiles and suggested palettes are skipped unread: nothing here uses them, and their
    // lengths and packed sizes would otherwise size allocations. No other chunk is larger than
    // the file.
    static const png_byte skipped[] = "tEXt\0zTXt\0iTXt\0iCCP\0sPLT\0eXIf";
    png_set_keep_unknown_chunks(state.png, PNG_HANDLE_CHUNK_NEVER, skipped, 6);
    png_set_chunk_malloc_max(state.png, state.size < 65536 ? 65536 : state.size);
    png_read_info(state.png, state.info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(state.png, state.info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
    const int fileChannels = png_get_channels(state.png, state.info);
    const uint64_t fileRow = (uint64_t(width) * fileChannels * depth + 7) / 8 + 1;
    if (uint64_t(height) * fileRow > uint64_t(state.size) * kMaxInflateRatio)
        png_error(state.png, "more pixels than the file's bytes can hold");
    if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8)
        png_set_expand_gray_1_2_4_to_8(state.png);
    if (png_get_valid(state.png, state.info, PNG_INFO_tRNS) && colorType != PNG_COLOR_TYPE_PALETTE)
        png_set_tRNS_to_alpha(state.png);
    if (colorType == PNG_COLOR_TYPE_PALETTE && depth < 8)
        png_set_packing(state.png);
    if (depth == 16)
        png_set_swap(state.png);
    state.passes = static_cast<uint32_t>(png_set_interlace_handling(state.png));
    png_read_update_info(state.png, state.info);

    out.width = width;
    out.height = height;
    out.channels = png_get_channels(state.png, state.info);
    out.sampleBytes = png_get_bit_depth(state.png, state.info) == 16 ? 2 : 1;
    out.type = out.sampleBytes == 2 ? IL_UNSIGNED_SHORT : IL_UNSIGNED_BYTE;
    switch (png_get_color_type(state.png, state.info)) {
    case PNG_COLOR_TYPE_GRAY:
        out.layout = IL_LUMINANCE;
        break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        out.layout = IL_LUMINANCE_ALPHA;
        break;
    case PNG_COLOR_TYPE_RGB:
        out.layout = IL_RGB;
        break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        out.layout = IL_RGBA;
        break;
    default:
        out.layout = IL_COLOUR_INDEX;
        break;
    }
    if (png_get_rowbytes(state.png, state.info) != uint64_t(width) * out.PixelBytes())
        png_error(state.png, "an unexpected row layout");
    if (out.layout == IL_COLOUR_INDEX) {
        png_colorp colors = nullptr;
        int count = 0;
        if (out.channels != 1 || !png_get_PLTE(state.png, state.info, &colors, &count) || count <= 0)
            png_error(state.png, "a palette picture without a palette");
        png_bytep alphas = nullptr;
        int alphaCount = 0;
        if (!png_get_tRNS(state.png, state.info, &alphas, &alphaCount, nullptr) || !alphas)
            alphaCount = 0;
        out.paletteBytes = alphaCount > 0 ? 4 : 3;
        for (int i = 0; i < count && i < 256; ++i) {
            uint8_t* entry = out.palette + i * out.paletteBytes;
            entry[0] = colors[i].red;
            entry[1] = colors[i].green;
            entry[2] = colors[i].blue;
            if (out.paletteBytes == 4)
                entry[3] = i < alphaCount ? alphas[i] : 255;
        }
    }
    return true;
}

bool PngReadRows(PngState& state, Decoded& out)
{
    if (setjmp(png_jmpbuf(state.png)))
        return false;
    const uint64_t pitch = uint64_t(out.width) * out.PixelBytes();
    // Interlaced files fill each row over several passes.
    for (uint32_t pass = 0; pass < state.passes; ++pass)
        for (uint32_t y = 0; y < out.height; ++y)
            png_read_row(state.png, out.pixels.get() + y * pitch, nullptr);
    return true;
}

Image::Error DecodePng(const uint8_t* bytes, uint32_t size, Decoded& out)
{
    PngState state;
    state.bytes = bytes;
    state.size = size;
    state.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, PngFail, PngWarn);
    state.info = state.png ? png_create_info_struct(state.png) : nullptr;
    Image::Error result = Image::ERROR_NONE;
    if (!state.info) {
        LogPrintf(1, "Image: no room to read a PNG file");
        result = Image::ERROR_OUT_OF_MEMORY;
    } else if (!PngReadHeader(state, out)) {
        LogPrintf(1, "Image: a PNG file of %u bytes is bad: %s", size, state.message);
        result = Image::ERROR_BAD_FILE;
    } else if ((result = out.Allocate("PNG")) == Image::ERROR_NONE && !PngReadRows(state, out)) {
        LogPrintf(1, "Image: the pixels of a %u x %u PNG file are bad: %s", out.width, out.height,
                  state.message);
        out.pixels.reset();
        result = Image::ERROR_BAD_FILE;
    }
    png_destroy_read_struct(state.png ? &state.png : nullptr, state.info ? &state.info : nullptr, nullptr);
    return result;
}

// ---- JPEG -------------------------------------------------------------------------------------

// A 8 x 8 block takes at least a bit of Huffman code: a file whose blocks could not all be in its
// bytes is refused before anything is allocated for them.
constexpr uint64_t kMaxJpegPixelsPerByte = 8 * 8 * 8;
// Each scan of a progressive file goes over the whole picture again; real files have about ten.
constexpr int kMaxJpegScans = 100;

// libjpeg leaves a failed call by longjmp, like libpng (see PngState).
struct JpegState
{
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
    bool created = false;
    char message[JMSG_LENGTH_MAX] = {};
};

[[noreturn]] void JpegFail(j_common_ptr info)
{
    auto* state = static_cast<JpegState*>(info->client_data);
    (*info->err->format_message)(info, state->message);
    std::longjmp(state->jump, 1);
}

// Warnings are borne (libjpeg mends what it can), except a file cut short: libjpeg would make up
// the missing rows.
void JpegMessage(j_common_ptr info, int level)
{
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF)
        JpegFail(info);
}

void JpegProgress(j_common_ptr info)
{
    const auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number > kMaxJpegScans) {
        auto* state = static_cast<JpegState*>(info->client_data);
        std::snprintf(state->message, sizeof(state->message), "more than %d scans", kMaxJpegScans);
        std::longjmp(state->jump, 1);
    }
}

bool JpegReadHeader(JpegState& state, const uint8_t* bytes, uint32_t size)
{
    if (setjmp(state.jump))
        return false;
    jpeg_create_decompress(&state.info);
    state.created = true;
    state.info.mem->max_memory_to_use = static_cast<long>(Image::maxBufferBytes);
    jpeg_mem_src(&state.info, bytes, size);
    jpeg_read_header(&state.info, TRUE);
    // libjpeg's defaults, as DevIL used them: RGB from YCbCr, grey as it is, CMYK as it is.
    jpeg_calc_output_dimensions(&state.info);
    return true;
}

bool JpegReadRows(JpegState& state, Decoded& out)
{
    if (setjmp(state.jump))
        return false;
    state.info.progress = &state.progress;
    jpeg_start_decompress(&state.info);
    if (state.info.output_width != out.width || state.info.output_height != out.height ||
        uint32_t(state.info.output_components) != out.channels) {
        std::snprintf(state.message, sizeof(state.message), "a changed picture size");
        return false;
    }
    const uint64_t pitch = uint64_t(out.width) * out.channels;
    while (state.info.output_scanline < state.info.output_height) {
        JSAMPROW row = out.pixels.get() + state.info.output_scanline * pitch;
        if (jpeg_read_scanlines(&state.info, &row, 1) != 1) {
            std::snprintf(state.message, sizeof(state.message), "no rows");
            return false;
        }
    }
    return true;
}

Image::Error DecodeJpeg(const uint8_t* bytes, uint32_t size, Decoded& out)
{
    JpegState state;
    state.info.err = jpeg_std_error(&state.errors);
    state.errors.error_exit = JpegFail;
    state.errors.emit_message = JpegMessage;
    state.info.client_data = &state;
    state.progress.progress_monitor = JpegProgress;
    Image::Error result = Image::ERROR_NONE;
    if (!JpegReadHeader(state, bytes, size)) {
        LogPrintf(1, "Image: a JPEG file of %u bytes is bad: %s", size, state.message);
        result = Image::ERROR_BAD_FILE;
    } else if (state.info.arith_code) {
        LogPrintf(1, "Image: arithmetic-coded JPEG files are not read");
        result = Image::ERROR_FORMAT_NOT_SUPPORTED;
    } else if (state.info.output_components != 1 && state.info.output_components != 3 &&
               state.info.output_components != 4) {
        LogPrintf(1, "Image: JPEG files of %d components are not read", state.info.output_components);
        result = Image::ERROR_FORMAT_NOT_SUPPORTED;
    } else if (uint64_t(state.info.image_width) * state.info.image_height >
               uint64_t(size) * kMaxJpegPixelsPerByte) {
        LogPrintf(1, "Image: a JPEG file of %u bytes cannot hold %u x %u pixels", size,
                  state.info.image_width, state.info.image_height);
        result = Image::ERROR_BAD_FILE;
    } else {
        out.width = state.info.output_width;
        out.height = state.info.output_height;
        out.channels = static_cast<uint32_t>(state.info.output_components);
        // Four components (CMYK) come out as they are, taken for RGBA, as DevIL did.
        out.layout = out.channels == 1 ? IL_LUMINANCE : (out.channels == 3 ? IL_RGB : IL_RGBA);
        result = out.Allocate("JPEG");
        if (result == Image::ERROR_NONE && !JpegReadRows(state, out)) {
            LogPrintf(1, "Image: the pixels of a %u x %u JPEG file are bad: %s", out.width, out.height,
                      state.message);
            out.pixels.reset();
            result = Image::ERROR_BAD_FILE;
        }
    }
    if (state.created)
        jpeg_destroy_decompress(&state.info);
    return result;
}

// Decodes any of the three kinds; allowed says which may be decoded.
enum Kinds : unsigned
{
    KIND_TGA = 1,
    KIND_PNG = 2,
    KIND_JPEG = 4,
};

Image::Error Decode(const uint8_t* bytes, uint32_t size, unsigned allowed, Decoded& out)
{
    if (size >= sizeof(kPngSignature) && std::memcmp(bytes, kPngSignature, sizeof(kPngSignature)) == 0 &&
        (allowed & KIND_PNG))
        return DecodePng(bytes, size, out);
    if (size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF && (allowed & KIND_JPEG))
        return DecodeJpeg(bytes, size, out);
    if ((allowed & KIND_TGA) && LooksLikeTga(bytes, size))
        return DecodeTga(bytes, size, out);
    LogPrintf(1, "Image: %u bytes are no %s file", size, allowed == KIND_TGA ? "TGA" : "TGA, PNG or JPEG");
    return Image::ERROR_FORMAT_NOT_SUPPORTED;
}

} // namespace

Image::Image(const Image& other)
{
    *this = other;
}

Image& Image::operator=(const Image& other)
{
    if (this != &other) {
        if (other.m_buffer)
            Create(other.m_width, other.m_height, other.m_format, other.m_buffer);
        else
            Destroy();
    }
    return *this;
}

Image::~Image()
{
    Destroy();
}

uint32_t Image::GetBitsPerPixel(Format format)
{
    switch (format) {
    case FORMAT_RGB:
        return 24;
    case FORMAT_RGBA:
        return 32;
    case FORMAT_LUMINANCE:
        return 8;
    default:
        return 0;
    }
}

bool Image::Create(uint32_t width, uint32_t height, Format format, const void* pixels)
{
    Destroy();
    const uint32_t bits = GetBitsPerPixel(format);
    const uint64_t bytes = uint64_t(width) * height * (bits / 8);
    uint8_t* buffer = nullptr;
    if (bytes > 0) {
        buffer = Allocate(bytes);
        if (!buffer) {
            LogPrintf(1, "Image: no room for a %u x %u picture", width, height);
            return false;
        }
        if (pixels)
            std::memcpy(buffer, pixels, static_cast<size_t>(bytes));
    }
    m_width = width;
    m_height = height;
    m_format = format;
    m_bitsPerPixel = bits;
    m_buffer = buffer;
    return true;
}

void Image::Destroy()
{
    delete[] m_buffer;
    m_buffer = nullptr;
    m_width = 0;
    m_height = 0;
    m_format = FORMAT_NONE;
    m_bitsPerPixel = 0;
}

Image::Error Image::Load(const void* data, uint32_t size, Format format)
{
    return LoadKinds(data, size, format, KIND_TGA | KIND_PNG | KIND_JPEG);
}

Image::Error Image::LoadTGA(const void* data, uint32_t size, Format format)
{
    return LoadKinds(data, size, format, KIND_TGA);
}

Image::Error Image::LoadKinds(const void* data, uint32_t size, Format format, unsigned kinds)
{
    Destroy();
    if (!data || size == 0) {
        LogPrintf(1, "Image: no bytes to decode");
        return ERROR_BAD_FILE;
    }
    Decoded decoded;
    if (const Error error = Decode(static_cast<const uint8_t*>(data), size, kinds, decoded);
        error != ERROR_NONE)
        return error;

    // FORMAT_NONE takes the format from the bits of the file's pixels, as DevIL counts them.
    const uint32_t bits = decoded.PixelBytes() * 8;
    if (format == FORMAT_NONE)
        format = bits >= 32 ? FORMAT_RGBA : (bits < 24 ? FORMAT_LUMINANCE : FORMAT_RGB);
    if (GetBitsPerPixel(format) == 0) {
        LogPrintf(1, "Image: no pixel format %d", int(format));
        return ERROR_BAD_FILE;
    }
    const ILenum layout =
        format == FORMAT_RGBA ? IL_RGBA : (format == FORMAT_LUMINANCE ? IL_LUMINANCE : IL_RGB);
    if (decoded.layout == layout && decoded.type == IL_UNSIGNED_BYTE) {
        // Already in the format asked for.
        m_width = decoded.width;
        m_height = decoded.height;
        m_format = format;
        m_bitsPerPixel = GetBitsPerPixel(format);
        m_buffer = decoded.pixels.release();
        return ERROR_NONE;
    }
    if (!Create(decoded.width, decoded.height, format, nullptr))
        return ERROR_OUT_OF_MEMORY;

    std::lock_guard<std::mutex> lock(DevilLock());
    EnsureDevilInitialized();
    ClearDevilErrors();
    ilEnable(IL_ORIGIN_SET);
    ilOriginFunc(IL_ORIGIN_UPPER_LEFT);
    ILuint id = 0;
    ilGenImages(1, &id);
    ilBindImage(id);
    Error result = ERROR_NONE;
    bool made = ilTexImage(decoded.width, decoded.height, 1, static_cast<ILubyte>(decoded.channels),
                           decoded.layout, decoded.type, decoded.pixels.get()) == IL_TRUE;
    decoded.pixels.reset();
    if (made) {
        // The buffer's rows run from the top: DevIL must not turn them over.
        ilRegisterOrigin(IL_ORIGIN_UPPER_LEFT);
        if (decoded.layout == IL_COLOUR_INDEX)
            ilRegisterPal(decoded.palette, 256 * decoded.paletteBytes,
                          decoded.paletteBytes == 4 ? IL_PAL_RGBA32 : IL_PAL_RGB24);
        made = ilCopyPixels(0, 0, 0, m_width, m_height, 1, layout, IL_UNSIGNED_BYTE, m_buffer) != 0;
    }
    if (!made) {
        const ILenum error = ilGetError();
        result = MapDevilError(error);
        LogPrintf(1, "Image: a %u x %u picture could not be converted (DevIL error 0x%X)", decoded.width,
                  decoded.height, unsigned(error));
        Destroy();
    }
    ilDeleteImages(1, &id);
    ClearDevilErrors();
    return result;
}

Image::Error Image::Load(const char* path, Format format)
{
    Destroy();
    std::FILE* file = path ? std::fopen(path, "rb") : nullptr;
    if (!file)
        return ERROR_COULD_NOT_OPEN;
    std::vector<uint8_t> bytes;
    bool readOk = std::fseek(file, 0, SEEK_END) == 0;
    const long length = readOk ? std::ftell(file) : -1;
    readOk = readOk && length >= 0 && uint64_t(length) <= 0xFFFFFFFFull && std::fseek(file, 0, SEEK_SET) == 0;
    if (readOk) {
        bytes.resize(static_cast<size_t>(length));
        readOk = bytes.empty() || std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
    }
    std::fclose(file);
    if (!readOk)
        return ERROR_READ;
    return Load(bytes.data(), static_cast<uint32_t>(bytes.size()), format);
}

bool Image::ChangeFormat(Format format)
{
    if (!m_buffer || format == m_format || (format != FORMAT_LUMINANCE && format != FORMAT_RGB))
        return format == m_format;
    const uint64_t pixels = uint64_t(m_width) * m_height;
    const uint32_t fromBytes = m_bitsPerPixel / 8;
    if (format == FORMAT_LUMINANCE && m_format != FORMAT_RGB && m_format != FORMAT_RGBA)
        return false;
    if (format == FORMAT_RGB && m_format != FORMAT_RGBA && m_format != FORMAT_LUMINANCE)
        return false;
    uint8_t* converted = Allocate(pixels * (GetBitsPerPixel(format) / 8));
    if (!converted) {
        LogPrintf(1, "Image: no room to convert a %u x %u picture", m_width, m_height);
        return false;
    }
    const uint8_t* from = m_buffer;
    uint8_t* to = converted;
    for (uint64_t i = 0; i < pixels; ++i, from += fromBytes) {
        if (format == FORMAT_LUMINANCE) {
            *to++ = static_cast<uint8_t>(int(from[0] * 0.3f + from[1] * 0.59f + from[2] * 0.11f));
        } else if (m_format == FORMAT_LUMINANCE) {
            *to++ = from[0];
            *to++ = from[0];
            *to++ = from[0];
        } else {
            *to++ = from[0];
            *to++ = from[1];
            *to++ = from[2];
        }
    }
    delete[] m_buffer;
    m_buffer = converted;
    m_format = format;
    m_bitsPerPixel = GetBitsPerPixel(format);
    return true;
}

void Image::FlipHorizontally()
{
    if (!m_buffer)
        return;
    const uint32_t bytes = m_bitsPerPixel / 8;
    const uint64_t pitch = GetPitch();
    std::vector<uint8_t> row(pitch);
    for (uint32_t y = 0; y < m_height; ++y) {
        uint8_t* line = m_buffer + y * pitch;
        for (uint32_t x = 0; x < m_width; ++x)
            std::memcpy(&row[uint64_t(m_width - 1 - x) * bytes], line + uint64_t(x) * bytes, bytes);
        std::memcpy(line, row.data(), pitch);
    }
}

void Image::FlipVertically()
{
    if (!m_buffer)
        return;
    const uint64_t pitch = GetPitch();
    std::vector<uint8_t> row(pitch);
    for (uint32_t y = 0; y < m_height / 2; ++y) {
        uint8_t* top = m_buffer + y * pitch;
        uint8_t* bottom = m_buffer + uint64_t(m_height - 1 - y) * pitch;
        std::memcpy(row.data(), top, pitch);
        std::memcpy(top, bottom, pitch);
        std::memcpy(bottom, row.data(), pitch);
    }
}

void Image::FlipDiagonally()
{
    if (!m_buffer)
        return;
    const uint32_t bytes = m_bitsPerPixel / 8;
    uint8_t* transposed = Allocate(GetBufferSize());
    if (!transposed) {
        LogPrintf(1, "Image: no room to transpose a %u x %u picture", m_width, m_height);
        return;
    }
    // The new picture is m_height wide and m_width high.
    const uint64_t newPitch = uint64_t(m_height) * bytes;
    const uint64_t oldPitch = GetPitch();
    for (uint32_t y = 0; y < m_width; ++y)
        for (uint32_t x = 0; x < m_height; ++x)
            std::memcpy(transposed + y * newPitch + uint64_t(x) * bytes,
                        m_buffer + x * oldPitch + uint64_t(y) * bytes, bytes);
    delete[] m_buffer;
    m_buffer = transposed;
    const uint32_t width = m_width;
    m_width = m_height;
    m_height = width;
}

bool Image::WriteTGA(BinaryWriter& writer) const
{
    if ((m_format != FORMAT_RGB && m_format != FORMAT_RGBA) || !m_buffer || m_width > maxTgaSide ||
        m_height > maxTgaSide)
        return false;
    writer.WriteUInt8(0); // no image identifier
    writer.WriteUInt8(0); // no colour map
    writer.WriteUInt8(2); // uncompressed true colour
    writer.WriteUInt16(0);
    writer.WriteUInt16(0);
    writer.WriteUInt8(0);
    writer.WriteUInt16(0); // x origin
    writer.WriteUInt16(0); // y origin
    writer.WriteUInt16(static_cast<uint16_t>(m_width));
    writer.WriteUInt16(static_cast<uint16_t>(m_height));
    writer.WriteUInt8(static_cast<uint8_t>(m_bitsPerPixel));
    writer.WriteUInt8(0); // rows from the bottom
    const uint32_t bytes = m_bitsPerPixel / 8;
    const uint64_t pitch = GetPitch();
    std::vector<uint8_t> row(pitch);
    for (uint32_t y = m_height; y-- > 0;) {
        const uint8_t* from = m_buffer + y * pitch;
        for (uint32_t x = 0; x < m_width; ++x, from += bytes) {
            uint8_t* to = &row[uint64_t(x) * bytes];
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
            if (bytes == 4)
                to[3] = from[3];
        }
        writer.WriteBytes(row.data(), static_cast<unsigned>(pitch));
    }
    return !writer.Failed();
}

namespace {

void PutBigEndian(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

// A chunk: length, type, data, then the CRC of type and data.
void PutPngChunk(std::vector<uint8_t>& out, const char type[4], const uint8_t* data, size_t size)
{
    PutBigEndian(out, static_cast<uint32_t>(size));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    if (size)
        out.insert(out.end(), data, data + size);
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, out.data() + start, static_cast<uInt>(out.size() - start));
    PutBigEndian(out, static_cast<uint32_t>(crc));
}

} // namespace

bool Image::WritePNG(BinaryWriter& writer) const
{
    if ((m_format != FORMAT_RGB && m_format != FORMAT_RGBA && m_format != FORMAT_LUMINANCE) || !m_buffer ||
        m_width == 0 || m_height == 0 || m_width > maxPngSide || m_height > maxPngSide)
        return false;
    // Each row behind its filter byte (0: none), compressed as one zlib stream.
    const uint64_t pitch = GetPitch();
    const uint64_t rawSize = (pitch + 1) * m_height;
    if (rawSize > maxBufferBytes + m_height)
        return false;
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<size_t>(rawSize));
    for (uint32_t y = 0; y < m_height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), m_buffer + y * pitch, m_buffer + (y + 1) * pitch);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), Z_BEST_SPEED) !=
        Z_OK)
        return false;

    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutBigEndian(header, m_width);
    PutBigEndian(header, m_height);
    header.push_back(8); // bits a channel
    header.push_back(m_format == FORMAT_RGBA ? 6 : m_format == FORMAT_RGB ? 2 : 0);
    header.push_back(0); // deflate
    header.push_back(0); // adaptive filtering (every row says "none")
    header.push_back(0); // not interlaced
    PutPngChunk(out, "IHDR", header.data(), header.size());
    PutPngChunk(out, "IDAT", packed.data(), packedSize);
    PutPngChunk(out, "IEND", nullptr, 0);
    writer.WriteBytes(out.data(), static_cast<unsigned>(out.size()));
    return !writer.Failed();
}

} // namespace GAME
