#include "network/NetPacketBuffer.h"

#include <cstring>

namespace GAME {

// ---- NetPacketOutBuffer ------------------------------------------------------------------------

void NetPacketOutBuffer::AddWord(uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        m_data.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void NetPacketOutBuffer::Add(uint16_t* value)
{
    AddWord(value ? *value : 0u, 2);
}

void NetPacketOutBuffer::Add(uint32_t* value)
{
    AddWord(value ? *value : 0u, 4);
}

void NetPacketOutBuffer::Add(int32_t* value)
{
    AddWord(value ? static_cast<uint32_t>(*value) : 0u, 4);
}

void NetPacketOutBuffer::Add(float* value)
{
    uint32_t bits = 0;
    if (value)
        std::memcpy(&bits, value, sizeof(bits));
    AddWord(bits, 4);
}

void NetPacketOutBuffer::Add(Vec3* value)
{
    Vec3 v = value ? *value : Vec3();
    Add(&v.x);
    Add(&v.y);
    Add(&v.z);
}

void NetPacketOutBuffer::Add(std::string* value)
{
    const size_t length = value ? value->size() : 0;
    if (length > maxStringLength) {
        m_failed = true;
        AddWord(0, 2);
        return;
    }
    AddWord(static_cast<uint32_t>(length), 2);
    if (length)
        m_data.insert(m_data.end(), value->begin(), value->end());
}

void NetPacketOutBuffer::AddBytes(const uint8_t* data, size_t size)
{
    if (size > 0xFFFFFFFFu || (size && !data)) {
        m_failed = true;
        AddWord(0, 4);
        return;
    }
    AddWord(static_cast<uint32_t>(size), 4);
    if (size)
        m_data.insert(m_data.end(), data, data + size);
}

// ---- NetPacketInBuffer -------------------------------------------------------------------------

void NetPacketInBuffer::Fail()
{
    m_failed = true;
    m_position = m_data.size();
}

bool NetPacketInBuffer::Need(size_t bytes)
{
    if (m_failed || m_data.size() - m_position < bytes) {
        Fail();
        return false;
    }
    return true;
}

uint32_t NetPacketInBuffer::TakeWord(int bytes)
{
    if (!Need(static_cast<size_t>(bytes)))
        return 0;
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= static_cast<uint32_t>(m_data[m_position + static_cast<size_t>(i)]) << (8 * i);
    m_position += static_cast<size_t>(bytes);
    return v;
}

void NetPacketInBuffer::Remove(bool* value)
{
    const bool v = TakeWord(1) != 0;
    if (value)
        *value = v;
}

void NetPacketInBuffer::Remove(uint8_t* value)
{
    const uint8_t v = static_cast<uint8_t>(TakeWord(1));
    if (value)
        *value = v;
}

void NetPacketInBuffer::Remove(uint16_t* value)
{
    const uint16_t v = static_cast<uint16_t>(TakeWord(2));
    if (value)
        *value = v;
}

void NetPacketInBuffer::Remove(uint32_t* value)
{
    const uint32_t v = TakeWord(4);
    if (value)
        *value = v;
}

void NetPacketInBuffer::Remove(int32_t* value)
{
    const int32_t v = static_cast<int32_t>(TakeWord(4));
    if (value)
        *value = v;
}

void NetPacketInBuffer::Remove(float* value)
{
    const uint32_t bits = TakeWord(4);
    float v;
    std::memcpy(&v, &bits, sizeof(v));
    if (value)
        *value = v;
}

void NetPacketInBuffer::Remove(Vec3* value)
{
    Vec3 v;
    Remove(&v.x);
    Remove(&v.y);
    Remove(&v.z);
    if (value)
        *value = v;
}

void NetPacketInBuffer::Remove(std::string* value, size_t maxLength)
{
    const size_t length = TakeWord(2);
    if (length > maxLength) {
        Fail();
    } else if (Need(length)) {
        if (value)
            value->assign(reinterpret_cast<const char*>(m_data.data() + m_position), length);
        m_position += length;
        return;
    }
    if (value)
        value->clear();
}

void NetPacketInBuffer::RemoveBytes(std::vector<uint8_t>* value, size_t maxLength)
{
    const size_t length = TakeWord(4);
    // The length is checked against what is left before anything is allocated.
    if (length > maxLength) {
        Fail();
    } else if (Need(length)) {
        if (value)
            value->assign(m_data.begin() + static_cast<std::ptrdiff_t>(m_position),
                          m_data.begin() + static_cast<std::ptrdiff_t>(m_position + length));
        m_position += length;
        return;
    }
    if (value)
        value->clear();
}

} // namespace GAME
