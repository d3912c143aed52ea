// The rigid body of an entity that is not a rag doll: one box that moves the whole entity.
// Entity::CreatePhysicsObject makes one for every entity that joins the simulation without a body
// of its own. Main thread.
#pragma once

#include "navigation/PhysicsObject.h"

namespace GAME {

struct RigidBodyDescription;

class PhysicsRigidBody : public PhysicsObject
{
public:
    // The entity's collision proxy, or else its region bounding box, as the box (at least
    // minExtent a side), of the default density. The entity should be placed.
    explicit PhysicsRigidBody(Entity* entity);
    // The box a model describes: its parent frame (in the entity's frame), extents, density and
    // whether it collides; the values are clamped as every body's are.
    PhysicsRigidBody(Entity* entity, const RigidBodyDescription& description);
};

} // namespace GAME
