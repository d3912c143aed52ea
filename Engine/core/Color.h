// Colour of four floats r, g, b, a, each 0 to 1 in use (values outside are kept until packed).
// A plain value; safe from any thread.
#pragma once

#include <cstdint>

namespace GAME {

class Color
{
public:
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
    float a = 0.0f;

    constexpr Color() = default;
    constexpr Color(float r_, float g_, float b_, float a_) : r(r_), g(g_), b(b_), a(a_) {}

    constexpr Color operator+(const Color& o) const { return Color(r + o.r, g + o.g, b + o.b, a + o.a); }
    constexpr Color operator-(const Color& o) const { return Color(r - o.r, g - o.g, b - o.b, a - o.a); }
    constexpr Color operator*(float s) const { return Color(r * s, g * s, b * s, a * s); }
    // Component-wise (modulation).
    constexpr Color operator*(const Color& o) const { return Color(r * o.r, g * o.g, b * o.b, a * o.a); }
    constexpr bool operator==(const Color& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
    constexpr bool operator!=(const Color& o) const { return !(*this == o); }

    // (1 - t) * from + t * to, all four channels.
    static constexpr Color Lerp(const Color& from, const Color& to, float t)
    {
        return from * (1.0f - t) + to * t;
    }

    // The device's 32-bit form: alpha in the top byte, then red, green, blue; each channel the
    // float times 255 rounded to nearest, held to 0..255 so a channel never spills into the next.
    uint32_t PackARGB() const;
};

} // namespace GAME
