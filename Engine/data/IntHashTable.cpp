#include "data/IntHashTable.h"

#include <cstddef>

namespace GAME {

void IntHashTable::Setup(unsigned bucketHint, unsigned nodeCapacity)
{
    unsigned k = 0;
    while (k < 31 && (2u << k) <= bucketHint)
        ++k;
    if (k < 2)
        k = 2;
    if (k > 16)
        k = 16;
    m_buckets.assign(1u << k, -1);
    m_mask = (1u << k) - 1;
    m_nodes.assign(nodeCapacity, Node{0, 0, -1});
    m_used = 0;
}

IntHashTable::Node* IntHashTable::Find(uint32_t key)
{
    return const_cast<Node*>(static_cast<const IntHashTable*>(this)->Find(key));
}

const IntHashTable::Node* IntHashTable::Find(uint32_t key) const
{
    if (m_buckets.empty())
        return nullptr;
    for (int32_t i = m_buckets[BucketOf(key)]; i >= 0; i = m_nodes[i].next)
        if (m_nodes[i].key == key)
            return &m_nodes[i];
    return nullptr;
}

bool IntHashTable::Insert(uint32_t key, uint32_t value)
{
    if (m_buckets.empty())
        Setup(4, 8);
    if (m_used >= m_nodes.size()) {
        // Chains hold indices, so moving the array needs no relinking.
        std::size_t capacity = m_nodes.empty() ? 8 : m_nodes.size() * 2;
        if (capacity > 0x7FFFFFFF)
            return false;
        m_nodes.resize(capacity, Node{0, 0, -1});
    }
    unsigned bucket = BucketOf(key);
    Node& node = m_nodes[m_used];
    node.key = key;
    node.value = value;
    node.next = m_buckets[bucket];
    m_buckets[bucket] = static_cast<int32_t>(m_used);
    ++m_used;
    return true;
}

const IntHashTable::Node* IntHashTable::FirstFrom(unsigned bucket) const
{
    for (; bucket < m_buckets.size(); ++bucket)
        if (m_buckets[bucket] >= 0)
            return &m_nodes[m_buckets[bucket]];
    return nullptr;
}

const IntHashTable::Node* IntHashTable::Next(const Node* node) const
{
    if (!node)
        return FirstFrom(0);
    if (node->next >= 0)
        return &m_nodes[node->next];
    return FirstFrom(BucketOf(node->key) + 1);
}

void IntHashTable::Clear()
{
    m_buckets.clear();
    m_buckets.shrink_to_fit();
    m_nodes.clear();
    m_nodes.shrink_to_fit();
    m_used = 0;
    m_mask = 0;
}

} // namespace GAME
