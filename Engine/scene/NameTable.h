// The fixed hash table that meshes and poses look their bones and attach points up in, keyed by
// Name: 251 slots (a prime), open addressing with double hashing on the key's first word, no
// resizing and no deletion. Probe i of a key whose first word is k visits slot
// ((k mod 250 + 1) * i + k mod 251) mod 251, so the 251 probes reach every slot once. A slot is
// empty while its key is the empty Name, which therefore cannot be stored. The slot array is made
// by the first insertion; Reset empties it without freeing it.
//
// A mesh keeps a bone index table and an attach point table of this kind; a skeletal pose keeps
// its bones in one. A plain value (copies copy all 251 slots); one thread at a time.
#pragma once

#include "core/Name.h"

#include <cstdint>
#include <memory>
#include <utility>

namespace GAME {

template <class Value> class NameTable
{
public:
    static constexpr int32_t slotCount = 251;

    struct Slot
    {
        Name key;
        Value value{};
    };

    NameTable() = default;
    NameTable(const NameTable& other) { *this = other; }
    NameTable(NameTable&& other) noexcept { *this = std::move(other); }
    NameTable& operator=(NameTable&& other) noexcept
    {
        if (this != &other) {
            m_slots = std::move(other.m_slots);
            m_lowestUsed = other.m_lowestUsed;
            other.m_lowestUsed = slotCount;
        }
        return *this;
    }
    // Takes the other's slots one for one; from a table without slots this one is emptied.
    NameTable& operator=(const NameTable& other)
    {
        if (this == &other)
            return *this;
        if (!other.m_slots) {
            Reset();
            return *this;
        }
        if (!m_slots)
            m_slots.reset(new Slot[slotCount]);
        for (int32_t i = 0; i < slotCount; ++i)
            m_slots[i] = other.m_slots[i];
        m_lowestUsed = other.m_lowestUsed;
        return *this;
    }

    // The slot of probe number i for a key's first word.
    static constexpr int32_t ProbeSlot(uint32_t hash, uint32_t i)
    {
        return static_cast<int32_t>(((hash % 250u + 1u) * i + hash % 251u) % 251u);
    }

    // The slot holding the key, -1 when it is absent.
    int32_t Find(const Name& key) const
    {
        if (!m_slots)
            return -1;
        for (uint32_t i = 0; i < static_cast<uint32_t>(slotCount); ++i) {
            const int32_t slot = ProbeSlot(key.Hash(), i);
            if (m_slots[slot].key == Name::noName)
                return -1;
            if (m_slots[slot].key == key)
                return slot;
        }
        return -1;
    }

    // Stores the value under the key (replacing the value of an equal key) and answers its slot;
    // -1 when the table is full or the key is the empty Name, which is not stored.
    int32_t Insert(const Name& key, const Value& value)
    {
        if (key == Name::noName)
            return -1;
        if (!m_slots)
            m_slots.reset(new Slot[slotCount]);
        for (uint32_t i = 0; i < static_cast<uint32_t>(slotCount); ++i) {
            const int32_t slot = ProbeSlot(key.Hash(), i);
            Slot& s = m_slots[slot];
            if (s.key == Name::noName || s.key == key) {
                s.key = key;
                s.value = value;
                if (slot < m_lowestUsed)
                    m_lowestUsed = slot;
                return slot;
            }
        }
        return -1;
    }

    const Value* FindValue(const Name& key) const
    {
        const int32_t slot = Find(key);
        return slot < 0 ? nullptr : &m_slots[slot].value;
    }
    Value* FindValue(const Name& key)
    {
        const int32_t slot = Find(key);
        return slot < 0 ? nullptr : &m_slots[slot].value;
    }

    // Walks the occupied slots in slot order: First, then Next until -1.
    int32_t First() const
    {
        if (!m_slots || m_lowestUsed >= slotCount)
            return -1;
        return m_slots[m_lowestUsed].key == Name::noName ? Next(m_lowestUsed) : m_lowestUsed;
    }
    int32_t Next(int32_t slot) const
    {
        if (!m_slots)
            return -1;
        for (int32_t i = slot + 1; i < slotCount; ++i)
            if (m_slots[i].key != Name::noName)
                return i;
        return -1;
    }

    // Every slot empty again (key all zero, value default); the array is kept.
    void Reset()
    {
        m_lowestUsed = slotCount;
        if (!m_slots)
            return;
        for (int32_t i = 0; i < slotCount; ++i)
            m_slots[i] = Slot();
    }

    bool IsEmpty() const { return m_lowestUsed >= slotCount; }
    int32_t GetLowestUsedSlot() const { return m_lowestUsed; }
    bool HasSlots() const { return m_slots != nullptr; }
    const Slot& GetSlot(int32_t slot) const { return m_slots[slot]; }
    Slot& GetSlot(int32_t slot) { return m_slots[slot]; }

private:
    std::unique_ptr<Slot[]> m_slots;
    int32_t m_lowestUsed = slotCount;
};

} // namespace GAME
