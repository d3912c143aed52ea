#include "core/OBBox.h"

#include <cmath>
#include <utility>

namespace GAME {

std::array<Vec3, 8> OBBox::GetCorners() const
{
    const Vec3 x = coords.xAxis * extents.x;
    const Vec3 y = coords.yAxis * extents.y;
    const Vec3 z = coords.zAxis * extents.z;
    const Vec3& c = coords.origin;
    return {c - x - y - z, c + x - y - z, c + x - y + z, c - x - y + z,
            c - x + y - z, c + x + y - z, c + x + y + z, c - x + y + z};
}

float OBBox::IntersectRay(const Ray& ray) const
{
    const Vec3* const axes[3] = {&coords.xAxis, &coords.yAxis, &coords.zAxis};
    const float half[3] = {extents.x, extents.y, extents.z};
    const Vec3 p = coords.origin - ray.origin;
    float tMin = -gInfinity;
    float tMax = gInfinity;
    bool inside = true;
    for (int k = 0; k < 3; ++k) {
        const float e = Vec3::Dot(*axes[k], p);
        const float f = Vec3::Dot(*axes[k], ray.direction);
        const float h = half[k];
        if (std::fabs(e) >= h)
            inside = false;
        if (std::fabs(f) > 0.0001f) {
            float t1 = (e + h) / f;
            float t2 = (e - h) / f;
            if (t1 > t2)
                std::swap(t1, t2);
            if (t1 > tMin)
                tMin = t1;
            if (t2 < tMax)
                tMax = t2;
            if (tMin > tMax || tMax < 0.0f)
                return gInfinity;
        } else if (e < -h || e > h)
            return gInfinity;
    }
    if (inside)
        return 0.0f;
    return tMin > 0.0f ? tMin : tMax;
}

} // namespace GAME
