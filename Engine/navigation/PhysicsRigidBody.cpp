#include "navigation/PhysicsRigidBody.h"

#include "core/WorldCoords.h"
#include "navigation/NavigationServices.h"
#include "navigation/RigidBodyDescription.h"

namespace GAME {

PhysicsRigidBody::PhysicsRigidBody(Entity* entity) : PhysicsObject(entity)
{
    NavigationServices* world = NavigationServices::Get();
    if (!entity || !world)
        return;
    // Both boxes are in the region's space; the body keeps its box in the entity's frame.
    const Coords frame = MakeRigid(world->GetCoords(entity).GetRegionCoords());
    OBBox box;
    if (!world->GetCollisionProxy(entity, box)) {
        const ABBox bounds = world->GetRegionBoundingBox(entity);
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
