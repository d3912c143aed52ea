// A 16-byte key made from a text by the MD5 digest. Names and object name hashes are compared by it
// throughout the engine, so the word order is fixed: word i holds digest bytes 4i..4i+3 as a
// little-endian word. A plain value; Create may be called from any thread.
#pragma once

#include <vector>

namespace GAME {

class Name
{
public:
    // All zero; marks empty slots of tables. No text hashes to it in practice, not even "".
    static const Name noName;

    // All zero, the same as noName.
    constexpr Name() = default;

    // MD5 of the text's bytes up to its terminating zero, unchanged (case, slashes and spaces are
    // significant). A null text counts as the empty text.
    static Name Create(const char* text);

    unsigned int Hash() const { return m_digest[0]; }

    bool operator==(const Name& other) const
    {
        return m_digest[0] == other.m_digest[0] && m_digest[1] == other.m_digest[1] &&
               m_digest[2] == other.m_digest[2] && m_digest[3] == other.m_digest[3];
    }
    bool operator!=(const Name& other) const { return !(*this == other); }
    // Orders by word 0 only: names that share it are neither less nor greater. Tables sorted by it
    // rely on exactly this.
    bool operator<(const Name& other) const { return m_digest[0] < other.m_digest[0]; }

    void SetDigest(const unsigned int digest[4]);
    const unsigned int* GetDigest() const { return m_digest; }

    std::vector<unsigned int> GetMD5() const;
    // Copies up to four words in order; a shorter vector leaves the remaining words as they were.
    void SetMD5(const std::vector<unsigned int>& words);

private:
    unsigned int m_digest[4] = {0, 0, 0, 0};
};

inline constexpr Name Name::noName{};

} // namespace GAME
