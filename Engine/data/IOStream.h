// Two-way interface for saving and loading an object as a flat sequence of named properties. A
// class writes one StreamPropertyEx(name, field) call per field and serves both directions: the
// writer stores each name and value, the reader takes a value only when the next name in the data
// is the one asked for, so a missing or reordered property keeps the caller's default and older
// files stay readable after fields are added. Blocks group properties and let a reader skip what
// it does not read. One thread at a time per stream.
#pragma once

#include <string>
#include <vector>

namespace GAME {

class Coords;
class FileSystem;
class Name;
class UniqueId;
class WorldCoords;

class IOStream
{
public:
    enum IOStreamType
    {
        // Read through the engine's file system; written relative to the current directory.
        IOSTREAM_FILESYSTEM = 0,
        // A plain disk path.
        IOSTREAM_DISK = 1,
    };

    explicit IOStream(IOStreamType type) : m_type(type) {}
    IOStream(const IOStream&) = delete;
    IOStream& operator=(const IOStream&) = delete;

    virtual void StreamPropertyEx(const std::string& name, std::vector<unsigned>& value) = 0;
    virtual void StreamPropertyEx(const std::string& name, UniqueId& value) = 0;
    virtual void StreamPropertyEx(const std::string& name, WorldCoords& value) = 0;
    virtual void StreamPropertyEx(const std::string& name, Coords& value) = 0;
    virtual void StreamPropertyEx(const std::string& name, Name& value) = 0;
    virtual void StreamPropertyEx(const std::string& name, std::u16string& value) = 0;
    virtual void StreamPropertyEx(const std::string& name, bool& value) = 0;
    virtual void StreamPropertyEx(const std::string& name, unsigned& value) = 0;
    virtual void StreamPropertyEx(const std::string& name, std::string& value) = 0;
    virtual void StreamPropertyEx(const std::string& name, float& value) = 0;
    virtual void StreamPropertyEx(const std::string& name, int& value) = 0;
    virtual bool IsReading() = 0;
    // Finishes the stream (the writer stores its bytes, the reader lets its file go); 1 on
    // success, 0 when the bytes could not be stored.
    virtual int Shutdown() = 0;
    virtual int IsValid() = 0;
    virtual void BeginBlock() = 0;
    // The reader skips what is left of the block.
    virtual void EndBlock() = 0;
    // Writer: stores the name. Reader: consumes the next name when it is this one.
    virtual bool HandlePropertyTag(const std::string& name) = 0;
    virtual void Rewind() = 0;
    virtual ~IOStream() = default;

    IOStreamType GetType() const { return m_type; }

    // The file system streams of type IOSTREAM_FILESYSTEM read through: the one set here (tools and
    // tests without an engine), else the engine's (EngineDataServices). Null removes the override.
    static void SetFileSystem(FileSystem* fileSystem);
    static FileSystem* GetFileSystem();

    // Values of the block marker properties.
    static constexpr unsigned kBeginBlockValue = 0xB01DFACE;
    static constexpr unsigned kEndBlockValue = 0xDEADC0DE;

protected:
    IOStreamType m_type;
};

} // namespace GAME
