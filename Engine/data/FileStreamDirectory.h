// Sequential read of a whole file of a directory source into a page-rounded buffer, paced by
// ReadNext. Each read completes before ReadNext returns READ_STARTED; the next call collects it,
// so callers written for overlapped reads (start, poll, collect) work unchanged. One thread uses
// one stream.
#pragma once

#include "data/FileStream.h"
#include "platform/PlatformFile.h"

#include <cstdint>
#include <vector>

namespace GAME {

class FileStreamDirectory : public FileStream
{
public:
    explicit FileStreamDirectory(FileSource* source);
    ~FileStreamDirectory() override;
    FileStreamDirectory(const FileStreamDirectory&) = delete;
    FileStreamDirectory& operator=(const FileStreamDirectory&) = delete;

    bool Open(const char* path);

    FileSource* GetSource() override { return m_source; }
    unsigned GetLength() override { return m_size; }
    int ReadNext(unsigned size) override;
    unsigned GetBytesRead() override { return m_bytesRead; }
    const void* GetBuffer() override { return m_buffer.data(); }

private:
    FileSource* m_source;
    Platform::PlatformFile m_file;
    unsigned m_size = 0;
    std::vector<uint8_t> m_buffer;
    unsigned m_pageSize = 4096;
    unsigned m_bytesRead = 0;
    bool m_noReadOutstanding = true;
    int64_t m_pendingResult = 0;
};

} // namespace GAME
