// A file of a directory source. Read mode maps the file and hands out read-only views; write mode
// makes the file's folders and writes at absolute offsets into a new file that replaces the one on
// disk, whole, at Close (platform/PlatformFile.h): a save that fails leaves the old file as it was.
// Owned by the source that opened it; one thread uses one FileDirectory.
#pragma once

#include "data/File.h"
#include "platform/MappedFile.h"
#include "platform/PlatformFile.h"

#include <string>
#include <vector>

namespace GAME {

class FileDirectory : public File
{
public:
    explicit FileDirectory(FileSource* source);
    ~FileDirectory() override;
    FileDirectory(const FileDirectory&) = delete;
    FileDirectory& operator=(const FileDirectory&) = delete;

    // Mode 0 opens an existing file for reading, mode 1 starts a new one (making its folders);
    // other modes succeed without doing anything.
    bool Open(const char* path, FileMode mode);
    // Mode 1: the written file takes the place of the one on disk. False, with one log line naming
    // the file and the system's reason, when a write failed or it could not be completed; the file
    // on disk is then as it was. Destroyed without Close, nothing written is kept.
    bool Close();

    FileSource* GetSource() override { return m_source; }
    using File::Lock;
    // Null without a mapping or for a range past the end of the file. Views stay valid until
    // Unlock.
    const void* Lock(unsigned offset, unsigned size) override;
    void Unlock() override;
    bool Write(unsigned offset, const void* data, unsigned size) override;
    // The size at open time; 0 for files opened for writing.
    unsigned GetLength() override { return m_length; }

    const std::string& GetPath() const { return m_path; }

private:
    FileSource* m_source;
    std::string m_path;
    FileMode m_mode = FILE_MODE_READ;
    Platform::PlatformFile m_file;
    Platform::MappedFile m_mapping;
    unsigned m_length = 0;
    std::vector<Platform::MappedView> m_views;
    bool m_writeFailed = false; // and said so
};

} // namespace GAME
