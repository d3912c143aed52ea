#include "graphics/NoiseTexture.h"

#include "graphics/RenderSurface.h"

namespace GAME {

GAME_REGISTER_CLASS(NoiseTexture, Object)

RenderTexture* NoiseTexture::GetTexture() const
{
    return m_renderSurface ? m_renderSurface->GetTexture() : nullptr;
}

} // namespace GAME
