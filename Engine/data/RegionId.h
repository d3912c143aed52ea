// The persistent identity of a region: four 32-bit words, all zero meaning "no id". Region-relative
// values, portals and spawn points name their region by it in files. A plain value; CreateUnique
// may be called from any thread.
#pragma once

#include <cstdint>

namespace GAME {

class BinaryReader;
class BinaryWriter;
class ChunkedBinaryWriter;

class RegionId
{
public:
    constexpr RegionId() = default;
    constexpr RegionId(uint32_t w0, uint32_t w1, uint32_t w2, uint32_t w3) : m_words{w0, w1, w2, w3} {}

    constexpr bool operator==(const RegionId& o) const
    {
        return m_words[0] == o.m_words[0] && m_words[1] == o.m_words[1] && m_words[2] == o.m_words[2] &&
               m_words[3] == o.m_words[3];
    }
    constexpr bool operator!=(const RegionId& o) const { return !(*this == o); }
    // Lexicographic over the words from word 0, so ids can key ordered containers.
    constexpr bool operator<(const RegionId& o) const
    {
        for (int i = 0; i < 4; ++i)
            if (m_words[i] != o.m_words[i])
                return m_words[i] < o.m_words[i];
        return false;
    }

    constexpr bool IsInvalid() const { return !(m_words[0] | m_words[1] | m_words[2] | m_words[3]); }
    // A fresh id from a new GUID, packed like UniqueId (never all zero).
    void CreateUnique();

    constexpr uint32_t GetWord(int index) const { return m_words[index]; }
    void SetWord(int index, uint32_t value) { m_words[index] = value; }

    // Four words, word 0 first.
    void Read(BinaryReader& reader);
    void Write(BinaryWriter& writer) const;
    void Write(ChunkedBinaryWriter& writer) const;

private:
    uint32_t m_words[4] = {0, 0, 0, 0};
};

} // namespace GAME
