#include "data/IOStream.h"

#include "data/EngineDataServices.h"

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
    if (FileSystem* fileSystem = sFileSystem.load())
        return fileSystem;
    EngineDataServices* services = EngineDataServices::Get();
    return services ? services->GetFileSystem() : nullptr;
}

} // namespace GAME
