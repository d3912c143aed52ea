#include "navigation/CollisionContact.h"

#include "core/Plane.h"
#include "core/TriangleBoxSeparation.h"
#include "navigation/PhysicsObject.h"

#include <ode/ode.h>

#include <algorithm>
#include <cmath>

namespace GAME {

bool BoxCollisionQuery::AddContact(const CollisionContact& contact)
{
    const float distance = contact.GetDistance();
    // NaN compares false everywhere: refuse it here so it never displaces a real contact.
    if (!(distance < m_distanceLimit))
        return false;
    if (m_count < maxContacts) {
        m_contacts[m_count++] = contact;
        return true;
    }
    int farthest = 0;
    for (int i = 1; i < m_count; ++i)
        if (m_contacts[i].GetDistance() > m_contacts[farthest].GetDistance())
            farthest = i;
    if (!(distance < m_contacts[farthest].GetDistance()))
        return false;
    m_contacts[farthest] = contact;
    return true;
}

void BoxCollisionQuery::Move(const Vec3& delta)
{
    for (int i = 0; i < m_count; ++i)
        m_contacts[i].position += delta;
}

void CollisionBox::Move(const Vec3& delta)
{
    m_box.coords.origin += delta;
    m_query.Move(delta);
}

namespace {

// A box's frame made rigid for the box-box routine: the lengths of its axes go into its extents.
bool RigidBox(const OBBox& box, Coords& frame, Vec3& sides)
{
    if (!IsFiniteVec3(box.extents) || !IsFiniteVec3(box.coords.origin) || !IsFiniteVec3(box.coords.xAxis) ||
        !IsFiniteVec3(box.coords.yAxis) || !IsFiniteVec3(box.coords.zAxis))
        return false;
    const float lengths[3] = {box.coords.xAxis.Length(), box.coords.yAxis.Length(),
                              box.coords.zAxis.Length()};
    for (float length : lengths)
        if (!(length > 1e-6f))
            return false;
    frame = PhysicsObject::MakeRigid(box.coords);
    sides = Vec3(2.0f * std::fabs(box.extents.x) * lengths[0], 2.0f * std::fabs(box.extents.y) * lengths[1],
                 2.0f * std::fabs(box.extents.z) * lengths[2]);
    return IsFiniteVec3(sides);
}

void ToOdeFrame(const Coords& frame, dVector3 position, dMatrix3 rotation)
{
    const Vec3* axes[3] = {&frame.xAxis, &frame.yAxis, &frame.zAxis};
    for (int column = 0; column < 3; ++column) {
        rotation[0 * 4 + column] = axes[column]->x;
        rotation[1 * 4 + column] = axes[column]->y;
        rotation[2 * 4 + column] = axes[column]->z;
    }
    rotation[3] = rotation[7] = rotation[11] = 0.0;
    position[0] = frame.origin.x;
    position[1] = frame.origin.y;
    position[2] = frame.origin.z;
    position[3] = 0.0;
}

// Points in double precision for the search below, whose steps lose nothing to the size of huge
// triangles and boxes.
struct Point
{
    double x, y, z;
};
Point operator+(const Point& a, const Point& b)
{
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Point operator-(const Point& a, const Point& b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Point operator*(const Point& a, double s)
{
    return {a.x * s, a.y * s, a.z * s};
}
double Dot(const Point& a, const Point& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Point ToPoint(const Vec3& v)
{
    return {v.x, v.y, v.z};
}

// The point of the triangle nearest to p (by the region of the triangle's plane p falls in).
Point NearestOnTriangle(const Point& p, const Point& a, const Point& b, const Point& c)
{
    const Point ab = b - a, ac = c - a, ap = p - a;
    const double d1 = Dot(ab, ap), d2 = Dot(ac, ap);
    if (d1 <= 0.0 && d2 <= 0.0)
        return a;
    const Point bp = p - b;
    const double d3 = Dot(ab, bp), d4 = Dot(ac, bp);
    if (d3 >= 0.0 && d4 <= d3)
        return b;
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0.0 && d1 >= 0.0 && d3 <= 0.0)
        return a + ab * (d1 / (d1 - d3));
    const Point cp = p - c;
    const double d5 = Dot(ab, cp), d6 = Dot(ac, cp);
    if (d6 >= 0.0 && d5 <= d6)
        return c;
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0.0 && d2 >= 0.0 && d6 <= 0.0)
        return a + ac * (d2 / (d2 - d6));
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0.0 && d4 - d3 >= 0.0 && d5 - d6 >= 0.0)
        return b + (c - b) * ((d4 - d3) / ((d4 - d3) + (d5 - d6)));
    const double denominator = va + vb + vc;
    if (!(denominator > 0.0))
        return a;
    return a + ab * (vb / denominator) + ac * (vc / denominator);
}

// The point of the triangle nearest to the box, when it lies inside the box as far as the clipping
// above keeps points (its tolerance on each face); false when none does. Projecting in turn onto
// the box and onto the triangle settles where two convex shapes are nearest, inside both when
// they meet.
bool PointOfTriangleInBox(const Vec3 triangle[3], const OBBox& box, Vec3& found)
{
    const Point a = ToPoint(triangle[0]), b = ToPoint(triangle[1]), c = ToPoint(triangle[2]);
    const Point origin = ToPoint(box.coords.origin);
    const Point axes[3] = {ToPoint(box.coords.xAxis), ToPoint(box.coords.yAxis), ToPoint(box.coords.zAxis)};
    const double extents[3] = {box.extents.x, box.extents.y, box.extents.z};
    auto inside = [&](const Point& p) {
        for (int k = 0; k < 3; ++k) {
            const double centre = Dot(axes[k], origin), at = Dot(axes[k], p);
            if (at - centre > extents[k] + 1e-4 * std::fabs(centre + extents[k]) ||
                centre - at > extents[k] + 1e-4 * std::fabs(extents[k] - centre))
                return false;
        }
        return true;
    };
    Point p = NearestOnTriangle(origin, a, b, c);
    for (int round = 0; round < 32 && !inside(p); ++round) {
        Point clamped = origin;
        for (int k = 0; k < 3; ++k)
            clamped = clamped + axes[k] * std::clamp(Dot(axes[k], p - origin), -extents[k], extents[k]);
        p = NearestOnTriangle(clamped, a, b, c);
    }
    found = Vec3(static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z));
    return inside(p) && IsFiniteVec3(found);
}

} // namespace

