#include "navigation/CollisionContact.h"

#include "core/Plane.h"
#include "core/TriangleBoxSeparation.h"

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

int CollideBoxes(const OBBox& a, const OBBox& b, CollisionContact* contacts, int capacity)
{
    if (!contacts || capacity <= 0)
        return 0;
    const Vec3 axesA[3] = {a.coords.xAxis, a.coords.yAxis, a.coords.zAxis};
    const Vec3 axesB[3] = {b.coords.xAxis, b.coords.yAxis, b.coords.zAxis};
    const float extA[3] = {a.extents.x, a.extents.y, a.extents.z};
    const float extB[3] = {b.extents.x, b.extents.y, b.extents.z};
    const Vec3 between = b.coords.origin - a.coords.origin;

    float best = gInfinity;
    Vec3 bestAxis;
    float bestRadiusA = 0.0f;
    auto test = [&](Vec3 axis) {
        const float length = axis.Length();
        if (length < 1e-6f)
            return true; // parallel edges: the face axes decide
        axis = axis / length;
        float ra = 0.0f, rb = 0.0f;
        for (int i = 0; i < 3; ++i) {
            ra += std::fabs(Vec3::Dot(axesA[i], axis)) * extA[i];
            rb += std::fabs(Vec3::Dot(axesB[i], axis)) * extB[i];
        }
        const float d = Vec3::Dot(between, axis);
        const float overlap = ra + rb - std::fabs(d);
        if (overlap < 0.0f)
            return false;
        if (overlap < best) {
            best = overlap;
            bestAxis = d >= 0.0f ? axis : -axis; // from a towards b
            bestRadiusA = ra;
        }
        return true;
    };
    for (int i = 0; i < 3; ++i)
        if (!test(axesA[i]) || !test(axesB[i]))
            return 0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (!test(Vec3::Cross(axesA[i], axesB[j])))
                return 0;
    if (best == gInfinity)
        return 0;
    CollisionContact& contact = contacts[0];
    contact = CollisionContact();
    contact.normal = -bestAxis;
    contact.depth = best;
    contact.position = a.coords.origin + bestAxis * (bestRadiusA - best * 0.5f);
    return 1;
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
