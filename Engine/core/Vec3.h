// Three-dimensional float vector, the component type of every other geometric value.
// A plain value, copied freely. Safe from any thread.
#pragma once

#include "core/MathUtil.h"

#include <cmath>

namespace GAME {

class Vec3
{
public:
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    constexpr Vec3() = default;
    constexpr Vec3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

    constexpr Vec3 operator+(const Vec3& o) const { return Vec3(x + o.x, y + o.y, z + o.z); }
    constexpr Vec3 operator-(const Vec3& o) const { return Vec3(x - o.x, y - o.y, z - o.z); }
    constexpr Vec3 operator-() const { return Vec3(-x, -y, -z); }
    constexpr Vec3 operator*(float s) const { return Vec3(x * s, y * s, z * s); }
    // One division, then three multiplications; no guard for zero.
    constexpr Vec3 operator/(float s) const { return *this * (1.0f / s); }
    Vec3& operator+=(const Vec3& o)
    {
        x += o.x;
        y += o.y;
        z += o.z;
        return *this;
    }
    Vec3& operator-=(const Vec3& o)
    {
        x -= o.x;
        y -= o.y;
        z -= o.z;
        return *this;
    }
    Vec3& operator*=(float s)
    {
        x *= s;
        y *= s;
        z *= s;
        return *this;
    }
    // Exact comparison; NaN is unequal to everything.
    constexpr bool operator==(const Vec3& o) const { return x == o.x && y == o.y && z == o.z; }
    constexpr bool operator!=(const Vec3& o) const { return !(*this == o); }

    static constexpr float Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
    static constexpr Vec3 Cross(const Vec3& a, const Vec3& b)
    {
        return Vec3(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
    }
    static constexpr Vec3 ScaledBy(float s, const Vec3& v) { return Vec3(s * v.x, s * v.y, s * v.z); }
    // (1 - t) * a + t * b.
    static constexpr Vec3 Lerp(const Vec3& a, const Vec3& b, float t) { return a * (1.0f - t) + b * t; }
    // Per component a when a < b (Min) or a > b (Max), else b.
    static constexpr Vec3 Min(const Vec3& a, const Vec3& b)
    {
        return Vec3(a.x < b.x ? a.x : b.x, a.y < b.y ? a.y : b.y, a.z < b.z ? a.z : b.z);
    }
    static constexpr Vec3 Max(const Vec3& a, const Vec3& b)
    {
        return Vec3(a.x > b.x ? a.x : b.x, a.y > b.y ? a.y : b.y, a.z > b.z ? a.z : b.z);
    }

    constexpr float LengthSquared() const { return x * x + y * y + z * z; }
    float Length() const
    {
        const float sq = LengthSquared();
        return sq == 0.0f ? 0.0f : std::sqrt(sq);
    }
    // No guard for zero: callers pass non-zero vectors or test the result with IsFiniteVec3.
    Vec3 Unit() const { return *this * (1.0f / std::sqrt(x * x + y * y + z * z)); }
    // The part of this vector along a unit axis.
    constexpr Vec3 ProjectOnto(const Vec3& axis) const { return axis * Dot(*this, axis); }
    // A unit vector perpendicular to this unit vector; crossed with +Y unless nearly parallel to it.
    Vec3 GetPerpendicular() const
    {
        if (std::fabs(y) <= 1.0f - 0.0001f)
            return Vec3(-z, 0.0f, x).Unit();
        return Vec3(0.0f, z, -y).Unit();
    }
    // 0, 1 or 2: the component of largest magnitude, ties to the lower index.
    int GetMajorAxis() const
    {
        const float ax = std::fabs(x), ay = std::fabs(y), az = std::fabs(z);
        if (ax >= ay && ax >= az)
            return 0;
        if (ay >= ax && ay >= az)
            return 1;
        return 2;
    }
    constexpr Vec3 Copy() const { return *this; }

    // Reads " ( %f , %f , %f ) " in the C locale; components before the first one that fails
    // to parse are stored, the rest keep their values. Returns how many were read.
    int Parse(const char* text);
};

constexpr Vec3 operator*(float s, const Vec3& v)
{
    return Vec3::ScaledBy(s, v);
}

constexpr float LengthSquared(const Vec3& v)
{
    return v.LengthSquared();
}
inline float Length(const Vec3& v)
{
    return v.Length();
}
constexpr Vec3 Min(const Vec3& a, const Vec3& b)
{
    return Vec3::Min(a, b);
}
constexpr Vec3 Max(const Vec3& a, const Vec3& b)
{
    return Vec3::Max(a, b);
}
inline Vec3 AbsVec3(const Vec3& v)
{
    return Vec3(std::fabs(v.x), std::fabs(v.y), std::fabs(v.z));
}
inline bool IsFiniteVec3(const Vec3& v)
{
    return IsFinite(v.x) && IsFinite(v.y) && IsFinite(v.z);
}
inline void CopyVec3(Vec3& out, const Vec3& v)
{
    out = v;
}

} // namespace GAME
