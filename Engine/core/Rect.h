// Float rectangle x, y, width, height (screen and texture space, y down). A plain value;
// safe from any thread.
#pragma once

#include "core/Vec2.h"

namespace GAME {

class Rect
{
public:
    float x = 0.0f;
    float y = 0.0f;
    float width = 0.0f;
    float height = 0.0f;

    constexpr Rect() = default;
    constexpr Rect(float x_, float y_, float width_, float height_)
        : x(x_), y(y_), width(width_), height(height_)
    {
    }

    constexpr float GetRight() const { return x + width; }
    constexpr float GetBottom() const { return y + height; }
    // Left and top edges inside, right and bottom outside.
    constexpr bool Contains(const Vec2& p) const
    {
        return p.x >= x && p.x < x + width && p.y >= y && p.y < y + height;
    }
    constexpr bool operator==(const Rect& o) const
    {
        return x == o.x && y == o.y && width == o.width && height == o.height;
    }
    constexpr bool operator!=(const Rect& o) const { return !(*this == o); }
};

} // namespace GAME
