// Contacts that collision queries produce: where two things touch, the normal that pushes the
// first out of the second, how deep they overlap and the object ids involved (0: the ground,
// water or nothing in particular). CollisionBox is a query box that keeps the deepest contacts
// found for it. Plain values; one thread at a time.
#pragma once

#include "core/OBBox.h"

#include <vector>

namespace GAME {

struct CollisionContact
{
    Vec3 position;
    Vec3 normal;
    float depth = 0.0f;
    unsigned objectIds[2] = {0, 0};
};

static_assert(sizeof(CollisionContact) == 36, "contacts are 36-byte records");

class CollisionBox
{
public:
    static constexpr int defaultCapacity = 4;

    CollisionBox() = default;
    explicit CollisionBox(const OBBox& box, int capacity = defaultCapacity) : m_box(box), m_capacity(capacity)
    {
    }

    const OBBox& GetBox() const { return m_box; }
    // Keeps the contact when there is room or when it is deeper than the shallowest one kept.
    void AddContact(const CollisionContact& contact);
    // Moves the box and its contacts.
    void Move(const Vec3& delta);
    int GetNumContacts() const { return static_cast<int>(m_contacts.size()); }
    const CollisionContact& GetContact(int index) const { return m_contacts[static_cast<size_t>(index)]; }

private:
    OBBox m_box;
    int m_capacity = defaultCapacity;
    std::vector<CollisionContact> m_contacts;
};

// Contacts between two oriented boxes, written into contacts (at most capacity); answers the count.
// The normal points from b towards a.
// This build has no physics library behind it: the routine gives one contact, on the axis of least
// overlap of the separating-axis test over the 15 axes, not a full contact manifold.
int CollideBoxes(const OBBox& a, const OBBox& b, CollisionContact* contacts, int capacity);

} // namespace GAME
