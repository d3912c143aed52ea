#include "navigation/NavigationServices.h"

#include <atomic>

namespace GAME {

namespace {
std::atomic<NavigationServices*> g_services{nullptr};
} // namespace

void NavigationServices::Install(NavigationServices* services)
{
    g_services.store(services, std::memory_order_release);
}

NavigationServices* NavigationServices::Get()
{
    return g_services.load(std::memory_order_acquire);
}

} // namespace GAME
