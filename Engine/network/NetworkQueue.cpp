#include "network/NetworkQueue.h"

#include <algorithm>
#include <cstring>

namespace GAME {

NetworkQueue::NetworkQueue(size_t capacity) : m_capacity(std::max<size_t>(capacity, 64)), m_ring(m_capacity)
{
}

void NetworkQueue::Write(const uint8_t* data, size_t size)
{
    size_t tail = (m_head + m_used) % m_capacity;
    const size_t first = std::min(size, m_capacity - tail);
    std::memcpy(m_ring.data() + tail, data, first);
    if (size > first)
        std::memcpy(m_ring.data(), data + first, size - first);
    m_used += size;
}

void NetworkQueue::Read(uint8_t* out, size_t size)
{
    const size_t first = std::min(size, m_capacity - m_head);
    std::memcpy(out, m_ring.data() + m_head, first);
    if (size > first)
        std::memcpy(out + first, m_ring.data(), size - first);
    m_head = (m_head + size) % m_capacity;
    m_used -= size;
}

bool NetworkQueue::Put(uint8_t kind, uint32_t connection, const uint8_t* data, size_t size)
{
    if (IsTooLarge(size) || (size && !data))
        return false;
    CriticalSectionLock lock(m_lock);
    if (m_capacity - m_used < size + recordOverhead)
        return false;
    uint8_t head[recordOverhead];
    const uint32_t length = static_cast<uint32_t>(size);
    for (int i = 0; i < 4; ++i) {
        head[i] = static_cast<uint8_t>(length >> (8 * i));
        head[5 + i] = static_cast<uint8_t>(connection >> (8 * i));
    }
    head[4] = kind;
    Write(head, sizeof(head));
    if (size)
        Write(data, size);
    m_records.fetch_add(1, std::memory_order_release);
    return true;
}

bool NetworkQueue::Take(uint8_t& kind, uint32_t& connection, std::vector<uint8_t>& data)
{
    if (m_records.load(std::memory_order_acquire) == 0)
        return false;
    CriticalSectionLock lock(m_lock);
    if (m_records.load(std::memory_order_relaxed) == 0)
        return false;
    uint8_t head[recordOverhead];
    Read(head, sizeof(head));
    uint32_t length = 0;
    connection = 0;
    for (int i = 0; i < 4; ++i) {
        length |= static_cast<uint32_t>(head[i]) << (8 * i);
        connection |= static_cast<uint32_t>(head[5 + i]) << (8 * i);
    }
    kind = head[4];
    // Only Put writes records, so the length always lies within what is used.
    data.resize(length);
    if (length)
        Read(data.data(), length);
    m_records.fetch_sub(1, std::memory_order_relaxed);
    return true;
}

void NetworkQueue::Clear()
{
    CriticalSectionLock lock(m_lock);
    m_head = 0;
    m_used = 0;
    m_records.store(0, std::memory_order_relaxed);
}

size_t NetworkQueue::GetUsed() const
{
    CriticalSectionLock lock(m_lock);
    return m_used;
}

size_t NetworkQueue::GetNumRecords() const
{
    return m_records.load(std::memory_order_acquire);
}

} // namespace GAME
