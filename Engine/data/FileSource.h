// One source of files of the virtual file system: a directory tree on disk or an ARC archive.
// The FileSystem owns its sources and asks them in its search order. Names arrive normalised
// (lower case, '/') from the FileSystem. Thread rules are those of each source.
#pragma once

#include "data/File.h"
#include "data/FileTime.h"

#include <string>
#include <vector>

namespace GAME {

class FileStream;

class FileSource
{
public:
    virtual ~FileSource() = default;
    virtual bool IsFileWriteable(const char* name) = 0;
    // Null when the source does not hold the file (or cannot open it in that mode).
    virtual File* OpenFile(const char* name, FileMode mode) = 0;
    // Deletes the file and nulls the reference. A file opened for writing replaces the file on
    // disk only here; false when it could not (logged), and the file on disk is then as it was.
    virtual bool CloseFile(File*& file) = 0;
    virtual FileStream* OpenFileStream(const char* name) = 0;
    virtual void CloseFileStream(FileStream*& stream) = 0;
    // Appends the names the source holds that end with the pattern (leading '*' and '.' dropped).
    virtual void GetMatchingFiles(std::vector<std::string>& out, const std::string& pattern) = 0;
    virtual bool FindFilePath(const char* name, std::string& fullPath) = 0;
    virtual std::string FindFileInDirectoryTree(const std::string& name) = 0;
    virtual bool GetFileTime(const char* name, FileTime& time) = 0;
};

} // namespace GAME
