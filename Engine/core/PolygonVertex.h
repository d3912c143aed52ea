// Vertex and triangle records of the 2-D outline code (SimplePolygon, the ear clipper, the
// triangulation wrapper). Only x and y take part in the geometry; the height and the three 32-bit
// values ride along with the vertex so that whatever the outline came from can be recovered from
// the triangles. Plain values, safe from any thread.
#pragma once

#include "core/Vec2.h"

#include <cstdint>

namespace GAME {

struct PolygonVertex
{
    float x = 0.0f;
    float y = 0.0f;
    float height = 0.0f;
    uint32_t values[3] = {0, 0, 0};

    constexpr Vec2 Position() const { return Vec2(x, y); }

    // Exact equality of all six fields.
    bool operator==(const PolygonVertex& o) const
    {
        return x == o.x && y == o.y && height == o.height && values[0] == o.values[0] &&
               values[1] == o.values[1] && values[2] == o.values[2];
    }
    bool operator!=(const PolygonVertex& o) const { return !(*this == o); }

    // Lexicographic order over the six fields in order. NaN sorts after every number so that
    // ordered containers stay consistent on bad input.
    bool operator<(const PolygonVertex& o) const
    {
        if (int c = Compare(x, o.x))
            return c < 0;
        if (int c = Compare(y, o.y))
            return c < 0;
        if (int c = Compare(height, o.height))
            return c < 0;
        for (int i = 0; i < 3; ++i)
            if (values[i] != o.values[i])
                return values[i] < o.values[i];
        return false;
    }

private:
    static constexpr int Compare(float a, float b)
    {
        const bool aNaN = a != a, bNaN = b != b;
        if (aNaN || bNaN)
            return aNaN == bNaN ? 0 : (aNaN ? 1 : -1);
        return a < b ? -1 : (b < a ? 1 : 0);
    }
};
static_assert(sizeof(PolygonVertex) == 24, "polygon vertices are 24-byte records");

struct PolygonTriangle
{
    PolygonVertex v[3];
};
static_assert(sizeof(PolygonTriangle) == 72, "triangle records hold three vertices");

} // namespace GAME
