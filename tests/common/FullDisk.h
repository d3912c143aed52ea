// A full disk for a test: while a FullDisk lives, every file written through the platform layer
// takes `bytes` bytes at most, and a write past them writes what fits and fails as a full disk's
// does ("No space left on device"; Platform::SetFileWriteLimit). The other bounds of a save the
// tests set likewise; FolderNames lists what a save left beside its file.
#pragma once

#include "platform/PlatformFile.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace GAME::Test {

class FullDisk
{
public:
    explicit FullDisk(int64_t bytes) { Platform::SetFileWriteLimit(bytes); }
    ~FullDisk() { Platform::SetFileWriteLimit(-1); }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;
};

// While a SaveWaitLimit lives, a save waits no longer than the milliseconds given for another save
// of its file or for a stream's reader.
class SaveWaitLimit
{
public:
    explicit SaveWaitLimit(int milliseconds) { Platform::SetSaveWaitLimit(milliseconds); }
    ~SaveWaitLimit() { Platform::SetSaveWaitLimit(-1); }
    SaveWaitLimit(const SaveWaitLimit&) = delete;
    SaveWaitLimit& operator=(const SaveWaitLimit&) = delete;
};

// While a MoveRefusal lives, every save's move of its new file over the old one fails with the
// error given, as a file system that will not (EXDEV) does.
class MoveRefusal
{
public:
    explicit MoveRefusal(int error) { Platform::SetFileMoveRefusal(error); }
    ~MoveRefusal() { Platform::SetFileMoveRefusal(0); }
    MoveRefusal(const MoveRefusal&) = delete;
    MoveRefusal& operator=(const MoveRefusal&) = delete;
};

// Every name in the folder, hidden ones too, sorted.
inline std::vector<std::string> FolderNames(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace GAME::Test
