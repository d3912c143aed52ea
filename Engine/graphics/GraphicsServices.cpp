#include "graphics/GraphicsServices.h"

#include <atomic>

namespace GAME {

namespace {
std::atomic<GraphicsServices*> g_services{nullptr};
} // namespace

void GraphicsServices::Install(GraphicsServices* services)
{
    g_services.store(services, std::memory_order_release);
}

GraphicsServices* GraphicsServices::Get()
{
    return g_services.load(std::memory_order_acquire);
}

GraphicsEngine* GraphicsServices::Graphics()
{
    GraphicsServices* services = Get();
    return services ? services->GetGraphicsEngine() : nullptr;
}

unsigned int GraphicsServices::GraphicsLogCategory()
{
    GraphicsServices* services = Get();
    return services ? services->GetGraphicsLogCategory() : 0;
}

int GraphicsServices::UpdateTime()
{
    GraphicsServices* services = Get();
    return services ? services->GetUpdateTime() : 0;
}

bool GraphicsServices::CharacterProcessing()
{
    GraphicsServices* services = Get();
    return !services || services->DoCharacterProcessing();
}

std::string GraphicsServices::UtilityFontStyle()
{
    GraphicsServices* services = Get();
    return services ? services->GetUtilityFontStyle() : std::string(defaultUtilityFontStyle);
}

SoundManager* GraphicsServices::Sound()
{
    GraphicsServices* services = Get();
    return services ? services->GetSoundManager() : nullptr;
}

BaseResourceManager* GraphicsServices::EffectResources()
{
    GraphicsServices* services = Get();
    return services ? services->GetEffectResourceManager() : nullptr;
}

} // namespace GAME
