// 128-bit identifier of entities, portals, instance groups and sector data across saves and
// the network: four 32-bit words, all zero is null. A plain value; CreateUnique may be called from
// any thread. The id's own stream form (word 3 first) is read and written by BinaryReader and
// BinaryWriter.
#pragma once

#include "platform/SystemInfo.h"

#include <cstdint>

namespace GAME {

class UniqueId
{
public:
    constexpr UniqueId() = default;
    constexpr UniqueId(uint32_t w0, uint32_t w1, uint32_t w2, uint32_t w3) : m_words{w0, w1, w2, w3} {}

    // A new id from a fresh GUID; never null.
    static UniqueId CreateUnique();
    // Word 0 = Data1, word 1 = Data2 << 16 | Data3, words 2 and 3 = Data4 bytes 0-3 and 4-7, each
    // packed with its first byte most significant. Ids stored in files were made this way.
    static UniqueId FromGuid(const Platform::Guid& guid);

    constexpr uint32_t GetWord(int index) const { return m_words[index]; }
    void SetWord(int index, uint32_t value) { m_words[index] = value; }
    constexpr bool IsNull() const { return !(m_words[0] | m_words[1] | m_words[2] | m_words[3]); }

    constexpr bool operator==(const UniqueId& o) const
    {
        return m_words[0] == o.m_words[0] && m_words[1] == o.m_words[1] && m_words[2] == o.m_words[2] &&
               m_words[3] == o.m_words[3];
    }
    constexpr bool operator!=(const UniqueId& o) const { return !(*this == o); }
    // Key order of maps: lexicographic over the words.
    constexpr bool operator<(const UniqueId& o) const
    {
        for (int i = 0; i < 4; ++i)
            if (m_words[i] != o.m_words[i])
                return m_words[i] < o.m_words[i];
        return false;
    }

private:
    uint32_t m_words[4] = {0, 0, 0, 0};
};

static_assert(sizeof(UniqueId) == 16, "UniqueId is stored as four 32-bit words");

} // namespace GAME
