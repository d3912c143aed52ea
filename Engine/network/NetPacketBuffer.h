// The body of a packet as its fields write and read it: values appended in order on the sending
// side (NetPacketOutBuffer) and taken in the same order on the receiving side
// (NetPacketInBuffer). Taking past the end yields false/0 and marks the buffer failed. One thread
// at a time.
//
// This build has no network transport (see ConnectionManager.h): the buffers carry only the forms
// that entities and smart ids use (bools as one byte, 32-bit words as four bytes little-endian);
// there is no wire framing or compression.
#pragma once

#include <cstdint>
#include <vector>

namespace GAME {

class NetPacketOutBuffer
{
public:
    void Add(bool* value) { m_data.push_back(value && *value ? 1 : 0); }
    void Add(uint32_t* value)
    {
        const uint32_t v = value ? *value : 0;
        for (int i = 0; i < 4; ++i)
            m_data.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    const std::vector<uint8_t>& GetData() const { return m_data; }

private:
    std::vector<uint8_t> m_data;
};

class NetPacketInBuffer
{
public:
    NetPacketInBuffer(const uint8_t* data, size_t size) : m_data(data, data + size) {}
    explicit NetPacketInBuffer(std::vector<uint8_t> data) : m_data(std::move(data)) {}

    void Remove(bool* value)
    {
        bool v = false;
        if (m_position < m_data.size())
            v = m_data[m_position++] != 0;
        else
            Fail();
        if (value)
            *value = v;
    }
    void Remove(uint32_t* value)
    {
        uint32_t v = 0;
        if (m_data.size() - m_position >= 4) {
            for (int i = 0; i < 4; ++i)
                v |= static_cast<uint32_t>(m_data[m_position + static_cast<size_t>(i)]) << (8 * i);
            m_position += 4;
        } else {
            Fail();
        }
        if (value)
            *value = v;
    }
    bool Failed() const { return m_failed; }
    size_t GetRemaining() const { return m_data.size() - m_position; }

private:
    void Fail()
    {
        m_failed = true;
        m_position = m_data.size();
    }

    std::vector<uint8_t> m_data;
    size_t m_position = 0;
    bool m_failed = false;
};

} // namespace GAME
