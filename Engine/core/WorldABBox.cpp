#include "core/WorldABBox.h"

#include "core/MathUtil.h"

namespace GAME {

WorldVec3 WorldABBox::GetMin() const
{
    WorldVec3 corner = m_center;
    corner.Translate(-m_extents, false);
    return corner;
}

WorldVec3 WorldABBox::GetMax() const
{
    WorldVec3 corner = m_center;
    corner.Translate(m_extents, false);
    return corner;
}

bool WorldABBox::Contains(const WorldVec3& position) const
{
    if (!position.GetRegion() || !m_center.GetRegion())
        return false;
    const Vec3 d = position - m_center;
    return -m_extents.x <= d.x && d.x <= m_extents.x && -m_extents.y <= d.y && d.y <= m_extents.y &&
           -m_extents.z <= d.z && d.z <= m_extents.z;
}

float WorldABBox::GetIntersection(const WorldRay& ray) const
{
    if (!ray.GetRegion() || !m_center.GetRegion())
        return gInfinity;
    const ABBox box(Vec3(), m_extents);
    return box.GetIntersection(Ray(ray.origin - m_center, ray.direction));
}

} // namespace GAME
