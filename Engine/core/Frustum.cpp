#include "core/Frustum.h"

namespace GAME {

void Frustum::Transform(const Coords& coords)
{
    for (Plane& plane : planes)
        plane = TransformPlane(coords, plane);
}

void Frustum::Translate(const Vec3& offset)
{
    for (Plane& plane : planes)
        plane.d -= Vec3::Dot(plane.normal, offset);
}

Frustum Frustum::GetExpanded(float distance) const
{
    Frustum expanded(*this);
    for (Plane& plane : expanded.planes)
        plane.d += distance;
    return expanded;
}

bool Frustum::IntersectsSphere(const Sphere& sphere, float margin) const
{
    if (planes.empty())
        return false;
    for (const Plane& plane : planes)
        if (plane.GetDistance(sphere.center) + margin < -sphere.radius)
            return false;
    return true;
}

} // namespace GAME
