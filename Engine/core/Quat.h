// Rotation quaternion x, y, z, w (w last). Conversions to frames and matrices use it as given;
// conversions from frames take the axes as rows. A plain value; safe from any thread.
#pragma once

#include <cmath>

namespace GAME {

class Coords;

class Quat
{
public:
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 1.0f;

    constexpr Quat() = default;
    constexpr Quat(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}

    constexpr bool operator==(const Quat& o) const { return x == o.x && y == o.y && z == o.z && w == o.w; }
    constexpr bool operator!=(const Quat& o) const { return !(*this == o); }
    constexpr Quat operator-() const { return Quat(-x, -y, -z, -w); }

    static constexpr float Dot(const Quat& a, const Quat& b)
    {
        return a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
    }

    // The rotation whose frame has these rows as axes: m0..m8 are X, Y, Z in turn.
    static Quat FromMatrix(const float rows[9]);
    // The rotation of the frame's axes; the origin is ignored.
    static Quat FromMatrix(const Coords& coords);

    // Scales to unit length in place; a zero quaternion becomes non-finite.
    void Normalize()
    {
        const float k = 1.0f / std::sqrt(x * x + y * y + z * z + w * w);
        x *= k;
        y *= k;
        z *= k;
        w *= k;
    }
    // Normalised linear blend on the shorter arc; t = 0 gives a, t = 1 gives b (or -b).
    static Quat Nlerp(const Quat& a, const Quat& b, float t)
    {
        float wa = 1.0f - t;
        if (Dot(a, b) < 0.0f)
            wa = -wa;
        Quat r(wa * a.x + t * b.x, wa * a.y + t * b.y, wa * a.z + t * b.z, wa * a.w + t * b.w);
        r.Normalize();
        return r;
    }
};

} // namespace GAME
