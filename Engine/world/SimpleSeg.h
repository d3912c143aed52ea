// A line segment between two points of one space: the dynamic lines that effect entities emit
// along. A plain value.
#pragma once

#include "core/Vec3.h"

namespace GAME {

struct SimpleSeg
{
    Vec3 p0;
    Vec3 p1;

    constexpr SimpleSeg() = default;
    constexpr SimpleSeg(const Vec3& a, const Vec3& b) : p0(a), p1(b) {}
};

} // namespace GAME
