#include "data/EngineDataServices.h"

#include "core/Log.h"

#include <atomic>

namespace GAME {

namespace {
std::atomic<EngineDataServices*> g_services{nullptr};
std::atomic<bool> g_noFileSystemLogged{false};
} // namespace

void EngineDataServices::Install(EngineDataServices* services)
{
    g_services.store(services, std::memory_order_release);
    g_noFileSystemLogged.store(false, std::memory_order_relaxed);
}

EngineDataServices* EngineDataServices::Get()
{
    return g_services.load(std::memory_order_acquire);
}

unsigned int EngineDataServices::FrameCount()
{
    EngineDataServices* services = Get();
    return services ? services->GetFrameCount() : 0;
}

FileSystem* EngineDataServices::Files()
{
    EngineDataServices* services = Get();
    FileSystem* files = services ? services->GetFileSystem() : nullptr;
    if (!files && !g_noFileSystemLogged.exchange(true))
        LogPrintf(1, "No engine file system: game data cannot be read");
    return files;
}

void EngineDataServices::StatisticText(const char* text)
{
    if (EngineDataServices* services = Get())
        services->AddStatisticText(text);
}

unsigned int EngineDataServices::EngineLogCategory()
{
    EngineDataServices* services = Get();
    return services ? services->GetEngineLogCategory() : 0;
}

bool EngineDataServices::GraphicsStatsEnabled()
{
    EngineDataServices* services = Get();
    return services && services->AreGraphicsStatsEnabled();
}

} // namespace GAME
