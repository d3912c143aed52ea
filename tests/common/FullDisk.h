// A full disk for a test: while a FullDisk lives, every file written through the platform layer
// takes `bytes` bytes at most, and a write past them writes what fits and fails as a full disk's
// does ("No space left on device"; Platform::SetFileWriteLimit). FolderNames lists what a save
// left beside its file.
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
