#include "sound/AmbianceManager.h"

namespace GAME {

void AmbianceManager::Update(int) {}

void AmbianceManager::Reset() {}

const Color& AmbianceManager::GetLightColor(int) const
{
    return m_neutral;
}

const Color& AmbianceManager::GetSkyAmbientColor(int) const
{
    return m_neutral;
}

const Color& AmbianceManager::GetGroundAmbientColor(int) const
{
    return m_neutral;
}

} // namespace GAME
