#include "data/StringTable.h"

#include "core/Log.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"

#include <cstdint>
#include <cstring>

namespace GAME {

namespace {

// Folds a 64-bit address into the cache's 32-bit key. A collision only costs a lookup: every
// cache hit is checked against the text.
uint32_t PointerKey(const char* text)
{
    auto address = reinterpret_cast<uintptr_t>(text);
    return static_cast<uint32_t>(address) ^ static_cast<uint32_t>(static_cast<uint64_t>(address) >> 32);
}

} // namespace

StringTable::StringTable()
{
    m_map.reserve(100);
}

StringTable::~StringTable() = default;

void StringTable::Append(std::string_view text)
{
    m_strings.emplace_back(text);
    m_map.emplace(std::string_view(m_strings.back()), static_cast<int>(m_strings.size() - 1));
}

bool StringTable::AddString(const std::string& text)
{
    if (m_map.find(std::string_view(text)) != m_map.end())
        return false;
    Append(text);
    return true;
}

int StringTable::Find(const std::string& text) const
{
    auto it = m_map.find(std::string_view(text));
    return it == m_map.end() ? -1 : it->second;
}

int StringTable::Find(const char* text)
{
    if (!text)
        return -1;
    uint32_t key = PointerKey(text);
    if (IntHashTable::Node* node = m_pointerCache.Find(key)) {
        int cached = static_cast<int>(node->value);
        if (cached >= 0 && cached < static_cast<int>(m_strings.size()) && m_strings[cached] == text)
            return cached;
        auto it = m_map.find(std::string_view(text));
        if (it == m_map.end())
            return -1;
        node->value = static_cast<uint32_t>(it->second);
        return it->second;
    }
    auto it = m_map.find(std::string_view(text));
    if (it == m_map.end())
        return -1;
    m_pointerCache.Insert(key, static_cast<uint32_t>(it->second));
    return it->second;
}

const char* StringTable::GetString(int index) const
{
    if (index < 0 || index >= static_cast<int>(m_strings.size()))
        return nullptr;
    return m_strings[index].c_str();
}

void StringTable::Write(BinaryWriter& writer) const
{
    writer.WriteUInt32(static_cast<uint32_t>(m_strings.size()));
    for (const std::string& text : m_strings)
        writer.WriteString(text);
}

bool StringTable::Read(BinaryReader& reader)
{
    Clear();
    uint32_t count = reader.ReadUInt32();
    // Every string takes at least its length field.
    if (reader.Failed() || !reader.CheckCount(count, 4, "strings")) {
        LogPrintf(1, "StringTable: the string count %u does not fit the data", count);
        return false;
    }
    std::string text;
    for (uint32_t i = 0; i < count; ++i) {
        if (!reader.ReadString(text)) {
            LogPrintf(1, "StringTable: string %u of %u cannot be read", i, count);
            Clear();
            return false;
        }
        if (m_map.find(std::string_view(text)) == m_map.end())
            Append(text);
    }
    m_pointerCache.Setup(count / 4, count / 2);
    return true;
}

void StringTable::Clear()
{
    m_map.clear();
    m_strings.clear();
    m_pointerCache.Clear();
}

} // namespace GAME
