#include "world/NightLight.h"

#include "sound/AmbianceManager.h"
#include "world/Engine.h"

namespace GAME {

GAME_REGISTER_CLASS(NightLight, Light)

void NightLight::UpdateSelf(int elapsed)
{
    Light::UpdateSelf(elapsed);
    const AmbianceManager* ambiance = gEngine ? gEngine->GetAmbianceManager() : nullptr;
    if (!ambiance)
        return;
    SetShadowIntensity(ambiance->GetShadowIntensity());
    SetIntensity(ambiance->GetNightLightScale());
}

} // namespace GAME
