// A file source over one ARC archive. Names are "<archive name>/<name inside>": an archive
// Resources/Creatures.arc answers creatures/monster/a.msh with its entry monster/a.msh. With
// close-when-idle the archive keeps its tables in memory and holds its file open only while one
// of its files is open. Any thread may open, read and close files; the open count, reopening and
// closing the archive are done under the source's lock, so closing the last file on one thread
// while another opens a file is safe. Attach runs while no other thread uses the source.
#pragma once

#include "core/CriticalSection.h"
#include "data/Archive.h"
#include "data/FileSource.h"
#include "platform/MappedFile.h"

#include <memory>
#include <string>

namespace GAME {

class FileSourceArchive : public FileSource
{
public:
    explicit FileSourceArchive(bool closeWhenIdle = false);
    ~FileSourceArchive() override;
    FileSourceArchive(const FileSourceArchive&) = delete;
    FileSourceArchive& operator=(const FileSourceArchive&) = delete;

    bool Attach(const char* path);

    bool IsFileWriteable(const char* name) override;
    File* OpenFile(const char* name, FileMode mode) override;
    bool CloseFile(File*& file) override;
    FileStream* OpenFileStream(const char* name) override;
    void CloseFileStream(FileStream*& stream) override;
    void GetMatchingFiles(std::vector<std::string>& out, const std::string& pattern) override;
    bool FindFilePath(const char* name, std::string& fullPath) override;
    std::string FindFileInDirectoryTree(const std::string& name) override;
    bool GetFileTime(const char* name, FileTime& time) override;

    Archive* GetArchive() { return m_archive.get(); }
    // The file's base name without folder or extension: Creatures for Resources/Creatures.arc.
    const std::string& GetArchiveName() const { return m_name; }
    const std::string& GetFullPath() const { return m_fullPath; }
    int GetOpenFileCount();
    // Maps a range of the archive file for a stored entry; null without a mapping.
    const void* MapView(Platform::MappedView& view, uint64_t offset, size_t size);

private:
    // The name inside the archive (from its separator on), or null when the name is not ours.
    const char* InnerName(const char* name) const;

    CriticalSection m_lock;
    bool m_closeWhenIdle;
    int m_openFiles = 0;
    std::unique_ptr<Archive> m_archive;
    Platform::MappedFile m_mapping;
    std::string m_name;
    std::string m_fullPath;
};

} // namespace GAME
