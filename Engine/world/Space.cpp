#include "world/Space.h"

namespace GAME {

int ClassifyBoxAgainstPlanes(const Vec3& center, const Vec3& half, const Frustum& frustum, uint32_t& mask)
{
    int result = 2;
    const size_t count = frustum.GetNumPlanes();
    for (size_t i = 0; i < count; ++i) {
        const uint32_t bit = i < 32 ? (1u << i) : 0u;
        if (i < 32 && !(mask & bit))
            continue;
        const Plane& plane = frustum.GetPlane(i);
        const Vec3& n = plane.normal;
        // Distance of the corner furthest along the normal, and of the opposite corner.
        const float c = Vec3::Dot(n, center) + plane.d;
        const float r = std::fabs(n.x) * half.x + std::fabs(n.y) * half.y + std::fabs(n.z) * half.z;
        if (c + r < 0.0f)
            return 0;
        if (c - r < 0.0f)
            result = 1;
        else
            mask &= ~bit;
    }
    return result;
}

} // namespace GAME
