// Memory writer over fixed-size chunks for large saves: it grows by whole chunks and never moves
// written bytes, then writes everything to a File at the end. Same encodings and blocks as
// BinaryWriter. Owns its chunks. One thread at a time.
#pragma once

#include "core/Coords.h"
#include "core/UniqueId.h"
#include "core/Vec3.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace GAME {

class File;

class ChunkedBinaryWriter
{
public:
    explicit ChunkedBinaryWriter(unsigned chunkSize);
    virtual ~ChunkedBinaryWriter();
    ChunkedBinaryWriter(const ChunkedBinaryWriter&) = delete;
    ChunkedBinaryWriter& operator=(const ChunkedBinaryWriter&) = delete;

    // Returns the new position.
    unsigned WriteBytes(const void* data, unsigned n);
    void WriteUInt8(uint8_t value) { WriteBytes(&value, 1); }
    void WriteUInt16(uint16_t value);
    void WriteUInt32(uint32_t value);
    void WriteInt32(int32_t value) { WriteUInt32(static_cast<uint32_t>(value)); }
    void WriteFloat(float value);
    void WriteBool(bool value) { WriteUInt32(value ? 1u : 0u); }
    void WriteString(const std::string& text);
    void WriteWideString(const std::u16string& text);
    void WriteUniqueId(const UniqueId& id);
    void WriteUniqueIdReversed(const UniqueId& id);
    void WriteVec3(const Vec3& value);
    void WriteCoords(const Coords& value);

    void BeginBlock(uint32_t id);
    bool EndBlock();

    unsigned GetPosition() const { return m_position; }
    unsigned GetChunkSize() const { return m_chunkSize; }
    size_t GetChunkCount() const { return m_chunks.size(); }
    // Copies the bytes written (up to the position) out, for tests and small saves.
    std::vector<uint8_t> GetBytes() const;

    // Writes chunk i at file offset i * chunk size, the last one up to the position. False when
    // the file refused a write or memory ran out earlier.
    bool WriteTo(File& file) const;
    bool Failed() const { return m_failed; }

private:
    unsigned m_chunkSize;
    unsigned m_position = 0;
    bool m_failed = false;
    std::vector<std::unique_ptr<uint8_t[]>> m_chunks;
    std::vector<unsigned> m_blockStarts;
};

} // namespace GAME
