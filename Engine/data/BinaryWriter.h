// Writes the engine's little-endian binary encodings (those BinaryReader reads) to a C stream, to
// a growing memory buffer or to a file, with nested size-prefixed blocks: BeginBlock writes the id
// and a size placeholder, EndBlock patches the size. Owns its memory buffer and an attached stream
// (closed on destruction). A file (OpenFile) is gathered in the memory buffer and replaces the
// file on disk whole at CloseStream; one never closed is dropped, the file on disk untouched. A
// failed write (stream error, memory exhausted) sets a sticky flag that Failed() reports. One
// thread at a time.
#pragma once

#include "core/Coords.h"
#include "core/UniqueId.h"
#include "core/Vec3.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace GAME {

namespace Platform {
class PlatformFile;
}

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

    // Starts a file at path (name case resolved, folders made; a read-only file or a folder there
    // is refused): closes what was open, empties the memory buffer and writes into it from now on.
    bool OpenFile(const std::string& path);
    // Attaches a stream (owned from now on); writes go to it instead of the memory buffer.
    void AttachStream(std::FILE* stream);
    // Closes the attached stream, or writes the file whole over the one on disk; false when
    // flushing, closing or writing failed (a file then logs why, and the one on disk stays as it
    // was).
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
    std::unique_ptr<Platform::PlatformFile> m_file; // OpenFile's, until CloseStream
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
