#include "scene/ShadowFocus.h"

#include "core/Intersect.h"
#include "core/MathUtil.h"
#include "core/Ray.h"

#include <cmath>
#include <utility>

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

// The plane that holds a line (a point on it and its direction) and runs along a second
// direction: its normal is unit(unit(line direction) x sweep). False when the directions are
// parallel or either has no length. The caster volume sweeps the edges of its planes along the
// light this way, and a box's shadow volume the edges of its silhouette.
bool PlaneThroughLineAlong(const Vec3& point, const Vec3& lineDirection, const Vec3& sweep, Plane& plane)
{
    const float lineLength = lineDirection.Length();
    if (!(lineLength > 0.0f))
        return false;
    const Vec3 side = Vec3::Cross(lineDirection * (1.0f / lineLength), sweep);
    const float sideLength = side.Length();
    if (!(sideLength > 0.0f))
        return false;
    const Vec3 normal = side * (1.0f / sideLength);
    plane = Plane(normal, -Vec3::Dot(normal, point));
    return true;
}

// A box as a centre, three unit axes and the half-extents along them. Face (a, s) is the face on
// axis a at side s (+1 or -1); its outward normal is s times axis a.
struct BoxFrame
{
    Vec3 center;
    Vec3 axis[3];
    float extent[3];

    explicit BoxFrame(const OBBox& box)
        : center(box.coords.origin), axis{box.coords.xAxis, box.coords.yAxis, box.coords.zAxis},
          extent{box.extents.x, box.extents.y, box.extents.z}
    {
    }

    Vec3 FaceCenter(int a, float s) const { return center + axis[a] * (s * extent[a]); }
    // The face's plane, facing into the box.
    Plane FacePlane(int a, float s) const
    {
        const Vec3 inward = axis[a] * -s;
        return Plane(inward, -Vec3::Dot(inward, FaceCenter(a, s)));
    }
    // The face's four corners, wound counter-clockwise seen from inside the box.
    std::vector<Vec3> FacePolygon(int a, float s) const
    {
        const int b = (a + 1) % 3, c = (a + 2) % 3;
        const Vec3 u = axis[b] * extent[b], v = axis[c] * extent[c], f = FaceCenter(a, s);
        std::vector<Vec3> polygon = {f - u - v, f + u - v, f + u + v, f - u + v};
        // u x v runs along axis a in a right-handed frame; inside is against s times it.
        if (Vec3::Dot(Vec3::Cross(u, v), axis[a]) * s > 0.0f)
            std::swap(polygon[1], polygon[3]);
        return polygon;
    }
    bool FaceLooksAt(int a, float s, const Vec3& point) const
    {
        return Vec3::Dot(axis[a] * s, point - FaceCenter(a, s)) > 0.0f;
    }
};

// Every edge of the box: the two faces that meet there, its two ends and the direction from it
// into the box (between the two faces).
template <class Visit> void ForEachBoxEdge(const BoxFrame& box, Visit&& visit)
{
    for (int a = 0; a < 3; ++a)
        for (int b = a + 1; b < 3; ++b) {
            const int c = 3 - a - b;
            for (float sa : {-1.0f, 1.0f})
                for (float sb : {-1.0f, 1.0f}) {
                    const Vec3 middle =
                        box.center + box.axis[a] * (sa * box.extent[a]) + box.axis[b] * (sb * box.extent[b]);
                    const Vec3 half = box.axis[c] * box.extent[c];
                    const Vec3 inward = -(box.axis[a] * sa + box.axis[b] * sb);
                    visit(a, sa, b, sb, middle - half, middle + half, inward);
                }
        }
}

// The faces from the point through the box's silhouette edges, turned so that the box is inside;
// then the box's faces that look at the point (caps toward it) or that do not.
void AddBoxBodyFromPoint(ConvexBody& body, const OBBox& box, const Vec3& point, bool capsLookingAtPoint)
{
    const BoxFrame frame(box);
    bool looks[3][2];
    for (int a = 0; a < 3; ++a)
        for (int k = 0; k < 2; ++k)
            looks[a][k] = frame.FaceLooksAt(a, k ? 1.0f : -1.0f, point);
    ForEachBoxEdge(frame,
                   [&](int a, float sa, int b, float sb, const Vec3& e0, const Vec3& e1, const Vec3& inward) {
                       if (looks[a][sa > 0.0f] == looks[b][sb > 0.0f])
                           return;
                       // The plane through the point and the edge never holds the direction into the box: a
                       // point that one face looks at and the other does not lies off their diagonal plane.
                       const Vec3 normal = Vec3::Cross(e0 - point, e1 - point);
                       if (Vec3::Dot(normal, inward) >= 0.0f)
                           body.AddFace(point, e0, e1);
                       else
                           body.AddFace(point, e1, e0);
                   });
    for (int a = 0; a < 3; ++a)
        for (int k = 0; k < 2; ++k) {
            const float s = k ? 1.0f : -1.0f;
            if (looks[a][k] != capsLookingAtPoint)
                continue;
            body.AddPlane(frame.FacePlane(a, s));
            body.AddPolygon(frame.FacePolygon(a, s), Frustum());
        }
}

} // namespace

