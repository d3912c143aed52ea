#include "graphics/BoatOverlayActivity.h"

#include "core/Color.h"
#include "core/Rect.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsServices.h"
#include "graphics/GraphicsTexture.h"

#include <limits>

namespace GAME {
namespace {

GraphicsEngine* EngineGraphics()
{
    return GraphicsServices::Graphics();
}

// The layout the map is centred in.
constexpr float kCenterX = 512.0f;
constexpr float kCenterY = 384.0f;

} // namespace

BoatOverlayActivity::BoatOverlayActivity() : BoatOverlayActivity(EngineGraphics()) {}

BoatOverlayActivity::BoatOverlayActivity(GraphicsEngine* graphics) : m_graphics(graphics)
{
    if (!m_graphics)
        return;
    m_mapTexture = m_graphics->LoadTexture(mapTextureName);
    m_secondMapTexture = m_graphics->LoadTexture(secondMapTextureName);
    m_shipTexture = m_graphics->LoadTexture(shipTextureName);
}

BoatOverlayActivity::~BoatOverlayActivity()
{
    if (!m_graphics)
        return;
    for (GraphicsTexture* texture : {m_mapTexture, m_secondMapTexture, m_shipTexture})
        if (texture)
            m_graphics->UnloadTexture(texture);
}

void BoatOverlayActivity::Update(int elapsedMs)
{
    if (elapsedMs > 0)
        m_elapsed = elapsedMs > std::numeric_limits<int>::max() - m_elapsed ? std::numeric_limits<int>::max()
                                                                            : m_elapsed + elapsedMs;
    if (m_elapsed > duration)
        SetFinished();
}

Vec2 BoatOverlayActivity::GetShipPosition() const
{
    const float t = static_cast<float>(m_elapsed) * shipSpeed;
    return shipStart + (shipEnd - shipStart) * t;
}

GraphicsTexture* BoatOverlayActivity::GetCurrentMapTexture() const
{
    return (m_elapsed / 1000) % 2 == 0 ? m_secondMapTexture : m_mapTexture;
}

void BoatOverlayActivity::Render(GraphicsCanvas& canvas) const
{
    const Color white(1.0f, 1.0f, 1.0f, 1.0f);
    GraphicsTexture* map = GetCurrentMapTexture();
    if (m_mapTexture && map) {
        const float w = static_cast<float>(m_mapTexture->GetWidth());
        const float h = static_cast<float>(m_mapTexture->GetHeight());
        canvas.RenderRect(Rect(kCenterX - w / 2.0f, kCenterY - h / 2.0f, w, h), Rect(0.0f, 0.0f, w, h),
                          map->GetTexture(), RENDER_BLEND_SRC_ALPHA, RENDER_BLEND_INV_SRC_ALPHA, white,
                          false);
    }
    if (m_shipTexture) {
        const Vec2 position = GetShipPosition();
        const Rect whole = m_shipTexture->GetRect();
        canvas.RenderRect(Rect(position.x, position.y, whole.width, whole.height), whole,
                          m_shipTexture->GetTexture(), RENDER_BLEND_SRC_ALPHA, RENDER_BLEND_INV_SRC_ALPHA,
                          white, false);
    }
}

} // namespace GAME
