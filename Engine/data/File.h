// An open file of the virtual file system. Its bytes are reached by locking a range into memory:
// the pointer stays valid until Unlock or until the file is closed through its source
// (FileSystem::CloseFile). A lock past the end of the file yields null. One thread uses one File;
// several threads may each hold their own File of the same source.
#pragma once

namespace GAME {

class FileSource;

// Argument of OpenFile: read an existing file, or create / truncate one for writing.
enum FileMode
{
    FILE_MODE_READ = 0,
    FILE_MODE_WRITE = 1,
};

class File
{
public:
    virtual ~File() = default;
    virtual FileSource* GetSource() = 0;
    // Pointer to the first byte of [offset, offset + size), null on failure.
    virtual const void* Lock(unsigned offset, unsigned size) = 0;
    // The whole file: Lock(0, GetLength()).
    virtual const void* Lock() { return Lock(0, GetLength()); }
    virtual void Unlock() = 0;
    // Writes at an absolute offset (files opened for writing); false when it failed.
    virtual bool Write(unsigned offset, const void* data, unsigned size) = 0;
    virtual unsigned GetLength() = 0;
};

} // namespace GAME
