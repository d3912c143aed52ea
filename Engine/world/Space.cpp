#include "world/Space.h"

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
    Row* rows = m_inlineRows;
    if (m_count > inlinePlanes) {
        m_moreRows.resize(m_count);
        rows = m_moreRows.data();
    }
    for (unsigned i = 0; i < m_count; ++i) {
        const Plane& p = frustum.GetPlane(i);
        rows[i] = Row{p.normal.x, p.normal.y, p.normal.z, p.d,
                      std::fabs(p.normal.x), std::fabs(p.normal.y), std::fabs(p.normal.z)};
    }
    m_row = rows;
#if defined(__SSE2__)
    m_groups = (m_count + 3) / 4;
    Group* groups = m_inlineGroups;
    if (m_groups > inlinePlanes / 4) {
        m_moreGroups.resize(m_groups);
        groups = m_moreGroups.data();
    }
    for (unsigned g = 0; g < m_groups; ++g) {
        alignas(16) float nx[4] = {}, ny[4] = {}, nz[4] = {}, d[4] = {};
        alignas(16) uint32_t sx[4] = {}, sy[4] = {}, sz[4] = {};
        int valid = 0;
        for (unsigned lane = 0; lane < 4 && 4 * g + lane < m_count; ++lane) {
            const Row& r = rows[4 * g + lane];
            nx[lane] = r.nx;
            ny[lane] = r.ny;
            nz[lane] = r.nz;
            d[lane] = r.d;
            sx[lane] = r.nx > 0.0f ? 0u : 0x80000000u;
            sy[lane] = r.ny > 0.0f ? 0u : 0x80000000u;
            sz[lane] = r.nz > 0.0f ? 0u : 0x80000000u;
            valid |= 1 << lane;
        }
        Group& group = groups[g];
        group.nx = _mm_load_ps(nx);
        group.ny = _mm_load_ps(ny);
        group.nz = _mm_load_ps(nz);
        group.d = _mm_load_ps(d);
        group.sx = _mm_castsi128_ps(_mm_load_si128(reinterpret_cast<const __m128i*>(sx)));
        group.sy = _mm_castsi128_ps(_mm_load_si128(reinterpret_cast<const __m128i*>(sy)));
        group.sz = _mm_castsi128_ps(_mm_load_si128(reinterpret_cast<const __m128i*>(sz)));
        group.valid = valid;
    }
    m_group = groups;
#endif
}

} // namespace GAME
