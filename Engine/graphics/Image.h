// A picture in main memory: width, height, one of three pixel formats and a tightly packed pixel
// buffer of rows from the top, which the image owns. It decodes TGA, PNG and JPEG files from memory
// or from a path of the operating system, converts between its formats, flips, and writes itself as
// an uncompressed TGA or a PNG through a BinaryWriter. Screenshots, saved render surfaces, interface
// bitmaps and map pictures use it.
//
// Decoding never trusts the file. TGA is read by the engine's own bounded reader (true colour of 24
// or 32 bits and 8-bit grey, plain or run-length encoded; colour-mapped and 15/16-bit files are
// refused), PNG through libpng and JPEG through libjpeg, each from memory with every read bounded,
// the picture's size checked against what the file's bytes can hold before anything is allocated,
// and libjpeg's scans counted. Other formats are refused. The decoded pixels are then converted by
// DevIL into the format asked for, exactly as DevIL's own loaders left them; DevIL never sees the
// file's bytes.
//
// Layout: FORMAT_RGB is 3 bytes a pixel (R, G, B), FORMAT_RGBA 4 (R, G, B, A), FORMAT_LUMINANCE
// 1; a row is width * bits per pixel / 8 bytes, with no padding.
//
// Threads: one thread at a time uses an image. Decoding may run on any thread: DevIL's global
// state is only ever touched under one process-wide lock.
#pragma once

#include <cstdint>

namespace GAME {

class BinaryWriter;

class Image
{
public:
    enum Format : int32_t
    {
        FORMAT_NONE = 0,
        FORMAT_RGB = 1,
        FORMAT_RGBA = 2,
        FORMAT_LUMINANCE = 3,
    };

    // What a load made of the file.
    enum Error : int32_t
    {
        ERROR_NONE = 0,
        ERROR_OUT_OF_MEMORY = 1,
        ERROR_FORMAT_NOT_SUPPORTED = 2,
        ERROR_BAD_FILE = 3, // an illegal value or an invalid header
        ERROR_COULD_NOT_OPEN = 4,
        ERROR_READ = 5,
        ERROR_OTHER = 6,
    };

    // TGA stores each side in 16 bits.
    static constexpr uint32_t maxTgaSide = 65535;
    // The PNG writer keeps to sides that fit in a signed 31-bit word, as the format asks.
    static constexpr uint32_t maxPngSide = 0x7FFFFFFFu;
    // Pixel buffers above this many bytes are refused (a 16384 x 16384 RGBA picture fits).
    static constexpr uint64_t maxBufferBytes = 1ull << 30;
    // Files of more pixels than an RGBA buffer of maxBufferBytes holds are not decoded.
    static constexpr uint64_t maxPixels = maxBufferBytes / 4;

    Image() = default;
    Image(const Image& other);
    // Copies the other image's pixels (Create with its size, format and buffer).
    Image& operator=(const Image& other);
    virtual ~Image();

    // Bits of a pixel of the format; 0 for FORMAT_NONE and unknown values.
    static uint32_t GetBitsPerPixel(Format format);

    // Replaces the picture with an uninitialised one of the size and format, then copies pixels
    // (width * height * bits / 8 bytes) when given. False, with an empty image, when the size is
    // above maxBufferBytes or the memory cannot be had.
    bool Create(uint32_t width, uint32_t height, Format format, const void* pixels);
    // Releases the buffer and zeroes every field.
    void Destroy();

    // Decodes an image file's bytes; the file type is detected from the bytes. FORMAT_NONE picks
    // the format from the file: RGBA at 32 bits a pixel or more, luminance below 24, else RGB
    // (16-bit PNG samples count 16 bits; palette pictures 8). On failure, with a log line, the
    // image is empty: ERROR_FORMAT_NOT_SUPPORTED for other formats and refused kinds,
    // ERROR_BAD_FILE for a file cut short or inconsistent, ERROR_OUT_OF_MEMORY for a picture above
    // maxPixels or maxBufferBytes.
    Error Load(const void* data, uint32_t size, Format format);
    // The same for TGA files only: anything else is ERROR_FORMAT_NOT_SUPPORTED. Map pictures are
    // TGA files and nothing else.
    Error LoadTGA(const void* data, uint32_t size, Format format);
    // Reads the whole file at the operating-system path (not through the virtual file system)
    // and decodes it; a file that cannot be opened gives ERROR_COULD_NOT_OPEN.
    Error Load(const char* path, Format format);

    // Converts to luminance (from RGB or RGBA: R * 0.3 + G * 0.59 + B * 0.11) or to RGB (from RGBA,
    // dropping alpha, or from luminance); no conversion makes RGBA. True when the image is now of
    // the format.
    bool ChangeFormat(Format format);

    // Mirrors columns.
    void FlipHorizontally();
    // Mirrors rows.
    void FlipVertically();
    // Transposes: the pixel at row y, column x takes the pixel at row x, column y. Width and
    // height trade places, so a picture of any shape stays whole.
    void FlipDiagonally();

    // An uncompressed true-colour TGA (18-byte header, rows from the bottom, B, G, R and A bytes).
    // False for luminance or empty images, and for a side above maxTgaSide.
    bool WriteTGA(BinaryWriter& writer) const;

    // A PNG of 8 bits a channel (RGBA, RGB or grey by the format; rows from the top, unfiltered,
    // one zlib stream). False for an empty image.
    bool WritePNG(BinaryWriter& writer) const;

    uint32_t GetWidth() const { return m_width; }
    uint32_t GetHeight() const { return m_height; }
    Format GetFormat() const { return m_format; }
    uint32_t GetBitsPerPixel() const { return m_bitsPerPixel; }
    // Bytes of a row.
    uint32_t GetPitch() const { return m_bitsPerPixel / 8 * m_width; }
    uint8_t* GetBuffer() { return m_buffer; }
    const uint8_t* GetBuffer() const { return m_buffer; }
    uint64_t GetBufferSize() const { return uint64_t(GetPitch()) * m_height; }

private:
    // kinds: the file kinds that may be decoded (a mask of Image.cpp's decoders).
    Error LoadKinds(const void* data, uint32_t size, Format format, unsigned kinds);

    uint32_t m_width = 0;
    uint32_t m_height = 0;
    Format m_format = FORMAT_NONE;
    uint32_t m_bitsPerPixel = 0;
    uint8_t* m_buffer = nullptr;
};

} // namespace GAME
