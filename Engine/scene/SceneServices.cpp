#include "scene/SceneServices.h"

#include <atomic>

namespace GAME {

namespace {
std::atomic<SceneServices*> g_services{nullptr};
} // namespace

void SceneServices::Install(SceneServices* services)
{
    g_services.store(services, std::memory_order_release);
}

SceneServices* SceneServices::Get()
{
    return g_services.load(std::memory_order_acquire);
}

InputDevice* SceneServices::Input()
{
    SceneServices* services = Get();
    return services ? services->GetInputDevice() : nullptr;
}

bool SceneServices::AmbianceTint(int environment, Color& light, Color& skyAmbient, Color& groundAmbient)
{
    SceneServices* services = Get();
    return services && services->GetAmbianceTint(environment, light, skyAmbient, groundAmbient);
}

int SceneServices::WorldRegionCount()
{
    SceneServices* services = Get();
    return services ? services->GetWorldRegionCount() : 0;
}

} // namespace GAME
