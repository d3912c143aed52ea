// An integer rectangle of an area that must be rebuilt: x, y, width, height. A plain value; the
// default constructor leaves the fields unset, as the sets that fill them expect.
#pragma once

#include <cstdint>

namespace GAME {

class DirtyRect
{
public:
    DirtyRect() = default;
    DirtyRect(int32_t x_, int32_t y_, int32_t width_, int32_t height_)
        : x(x_), y(y_), width(width_), height(height_)
    {
    }

    // True when the rectangles overlap or touch (along an edge or at a corner).
    static bool Overlap(const DirtyRect& a, const DirtyRect& b);

    bool operator==(const DirtyRect& o) const
    {
        return x == o.x && y == o.y && width == o.width && height == o.height;
    }

    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

} // namespace GAME
