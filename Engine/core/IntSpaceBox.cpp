#include "core/IntSpaceBox.h"

#include <algorithm>
#include <cstdint>

namespace GAME {
namespace {

// Centre and half-size of the union of the ranges [ca - ha, ca + ha] and [cb - hb, cb + hb].
void UnionAxis(int64_t ca, int64_t ha, int64_t cb, int64_t hb, int32_t& center, int32_t& half)
{
    const int64_t lo = std::min(ca - ha, cb - hb);
    const int64_t hi = std::max(ca + ha, cb + hb);
    // Results that leave the 32-bit range wrap like the stored offsets do.
    center = static_cast<int32_t>(static_cast<uint32_t>((lo + hi) / 2));
    half = static_cast<int32_t>(static_cast<uint32_t>((hi - lo) / 2));
}

} // namespace

IntSpaceBox IntSpaceBox::Union(const IntSpaceBox& o) const
{
    IntSpaceBox r;
    UnionAxis(center.x, halfSize.x, o.center.x, o.halfSize.x, r.center.x, r.halfSize.x);
    UnionAxis(center.y, halfSize.y, o.center.y, o.halfSize.y, r.center.y, r.halfSize.y);
    UnionAxis(center.z, halfSize.z, o.center.z, o.halfSize.z, r.center.z, r.halfSize.z);
    return r;
}

} // namespace GAME
