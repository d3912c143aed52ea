// Bounds-checked cursor over little-endian bytes in memory; every binary file of the engine is
// read through it. A read past the end sets a sticky failure flag, leaves the cursor at the end
// and yields zeros, so a parser can read a whole record and test Failed() once. Counts read from
// files are checked with CheckCount before anything is allocated for them, and blocks are read
// through ReadBlock's bounded sub-reader. The reader does not own the bytes unless it was made
// from a vector. One thread at a time.
#pragma once

#include "core/Coords.h"
#include "core/UniqueId.h"
#include "core/Vec3.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class BinaryReader
{
public:
    // Longest string ReadString accepts.
    static constexpr uint32_t kMaxStringLength = 0x100000;

    BinaryReader() = default;
    BinaryReader(const void* data, unsigned size);
    // Owns the bytes.
    explicit BinaryReader(std::vector<uint8_t>&& bytes);
    BinaryReader(const BinaryReader&) = delete;
    BinaryReader& operator=(const BinaryReader&) = delete;
    BinaryReader(BinaryReader&& other) noexcept;
    BinaryReader& operator=(BinaryReader&& other) noexcept;

    // Copies n bytes; past the end the destination is zero-filled, nothing is consumed and the
    // reader fails.
    bool ReadBytes(void* destination, unsigned n);
    bool Skip(unsigned n);

    uint8_t ReadUInt8();
    int8_t ReadInt8() { return static_cast<int8_t>(ReadUInt8()); }
    uint16_t ReadUInt16();
    int16_t ReadInt16() { return static_cast<int16_t>(ReadUInt16()); }
    uint32_t ReadUInt32();
    int32_t ReadInt32() { return static_cast<int32_t>(ReadUInt32()); }
    float ReadFloat();
    // Any non-zero u32 is true.
    bool ReadBool() { return ReadUInt32() != 0; }
    Vec3 ReadVec3();
    Coords ReadCoords();
    // Word 0 first (the plain form of level and instance-group files).
    UniqueId ReadUniqueId();
    // Word 3 first: the id's own stream form (sector data, sector layers, tagged streams).
    UniqueId ReadUniqueIdReversed();

    // u32 length then the characters. False, and the reader fails, when the length is above
    // kMaxStringLength or runs past the end; the string is then emptied.
    bool ReadString(std::string& out);
    // The same string as file formats' names take it: a length above kMaxStringLength or past the
    // end leaves the string empty and the cursor just after the length word, and reading goes on
    // (the reader does not fail). False then, and when the length word itself is cut off (which
    // fails the reader).
    bool ReadStringOrEmpty(std::string& out);
    // u32 count of 16-bit characters then the characters.
    bool ReadWideString(std::u16string& out);

    // A block: u32 id, u32 size, then size bytes. The content is handed out as a sub-reader over
    // exactly those bytes and this reader moves to the block's announced end. A size that runs
    // past the end fails the reader and yields an empty sub-reader.
    bool ReadBlock(uint32_t& id, BinaryReader& content);
    // Reads a block whose id must be the expected one (a different id fails the reader).
    bool ReadBlock(uint32_t expectedId, BinaryReader& content, const char* what);

    // True when count elements of elementSize bytes fit in the bytes left; otherwise the reader
    // fails and one line naming `what` is logged. Call before allocating for a count from a file.
    bool CheckCount(uint64_t count, uint64_t elementSize, const char* what);

    unsigned GetPosition() const { return m_position; }
    // Moves the cursor; positions past the end fail the reader.
    bool Seek(unsigned position);
    unsigned GetSize() const { return m_size; }
    unsigned GetRemaining() const { return m_size - m_position; }
    bool AtEnd() const { return m_position >= m_size; }
    const uint8_t* GetData() const { return m_data; }
    const uint8_t* GetCursor() const { return m_data + m_position; }

    bool Failed() const { return m_failed; }
    // Marks the data as bad (a parser found a value it cannot use).
    void Fail() { m_failed = true; }

private:
    bool Take(void* destination, unsigned n);

    const uint8_t* m_data = nullptr;
    unsigned m_position = 0;
    unsigned m_size = 0;
    bool m_failed = false;
    std::vector<uint8_t> m_owned;
};

} // namespace GAME
