#include "core/Space.h"

#include <cstddef>

namespace GAME {

static_assert(sizeof(ABBox) == 24 && offsetof(ABBox, extents) == 12, "SpaceFrustum reads a box as six floats");

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

SpaceFrustum::SpaceFrustum(const Frustum& frustum)
    : m_frustum(frustum), m_count(static_cast<unsigned>(frustum.GetNumPlanes()))
{
#if defined(__SSE2__)
    m_groups = (m_count + 3) / 4;
    Group* groups = m_inlineGroups;
    if (m_groups > inlineGroups) {
        m_moreGroups.resize(m_groups);
        groups = m_moreGroups.data();
    }
    for (unsigned g = 0; g < m_groups; ++g) {
        alignas(16) float lanes[7][4] = {};
        alignas(16) uint32_t signs[3][4] = {};
        int valid = 0;
        for (unsigned lane = 0; lane < 4 && 4 * g + lane < m_count; ++lane) {
            const Plane& p = frustum.GetPlane(4 * g + lane);
            const float n[3] = {p.normal.x, p.normal.y, p.normal.z};
            for (int k = 0; k < 3; ++k) {
                lanes[k][lane] = n[k];
                lanes[4 + k][lane] = std::fabs(n[k]);
                signs[k][lane] = n[k] > 0.0f ? 0u : 0x80000000u;
            }
            lanes[3][lane] = p.d;
            valid |= 1 << lane;
        }
        Group& group = groups[g];
        group.nx = _mm_load_ps(lanes[0]);
        group.ny = _mm_load_ps(lanes[1]);
        group.nz = _mm_load_ps(lanes[2]);
        group.d = _mm_load_ps(lanes[3]);
        group.ax = _mm_load_ps(lanes[4]);
        group.ay = _mm_load_ps(lanes[5]);
        group.az = _mm_load_ps(lanes[6]);
        group.sx = _mm_castsi128_ps(_mm_load_si128(reinterpret_cast<const __m128i*>(signs[0])));
        group.sy = _mm_castsi128_ps(_mm_load_si128(reinterpret_cast<const __m128i*>(signs[1])));
        group.sz = _mm_castsi128_ps(_mm_load_si128(reinterpret_cast<const __m128i*>(signs[2])));
        group.valid = valid;
    }
    m_group = groups;
#endif
}

} // namespace GAME
