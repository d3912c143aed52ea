#include "graphics/Image.h"

#include "core/Log.h"
#include "data/BinaryWriter.h"

#include <IL/il.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
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
    Destroy();
    if (!data || size == 0)
        return ERROR_BAD_FILE;

    std::lock_guard<std::mutex> lock(DevilLock());
    EnsureDevilInitialized();
    ClearDevilErrors();
    // Row 0 is the top row whatever the file keeps.
    ilEnable(IL_ORIGIN_SET);
    ilOriginFunc(IL_ORIGIN_UPPER_LEFT);
    ILuint id = 0;
    ilGenImages(1, &id);
    ilBindImage(id);

    Error result = ERROR_NONE;
    if (!ilLoadL(IL_TYPE_UNKNOWN, data, size)) {
        result = MapDevilError(ilGetError());
    } else {
        const ILint width = ilGetInteger(IL_IMAGE_WIDTH);
        const ILint height = ilGetInteger(IL_IMAGE_HEIGHT);
        const ILint bits = ilGetInteger(IL_IMAGE_BITS_PER_PIXEL);
        if (format == FORMAT_NONE)
            format = bits >= 32 ? FORMAT_RGBA : (bits < 24 ? FORMAT_LUMINANCE : FORMAT_RGB);
        const ILenum layout =
            format == FORMAT_RGBA ? IL_RGBA : (format == FORMAT_LUMINANCE ? IL_LUMINANCE : IL_RGB);
        if (width <= 0 || height <= 0 || GetBitsPerPixel(format) == 0) {
            result = ERROR_BAD_FILE;
        } else if (!Create(uint32_t(width), uint32_t(height), format, nullptr)) {
            result = ERROR_OUT_OF_MEMORY;
        } else if (!ilCopyPixels(0, 0, 0, ILuint(width), ILuint(height), 1, layout, IL_UNSIGNED_BYTE,
                                 m_buffer)) {
            result = MapDevilError(ilGetError());
            Destroy();
        }
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
