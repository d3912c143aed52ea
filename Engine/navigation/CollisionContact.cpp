#include "navigation/CollisionContact.h"

#include <cmath>

namespace GAME {

void CollisionBox::AddContact(const CollisionContact& contact)
{
    if (m_capacity <= 0)
        return;
    if (static_cast<int>(m_contacts.size()) < m_capacity) {
        m_contacts.push_back(contact);
        return;
    }
    size_t shallowest = 0;
    for (size_t i = 1; i < m_contacts.size(); ++i)
        if (m_contacts[i].depth < m_contacts[shallowest].depth)
            shallowest = i;
    if (contact.depth > m_contacts[shallowest].depth)
        m_contacts[shallowest] = contact;
}

void CollisionBox::Move(const Vec3& delta)
{
    m_box.coords.origin += delta;
    for (CollisionContact& contact : m_contacts)
        contact.position += delta;
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

} // namespace GAME
