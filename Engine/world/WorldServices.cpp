#include "world/WorldServices.h"

#include "core/Log.h"

#include <atomic>

namespace GAME {

namespace {
std::atomic<WorldServices*> g_services{nullptr};
std::atomic<bool> g_noSectorDataLogged{false};
} // namespace

void WorldServices::Install(WorldServices* services)
{
    g_services.store(services, std::memory_order_release);
    g_noSectorDataLogged.store(false, std::memory_order_relaxed);
}

WorldServices* WorldServices::Get()
{
    return g_services.load(std::memory_order_acquire);
}

SectorDataManager* WorldServices::SectorData()
{
    WorldServices* services = Get();
    SectorDataManager* manager = services ? services->GetSectorDataManager() : nullptr;
    if (!manager && !g_noSectorDataLogged.exchange(true))
        LogPrintf(1, "No engine sector data manager: sector data is neither read nor saved");
    return manager;
}

} // namespace GAME
