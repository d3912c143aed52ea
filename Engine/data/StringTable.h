// Pool of distinct strings with stable indices: the index of a string is the number of strings
// the pool held when it was added, and it never changes while the pool lives. Holds a pointer
// cache (IntHashTable keyed by the address of a C string) that answers repeated lookups with the
// same literal with one string comparison. Reads and writes the pool's binary form. One thread
// at a time (the pointer cache changes on lookups).
#pragma once

#include "data/IntHashTable.h"

#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

namespace GAME {

class BinaryReader;
class BinaryWriter;

class StringTable
{
public:
    StringTable();
    ~StringTable();
    StringTable(const StringTable&) = delete;
    StringTable& operator=(const StringTable&) = delete;

    // False when the string is in the pool already.
    bool AddString(const std::string& text);
    // Index of the string, or -1.
    int Find(const std::string& text) const;
    // Index of a C string through the pointer cache, or -1; the text at the pointer may change
    // between calls.
    int Find(const char* text);
    // The characters of the string at the index, null when the index is not below the count.
    const char* GetString(int index) const;
    unsigned GetCount() const { return static_cast<unsigned>(m_strings.size()); }

    // u32 count, then each string as u32 length and its bytes.
    void Write(BinaryWriter& writer) const;
    // Replaces the pool. A string held twice keeps its first index. False, with a log line and
    // an empty pool, when the data are truncated or a string is too long.
    bool Read(BinaryReader& reader);
    void Clear();

private:
    void Append(std::string_view text);

    // Strings live in a deque so their characters never move; the map's keys view them.
    std::deque<std::string> m_strings;
    std::unordered_map<std::string_view, int> m_map;
    IntHashTable m_pointerCache{2};
};

} // namespace GAME
