#include "scene/ShadowFocus.h"

#include "core/Intersect.h"
#include "core/MathUtil.h"
#include "core/Ray.h"

#include <cmath>

namespace GAME {

namespace {

constexpr float kInsideTolerance = 0.001f;

bool InsideAll(const Frustum& volume, const Vec3& point)
{
    for (size_t m = volume.GetNumPlanes(); m-- > 0;)
        if (volume.GetPlane(m).GetDistance(point) < -kInsideTolerance)
            return false;
    return true;
}

} // namespace

Frustum ComputeCasterVolume(const Frustum& volume, const Vec3& lightDirection)
{
    Frustum result;
    const size_t count = volume.GetNumPlanes();
    for (size_t i = 0; i < count; ++i) {
        const Plane& pi = volume.GetPlane(i);
        if (!(Vec3::Dot(pi.normal, lightDirection) < 0.0f))
            continue;
        result.AddPlane(pi);
        for (size_t j = 0; j < count; ++j) {
            if (j == i)
                continue;
            const Plane& pj = volume.GetPlane(j);
            if (!(Vec3::Dot(pj.normal, lightDirection) >= 0.0f))
                continue;
            Ray line;
            if (!IntersectPlanes(pi, pj, line))
                continue;
            // The plane holds the edge line and the light direction; its normal is a
            // non-negative mix of the two planes' normals, so it holds the whole volume.
            const Vec3 edge = line.direction;
            const float edgeLength = edge.Length();
            if (!(edgeLength > 0.0f))
                continue;
            const Vec3 side = Vec3::Cross(edge * (1.0f / edgeLength), -lightDirection);
            const float sideLength = side.Length();
            if (!(sideLength > 0.0f))
                continue;
            const Vec3 normal = side * (1.0f / sideLength);
            result.AddPlane(Plane(normal, -Vec3::Dot(normal, line.origin)));
        }
    }
    return result;
}

int ComputeVolumeCorners(Vec3* out, int maxCount, const Frustum& volume)
{
    const size_t count = volume.GetNumPlanes();
    if (count < 3 || maxCount <= 0 || !out)
        return 0;
    int written = 0;
    for (size_t i = 0; i < count; ++i) {
        const Plane& pi = volume.GetPlane(i);
        for (size_t j = i + 1; j < count; ++j) {
            const Plane& pj = volume.GetPlane(j);
            const float c = Vec3::Dot(pi.normal, pj.normal);
            const float den = 1.0f - c * c;
            if (den == 0.0f)
                continue;
            const Vec3 p0 = pi.normal * ((-pi.d + c * pj.d) / den) + pj.normal * ((-pj.d + c * pi.d) / den);
            const Vec3 u = Vec3::Cross(pi.normal, pj.normal);
            float lower = -gInfinity;
            float upper = gInfinity;
            for (size_t l = j + 1; l < count; ++l) {
                const Plane& pl = volume.GetPlane(l);
                const float D = Vec3::Dot(pl.normal, u);
                if (D == 0.0f)
                    continue;
                const float t = -(Vec3::Dot(pl.normal, p0) + pl.d) / D;
                if (D < 0.0f) {
                    if (!(t < upper))
                        continue;
                    upper = t;
                } else {
                    if (!(t > lower))
                        continue;
                    lower = t;
                }
                const Vec3 point = p0 + u * t;
                if (!IsFiniteVec3(point) || !InsideAll(volume, point))
                    continue;
                out[written++] = point;
                if (written == maxCount)
                    return written;
            }
        }
    }
    return written;
}

} // namespace GAME
