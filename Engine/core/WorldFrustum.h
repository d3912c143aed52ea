// A frustum held relative to one region: the region (not owned; null means none) and the planes
// in its space. Views hand these to the world each frame. A value that owns its plane list; copy
// freely, one thread at a time. The source asks the world's regions for their offsets through
// RegionServices.
#pragma once

#include "core/Frustum.h"

namespace GAME {

class Region;

class WorldFrustum
{
public:
    WorldFrustum() = default;
    WorldFrustum(Region* region, const Frustum& frustum) : m_region(region), m_frustum(frustum) {}

    void Initialize(Region* region, const Frustum& frustum)
    {
        m_region = region;
        m_frustum = frustum;
    }

    Region* GetRegion() const { return m_region; }
    Frustum& GetRegionFrustum() { return m_frustum; }
    const Frustum& GetRegionFrustum() const { return m_frustum; }

    // The planes moved into another region's space with the integer offset difference. out is
    // left untouched when either region is null.
    void GetRelativeFrustum(const Region* region, Frustum& out) const;

private:
    Region* m_region = nullptr;
    Frustum m_frustum;
};

} // namespace GAME
