#include "graphics/GraphicsWorldServices.h"

#include <atomic>

namespace GAME {

namespace {
std::atomic<GraphicsWorldServices*> g_services{nullptr};
} // namespace

void GraphicsWorldServices::Install(GraphicsWorldServices* services)
{
    g_services.store(services, std::memory_order_release);
}

GraphicsWorldServices* GraphicsWorldServices::Get()
{
    return g_services.load(std::memory_order_acquire);
}

} // namespace GAME
