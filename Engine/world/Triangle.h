// Three corners of a triangle (36 bytes): the shape portals are made of. A plain value.
#pragma once

#include "core/Vec3.h"

namespace GAME {

class Triangle
{
public:
    Vec3 corners[3];

    constexpr Triangle() = default;
    constexpr Triangle(const Vec3& a, const Vec3& b, const Vec3& c) : corners{a, b, c} {}
};

static_assert(sizeof(Triangle) == 36, "portal triangles are three packed corners");

} // namespace GAME
