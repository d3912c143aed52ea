// Folders on disk: sorted listings, existence tests, creation and the current folder. Paths are
// resolved case-insensitively like files (platform/PathResolve.h). Safe from any thread.
#pragma once

#include <string>
#include <vector>

namespace GAME::Platform {

struct DirectoryEntry
{
    std::string name;
    bool isDirectory = false;
};

// Every entry of the folder except "." and "..", sorted by name (byte order). Symbolic links are
// followed to tell folders from files. False when the folder cannot be read.
bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& entries);

bool DirectoryExists(const std::string& path);
// Creates one folder; true when it exists afterwards.
bool CreateDirectory(const std::string& path);
// Creates every folder of the path, the last component included.
bool CreateDirectories(const std::string& path);
// Creates every folder on the path of a file: the part after the last separator is the file name
// and is not created. Separators may be '/' or '\'.
bool CreateDirectoryPath(const std::string& filePath);

// The process's current folder, without a trailing '/'.
std::string GetCurrentDirectory();
bool IsAbsolutePath(const std::string& path);

} // namespace GAME::Platform
