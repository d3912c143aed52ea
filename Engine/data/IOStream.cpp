#include "data/IOStream.h"

#include <atomic>

namespace GAME {

namespace {

std::atomic<FileSystem*> sFileSystem{nullptr};

} // namespace

void IOStream::SetFileSystem(FileSystem* fileSystem)
{
    sFileSystem.store(fileSystem);
}

FileSystem* IOStream::GetFileSystem()
{
    return sFileSystem.load();
}

} // namespace GAME
