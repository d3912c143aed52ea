#include "graphics/Viewport.h"

namespace GAME {

float Viewport::GetAspectRatio() const
{
    // A window minimised to nothing must not turn projections into infinities.
    if (height == 0)
        return 0.0f;
    return static_cast<float>(width) / static_cast<float>(height);
}

Rect Viewport::GetRect() const
{
    return Rect(static_cast<float>(x), static_cast<float>(y), static_cast<float>(width),
                static_cast<float>(height));
}

Vec2 Viewport::ConvertFromDeviceCoords(const Vec2& point) const
{
    Vec2 result;
    if (width != 0)
        result.x = 2.0f * (point.x - static_cast<float>(x)) / static_cast<float>(width) - 1.0f;
    if (height != 0)
        result.y = 2.0f * (point.y - static_cast<float>(y)) / static_cast<float>(height) - 1.0f;
    return result;
}

} // namespace GAME
