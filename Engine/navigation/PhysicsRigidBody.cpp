#include "navigation/PhysicsRigidBody.h"

#include "core/WorldCoords.h"
#include "navigation/RigidBodyDescription.h"
#include "world/Entity.h"

namespace GAME {

PhysicsRigidBody::PhysicsRigidBody(Entity* entity) : PhysicsObject(entity)
{
    if (!entity)
        return;
    // Both boxes are in the region's space; the body keeps its box in the entity's frame.
    const Coords frame = MakeRigid(entity->GetCoords().GetRegionCoords());
    OBBox box;
    if (!entity->GetCollisionProxy(box)) {
        const ABBox& bounds = entity->GetRegionBoundingBox();
        // An entity without a box gets the least box at its origin.
        const bool empty = bounds.extents == Vec3();
        box = OBBox(bounds.extents, Coords::Translation(empty ? frame.origin : bounds.center));
    }
    const Coords local = frame.Inverse() * MakeRigid(box.coords);
    AddBody(local, box.extents, defaultDensity, true);
}

PhysicsRigidBody::PhysicsRigidBody(Entity* entity, const RigidBodyDescription& description)
    : PhysicsObject(entity)
{
    AddBody(description.parentCoords, description.extents, description.density, description.collides);
}

} // namespace GAME
