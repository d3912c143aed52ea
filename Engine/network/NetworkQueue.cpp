#include "network/NetworkQueue.h"

#include <algorithm>

namespace GAME {

namespace {

// Links let go that are kept for reuse.
constexpr size_t maxSpareLinks = 16;

// How often the lock is tried before sleeping on it: the other side holds it for a few list
// operations, while a sleep and the wake-up after it cost the hand-over microseconds.
constexpr int lockTries = 64;

} // namespace

NetworkQueue::NetworkQueue(size_t capacity, size_t linkShare)
    : m_capacity(std::max(capacity, Cost(0))), m_linkShare(std::clamp(linkShare, Cost(0), m_capacity))
{
}

std::unique_lock<std::mutex> NetworkQueue::Lock() const
{
    for (int i = 0; i < lockTries; ++i)
        if (m_lock.try_lock())
            return std::unique_lock<std::mutex>(m_lock, std::adopt_lock);
    return std::unique_lock<std::mutex>(m_lock);
}

// Under the lock.
bool NetworkQueue::Fits(uint32_t connection, size_t size) const
{
    if (IsTooLarge(size) || m_capacity - m_used < Cost(size))
        return false;
    auto it = m_links.find(connection);
    return it == m_links.end() || m_linkShare - it->second.used >= Cost(size);
}

bool NetworkQueue::Put(uint8_t kind, uint32_t connection, const uint8_t* data, size_t size)
{
    if (IsTooLarge(size) || (size && !data))
        return false;
    std::vector<uint8_t> bytes(data, data + size);
    return Put(kind, connection, bytes);
}

bool NetworkQueue::Put(uint8_t kind, uint32_t connection, std::vector<uint8_t>& data, size_t* linkUsed)
{
    const size_t size = data.size();
    std::unique_lock<std::mutex> lock = Lock();
    if (!Fits(connection, size)) {
        if (linkUsed) {
            auto it = m_links.find(connection);
            *linkUsed = it == m_links.end() ? 0 : it->second.used;
        }
        return false;
    }
    Link& link = FindOrReuse(m_links, m_spare, connection)->second;
    link.entries.push_back(Entry{kind, std::move(data)});
    data.clear();
    link.used += Cost(size);
    m_used += Cost(size);
    if (linkUsed)
        *linkUsed = link.used;
    lock.unlock();
    m_records.fetch_add(1, std::memory_order_release);
    return true;
}

bool NetworkQueue::Take(uint8_t& kind, uint32_t& connection, std::vector<uint8_t>& data)
{
    if (m_records.load(std::memory_order_acquire) == 0)
        return false;
    std::unique_lock<std::mutex> lock = Lock();
    if (m_links.empty())
        return false;
    auto it = m_links.upper_bound(m_turn);
    if (it == m_links.end())
        it = m_links.begin();
    Link& link = it->second;
    Entry& entry = link.entries.front();
    kind = entry.kind;
    connection = it->first;
    data.swap(entry.data);
    const size_t cost = Cost(data.size());
    link.used -= cost;
    m_used -= cost;
    link.entries.pop_front();
    m_turn = it->first;
    if (link.entries.empty()) {
        auto node = m_links.extract(it);
        if (m_spare.size() < maxSpareLinks)
            m_spare.push_back(std::move(node));
    }
    m_records.fetch_sub(1, std::memory_order_relaxed);
    return true;
}

void NetworkQueue::Clear()
{
    std::unique_lock<std::mutex> lock = Lock();
    m_links.clear();
    m_turn = 0;
    m_used = 0;
    m_records.store(0, std::memory_order_relaxed);
}

size_t NetworkQueue::GetUsed() const
{
    std::unique_lock<std::mutex> lock = Lock();
    return m_used;
}

size_t NetworkQueue::GetUsed(uint32_t connection) const
{
    std::unique_lock<std::mutex> lock = Lock();
    auto it = m_links.find(connection);
    return it == m_links.end() ? 0 : it->second.used;
}

size_t NetworkQueue::GetNumRecords() const
{
    return m_records.load(std::memory_order_acquire);
}

} // namespace GAME
