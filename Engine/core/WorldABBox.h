// An axis-aligned box whose centre is held relative to a region; the half-extents lie along the
// region's axes. A plain value; the cross-region operations follow the world's threading rules.
#pragma once

#include "core/ABBox.h"
#include "core/WorldRay.h"
#include "core/WorldVec3.h"

namespace GAME {

class WorldABBox
{
public:
    WorldABBox() = default;
    WorldABBox(const WorldVec3& center, const Vec3& extents) : m_center(center), m_extents(extents) {}

    const WorldVec3& GetCenter() const { return m_center; }
    const Vec3& GetExtents() const { return m_extents; }
    Region* GetRegion() const { return m_center.GetRegion(); }
    // The box in its region's space.
    ABBox GetRegionBox() const { return ABBox(m_center.GetRegionPosition(), m_extents); }

    // The corners reached by moving the centre (Translate without portals), so they may lie in
    // another region than the centre.
    WorldVec3 GetMin() const;
    WorldVec3 GetMax() const;

    // Bounds included; false when either region is null.
    bool Contains(const WorldVec3& position) const;
    // Distance along the ray to the box (ABBox::GetIntersection); gInfinity on a miss or when
    // either region is null.
    float GetIntersection(const WorldRay& ray) const;

private:
    WorldVec3 m_center;
    Vec3 m_extents;
};

} // namespace GAME