int CollideBoxes(const OBBox& a, const OBBox& b, CollisionContact* contacts, int capacity)
{
    if (!contacts || capacity <= 0)
        return 0;
    Coords frameA, frameB;
    Vec3 sidesA, sidesB;
    if (!RigidBox(a, frameA, sidesA) || !RigidBox(b, frameB, sidesB))
        return 0;
    dVector3 positionA, positionB;
    dMatrix3 rotationA, rotationB;
    ToOdeFrame(frameA, positionA, rotationA);
    ToOdeFrame(frameB, positionB, rotationB);
    const dVector3 extentA = {sidesA.x, sidesA.y, sidesA.z, 0.0};
    const dVector3 extentB = {sidesB.x, sidesB.y, sidesB.z, 0.0};
    constexpr int most = 8;
    dContactGeom found[most];
    dVector3 normal;
    dReal depth = 0.0;
    int code = 0;
    const int count = dBoxBox(positionA, rotationA, extentA, positionB, rotationB, extentB, normal, &depth,
                              &code, std::min(capacity, most), found, sizeof(dContactGeom));
    // The routine's normal runs from a towards b; contacts carry the one that pushes a out of b.
    const Vec3 push(static_cast<float>(-normal[0]), static_cast<float>(-normal[1]),
                    static_cast<float>(-normal[2]));
    int written = 0;
    for (int i = 0; i < count; ++i) {
        CollisionContact contact;
        contact.position = Vec3(static_cast<float>(found[i].pos[0]), static_cast<float>(found[i].pos[1]),
                                static_cast<float>(found[i].pos[2]));
        contact.normal = push;
        contact.depth = static_cast<float>(found[i].depth);
        if (IsFiniteVec3(contact.position) && IsFiniteVec3(contact.normal) && IsFinite(contact.depth))
            contacts[written++] = contact;
    }
    return written;
}

