// Tolerant comparisons of math values for the core tests.
#pragma once

#include "core/Coords.h"
#include "core/Quat.h"
#include "core/Vec2.h"
#include "core/Vec3.h"

#include <gtest/gtest.h>

#include <cmath>

namespace GAME::Test {

inline ::testing::AssertionResult Near(const Vec3& a, const Vec3& b, float eps = 1e-5f)
{
    if (std::fabs(a.x - b.x) <= eps && std::fabs(a.y - b.y) <= eps && std::fabs(a.z - b.z) <= eps)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << a.x << ", " << a.y << ", " << a.z << ") vs (" << b.x
                                         << ", " << b.y << ", " << b.z << ")";
}

inline ::testing::AssertionResult Near(const Vec2& a, const Vec2& b, float eps = 1e-5f)
{
    if (std::fabs(a.x - b.x) <= eps && std::fabs(a.y - b.y) <= eps)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "(" << a.x << ", " << a.y << ") vs (" << b.x << ", " << b.y << ")";
}

inline ::testing::AssertionResult Near(const Coords& a, const Coords& b, float eps = 1e-5f)
{
    const Vec3* va[4] = {&a.xAxis, &a.yAxis, &a.zAxis, &a.origin};
    const Vec3* vb[4] = {&b.xAxis, &b.yAxis, &b.zAxis, &b.origin};
    for (int i = 0; i < 4; ++i)
        if (auto r = Near(*va[i], *vb[i], eps); !r)
            return r << " in row " << i;
    return ::testing::AssertionSuccess();
}

// q and -q are the same rotation.
inline ::testing::AssertionResult SameRotation(const Quat& a, const Quat& b, float eps = 1e-5f)
{
    auto close = [eps](const Quat& p, const Quat& q) {
        return std::fabs(p.x - q.x) <= eps && std::fabs(p.y - q.y) <= eps && std::fabs(p.z - q.z) <= eps &&
               std::fabs(p.w - q.w) <= eps;
    };
    if (close(a, b) || close(a, -b))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "(" << a.x << ", " << a.y << ", " << a.z << ", " << a.w << ") vs (" << b.x << ", " << b.y
           << ", " << b.z << ", " << b.w << ")";
}

// Unit quaternion of a rotation by angle about a unit axis.
inline Quat AxisAngle(const Vec3& axis, float angle)
{
    const float s = std::sin(angle * 0.5f);
    return Quat(axis.x * s, axis.y * s, axis.z * s, std::cos(angle * 0.5f));
}

} // namespace GAME::Test
