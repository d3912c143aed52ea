// Contacts that collision queries produce: where two things touch, the normal that pushes the
// first out of the second, how deep they overlap, the surface touched and the object involved
// (0: the ground, water or nothing in particular). BoxCollisionQuery keeps the four nearest
// contacts found for one box below a distance limit; CollisionBox is a query box with its query.
// The contact routines of boxes against boxes and against triangles live here too. Plain values
// and pure functions; one thread at a time per object.
#pragma once

#include "core/MathUtil.h"
#include "core/OBBox.h"

#include <cstdint>

namespace GAME {

struct CollisionContact
{
    Vec3 position;
    Vec3 normal;
    // How far the first thing reaches into the second along the normal (positive: overlapping).
    float depth = 0.0f;
    // The PhysicsSurface of the geometry touched.
    uint32_t surface = 0;
    // The object id of the thing touched; 0 for the ground, water and collision meshes.
    uint32_t object = 0;

    // A contact's distance: how far apart the two things are there (the negated depth), so the
    // nearest contact is the deepest.
    float GetDistance() const { return -depth; }
};

static_assert(sizeof(CollisionContact) == 36, "contacts are 36-byte records");

// The contacts of one box query: at most maxContacts, each nearer than the distance limit; a new
// contact takes the place of the farthest one kept when it is nearer.
class BoxCollisionQuery
{
public:
    static constexpr int maxContacts = 4;

    explicit BoxCollisionQuery(float distanceLimit = gInfinity) : m_distanceLimit(distanceLimit) {}

    // Contacts at or beyond the limit are refused (a limit of 0 keeps overlapping contacts only;
    // the default keeps any).
    void SetDistanceLimit(float limit) { m_distanceLimit = limit; }
    float GetDistanceLimit() const { return m_distanceLimit; }
    // False when the contact was not kept.
    bool AddContact(const CollisionContact& contact);
    void Clear() { m_count = 0; }
    int GetNumContacts() const { return m_count; }
    const CollisionContact& GetContact(int index) const { return m_contacts[index]; }
    // Moves every contact kept.
    void Move(const Vec3& delta);

private:
    CollisionContact m_contacts[maxContacts];
    int m_count = 0;
    float m_distanceLimit;
};

// A box being collided, in the frame of whoever collides it, with the query collecting its
// contacts.
class CollisionBox
{
public:
    CollisionBox() = default;
    explicit CollisionBox(const OBBox& box, float distanceLimit = gInfinity)
        : m_box(box), m_query(distanceLimit)
    {
    }

    const OBBox& GetBox() const { return m_box; }
    BoxCollisionQuery& GetQuery() { return m_query; }
    const BoxCollisionQuery& GetQuery() const { return m_query; }
    bool AddContact(const CollisionContact& contact) { return m_query.AddContact(contact); }
    // Moves the box and its contacts.
    void Move(const Vec3& delta);
    int GetNumContacts() const { return m_query.GetNumContacts(); }
    const CollisionContact& GetContact(int index) const { return m_query.GetContact(index); }

private:
    OBBox m_box;
    BoxCollisionQuery m_query;
};

// Contacts between two oriented boxes, written into contacts (at most capacity, at most 8); answers
// the count. The full contact manifold of the physics library's box-box routine: the points where
// the boxes meet, each with its depth, all with the normal (of unit length) that pushes a out of b.
// Axes of any length are taken with their lengths folded into the extents; boxes that are not
// finite or have an axis without length touch nothing. The surface and object words are 0.
int CollideBoxes(const OBBox& a, const OBBox& b, CollisionContact* contacts, int capacity);

// Contacts between a triangle and an oriented box (axes of unit length), written into contacts (at
// most capacity, the deepest first); answers the count. The normal of every contact is the axis of
// least penetration and pushes the box out of the triangle (towards the triangle's front when that
// is the way out); the positions are the corners of the part of the triangle inside the box (or,
// when rounding leaves that part without corners, the point of the triangle nearest the box, in
// it). The surface and object words are 0. A triangle without area, non-finite input or a
// triangle that the overlap test finds touching only by its rounding gives no contact.
int CollideOBBoxTriangle(const Vec3 triangle[3], const OBBox& box, CollisionContact* contacts, int capacity);

} // namespace GAME