// ---- Convex body -------------------------------------------------------------------------------

bool ConvexBody::AddPolygon(std::vector<Vec3> polygon, const Frustum& planes)
{
    for (const Plane& plane : planes.planes) {
        if (polygon.size() < 3)
            break;
        ClipPolygonByPlane(polygon, plane);
    }
    if (polygon.size() < 3)
        return false;
    m_polygons.push_back(std::move(polygon));
    return true;
}

bool ConvexBody::AddPolygon(std::vector<Vec3> polygon)
{
    return AddPolygon(std::move(polygon), m_planes);
}

void ConvexBody::AddFace(const Vec3& a, const Vec3& b, const Vec3& c)
{
    m_planes.AddPlane(Plane(a, b, c));
    m_polygons.push_back(
        {a, a + (b - a).Unit() * shadowFocusApexFaceLength, a + (c - a).Unit() * shadowFocusApexFaceLength});
}

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
            Plane swept;
            if (PlaneThroughLineAlong(line.origin, line.direction, -lightDirection, swept))
                result.AddPlane(swept);
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

Frustum ComputeBoxShadowVolume(const Vec3& center, const Vec3& extents, const Vec3& direction)
{
    Frustum result;
    const BoxFrame frame(OBBox(extents, Coords::Translation(center)));
    ForEachBoxEdge(frame,
                   [&](int a, float sa, int b, float sb, const Vec3& e0, const Vec3& e1, const Vec3& inward) {
                       const bool litA = Vec3::Dot(frame.axis[a] * sa, direction) < 0.0f;
                       const bool litB = Vec3::Dot(frame.axis[b] * sb, direction) < 0.0f;
                       if (litA == litB)
                           return;
                       // The edge runs across the light here (one face meets it, the other does not), so the
                       // plane exists; it faces the side the box is on.
                       Plane plane;
                       if (!PlaneThroughLineAlong(e0, e1 - e0, direction, plane))
                           return;
                       if (Vec3::Dot(plane.normal, inward) < 0.0f)
                           plane = Plane(-plane.normal, -plane.d);
                       result.AddPlane(plane);
                   });
    return result;
}

std::vector<Vec3> MakeStartPolygon(const Frustum& planes, size_t index)
{
    if (index >= planes.GetNumPlanes())
        return {};
    const Plane& plane = planes.GetPlane(index);
    const float n[3] = {plane.normal.x, plane.normal.y, plane.normal.z};
    const int k = plane.normal.GetMajorAxis();
    if (!(std::fabs(n[k]) > 0.0f) || !IsFinite(n[k]))
        return {};
    const int i = (k + 1) % 3, j = (k + 2) % 3;
    const float h = shadowFocusStartHalfSize;
    // Counter-clockwise about +k in (i, j); turned round when the normal points along -k.
    float corners[4][2] = {{-h, -h}, {h, -h}, {h, h}, {-h, h}};
    if (n[k] < 0.0f)
        std::swap(corners[1], corners[3]);
    std::vector<Vec3> polygon;
    polygon.reserve(4);
    for (const auto& corner : corners) {
        float p[3];
        p[i] = corner[0];
        p[j] = corner[1];
        p[k] = -(plane.d + n[i] * p[i] + n[j] * p[j]) / n[k];
        polygon.emplace_back(p[0], p[1], p[2]);
    }
    return polygon;
}

void AddBoxHullFromPoint(ConvexBody& body, const OBBox& box, const Vec3& point)
{
    AddBoxBodyFromPoint(body, box, point, false);
}

void AddBoxShadowFromPoint(ConvexBody& body, const OBBox& box, const Vec3& point)
{
    AddBoxBodyFromPoint(body, box, point, true);
}

int AddBoxFaces(ConvexBody& body, const OBBox& box, const Frustum& planes)
{
    const BoxFrame frame(box);
    int added = 0;
    for (int a = 0; a < 3; ++a)
        for (float s : {-1.0f, 1.0f})
            added += body.AddPolygon(frame.FacePolygon(a, s), planes) ? 1 : 0;
    return added;
}

} // namespace GAME
