#include "core/WorldFrustum.h"

#include "core/RegionServices.h"

namespace GAME {

void WorldFrustum::GetRelativeFrustum(const Region* region, Frustum& out) const
{
    if (!region || !m_region)
        return;
    // A point p here is p + off there, so each plane keeps its normal and gives up n . off.
    const Vec3 off = RegionServices::OffsetDifference(m_region, region);
    const size_t count = m_frustum.GetNumPlanes();
    out.SetNumPlanes(count);
    for (size_t i = 0; i < count; ++i) {
        const Plane& plane = m_frustum.GetPlane(i);
        out.GetPlane(i) = Plane(plane.normal, plane.d - Vec3::Dot(plane.normal, off));
    }
}

} // namespace GAME
