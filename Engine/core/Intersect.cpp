#include "core/Intersect.h"

#include <utility>

namespace GAME {
namespace {

float Cross2D(const Vec2& u, const Vec2& v)
{
    return u.x * v.y - u.y * v.x;
}

// Clips in into out (cleared first); out ends empty when fewer than three points remain.
void ClipInto(const std::vector<Vec3>& in, const Plane& plane, std::vector<Vec3>& out)
{
    out.clear();
    const size_t count = in.size();
    for (size_t i = 0; i < count; ++i) {
        const Vec3& pi = in[i];
        const Vec3& pj = in[i + 1 == count ? 0 : i + 1];
        const float di = plane.GetDistance(pi);
        const float dj = plane.GetDistance(pj);
        const int si = di > 0.0f ? 1 : (di < 0.0f ? -1 : 0);
        const int sj = dj > 0.0f ? 1 : (dj < 0.0f ? -1 : 0);
        if (si >= 0 && sj >= 0) {
            out.push_back(pj);
        } else if (si != sj) {
            const float t = -di / Vec3::Dot(plane.normal, pj - pi);
            const Vec3 crossing = pi * (1.0f - t) + pj * t;
            out.push_back(crossing);
            if (si < 0)
                out.push_back(pj);
        }
    }
    if (out.size() < 3)
        out.clear();
}

// Clips polygon by every plane, using scratch as the second buffer.
bool ClipByFrustum(std::vector<Vec3>& polygon, std::vector<Vec3>& scratch, const Frustum& frustum)
{
    if (frustum.planes.empty())
        return false;
    for (const Plane& plane : frustum.planes) {
        if (polygon.empty())
            return false;
        ClipInto(polygon, plane, scratch);
        polygon.swap(scratch);
    }
    return !polygon.empty();
}

// The six faces as corner indices into GetCorners' order.
constexpr int kBoxFaces[6][4] = {{0, 1, 2, 3}, {4, 5, 6, 7}, {0, 1, 5, 4},
                                 {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}};

bool CornersInFrustumExact(const std::array<Vec3, 8>& corners, const Frustum& frustum)
{
    if (frustum.planes.empty())
        return false;
    std::vector<Vec3> polygon;
    std::vector<Vec3> scratch;
    polygon.reserve(16);
    scratch.reserve(16);
    for (const auto& face : kBoxFaces) {
        polygon.assign({corners[face[0]], corners[face[1]], corners[face[2]], corners[face[3]]});
        if (ClipByFrustum(polygon, scratch, frustum))
            return true;
    }
    return false;
}

// The corner of the box (centre, extents) furthest along the plane's normal is not behind it.
bool BoxNotBehind(const Vec3& center, const Vec3& extents, const Plane& plane)
{
    const Vec3& n = plane.normal;
    const Vec3 corner(center.x + (n.x > 0.0f ? extents.x : -extents.x),
                      center.y + (n.y > 0.0f ? extents.y : -extents.y),
                      center.z + (n.z > 0.0f ? extents.z : -extents.z));
    return !(plane.GetDistance(corner) < 0.0f);
}

} // namespace

// ---- Rays and sweeps ------------------------------------------------------------------------

bool IntersectPlanes(const Plane& pa, const Plane& pb, Ray& line)
{
    const float a = Vec3::Dot(pa.normal, pa.normal);
    const float b = Vec3::Dot(pb.normal, pb.normal);
    const float c = Vec3::Dot(pa.normal, pb.normal);
    const float det = a * b - c * c;
    if (det == 0.0f)
        return false;
    const float kA = (b * -pa.d - c * -pb.d) / det;
    const float kB = (a * -pb.d - c * -pa.d) / det;
    line.origin = pa.normal * kA + pb.normal * kB;
    line.direction = Vec3::Cross(pa.normal, pb.normal);
    return true;
}

float IntersectRayPlane(const Vec3& origin, const Vec3& direction, const Plane& plane, Vec3& point)
{
    const float s = plane.GetDistance(origin);
    if (std::fabs(s) <= (std::fabs(s) + 1.0f) * 1e-7f) {
        point = origin;
        return 0.0f;
    }
    const float den = Vec3::Dot(plane.normal, direction);
    if (den == 0.0f)
        return gInfinity;
    const float t = -s / den;
    if (t < 0.0f)
        return gInfinity;
    point = origin + direction * t;
    return t;
}

float IntersectRaySphere(const Vec3& origin, const Vec3& direction, const Sphere& sphere, Vec3& point)
{
    // The sphere's own test along the unit direction, then in lengths of the direction given.
    const float invLength = 1.0f / direction.Length();
    const float distance = sphere.IntersectRay(Ray(origin, direction * invLength));
    if (distance == gInfinity || distance == 0.0f)
        return distance;
    const float t = distance * invLength;
    point = origin + direction * t;
    return t;
}

float IntersectRayTriangle(const Vec3& origin, const Vec3& direction, const Vec3& a, const Vec3& b,
                           const Vec3& c, Vec3& point)
{
    const Plane plane(a, b, c);
    const float t = IntersectRayPlane(origin, direction, plane, point);
    if (t != gInfinity && PointInTriangle(a, b, c, plane.normal, point))
        return t;
    return gInfinity;
}

float SweepSpherePlane(const Sphere& sphere, const Vec3& direction, const Plane& plane, Vec3& point)
{
    const float den = Vec3::Dot(plane.normal, direction);
    if (den > (std::fabs(den) + 1.0f) * 1e-7f)
        return gInfinity;
    const float s = plane.GetDistance(sphere.center);
    if (std::fabs(s) >= sphere.radius + (std::fabs(s) + 1.0f) * 1e-7f) {
        const Vec3 contact = sphere.center - plane.normal * sphere.radius;
        return IntersectRayPlane(contact, direction, plane, point);
    }
    point = sphere.center - plane.normal * s;
    return 0.0f;
}

float SweepSphereTriangle(const Sphere& sphere, const Vec3& direction, const Vec3& a, const Vec3& b,
                          const Vec3& c, Vec3& point)
{
    const Plane plane(a, b, c);
    Vec3 contact;
    const float t = SweepSpherePlane(sphere, direction, plane, contact);
    if (t == gInfinity)
        return gInfinity;
    if (PointInTriangle(a, b, c, plane.normal, contact)) {
        point = contact;
        return t;
    }
    // The sphere first touches the triangle's rim: sweep the nearest rim point back into it.
    Vec3 rim;
    ClosestPointOnTriangleEdges(a, b, c, contact, rim);
    Vec3 onSphere;
    const float back = IntersectRaySphere(rim, -direction, sphere, onSphere);
    if (back != gInfinity)
        point = rim;
    return back;
}

// ---- Nearest points -------------------------------------------------------------------------

Vec3 ClosestPointOnSegment(const Vec3& a, const Vec3& b, const Vec3& p)
{
    const Vec3 ab = b - a;
    const Vec3 u = ab.Unit();
    const float t = Vec3::Dot(u, p - a);
    if (t < 0.0f)
        return a;
    if (t <= ab.Length())
        return a + u * t;
    return b;
}

Vec2 ClosestPointOnSegment(const Vec2& a, const Vec2& b, const Vec2& p)
{
    const Vec2 ab = b - a;
    const Vec2 u = ab.Unit();
    const float t = Vec2::Dot(u, p - a);
    if (t < 0.0f)
        return a;
    if (t <= ab.Length())
        return a + u * t;
    return b;
}

float ClosestPointOnTriangleEdges(const Vec3& a, const Vec3& b, const Vec3& c, const Vec3& p, Vec3& point)
{
    const Vec3 candidates[3] = {ClosestPointOnSegment(a, b, p), ClosestPointOnSegment(b, c, p),
                                ClosestPointOnSegment(c, a, p)};
    int best = 0;
    float bestDistance = (candidates[0] - p).LengthSquared();
    for (int i = 1; i < 3; ++i) {
        const float distance = (candidates[i] - p).LengthSquared();
        if (distance <= bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    point = candidates[best];
    return bestDistance;
}

bool PointInTriangle(const Vec3& a, const Vec3& b, const Vec3& c, const Vec3& normal, const Vec3& p)
{
    // The two coordinates kept: x dropped -> (y, z), y dropped -> (x, z), z dropped -> (y, x).
    auto project = [axis = normal.GetMajorAxis()](const Vec3& v) {
        if (axis == 0)
            return Vec2(v.y, v.z);
        if (axis == 1)
            return Vec2(v.x, v.z);
        return Vec2(v.y, v.x);
    };
    const Vec2 pa = project(a);
    const Vec2 e0 = project(b) - pa;
    const Vec2 e1 = project(c) - pa;
    const Vec2 e2 = project(p) - pa;
    const float den = e0.x * e1.y - e1.x * e0.y;
    const float beta = (e2.x * e1.y - e1.x * e2.y) / den;
    const float gamma = (e0.x * e2.y - e2.x * e0.y) / den;
    return !(beta < 0.0f || gamma < 0.0f || 1.0f - beta - gamma < 0.0f);
}

Vec3 ReflectOffSphere(const Vec3& point, const Vec3& direction, float t, const Vec3& center)
{
    const Vec3 u = direction.Unit();
    const Vec3 n = (point + direction * t - center).Unit();
    return u - n * (2.0f * Vec3::Dot(u, n));
}

// ---- Overlap and containment ----------------------------------------------------------------

bool ABBoxIntersectsSphere(const ABBox& box, const Sphere& sphere)
{
    const float c[3] = {sphere.center.x, sphere.center.y, sphere.center.z};
    const Vec3 lo = box.GetMin();
    const Vec3 hi = box.GetMax();
    const float mins[3] = {lo.x, lo.y, lo.z};
    const float maxs[3] = {hi.x, hi.y, hi.z};
    float distanceSquared = 0.0f;
    for (int k = 0; k < 3; ++k) {
        if (c[k] < mins[k])
            distanceSquared += (mins[k] - c[k]) * (mins[k] - c[k]);
        else if (c[k] > maxs[k])
            distanceSquared += (c[k] - maxs[k]) * (c[k] - maxs[k]);
    }
    return distanceSquared <= sphere.radius * sphere.radius;
}

bool ABBoxIntersectsOBBox(const ABBox& abbox, const OBBox& obbox)
{
    const Vec3* const axes[3] = {&obbox.coords.xAxis, &obbox.coords.yAxis, &obbox.coords.zAxis};
    const float a[3] = {abbox.extents.x, abbox.extents.y, abbox.extents.z};
    const float b[3] = {obbox.extents.x, obbox.extents.y, obbox.extents.z};
    const Vec3 d = obbox.coords.origin - abbox.center;
    const float T[3] = {d.x, d.y, d.z};

    // R[i][j]: world axis i against box axis j.
    float R[3][3], AbsR[3][3];
    for (int j = 0; j < 3; ++j) {
        const float column[3] = {axes[j]->x, axes[j]->y, axes[j]->z};
        for (int i = 0; i < 3; ++i) {
            R[i][j] = column[i];
            AbsR[i][j] = std::fabs(column[i]) + 0.0001f;
        }
    }

    for (int i = 0; i < 3; ++i)
        if (std::fabs(T[i]) > a[i] + b[0] * AbsR[i][0] + b[1] * AbsR[i][1] + b[2] * AbsR[i][2])
            return false;
    for (int j = 0; j < 3; ++j) {
        const float ra = a[0] * AbsR[0][j] + a[1] * AbsR[1][j] + a[2] * AbsR[2][j];
        if (std::fabs(T[0] * R[0][j] + T[1] * R[1][j] + T[2] * R[2][j]) > ra + b[j])
            return false;
    }
    // World axis i crossed with box axis j.
    for (int i = 0; i < 3; ++i) {
        const int i1 = (i + 1) % 3, i2 = (i + 2) % 3;
        for (int j = 0; j < 3; ++j) {
            const int j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            const float ra = a[i1] * AbsR[i2][j] + a[i2] * AbsR[i1][j];
            const float rb = b[j1] * AbsR[i][j2] + b[j2] * AbsR[i][j1];
            if (std::fabs(T[i2] * R[i1][j] - T[i1] * R[i2][j]) > ra + rb)
                return false;
        }
    }
    return true;
}

bool SphereInCone(const Vec3& apex, const Vec3& axis, float angle, const Vec3& center, float radius)
{
    const float sine = std::sin(angle);
    const float cosine = std::cos(angle);
    const Vec3 u = apex - axis * (radius / sine);
    const Vec3 d = center - u;
    const float along = Vec3::Dot(axis, d);
    if (along <= 0.0f || along * along < cosine * cosine * Vec3::Dot(d, d))
        return false;
    const Vec3 fromApex = center - apex;
    const float e = -Vec3::Dot(axis, fromApex);
    const float lengthSquared = Vec3::Dot(fromApex, fromApex);
    if (e <= 0.0f || sine * sine * lengthSquared > e * e)
        return true;
    return lengthSquared <= radius * radius;
}

// ---- Frustum culling ------------------------------------------------------------------------

bool ABBoxInFrustum(const ABBox& box, const Frustum& frustum)
{
    if (frustum.planes.empty())
        return false;
    for (const Plane& plane : frustum.planes)
        if (!BoxNotBehind(box.center, box.extents, plane))
            return false;
    return true;
}

bool OBBoxInFrustum(const OBBox& box, const Frustum& frustum)
{
    if (frustum.planes.empty())
        return false;
    const Coords toBox = box.coords.Inverse();
    for (const Plane& plane : frustum.planes)
        if (!BoxNotBehind(Vec3(), box.extents, TransformPlane(toBox, plane)))
            return false;
    return true;
}

bool ABBoxInFrustumExact(const ABBox& box, const Frustum& frustum)
{
    return CornersInFrustumExact(box.GetCorners(), frustum);
}

bool OBBoxInFrustumExact(const OBBox& box, const Frustum& frustum)
{
    return CornersInFrustumExact(box.GetCorners(), frustum);
}

bool PolygonInFrustum(const std::vector<Vec3>& polygon, const Frustum& frustum)
{
    std::vector<Vec3> copy(polygon);
    std::vector<Vec3> scratch;
    scratch.reserve(polygon.size() + frustum.planes.size());
    return ClipByFrustum(copy, scratch, frustum);
}

void ClipPolygonByPlane(std::vector<Vec3>& polygon, const Plane& plane)
{
    std::vector<Vec3> clipped;
    clipped.reserve(polygon.size() + 2);
    ClipInto(polygon, plane, clipped);
    polygon.swap(clipped);
}

// ---- Two dimensions -------------------------------------------------------------------------

bool IntersectLines2D(const Vec2& p0, const Vec2& d0, const Vec2& p1, const Vec2& d1, Vec2& delta,
                      float& d0LengthSquared, int& kind, float& s, float& t)
{
    delta = p1 - p0;
    d0LengthSquared = d0.LengthSquared();
    const float k = d1.x * d0.y - d0.x * d1.y;
    if (k * k > 1e-6f * d0LengthSquared * d1.LengthSquared()) {
        kind = LINES_CROSS;
        s = (d1.x * delta.y - d1.y * delta.x) / k;
        t = (d0.x * delta.y - delta.x * d0.y) / k;
        return true;
    }
    const float offLine = d0.x * delta.y - delta.x * d0.y;
    if (offLine * offLine <= 1e-6f * delta.LengthSquared() * d0LengthSquared) {
        kind = LINES_SAME;
        return true;
    }
    kind = LINES_PARALLEL;
    return false;
}

bool IntersectSegments2D(const Vec2& a0, const Vec2& a1, const Vec2& b0, const Vec2& b1, float& s, float& t)
{
    if (a0 == b0 || a0 == b1 || a1 == b0 || a1 == b1)
        return false;
    Vec2 delta;
    float lengthSquared;
    int kind;
    IntersectLines2D(a0, a1 - a0, b0, b1 - b0, delta, lengthSquared, kind, s, t);
    if (kind != LINES_CROSS)
        return false;
    return s >= 0.0f && s <= 1.0f && t >= 0.0f && t <= 1.0f;
}

bool SegmentsIntersect2D(const Vec2& a0, const Vec2& a1, const Vec2& b0, const Vec2& b1)
{
    float s, t;
    return IntersectSegments2D(a0, a1, b0, b1, s, t);
}

bool IntersectCircles2D(const Vec2& c0, float r0, const Vec2& c1, float r1, Vec2& p, Vec2& q)
{
    const Vec2 between = c1 - c0;
    const float dist = between.Length();
    if (r0 + r1 < dist || std::fabs(r0 - r1) > dist)
        return false;
    const float a = (dist * dist + r0 * r0 - r1 * r1) / (2.0f * dist);
    const float h = std::sqrt(r0 * r0 - a * a);
    const Vec2 m = c0 + between * (a / dist);
    const float dx = between.x, dy = between.y;
    p = Vec2(m.x - dy * h / dist, m.y + dx * h / dist);
    q = Vec2(m.x + dy * h / dist, m.y - dx * h / dist);
    return true;
}

Vec2 BezierPoint2D(const Vec2& p0, const Vec2& p1, const Vec2& p2, const Vec2& p3, float t)
{
    const float u = 1.0f - t;
    return p0 * (u * u * u) + p1 * (3.0f * u * u * t) + p2 * (3.0f * u * t * t) + p3 * (t * t * t);
}

void QuickHullStep(const std::vector<Vec2>& points, const Vec2& a, const Vec2& b, std::vector<Vec2>& hull)
{
    struct Step
    {
        std::vector<Vec2> points;
        Vec2 a, b;
    };
    // Last in, first out, with the first half pushed last, visits the halves in the order a
    // recursive version would.
    std::vector<Step> pending;
    pending.push_back(Step{points, a, b});
    while (!pending.empty()) {
        Step step = std::move(pending.back());
        pending.pop_back();

        const Vec2 ab = step.b - step.a;
        const Vec2* farthest = nullptr;
        float best = 0.0f;
        for (const Vec2& p : step.points) {
            const float side = Cross2D(ab, p - step.a);
            if (side > best) {
                best = side;
                farthest = &p;
            }
        }
        if (!farthest) {
            hull.push_back(step.b);
            continue;
        }
        const Vec2 c = *farthest;
        Step first{{}, step.a, c};
        Step second{{}, c, step.b};
        for (const Vec2& p : step.points) {
            const bool left1 = Cross2D(c - step.a, p - step.a) > 0.0f;
            const bool left2 = Cross2D(step.b - c, p - c) > 0.0f;
            if (left1 && !left2)
                first.points.push_back(p);
            else if (left2 && !left1)
                second.points.push_back(p);
        }
        pending.push_back(std::move(second));
        pending.push_back(std::move(first));
    }
}

void ComputeConvexHull2D(const std::vector<Vec2>& points, std::vector<Vec2>& hull)
{
    hull.clear();
    if (points.empty())
        return;
    size_t left = 0, right = 0;
    for (size_t i = 1; i < points.size(); ++i) {
        if (points[i].x < points[left].x)
            left = i;
        if (points[i].x > points[right].x)
            right = i;
    }
    const Vec2 l = points[left];
    const Vec2 r = points[right];
    std::vector<Vec2> upper, lower;
    for (const Vec2& p : points) {
        if (Cross2D(r - l, p - l) > 0.0f)
            upper.push_back(p);
        else
            lower.push_back(p);
    }
    QuickHullStep(upper, l, r, hull);
    QuickHullStep(lower, r, l, hull);
}

} // namespace GAME
