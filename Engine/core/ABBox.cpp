#include "core/ABBox.h"

#include "core/OBBox.h"

#include <cmath>

namespace GAME {

ABBox ABBox::FromOBBox(const OBBox& box)
{
    const Coords& c = box.coords;
    const Vec3& e = box.extents;
    return ABBox(c.origin,
                 Vec3(std::fabs(c.xAxis.x * e.x) + std::fabs(c.yAxis.x * e.y) + std::fabs(c.zAxis.x * e.z),
                      std::fabs(c.xAxis.y * e.x) + std::fabs(c.yAxis.y * e.y) + std::fabs(c.zAxis.y * e.z),
                      std::fabs(c.xAxis.z * e.x) + std::fabs(c.yAxis.z * e.y) + std::fabs(c.zAxis.z * e.z)));
}

std::array<Vec3, 8> ABBox::GetCorners() const
{
    const Vec3 lo = GetMin();
    const Vec3 hi = GetMax();
    return {Vec3(lo.x, lo.y, lo.z), Vec3(hi.x, lo.y, lo.z), Vec3(hi.x, lo.y, hi.z), Vec3(lo.x, lo.y, hi.z),
            Vec3(lo.x, hi.y, lo.z), Vec3(hi.x, hi.y, lo.z), Vec3(hi.x, hi.y, hi.z), Vec3(lo.x, hi.y, hi.z)};
}

float ABBox::GetIntersection(const Ray& ray) const
{
    const float lo[3] = {center.x - extents.x, center.y - extents.y, center.z - extents.z};
    const float hi[3] = {center.x + extents.x, center.y + extents.y, center.z + extents.z};
    const float origin[3] = {ray.origin.x, ray.origin.y, ray.origin.z};
    const float direction[3] = {ray.direction.x, ray.direction.y, ray.direction.z};

    bool inside = true;
    float t[3];
    for (int k = 0; k < 3; ++k) {
        float nearFace;
        if (origin[k] < lo[k])
            nearFace = lo[k];
        else if (origin[k] > hi[k])
            nearFace = hi[k];
        else {
            t[k] = -1.0f;
            continue;
        }
        inside = false;
        t[k] = direction[k] != 0.0f ? (nearFace - origin[k]) / direction[k] : -1.0f;
    }
    if (inside)
        return 0.0f;

    int axis = 0;
    for (int k = 1; k < 3; ++k)
        if (t[k] > t[axis])
            axis = k;
    const float tHit = t[axis];
    if (tHit < 0.0f)
        return gInfinity;
    for (int k = 0; k < 3; ++k) {
        if (k == axis)
            continue;
        const float p = origin[k] + direction[k] * tHit;
        if (p < lo[k] || p > hi[k])
            return gInfinity;
    }
    return tHit;
}

} // namespace GAME
