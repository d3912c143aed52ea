// The hand-over between a socket's receive thread and the main thread: a byte ring of fixed
// capacity holding records of (kind, connection, bytes) in arrival order. The receive thread puts,
// the main thread takes; both under the queue's own lock, which is never held while calling out.
//
// A record that does not fit in the free space is refused whole (Put answers false) and nothing
// is written: the receive thread then keeps it and stops reading the network until the main
// thread has made room, so a full ring slows the sender down (the transport resends) instead of
// losing a packet. A record larger than the whole ring is refused for good (IsTooLarge).
//
// Record layout in the ring: u32 length of the bytes, u8 kind, u32 connection, then the bytes;
// records wrap around the end of the ring.
#pragma once

#include "core/CriticalSection.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace GAME {

class NetworkQueue
{
public:
    static constexpr size_t recordOverhead = 9;

    explicit NetworkQueue(size_t capacity);
    NetworkQueue(const NetworkQueue&) = delete;
    NetworkQueue& operator=(const NetworkQueue&) = delete;

    // Any thread. False when the record does not fit now (or ever, see IsTooLarge).
    bool Put(uint8_t kind, uint32_t connection, const uint8_t* data, size_t size);
    // Any thread (the main thread in practice). False when the ring is empty.
    bool Take(uint8_t& kind, uint32_t& connection, std::vector<uint8_t>& data);
    bool IsTooLarge(size_t size) const { return size + recordOverhead > m_capacity; }
    void Clear();

    size_t GetCapacity() const { return m_capacity; }
    size_t GetUsed() const;
    size_t GetNumRecords() const;

private:
    void Write(const uint8_t* data, size_t size);
    void Read(uint8_t* out, size_t size);

    mutable CriticalSection m_lock;
    const size_t m_capacity;
    std::vector<uint8_t> m_ring;
    size_t m_head = 0; // next byte to read
    size_t m_used = 0;
    // Changed under the lock; read without it so that a pump finding nothing takes no lock and
    // never holds up the receive thread.
    std::atomic<size_t> m_records{0};
};

} // namespace GAME
