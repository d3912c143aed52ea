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

// While one lives, a process-wide bound of the platform layer's saves has the value given; then
// its default again.
template <typename T, void (*Set)(T), T Default>
class ScopedSaveBound
{
public:
    explicit ScopedSaveBound(T value) { Set(value); }
    ~ScopedSaveBound() { Set(Default); }
    ScopedSaveBound(const ScopedSaveBound&) = delete;
    ScopedSaveBound& operator=(const ScopedSaveBound&) = delete;
};

using FullDisk = ScopedSaveBound<int64_t, &Platform::SetFileWriteLimit, -1>;
// A save waits no longer than the milliseconds given for another save of its file or for a
// stream's reader.
using SaveWaitLimit = ScopedSaveBound<int, &Platform::SetSaveWaitLimit, -1>;
// Every save's move of its new file over the old one fails with the error given, as a file system
// that will not (EXDEV) does.
using MoveRefusal = ScopedSaveBound<int, &Platform::SetFileMoveRefusal, 0>;

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
