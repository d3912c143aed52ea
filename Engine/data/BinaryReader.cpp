#include "data/BinaryReader.h"

#include "core/Log.h"

#include <cstring>
#include <utility>

namespace GAME {

BinaryReader::BinaryReader(const void* data, unsigned size)
    : m_data(static_cast<const uint8_t*>(data)), m_size(data ? size : 0)
{
}

BinaryReader::BinaryReader(std::vector<uint8_t>&& bytes) : m_owned(std::move(bytes))
{
    m_data = m_owned.data();
    m_size = static_cast<unsigned>(m_owned.size());
}

BinaryReader::BinaryReader(BinaryReader&& other) noexcept
{
    *this = std::move(other);
}

BinaryReader& BinaryReader::operator=(BinaryReader&& other) noexcept
{
    if (this != &other) {
        bool owned = other.m_data && other.m_data == other.m_owned.data();
        m_owned = std::move(other.m_owned);
        m_data = owned ? m_owned.data() : other.m_data;
        m_position = other.m_position;
        m_size = other.m_size;
        m_failed = other.m_failed;
        other.m_data = nullptr;
        other.m_position = other.m_size = 0;
        other.m_failed = false;
    }
    return *this;
}

bool BinaryReader::Take(void* destination, unsigned n)
{
    if (m_failed || n > m_size - m_position) {
        m_failed = true;
        m_position = m_size;
        if (destination && n)
            std::memset(destination, 0, n);
        return false;
    }
    if (n)
        std::memcpy(destination, m_data + m_position, n);
    m_position += n;
    return true;
}

bool BinaryReader::ReadBytes(void* destination, unsigned n)
{
    return Take(destination, n);
}

bool BinaryReader::Skip(unsigned n)
{
    if (m_failed || n > m_size - m_position) {
        m_failed = true;
        m_position = m_size;
        return false;
    }
    m_position += n;
    return true;
}

uint8_t BinaryReader::ReadUInt8()
{
    uint8_t b = 0;
    Take(&b, 1);
    return b;
}

uint16_t BinaryReader::ReadUInt16()
{
    uint8_t b[2];
    Take(b, 2);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t BinaryReader::ReadUInt32()
{
    uint8_t b[4];
    Take(b, 4);
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

float BinaryReader::ReadFloat()
{
    uint32_t bits = ReadUInt32();
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

Vec3 BinaryReader::ReadVec3()
{
    Vec3 v;
    v.x = ReadFloat();
    v.y = ReadFloat();
    v.z = ReadFloat();
    return v;
}

Coords BinaryReader::ReadCoords()
{
    Coords c;
    c.xAxis = ReadVec3();
    c.yAxis = ReadVec3();
    c.zAxis = ReadVec3();
    c.origin = ReadVec3();
    return c;
}

UniqueId BinaryReader::ReadUniqueId()
{
    UniqueId id;
    for (int i = 0; i < 4; ++i)
        id.SetWord(i, ReadUInt32());
    return id;
}

UniqueId BinaryReader::ReadUniqueIdReversed()
{
    UniqueId id;
    for (int i = 3; i >= 0; --i)
        id.SetWord(i, ReadUInt32());
    return id;
}

bool BinaryReader::ReadString(std::string& out)
{
    out.clear();
    uint32_t length = ReadUInt32();
    if (m_failed)
        return false;
    if (length > kMaxStringLength || length > GetRemaining()) {
        LogPrintf(1, "BinaryReader: string of %u bytes at offset %u runs past the data (%u left)", length,
                  m_position - 4, GetRemaining());
        m_failed = true;
        m_position = m_size;
        return false;
    }
    out.assign(reinterpret_cast<const char*>(m_data + m_position), length);
    m_position += length;
    return true;
}

bool BinaryReader::ReadStringOrEmpty(std::string& out)
{
    out.clear();
    const uint32_t length = ReadUInt32();
    if (m_failed || length > kMaxStringLength || length > GetRemaining())
        return false;
    out.assign(reinterpret_cast<const char*>(m_data + m_position), length);
    m_position += length;
    return true;
}

bool BinaryReader::ReadWideString(std::u16string& out)
{
    out.clear();
    uint32_t count = ReadUInt32();
    if (m_failed)
        return false;
    if (count > kMaxStringLength || !CheckCount(count, 2, "wide string"))
        return false;
    out.resize(count);
    for (uint32_t i = 0; i < count; ++i)
        out[i] = static_cast<char16_t>(ReadUInt16());
    return !m_failed;
}

bool BinaryReader::ReadBlock(uint32_t& id, BinaryReader& content)
{
    content = BinaryReader();
    id = ReadUInt32();
    uint32_t size = ReadUInt32();
    if (m_failed)
        return false;
    if (size > GetRemaining()) {
        LogPrintf(1, "BinaryReader: block %u of %u bytes at offset %u runs past the data (%u left)", id, size,
                  m_position - 8, GetRemaining());
        m_failed = true;
        m_position = m_size;
        return false;
    }
    content = BinaryReader(m_data + m_position, size);
    m_position += size;
    return true;
}

bool BinaryReader::ReadBlock(uint32_t expectedId, BinaryReader& content, const char* what)
{
    uint32_t id = 0;
    unsigned start = m_position;
    if (!ReadBlock(id, content))
        return false;
    if (id != expectedId) {
        LogPrintf(1, "BinaryReader: expected block %u (%s) at offset %u, found %u", expectedId,
                  what ? what : "", start, id);
        content = BinaryReader();
        m_failed = true;
        return false;
    }
    return true;
}

bool BinaryReader::CheckCount(uint64_t count, uint64_t elementSize, const char* what)
{
    if (m_failed)
        return false;
    uint64_t left = GetRemaining();
    if (elementSize != 0 && count > left / elementSize) {
        LogPrintf(1, "BinaryReader: %llu %s of %llu bytes do not fit in the %llu bytes left",
                  static_cast<unsigned long long>(count), what ? what : "entries",
                  static_cast<unsigned long long>(elementSize), static_cast<unsigned long long>(left));
        m_failed = true;
        return false;
    }
    return true;
}

bool BinaryReader::Seek(unsigned position)
{
    if (position > m_size) {
        m_failed = true;
        m_position = m_size;
        return false;
    }
    m_position = position;
    return true;
}

} // namespace GAME
