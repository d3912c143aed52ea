// A ray whose origin is held relative to a region; the direction lies in that region's space.
// Distances along it are in units of the direction's length. A plain value; copy freely.
#pragma once

#include "core/Ray.h"
#include "core/WorldVec3.h"

namespace GAME {

class WorldRay
{
public:
    WorldVec3 origin;
    Vec3 direction;

    WorldRay() = default;
    WorldRay(const WorldVec3& origin_, const Vec3& direction_) : origin(origin_), direction(direction_) {}

    Region* GetRegion() const { return origin.GetRegion(); }
    // The ray in its region's space.
    Ray GetRegionRay() const { return Ray(origin.GetRegionPosition(), direction); }
};

} // namespace GAME
