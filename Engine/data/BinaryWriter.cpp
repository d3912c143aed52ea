#include "data/BinaryWriter.h"

#include "core/Log.h"
#include "platform/Directory.h"
#include "platform/PlatformFile.h"

#include <cstdlib>
#include <cstring>

namespace GAME {

namespace {

inline void PutU32(uint8_t* out, uint32_t v)
{
    out[0] = static_cast<uint8_t>(v);
    out[1] = static_cast<uint8_t>(v >> 8);
    out[2] = static_cast<uint8_t>(v >> 16);
    out[3] = static_cast<uint8_t>(v >> 24);
}

} // namespace

BinaryWriter::BinaryWriter(unsigned initialSize) : m_ownsBuffer(true), m_memory(true)
{
    if (initialSize) {
        m_buffer = static_cast<uint8_t*>(std::malloc(initialSize));
        if (m_buffer)
            m_capacity = initialSize;
    }
}

BinaryWriter::BinaryWriter() = default;

BinaryWriter::~BinaryWriter()
{
    // A file never closed is dropped (the platform file discards it), never half kept.
    m_file.reset();
    CloseStream();
    if (m_ownsBuffer)
        std::free(m_buffer);
}

bool BinaryWriter::OpenFile(const std::string& path)
{
    if (!Platform::CreateDirectoryPath(path)) {
        LogPrintf(1, "BinaryWriter: cannot create the folders of %s", path.c_str());
        return false;
    }
    CloseStream();
    auto file = std::make_unique<Platform::PlatformFile>();
    if (!file->Open(path, Platform::FileOpenMode::Write)) {
        LogPrintf(1, "BinaryWriter: cannot open %s for writing (%s)", path.c_str(), file->GetError().c_str());
        return false;
    }
    m_file = std::move(file);
    if (!m_ownsBuffer)
        m_buffer = nullptr;
    m_ownsBuffer = true;
    m_memory = true;
    m_position = 0;
    m_size = 0;
    m_failed = false;
    m_blockStarts.clear();
    return true;
}

void BinaryWriter::AttachStream(std::FILE* stream)
{
    CloseStream();
    m_stream = stream;
}

bool BinaryWriter::CloseStream()
{
    if (m_file) {
        const std::unique_ptr<Platform::PlatformFile> file = std::move(m_file);
        const std::string path = file->GetPath();
        if (m_failed) {
            LogPrintf(1, "BinaryWriter: %s was not written: its data could not be gathered", path.c_str());
            return false;
        }
        bool written = m_size == 0 || file->WriteAt(0, m_buffer, m_size);
        written = file->Close() && written;
        if (!written) {
            LogPrintf(1, "BinaryWriter: could not write %s (%s); the file there is as it was", path.c_str(),
                      file->GetError().c_str());
            m_failed = true;
        }
        return written;
    }
    if (!m_stream)
        return true;
    bool ok = std::fclose(m_stream) == 0;
    m_stream = nullptr;
    if (!ok)
        m_failed = true;
    return ok;
}

bool BinaryWriter::Reserve(uint64_t needed)
{
    if (needed <= m_capacity)
        return true;
    if (needed > 0xFFFFFFFFull)
        return false;
    // Doubling keeps a long run of small writes linear.
    uint64_t capacity = static_cast<uint64_t>(m_capacity) * 2;
    if (capacity < 64)
        capacity = 64;
    if (capacity < needed)
        capacity = needed;
    if (capacity > 0xFFFFFFFFull)
        capacity = 0xFFFFFFFFull;
    auto* grown = static_cast<uint8_t*>(std::realloc(m_buffer, static_cast<size_t>(capacity)));
    if (!grown)
        return false;
    m_buffer = grown;
    m_capacity = static_cast<unsigned>(capacity);
    return true;
}

bool BinaryWriter::WriteBytes(const void* data, unsigned n)
{
    if (m_stream) {
        if (n && std::fwrite(data, 1, n, m_stream) != n) {
            if (!m_failed)
                LogPrintf(1, "BinaryWriter: writing %u bytes to the stream failed", n);
            m_failed = true;
            return false;
        }
        return true;
    }
    if (!m_memory)
        return false;
    uint64_t end = static_cast<uint64_t>(m_position) + n;
    if (!Reserve(end)) {
        if (!m_failed)
            LogPrintf(1, "BinaryWriter: cannot grow the buffer to %llu bytes",
                      static_cast<unsigned long long>(end));
        m_failed = true;
        return false;
    }
    if (n)
        std::memcpy(m_buffer + m_position, data, n);
    m_position = static_cast<unsigned>(end);
    if (m_position > m_size)
        m_size = m_position;
    return true;
}

void BinaryWriter::WriteUInt16(uint16_t value)
{
    uint8_t b[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    WriteBytes(b, 2);
}

void BinaryWriter::WriteUInt32(uint32_t value)
{
    uint8_t b[4];
    PutU32(b, value);
    WriteBytes(b, 4);
}

void BinaryWriter::WriteFloat(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    WriteUInt32(bits);
}

void BinaryWriter::WriteVec3(const Vec3& value)
{
    WriteFloat(value.x);
    WriteFloat(value.y);
    WriteFloat(value.z);
}

void BinaryWriter::WriteCoords(const Coords& value)
{
    WriteVec3(value.xAxis);
    WriteVec3(value.yAxis);
    WriteVec3(value.zAxis);
    WriteVec3(value.origin);
}

void BinaryWriter::WriteUniqueId(const UniqueId& id)
{
    for (int i = 0; i < 4; ++i)
        WriteUInt32(id.GetWord(i));
}

void BinaryWriter::WriteUniqueIdReversed(const UniqueId& id)
{
    for (int i = 3; i >= 0; --i)
        WriteUInt32(id.GetWord(i));
}

void BinaryWriter::WriteString(const std::string& text)
{
    WriteUInt32(static_cast<uint32_t>(text.size()));
    WriteBytes(text.data(), static_cast<unsigned>(text.size()));
}

void BinaryWriter::WriteString(const char* text)
{
    unsigned length = text ? static_cast<unsigned>(std::strlen(text)) : 0;
    WriteUInt32(length);
    WriteBytes(text, length);
}

void BinaryWriter::WriteWideString(const std::u16string& text)
{
    WriteUInt32(static_cast<uint32_t>(text.size()));
    for (char16_t c : text)
        WriteUInt16(static_cast<uint16_t>(c));
}

void BinaryWriter::BeginBlock(uint32_t id)
{
    WriteUInt32(id);
    m_blockStarts.push_back(Tell());
    WriteUInt32(0);
}

bool BinaryWriter::EndBlock()
{
    if (m_blockStarts.empty()) {
        LogPrintf(1, "BinaryWriter: EndBlock without an open block");
        return false;
    }
    unsigned start = m_blockStarts.back();
    m_blockStarts.pop_back();
    unsigned current = Tell();
    if (!Seek(start))
        return false;
    WriteUInt32(current - start - 4);
    return Seek(current) && !m_failed;
}

unsigned BinaryWriter::Tell() const
{
    if (m_stream) {
        long position = std::ftell(m_stream);
        return position < 0 ? 0u : static_cast<unsigned>(position);
    }
    return m_position;
}

bool BinaryWriter::Seek(unsigned position)
{
    if (m_stream) {
        if (std::fseek(m_stream, static_cast<long>(position), SEEK_SET) != 0) {
            m_failed = true;
            return false;
        }
        return true;
    }
    if (!m_memory || position > m_size)
        return false;
    m_position = position;
    return true;
}

} // namespace GAME
