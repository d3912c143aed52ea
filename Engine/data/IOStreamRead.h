// Reads a tagged property stream (see IOStream) from a file through the engine's file system, from
// a disk path, or from bytes in memory. Properties are matched strictly in order: a value is taken
// only when the next name in the data is the one asked for; otherwise nothing is consumed, the
// caller's value stays as it was and the first such mismatch is remembered. Bad data never reads
// outside the bytes: counts are checked against what is left, and a skipped block ends at the end
// of the data at the latest. Owns the bytes it read (or the locked file until Shutdown). One thread
// at a time.
#pragma once

#include "data/BinaryReader.h"
#include "data/IOStream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class File;

class IOStreamRead : public IOStream
{
public:
    // Disk: the whole file is read; valid when it opened and is not empty. File system: the file
    // is opened through IOStream::GetFileSystem() and its bytes locked until Shutdown; valid when
    // it opened.
    IOStreamRead(const char* path, IOStreamType type);
    // A copy of bytes in memory (saved state, network data); valid when not empty.
    IOStreamRead(const void* data, unsigned size);
    ~IOStreamRead() override;

    void StreamPropertyEx(const std::string& name, std::vector<unsigned>& value) override;
    void StreamPropertyEx(const std::string& name, UniqueId& value) override;
    void StreamPropertyEx(const std::string& name, WorldCoords& value) override;
    void StreamPropertyEx(const std::string& name, Coords& value) override;
    void StreamPropertyEx(const std::string& name, Name& value) override;
    void StreamPropertyEx(const std::string& name, std::u16string& value) override;
    void StreamPropertyEx(const std::string& name, bool& value) override;
    void StreamPropertyEx(const std::string& name, unsigned& value) override;
    void StreamPropertyEx(const std::string& name, std::string& value) override;
    void StreamPropertyEx(const std::string& name, float& value) override;
    void StreamPropertyEx(const std::string& name, int& value) override;
    bool IsReading() override { return true; }
    // Releases a file locked through the file system; the stream reads nothing afterwards.
    int Shutdown() override;
    int IsValid() override { return m_valid ? 1 : 0; }
    void BeginBlock() override;
    void EndBlock() override;
    bool HandlePropertyTag(const std::string& name) override;
    // Back to the first property; a reader that ran into bad data may try again.
    void Rewind() override;

    unsigned GetFileLength() const { return m_length; }
    const uint8_t* GetFileBuffer() const { return m_bytes; }
    // The first property asked for that was not next in the data, and the name found instead
    // (empty at the end of the data). False while every property matched.
    bool GetFirstMismatch(std::string& asked, std::string& found) const;

private:
    // The next name in the data, without moving; false when no whole name is left.
    bool PeekName(const char*& text, uint32_t& length) const;
    // Consumes a block marker property when it is next; markers are not recorded as mismatches.
    bool TakeMarker(const char* name, uint32_t length);
    void SkipRestOfBlock();
    void Release();

    bool m_valid = false;
    FileSystem* m_fileSystem = nullptr; // the one that opened m_file
    File* m_file = nullptr;
    std::vector<uint8_t> m_owned;
    const uint8_t* m_bytes = nullptr;
    unsigned m_length = 0;
    BinaryReader m_reader;
    bool m_mismatch = false;
    std::string m_mismatchAsked;
    std::string m_mismatchFound;
};

} // namespace GAME
