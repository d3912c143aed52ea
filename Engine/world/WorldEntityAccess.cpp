#include "world/WorldEntityAccess.h"

#include <atomic>

namespace GAME {

namespace {
std::atomic<WorldEntityAccess*> g_access{nullptr};
} // namespace

void WorldEntityAccess::Install(WorldEntityAccess* access)
{
    g_access.store(access, std::memory_order_release);
}

WorldEntityAccess* WorldEntityAccess::Get()
{
    return g_access.load(std::memory_order_acquire);
}

} // namespace GAME
