// A file source over a directory tree on disk. Attach takes a snapshot of every file below the
// root; FindFilePath and GetMatchingFiles answer from it, while opening, writability and times
// go to the disk. Names arrive lower-case from the file system and are matched against the real
// names without regard to case (the snapshot first, then the folders themselves); new files are
// created with the name as given. Holds its own re-entrant lock for every operation, so any
// thread may use it; Attach runs while no other thread uses the source.
#pragma once

#include "core/CriticalSection.h"
#include "data/FileSource.h"

#include <string>
#include <unordered_map>
#include <vector>

namespace GAME {

class FileSourceDirectory : public FileSource
{
public:
    FileSourceDirectory();
    ~FileSourceDirectory() override;
    FileSourceDirectory(const FileSourceDirectory&) = delete;
    FileSourceDirectory& operator=(const FileSourceDirectory&) = delete;

    // A relative path is taken from the current folder. False unless it names a folder.
    bool Attach(const char* path);

    bool IsFileWriteable(const char* name) override;
    File* OpenFile(const char* name, FileMode mode) override;
    bool CloseFile(File*& file) override;
    FileStream* OpenFileStream(const char* name) override;
    void CloseFileStream(FileStream*& stream) override;
    void GetMatchingFiles(std::vector<std::string>& out, const std::string& pattern) override;
    // The full path in the case found on disk (root + real name).
    bool FindFilePath(const char* name, std::string& fullPath) override;
    std::string FindFileInDirectoryTree(const std::string& name) override;
    bool GetFileTime(const char* name, FileTime& time) override;

    // Absolute, ending in '/'; empty while unattached.
    const std::string& GetRootPath() const { return m_root; }
    // Root-relative paths with '/' in the case found on disk, as scanned by Attach.
    const std::vector<std::string>& GetFileList() const { return m_files; }

private:
    // Root + the real-case name of a listed file, or root + name as given.
    std::string DiskPath(const char* name) const;
    // Scans a folder: its files first, then its subfolders not starting with '.'. With an
    // ending, only files whose names end with it are listed and the scan stops at the first.
    bool Scan(const std::string& folder, const std::string& prefix, const std::string* ending,
              std::vector<std::string>& out, int depth);

    CriticalSection m_lock;
    std::string m_root;
    std::vector<std::string> m_files;
    std::unordered_map<std::string, size_t> m_lowerIndex;
};

} // namespace GAME
