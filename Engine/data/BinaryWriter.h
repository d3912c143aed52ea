// Writes the engine's little-endian binary encodings (those BinaryReader reads) to a C stream or
// to a growing memory buffer, with nested size-prefixed blocks: BeginBlock writes the id and a
// size placeholder, EndBlock patches the size. Owns its memory buffer and an attached stream
// (closed on destruction). A failed write (stream error, memory exhausted) sets a sticky flag
// that Failed() reports. One thread at a time.
#pragma once

#include "core/Coords.h"
#include "core/UniqueId.h"
#include "core/Vec3.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace GAME {

class BinaryWriter
{
public:
    // A memory writer with an owned buffer of initialSize bytes (more as it fills).
    explicit BinaryWriter(unsigned initialSize);
    // Neither buffer nor stream: writes are ignored until a stream is attached.
    BinaryWriter();
    virtual ~BinaryWriter();
    BinaryWriter(const BinaryWriter&) = delete;
    BinaryWriter& operator=(const BinaryWriter&) = delete;

    // Opens a file for writing ("wb", name case resolved, folders made) and attaches it.
    bool OpenFile(const std::string& path);
    // Attaches a stream (owned from now on); writes go to it instead of the memory buffer.
    void AttachStream(std::FILE* stream);
    // Closes the attached stream; false when flushing or closing failed.
    bool CloseStream();

    bool WriteBytes(const void* data, unsigned n);
    void WriteUInt8(uint8_t value) { WriteBytes(&value, 1); }
    void WriteInt8(int8_t value) { WriteUInt8(static_cast<uint8_t>(value)); }
    void WriteUInt16(uint16_t value);
    void WriteInt16(int16_t value) { WriteUInt16(static_cast<uint16_t>(value)); }
    void WriteUInt32(uint32_t value);
    void WriteInt32(int32_t value) { WriteUInt32(static_cast<uint32_t>(value)); }
    void WriteFloat(float value);
    void WriteBool(bool value) { WriteUInt32(value ? 1u : 0u); }
    void WriteVec3(const Vec3& value);
    void WriteCoords(const Coords& value);
    // Word 0 first.
    void WriteUniqueId(const UniqueId& id);
    // Word 3 first: the id's own stream form.
    void WriteUniqueIdReversed(const UniqueId& id);
    void WriteString(const std::string& text);
    void WriteString(const char* text);
    void WriteWideString(const std::u16string& text);

    void BeginBlock(uint32_t id);
    // Closes the innermost open block; false when none is open.
    bool EndBlock();

    // The stream's position or the memory position.
    unsigned Tell() const;
    // Moves the stream or the memory position (not past the bytes written).
    bool Seek(unsigned position);

    // The memory buffer and the number of bytes written into it.
    const uint8_t* GetBuffer() const { return m_buffer; }
    unsigned GetSize() const { return m_size; }
    unsigned GetCapacity() const { return m_capacity; }
    bool Failed() const { return m_failed; }

private:
    bool Reserve(uint64_t needed);

    std::FILE* m_stream = nullptr;
    uint8_t* m_buffer = nullptr;
    bool m_ownsBuffer = false;
    bool m_memory = false;
    unsigned m_position = 0;
    unsigned m_size = 0;
    unsigned m_capacity = 0;
    bool m_failed = false;
    std::vector<unsigned> m_blockStarts;
};

} // namespace GAME
