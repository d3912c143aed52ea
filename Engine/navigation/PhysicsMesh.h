// Collision geometry of an entity that is not a set of boxes: triangles in the entity's frame.
// Entities hand it out (GetPhysicsMesh) and the level's collision queries collide boxes with it.
// Main thread.
//
// This build simulates no physics, so no entity hands out a mesh; this is the interface the level's
// collision queries call when one does.
#pragma once

#include "core/OBBox.h"

namespace GAME {

struct CollisionContact;

class PhysicsMesh
{
public:
    virtual ~PhysicsMesh() = default;
    virtual int GetNumFaces() const = 0;
    // The three vertex indices of a face and its flag word.
    virtual void GetFace(int index, int vertices[3], unsigned& flags) const = 0;
    virtual Vec3 GetVertex(int index) const = 0;
    // Contacts of a box given in the mesh's frame; answers the number written (at most capacity).
    virtual int FindCollisions(const OBBox& box, CollisionContact* contacts, int capacity) const = 0;
};

} // namespace GAME
