#include "data/ChunkedBinaryWriter.h"

#include "core/Log.h"
#include "data/File.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace GAME {

ChunkedBinaryWriter::ChunkedBinaryWriter(unsigned chunkSize) : m_chunkSize(chunkSize ? chunkSize : 0x10000) {}

ChunkedBinaryWriter::~ChunkedBinaryWriter() = default;

unsigned ChunkedBinaryWriter::WriteBytes(const void* data, unsigned n)
{
    uint64_t end = static_cast<uint64_t>(m_position) + n;
    if (end > 0xFFFFFFFFull) {
        if (!m_failed)
            LogPrintf(1, "ChunkedBinaryWriter: writes past 4 GiB are refused");
        m_failed = true;
        return m_position;
    }
    while (static_cast<uint64_t>(m_chunks.size()) * m_chunkSize < end) {
        std::unique_ptr<uint8_t[]> chunk(new (std::nothrow) uint8_t[m_chunkSize]);
        if (!chunk) {
            if (!m_failed)
                LogPrintf(1, "ChunkedBinaryWriter: out of memory for a chunk of %u bytes", m_chunkSize);
            m_failed = true;
            return m_position;
        }
        m_chunks.push_back(std::move(chunk));
    }
    const auto* in = static_cast<const uint8_t*>(data);
    unsigned left = n;
    while (left) {
        unsigned chunk = m_position / m_chunkSize;
        unsigned offset = m_position % m_chunkSize;
        unsigned count = std::min(left, m_chunkSize - offset);
        std::memcpy(m_chunks[chunk].get() + offset, in, count);
        in += count;
        left -= count;
        m_position += count;
    }
    return m_position;
}

void ChunkedBinaryWriter::WriteUInt16(uint16_t value)
{
    uint8_t b[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    WriteBytes(b, 2);
}

void ChunkedBinaryWriter::WriteUInt32(uint32_t value)
{
    uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                    static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    WriteBytes(b, 4);
}

void ChunkedBinaryWriter::WriteFloat(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    WriteUInt32(bits);
}

void ChunkedBinaryWriter::WriteString(const std::string& text)
{
    WriteUInt32(static_cast<uint32_t>(text.size()));
    WriteBytes(text.data(), static_cast<unsigned>(text.size()));
}

void ChunkedBinaryWriter::WriteWideString(const std::u16string& text)
{
    WriteUInt32(static_cast<uint32_t>(text.size()));
    for (char16_t c : text)
        WriteUInt16(static_cast<uint16_t>(c));
}

void ChunkedBinaryWriter::WriteUniqueId(const UniqueId& id)
{
    for (int i = 0; i < 4; ++i)
        WriteUInt32(id.GetWord(i));
}

void ChunkedBinaryWriter::WriteUniqueIdReversed(const UniqueId& id)
{
    for (int i = 3; i >= 0; --i)
        WriteUInt32(id.GetWord(i));
}

void ChunkedBinaryWriter::WriteVec3(const Vec3& value)
{
    WriteFloat(value.x);
    WriteFloat(value.y);
    WriteFloat(value.z);
}

void ChunkedBinaryWriter::WriteCoords(const Coords& value)
{
    WriteVec3(value.xAxis);
    WriteVec3(value.yAxis);
    WriteVec3(value.zAxis);
    WriteVec3(value.origin);
}

void ChunkedBinaryWriter::BeginBlock(uint32_t id)
{
    WriteUInt32(id);
    m_blockStarts.push_back(m_position);
    WriteUInt32(0);
}

bool ChunkedBinaryWriter::EndBlock()
{
    if (m_blockStarts.empty()) {
        LogPrintf(1, "ChunkedBinaryWriter: EndBlock without an open block");
        return false;
    }
    unsigned start = m_blockStarts.back();
    m_blockStarts.pop_back();
    unsigned current = m_position;
    m_position = start;
    WriteUInt32(current - start - 4);
    m_position = current;
    return !m_failed;
}

std::vector<uint8_t> ChunkedBinaryWriter::GetBytes() const
{
    std::vector<uint8_t> bytes(m_position);
    for (unsigned done = 0; done < m_position;) {
        unsigned count = std::min(m_chunkSize, m_position - done);
        std::memcpy(bytes.data() + done, m_chunks[done / m_chunkSize].get(), count);
        done += count;
    }
    return bytes;
}

bool ChunkedBinaryWriter::WriteTo(File& file) const
{
    bool ok = !m_failed;
    for (size_t i = 0; i < m_chunks.size(); ++i) {
        uint64_t offset = static_cast<uint64_t>(i) * m_chunkSize;
        if (offset >= m_position)
            break;
        unsigned count = static_cast<unsigned>(std::min<uint64_t>(m_chunkSize, m_position - offset));
        if (!file.Write(static_cast<unsigned>(offset), m_chunks[i].get(), count))
            ok = false;
    }
    return ok;
}

} // namespace GAME
