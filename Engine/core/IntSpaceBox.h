// Integer box of region and grid space: centre and half-size. Containment allows a margin of 3
// units on every side. Arithmetic is done in 64 bits, so extreme coordinates cannot overflow.
// A plain value; safe from any thread.
#pragma once

#include "core/IntVec3.h"

namespace GAME {

class IntSpaceBox
{
public:
    IntVec3 center;
    IntVec3 halfSize;

    constexpr IntSpaceBox() = default;
    constexpr IntSpaceBox(const IntVec3& center_, const IntVec3& halfSize_)
        : center(center_), halfSize(halfSize_)
    {
    }

    constexpr bool operator==(const IntSpaceBox& o) const
    {
        return center == o.center && halfSize == o.halfSize;
    }
    constexpr bool operator!=(const IntSpaceBox& o) const { return !(*this == o); }

    // c - h - 3 <= p <= c + h + 3 on every axis.
    constexpr bool Contains(const IntVec3& p) const
    {
        return InRange(p.x, center.x, halfSize.x) && InRange(p.y, center.y, halfSize.y) &&
               InRange(p.z, center.z, halfSize.z);
    }
    // The same on x and z only.
    constexpr bool ContainsXZ(const IntVec3& p) const
    {
        return InRange(p.x, center.x, halfSize.x) && InRange(p.z, center.z, halfSize.z);
    }
    // The ranges c +- h overlap on all three axes; touching counts.
    constexpr bool Intersects(const IntSpaceBox& o) const
    {
        return Overlap(center.x, halfSize.x, o.center.x, o.halfSize.x) &&
               Overlap(center.y, halfSize.y, o.center.y, o.halfSize.y) &&
               Overlap(center.z, halfSize.z, o.center.z, o.halfSize.z);
    }
    // The smallest box holding both; halves truncate toward zero.
    IntSpaceBox Union(const IntSpaceBox& other) const;

private:
    static constexpr long long kMargin = 3;
    static constexpr bool InRange(long long p, long long c, long long h)
    {
        return c - h - kMargin <= p && p <= c + h + kMargin;
    }
    static constexpr bool Overlap(long long ca, long long ha, long long cb, long long hb)
    {
        return ca - ha <= cb + hb && cb - hb <= ca + ha;
    }
};

} // namespace GAME
