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
        // Touching within the clipping tolerance: one contact at the box's deepest corner.
        Vec3 corner = box.coords.origin;
        for (int k = 0; k < 3; ++k)
            corner -= axes[k] * (Vec3::Dot(axis, axes[k]) >= 0.0f ? extents[k] : -extents[k]);
        if (!IsFiniteVec3(corner))
            return 0;
        candidates[found++] = {corner, depth};
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
