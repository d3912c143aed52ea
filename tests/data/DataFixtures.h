// Shared helpers of the data tests: deterministic payloads and archives written by the engine's
// own archive writer.
#pragma once

#include "data/Archive.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace GAME::Test {

// Bytes that compress like text (words from a small vocabulary) or not at all (random).
inline std::vector<uint8_t> MakePayload(size_t size, uint32_t seed, bool textLike)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes;
    bytes.reserve(size);
    static const char* const words[] = {"region ", "level ",  "entity ", "mesh ",  "texture ",
                                        "\n",      "shader ", "0.25 ",   "light ", "portal "};
    while (bytes.size() < size) {
        if (textLike) {
            const char* word = words[random() % 10];
            while (*word && bytes.size() < size)
                bytes.push_back(static_cast<uint8_t>(*word++));
        } else {
            bytes.push_back(static_cast<uint8_t>(random()));
        }
    }
    return bytes;
}

struct ArchiveItem
{
    std::string name;
    std::vector<uint8_t> bytes;
    int level = 6;
};

// Writes an archive with the engine's writer; false when any add failed.
inline bool WriteArchive(const std::string& path, const std::vector<ArchiveItem>& items)
{
    Archive archive;
    if (!archive.Open(path.c_str(), Archive::MODE_UPDATE))
        return false;
    bool ok = true;
    for (const auto& item : items)
        ok = archive.AddFileFromMemory(item.name.c_str(), item.bytes.data(),
                                       static_cast<unsigned>(item.bytes.size()), item.level) >= 0 &&
             ok;
    return archive.Close() && ok;
}

inline std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline uint32_t GetU32(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

inline void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Where the tables of an archive image are.
struct ArchiveLayout
{
    uint32_t count, partCount, nameBytes, tableOffset;
    size_t Parts() const { return tableOffset; }
    size_t Names() const { return tableOffset + 12 * partCount; }
    size_t Record(uint32_t index) const { return Names() + nameBytes + 44 * index; }
};

inline ArchiveLayout LayoutOf(const std::vector<uint8_t>& image)
{
    return ArchiveLayout{GetU32(image, 8), GetU32(image, 12), GetU32(image, 20), GetU32(image, 24)};
}

} // namespace GAME::Test
