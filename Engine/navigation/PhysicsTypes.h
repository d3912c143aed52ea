// Values that entities store for the physics engine and hand to ray and collision queries.
// Plain values; any thread.
#pragma once

#include <cstdint>

namespace GAME {

// How the physics engine treats an entity. The entity only stores the value (0 after
// construction) and re-registers itself with the simulation when it changes.
enum PhysicsType : int32_t
{
    PHYSICS_TYPE_DEFAULT = 0,
    // Left out of entity-against-entity collision queries.
    PHYSICS_TYPE_NO_COLLISION = 1,
    PHYSICS_TYPE_ACTOR = 2,
    PHYSICS_TYPE_RAG_DOLL = 3,
};

// The kind of surface a ray or collision query asks about; the geometry that answers may store it
// in the intersection. Queries of the world's entities pass physicsSurfaceAny.
using PhysicsSurface = uint32_t;
constexpr PhysicsSurface physicsSurfaceAny = 100;

} // namespace GAME