int CollideOBBoxTriangle(const Vec3 triangle[3], const OBBox& box, CollisionContact* contacts, int capacity)
{
    if (!contacts || capacity <= 0)
        return 0;
    // A box that is not finite everywhere touches nothing (its corners would not be either).
    if (!IsFiniteVec3(box.extents) || !IsFiniteVec3(box.coords.origin) || !IsFiniteVec3(box.coords.xAxis) ||
        !IsFiniteVec3(box.coords.yAxis) || !IsFiniteVec3(box.coords.zAxis))
        return 0;
    float depth = 0.0f;
    Vec3 axis;
    if (!TestTriangleOBBoxSeparation(triangle, box, depth, axis))
        return 0;
    // At the edges of the float range (huge or vanishing triangles) the axis can come out without a
    // direction; such a contact could push nowhere.
    const float axisLength = axis.LengthSquared();
    if (!(axisLength > 0.25f && axisLength < 4.0f))
        return 0;

    // The part of the triangle inside the box: the triangle clipped by the box's six faces.
    ClipPolygon polygon;
    polygon.count = 3;
    for (int i = 0; i < 3; ++i)
        polygon.points[i] = triangle[i];
    const Vec3 axes[3] = {box.coords.xAxis, box.coords.yAxis, box.coords.zAxis};
    const float extents[3] = {box.extents.x, box.extents.y, box.extents.z};
    for (int k = 0; k < 3 && polygon.count > 0; ++k) {
        const float c = Vec3::Dot(axes[k], box.coords.origin);
        // Inside when n.p + d >= 0: below the upper face and above the lower one.
        ClipConvexPolygonByPlane(Plane(-axes[k], c + extents[k]), polygon);
        if (polygon.count > 0)
            ClipConvexPolygonByPlane(Plane(axes[k], extents[k] - c), polygon);
    }

    // How far a point lies inside the box along the push axis: the box must move that far for the
    // point to leave it.
    const float boxLow =
        Vec3::Dot(axis, box.coords.origin) -
        (std::fabs(Vec3::Dot(axis, axes[0])) * extents[0] + std::fabs(Vec3::Dot(axis, axes[1])) * extents[1] +
         std::fabs(Vec3::Dot(axis, axes[2])) * extents[2]);
    struct Candidate
    {
        Vec3 position;
        float depth;
    };
    Candidate candidates[ClipPolygon::kMaxPoints];
    int found = 0;
    for (int i = 0; i < polygon.count; ++i) {
        const float d = std::min(Vec3::Dot(axis, polygon.points[i]) - boxLow, depth);
        if (IsFinite(d) && IsFiniteVec3(polygon.points[i]))
            candidates[found++] = {polygon.points[i], std::max(d, 0.0f)};
    }
    if (found == 0) {
        // The overlap test found them touching, but its rounding on huge boxes or triangles can
        // exceed the clipping's tolerance: one contact at the point of the triangle nearest to the
        // box when that lies in the box, none when the two do not meet after all.
        Vec3 point;
        if (!PointOfTriangleInBox(triangle, box, point))
            return 0;
        const float d = std::min(Vec3::Dot(axis, point) - boxLow, depth);
        candidates[found++] = {point, IsFinite(d) ? std::max(d, 0.0f) : 0.0f};
    }
    std::stable_sort(candidates, candidates + found,
                     [](const Candidate& a, const Candidate& b) { return a.depth > b.depth; });
    const int count = std::min(found, capacity);
    for (int i = 0; i < count; ++i) {
        contacts[i] = CollisionContact();
        contacts[i].position = candidates[i].position;
        contacts[i].normal = axis;
        contacts[i].depth = candidates[i].depth;
    }
    return count;
}

} // namespace GAME
