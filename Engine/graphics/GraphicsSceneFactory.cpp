#include "graphics/GraphicsSceneFactory.h"

#include <atomic>

namespace GAME {

namespace {
std::atomic<GraphicsSceneFactory*> g_factory{nullptr};
} // namespace

void GraphicsSceneFactory::Install(GraphicsSceneFactory* factory)
{
    g_factory.store(factory, std::memory_order_release);
}

GraphicsSceneFactory* GraphicsSceneFactory::Get()
{
    return g_factory.load(std::memory_order_acquire);
}

} // namespace GAME
