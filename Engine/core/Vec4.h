// Four-component float vector: homogeneous points and planes handed through a Mat4.
// A plain value; safe from any thread.
#pragma once

#include "core/Vec3.h"

namespace GAME {

class Vec4
{
public:
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 0.0f;

    constexpr Vec4() = default;
    constexpr Vec4(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}
    constexpr Vec4(const Vec3& v, float w_) : x(v.x), y(v.y), z(v.z), w(w_) {}

    constexpr Vec3 GetVec3() const { return Vec3(x, y, z); }
    constexpr bool operator==(const Vec4& o) const { return x == o.x && y == o.y && z == o.z && w == o.w; }
    constexpr bool operator!=(const Vec4& o) const { return !(*this == o); }
    static constexpr float Dot(const Vec4& a, const Vec4& b)
    {
        return a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
    }
};

} // namespace GAME
