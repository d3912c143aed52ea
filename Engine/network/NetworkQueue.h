// The hand-over between a socket's receive thread and the main thread: records of (kind,
// connection, bytes), kept in arrival order for each link (connection) and taken one link after
// the other, so that a link whose datagrams come faster than the main thread takes them holds up
// nobody but itself. The receive thread puts, the main thread takes; both under the queue's own
// lock, which is never held while calling out, nor for more than a few list operations: each side
// tries it a while before it sleeps on it (the other side is about to let go), and a record is
// counted for the taker only once its putter has let go, so that a taker that looks for records
// as fast as it can does not catch the putter in the act and sleep.
//
// Each link may hold at most its share of the queue (linkShare) and all links together at most
// its capacity; a record counts its bytes and recordOverhead (about what keeping it costs). A
// record that does not fit now is refused whole (Put answers false) and nothing is kept: the
// receive thread then keeps it and leaves that link's datagrams with the transport until the
// main thread has taken some of the link's records (the transport makes the sender wait), while
// the other links go on. A record larger than a link's share is refused for good (IsTooLarge). A
// link with nothing queued costs nothing.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

namespace GAME {

// The entry of `key` in a map kept per connection, found or made, made from a node let go before
// when one is spare: a link that comes and goes as its records do costs no allocation each time.
template <typename Map>
typename Map::iterator FindOrReuse(Map& map, std::vector<typename Map::node_type>& spare,
                                   const typename Map::key_type& key)
{
    auto it = map.find(key);
    if (it != map.end())
        return it;
    if (spare.empty())
        return map.try_emplace(key).first;
    auto node = std::move(spare.back());
    spare.pop_back();
    node.key() = key;
    return map.insert(std::move(node)).position;
}

class NetworkQueue
{
public:
    static constexpr size_t recordOverhead = 64;
    // What a record of `size` bytes counts against its link's share and the capacity.
    static constexpr size_t Cost(size_t size) { return size + recordOverhead; }

    // The share is kept between one empty record and the whole capacity.
    NetworkQueue(size_t capacity, size_t linkShare);
    NetworkQueue(const NetworkQueue&) = delete;
    NetworkQueue& operator=(const NetworkQueue&) = delete;

    // Any thread. False when the record does not fit now (or ever, see IsTooLarge). The second
    // form takes the bytes over (`data` is left empty) when it answers true, and says what the
    // link's records count after it (`linkUsed`, put or not).
    bool Put(uint8_t kind, uint32_t connection, const uint8_t* data, size_t size);
    bool Put(uint8_t kind, uint32_t connection, std::vector<uint8_t>& data, size_t* linkUsed = nullptr);
    // Any thread (the main thread in practice): the oldest record of the link after the one
    // taken from last (in connection order, round again after the last). False when empty.
    bool Take(uint8_t& kind, uint32_t& connection, std::vector<uint8_t>& data);
    bool IsTooLarge(size_t size) const { return Cost(size) > m_linkShare; }
    void Clear();

    size_t GetCapacity() const { return m_capacity; }
    size_t GetLinkShare() const { return m_linkShare; }
    size_t GetUsed() const;
    // What the link's records count now.
    size_t GetUsed(uint32_t connection) const;
    size_t GetNumRecords() const;

private:
    struct Entry
    {
        uint8_t kind;
        std::vector<uint8_t> data;
    };
    struct Link
    {
        std::deque<Entry> entries;
        size_t used = 0;
    };

    bool Fits(uint32_t connection, size_t size) const;
    // The lock, tried a while before sleeping on it.
    std::unique_lock<std::mutex> Lock() const;

    mutable std::mutex m_lock;
    const size_t m_capacity;
    const size_t m_linkShare;
    // Only links with records are kept; a few let go are kept for reuse, so that a link the taker
    // keeps up with costs no allocation per record.
    std::map<uint32_t, Link> m_links;
    std::vector<std::map<uint32_t, Link>::node_type> m_spare;
    uint32_t m_turn = 0; // the connection taken from last
    size_t m_used = 0;
    // Changed under the lock; read without it so that a pump finding nothing takes no lock and
    // never holds up the receive thread.
    std::atomic<size_t> m_records{0};
};

} // namespace GAME
