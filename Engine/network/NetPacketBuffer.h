// The body of a packet as its fields write and read it: values appended in order on the sending
// side (NetPacketOutBuffer) and taken in the same order on the receiving side
// (NetPacketInBuffer). One thread at a time.
//
// Wire forms, all little-endian: bool and u8 one byte, u16 two, u32/i32/f32 four, Vec3 three f32,
// a string a u16 length then its bytes, a block of bytes a u32 length then the bytes. Received
// bodies are never trusted: taking past the end, a length longer than the bytes left or a string
// longer than the caller allows yields false/0/empty and marks the buffer failed; once failed,
// every later take fails too, so a reader may check Failed() once at the end.
#pragma once

#include "core/Vec3.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class NetPacketOutBuffer
{
public:
    void Add(bool* value) { m_data.push_back(value && *value ? 1 : 0); }
    void Add(uint8_t* value) { m_data.push_back(value ? *value : 0); }
    void Add(uint16_t* value);
    void Add(uint32_t* value);
    void Add(int32_t* value);
    void Add(float* value);
    void Add(Vec3* value);
    // Strings longer than maxStringLength cannot be sent: the buffer is marked failed and the
    // sender refuses the packet.
    void Add(std::string* value);
    void AddBytes(const uint8_t* data, size_t size);

    const std::vector<uint8_t>& GetData() const { return m_data; }
    size_t GetSize() const { return m_data.size(); }
    // Something could not be written in its wire form.
    bool Failed() const { return m_failed; }

    static constexpr size_t maxStringLength = 0xFFFF;

private:
    void AddWord(uint32_t value, int bytes);

    std::vector<uint8_t> m_data;
    bool m_failed = false;
};

class NetPacketInBuffer
{
public:
    NetPacketInBuffer(const uint8_t* data, size_t size) : m_data(data, data + size) {}
    explicit NetPacketInBuffer(std::vector<uint8_t> data) : m_data(std::move(data)) {}

    void Remove(bool* value);
    void Remove(uint8_t* value);
    void Remove(uint16_t* value);
    void Remove(uint32_t* value);
    void Remove(int32_t* value);
    // Any bit pattern, NaN included: callers that need finite values check them.
    void Remove(float* value);
    void Remove(Vec3* value);
    // A string of at most maxLength bytes.
    void Remove(std::string* value, size_t maxLength = NetPacketOutBuffer::maxStringLength);
    // A block written by AddBytes, of at most maxLength bytes.
    void RemoveBytes(std::vector<uint8_t>* value, size_t maxLength);

    bool Failed() const { return m_failed; }
    size_t GetRemaining() const { return m_data.size() - m_position; }
    // A reader that finds a value it cannot accept marks the buffer failed.
    void Fail();

private:
    // False (and failed) when fewer than `bytes` remain.
    bool Need(size_t bytes);
    uint32_t TakeWord(int bytes);

    std::vector<uint8_t> m_data;
    size_t m_position = 0;
    bool m_failed = false;
};

} // namespace GAME
