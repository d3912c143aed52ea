// Two-dimensional float vector: a plain value, copied freely. Safe from any thread.
#pragma once

#include <cmath>

namespace GAME {

class Vec2
{
public:
    float x = 0.0f;
    float y = 0.0f;

    constexpr Vec2() = default;
    constexpr Vec2(float x_, float y_) : x(x_), y(y_) {}

    constexpr Vec2 operator+(const Vec2& o) const { return Vec2(x + o.x, y + o.y); }
    constexpr Vec2 operator-(const Vec2& o) const { return Vec2(x - o.x, y - o.y); }
    constexpr Vec2 operator-() const { return Vec2(-x, -y); }
    constexpr Vec2 operator*(float s) const { return Vec2(x * s, y * s); }
    constexpr Vec2 operator/(float s) const { return *this * (1.0f / s); }
    Vec2& operator+=(const Vec2& o)
    {
        x += o.x;
        y += o.y;
        return *this;
    }
    Vec2& operator-=(const Vec2& o)
    {
        x -= o.x;
        y -= o.y;
        return *this;
    }
    Vec2& operator*=(float s)
    {
        x *= s;
        y *= s;
        return *this;
    }
    constexpr bool operator==(const Vec2& o) const { return x == o.x && y == o.y; }
    constexpr bool operator!=(const Vec2& o) const { return !(*this == o); }

    static constexpr float Dot(const Vec2& a, const Vec2& b) { return a.x * b.x + a.y * b.y; }
    // z of the 3-D cross product: positive when b turns counter-clockwise from a.
    static constexpr float Cross(const Vec2& a, const Vec2& b) { return a.x * b.y - a.y * b.x; }
    constexpr float LengthSquared() const { return x * x + y * y; }
    float Length() const { return std::sqrt(LengthSquared()); }
    // No guard for zero: the result is then not finite.
    Vec2 Unit() const { return *this * (1.0f / std::sqrt(x * x + y * y)); }
};

constexpr Vec2 operator*(float s, const Vec2& v)
{
    return v * s;
}

} // namespace GAME
