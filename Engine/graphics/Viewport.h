// The rectangle of the render target that drawing maps to, in whole pixels. A plain value; safe
// from any thread.
#pragma once

#include "core/Rect.h"
#include "core/Vec2.h"

#include <cstdint>

namespace GAME {

class Viewport
{
public:
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;

    constexpr Viewport() = default;
    constexpr Viewport(int32_t x_, int32_t y_, int32_t width_, int32_t height_)
        : x(x_), y(y_), width(width_), height(height_)
    {
    }

    // Width / height; 0 for a viewport without height.
    float GetAspectRatio() const;
    Rect GetRect() const;
    // A pixel position mapped to -1 .. 1 across the viewport (y is not flipped); 0 on an axis of
    // zero size.
    Vec2 ConvertFromDeviceCoords(const Vec2& point) const;

    constexpr bool operator==(const Viewport& o) const
    {
        return x == o.x && y == o.y && width == o.width && height == o.height;
    }
    constexpr bool operator!=(const Viewport& o) const { return !(*this == o); }
};

} // namespace GAME
