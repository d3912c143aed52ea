// Writes a tagged property stream (see IOStream) into memory and stores it on Shutdown: at the
// path (disk) or at the path under the current directory (file system type). Nothing reaches the
// disk before Shutdown. Owns its memory writer. One thread at a time.
#pragma once

#include "data/BinaryWriter.h"
#include "data/IOStream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class IOStreamWrite : public IOStream
{
public:
    IOStreamWrite(const char* path, IOStreamType type);
    ~IOStreamWrite() override = default;

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
    bool IsReading() override { return false; }
    // Stores the bytes collected so far; 0, with a log line, when the file could not be written.
    int Shutdown() override;
    int IsValid() override { return 1; }
    void BeginBlock() override;
    void EndBlock() override;
    bool HandlePropertyTag(const std::string& name) override;
    // Writing continues at the start, over what was written; the length stays the most written.
    void Rewind() override;

    unsigned GetFileLength() const { return m_writer.GetSize(); }
    const uint8_t* GetFileBuffer() const { return m_writer.GetBuffer(); }

private:
    std::string m_path;
    BinaryWriter m_writer;
};

} // namespace GAME
