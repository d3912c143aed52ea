// Small chained hash table from a 32-bit key to a 32-bit value with a power-of-two bucket count;
// the bucket of a key is (key >> shift) & mask. Nodes come from one array in insertion order and
// are never released one by one, so the table only grows until Clear. A key may be inserted
// more than once; Find returns the most recent. Node pointers stay valid until the next Insert.
// One thread at a time.
#pragma once

#include <cstdint>
#include <vector>

namespace GAME {

class IntHashTable
{
public:
    struct Node
    {
        uint32_t key;
        uint32_t value;
        int32_t next; // index of the next node of the chain, -1 at its end
    };

    explicit IntHashTable(unsigned shift = 0) : m_shift(shift) {}

    // 2^k buckets with k = floor(log2(bucketHint)) clamped to 2..16, and room for nodeCapacity
    // nodes. Drops every node.
    void Setup(unsigned bucketHint, unsigned nodeCapacity);
    Node* Find(uint32_t key);
    const Node* Find(uint32_t key) const;
    // Sets up 4 buckets on first use; doubles the node array when it is full.
    bool Insert(uint32_t key, uint32_t value);
    // Iteration: Next(nullptr) is the first node; null after the last.
    const Node* Next(const Node* node) const;
    void Clear();

    unsigned GetShift() const { return m_shift; }
    unsigned GetBucketCount() const { return static_cast<unsigned>(m_buckets.size()); }
    unsigned GetNodeCount() const { return m_used; }
    unsigned GetNodeCapacity() const { return static_cast<unsigned>(m_nodes.size()); }

private:
    unsigned BucketOf(uint32_t key) const { return (key >> m_shift) & m_mask; }
    const Node* FirstFrom(unsigned bucket) const;

    unsigned m_shift;
    unsigned m_mask = 0;
    unsigned m_used = 0;
    std::vector<int32_t> m_buckets;
    std::vector<Node> m_nodes;
};

} // namespace GAME
