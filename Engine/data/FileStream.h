// Sequential reading of a whole file into one buffer in steps the caller paces: ReadNext starts
// the next read, later calls collect it. Opened through FileSystem::OpenFileStream; one thread
// uses one stream.
#pragma once

namespace GAME {

class FileSource;

class FileStream
{
public:
    // Results of ReadNext.
    enum Status
    {
        READ_STARTED = 0,
        READ_IN_PROGRESS = 1,
        READ_END_OF_FILE = 2,
        READ_ERROR = 3,
    };

    virtual ~FileStream() = default;
    virtual FileSource* GetSource() = 0;
    virtual unsigned GetLength() = 0;
    virtual int ReadNext(unsigned size) = 0;
    virtual unsigned GetBytesRead() = 0;
    // Receives the file; the first GetBytesRead() bytes are valid.
    virtual const void* GetBuffer() = 0;
};

} // namespace GAME
