// Scalar helpers shared by all geometry: float min/max, trigonometry in double precision,
// degree conversion, finite tests, wrapping, powers of two, an integer hash and a bit flag
// handle. Pure functions of their arguments; safe from any thread.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace GAME {

// The distance that ray and sweep queries report for a miss, and the start of min/max
// accumulations. Constant-initialised, so it already holds +infinity while other static
// initialisers run.
inline constexpr float gInfinity = std::numeric_limits<float>::infinity();

// a when a < b, else b (so Min(NaN, x) is x and Min(x, NaN) is NaN).
inline constexpr float Min(float a, float b)
{
    return a < b ? a : b;
}
inline constexpr float Max(float a, float b)
{
    return a > b ? a : b;
}

inline constexpr int32_t Clamp(int32_t x, int32_t lo, int32_t hi)
{
    int32_t v = x > lo ? x : lo;
    return v < hi ? v : hi;
}

inline double Abs(float f)
{
    return std::fabs(static_cast<double>(f));
}
inline double Sqrt(float f)
{
    return std::sqrt(static_cast<double>(f));
}
inline double Sin(float radians)
{
    return std::sin(static_cast<double>(radians));
}
inline double Cos(float radians)
{
    return std::cos(static_cast<double>(radians));
}
inline double Tan(float radians)
{
    return std::tan(static_cast<double>(radians));
}
inline double ACos(float f)
{
    return std::acos(static_cast<double>(f));
}

inline constexpr float DegreesToRadians(float degrees)
{
    return degrees * 0.017453292f;
}
inline constexpr float RadiansToDegrees(float radians)
{
    return radians * 57.295776f;
}

inline bool IsFinite(float f)
{
    return std::isfinite(f);
}

// Wraps v into [lo, hi) for hi > lo.
float WrapValue(float v, float lo, float hi);

// Smallest power of two >= x; x itself when it is one; 0 for 0 and for x above 2^31.
uint32_t NextPowerOfTwo(uint32_t x);

// True for 0 as well.
inline constexpr bool IsPowerOfTwo(uint32_t x)
{
    return (x & (0u - x)) == x;
}

inline constexpr uint32_t HashInt(uint32_t k)
{
    k += ~(k << 15);
    k ^= k >> 10;
    k *= 9u;
    k ^= k >> 6;
    k += ~(k << 11);
    k ^= k >> 16;
    return k;
}

// Names some bits of a 32-bit word owned elsewhere; the word must outlive the handle.
class BitFlag
{
public:
    constexpr BitFlag(uint32_t* word, uint32_t mask) : m_word(word), m_mask(mask) {}

    void Set(bool on)
    {
        if (on)
            *m_word |= m_mask;
        else
            *m_word &= ~m_mask;
    }
    bool IsSet() const { return (*m_word & m_mask) != 0; }

private:
    uint32_t* m_word;
    uint32_t m_mask;
};

} // namespace GAME
