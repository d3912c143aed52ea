#include "core/TriangleBoxSeparation.h"

#include "core/MathUtil.h"

#include <algorithm>
#include <cmath>

namespace GAME {

namespace {

// The two candidate rules of one axis: penetrations reached by moving the box along -axis (o1,
// when the axis points against the normal) or along +axis (o2, when it points with it).
void ConsiderAxis(const Vec3& candidate, float o1, float o2, float alongNormal, float& depth, Vec3& axis)
{
    if (o1 < depth && alongNormal < 0.0f) {
        depth = o1;
        axis = -candidate;
    }
    if (o2 < depth && alongNormal > 0.0f) {
        depth = o2;
        axis = candidate;
    }
}

// The direction of v as a vector of unit length; false when it has none that floats can hold.
// The vector is first scaled by its largest component: the cross products of short or nearly
// parallel edges have components so small that their squares lose their digits (or vanish), and
// dividing by the root of that sum gives a vector far from unit length.
bool UnitAxis(const Vec3& v, Vec3& unit)
{
    const float largest = std::max({std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)});
    if (!(largest > 0.0f) || !IsFinite(largest))
        return false;
    unit = (v * (1.0f / largest)).Unit();
    return IsFiniteVec3(unit);
}

} // namespace

void ProjectTriangleOnAxis(const Vec3& axis, const Vec3 triangle[3], float& min, float& max)
{
    min = max = Vec3::Dot(axis, triangle[0]);
    for (int i = 1; i < 3; ++i) {
        const float p = Vec3::Dot(axis, triangle[i]);
        min = std::min(min, p);
        max = std::max(max, p);
    }
}

void ProjectOBBoxOnAxis(const Vec3& axis, const OBBox& box, float& min, float& max)
{
    const float c = Vec3::Dot(axis, box.coords.origin);
    const float r = std::fabs(Vec3::Dot(axis, box.coords.xAxis)) * box.extents.x +
                    std::fabs(Vec3::Dot(axis, box.coords.yAxis)) * box.extents.y +
                    std::fabs(Vec3::Dot(axis, box.coords.zAxis)) * box.extents.z;
    min = c - r;
    max = c + r;
}

bool TestTriangleOBBoxSeparation(const Vec3 triangle[3], const OBBox& box, float& depth, Vec3& axis)
{
    const Vec3& p = triangle[0];
    const Vec3& q = triangle[1];
    const Vec3& r = triangle[2];
    // A triangle without area has no normal to push along.
    Vec3 normal;
    if (!UnitAxis(Vec3::Cross(q - p, r - p), normal))
        return false;

    const float d = Vec3::Dot(normal, p);
    float bmin = 0.0f, bmax = 0.0f;
    ProjectOBBoxOnAxis(normal, box, bmin, bmax);
    if (bmax < d || d < bmin)
        return false;
    depth = d - bmin;
    axis = normal;

    const Vec3* boxAxes[3] = {&box.coords.xAxis, &box.coords.yAxis, &box.coords.zAxis};
    const float extents[3] = {box.extents.x, box.extents.y, box.extents.z};
    for (int k = 0; k < 3; ++k) {
        const Vec3& a = *boxAxes[k];
        float tmin = 0.0f, tmax = 0.0f;
        ProjectTriangleOnAxis(a, triangle, tmin, tmax);
        const float c = Vec3::Dot(a, box.coords.origin);
        const float e = extents[k];
        if (c + e < tmin || tmax < c - e)
            return false;
        ConsiderAxis(a, (c + e) - tmin, tmax - (c - e), Vec3::Dot(normal, a), depth, axis);
    }

    const Vec3 edges[3] = {q - p, r - p, r - q};
    for (const Vec3& edge : edges) {
        for (int k = 0; k < 3; ++k) {
            // An edge parallel to a box axis gives no axis to test.
            Vec3 candidate;
            if (!UnitAxis(Vec3::Cross(edge, *boxAxes[k]), candidate))
                continue;
            float tmin = 0.0f, tmax = 0.0f;
            ProjectTriangleOnAxis(candidate, triangle, tmin, tmax);
            ProjectOBBoxOnAxis(candidate, box, bmin, bmax);
            if (bmax < tmin || tmax < bmin)
                return false;
            ConsiderAxis(candidate, bmax - tmin, tmax - bmin, Vec3::Dot(normal, candidate), depth, axis);
        }
    }
    // Non-finite box data decides nothing above; it must not come out as a contact.
    return IsFinite(depth) && IsFiniteVec3(axis);
}

void ClipConvexPolygonByPlane(const Plane& plane, ClipPolygon& polygon)
{
    // A count outside the capacity is treated as the points the polygon can hold.
    const int n = std::clamp<int32_t>(polygon.count, 0, ClipPolygon::kMaxPoints);
    polygon.count = n;
    if (n == 0)
        return;

    const float tolerance = 0.0001f * std::fabs(plane.d);
    float s[ClipPolygon::kMaxPoints];
    int inside = 0;
    for (int i = 0; i < n; ++i) {
        s[i] = Vec3::Dot(plane.normal, polygon.points[i]) + plane.d + tolerance;
        inside += s[i] >= 0.0f;
    }
    if (inside == 0) {
        polygon.count = 0;
        return;
    }
    if (inside == n)
        return;

    auto isInside = [&](int i) { return s[(i + n) % n] >= 0.0f; };
    auto crossing = [&](int in, int out) {
        const Vec3& p = polygon.points[in];
        const Vec3& q = polygon.points[out];
        return p + (q - p) * (s[in] / (s[in] - s[out]));
    };

    // The run of points in front begins after a point behind the plane.
    int start = 0;
    while (!(isInside(start) && !isInside(start - 1)))
        ++start;

    // One more than the capacity at most (a run of 15 points plus two crossings).
    Vec3 result[ClipPolygon::kMaxPoints + 1];
    int count = 0;
    result[count++] = crossing(start, (start + n - 1) % n);
    int last = start;
    for (int i = start; isInside(i); ++i) {
        last = i % n;
        result[count++] = polygon.points[last];
    }
    result[count++] = crossing(last, (last + 1) % n);

    if (count > ClipPolygon::kMaxPoints) {
        // Drop the corner whose removal loses the least area; the polygon stays convex and
        // inside the clipped one.
        int flattest = 0;
        float smallest = INFINITY;
        for (int i = 0; i < count; ++i) {
            const Vec3& prev = result[(i + count - 1) % count];
            const Vec3& next = result[(i + 1) % count];
            const float area = Vec3::Cross(result[i] - prev, next - prev).LengthSquared();
            if (area < smallest) {
                smallest = area;
                flattest = i;
            }
        }
        std::copy(result + flattest + 1, result + count, result + flattest);
        --count;
    }
    std::copy(result, result + count, polygon.points);
    polygon.count = count;
}

} // namespace GAME
