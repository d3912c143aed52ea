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

// The kind of surface a ray or collision query asks about, and the kind the geometry that answers
// reports in its intersection or contacts. Queries of the world's entities pass physicsSurfaceAny.
using PhysicsSurface = uint32_t;

// The surfaces terrain types and collision meshes name; any other name is PHYSICS_SURFACE_OTHER.
enum : PhysicsSurface
{
    PHYSICS_SURFACE_UNWALKABLE = 0,
    PHYSICS_SURFACE_GRASS = 1,
    PHYSICS_SURFACE_DIRT = 2,
    PHYSICS_SURFACE_SAND = 3,
    PHYSICS_SURFACE_SNOW = 4,
    PHYSICS_SURFACE_STONE = 5,
    PHYSICS_SURFACE_WOOD = 6,
    PHYSICS_SURFACE_WATER = 7,
    PHYSICS_SURFACE_OTHER = 100,
};

constexpr PhysicsSurface physicsSurfaceAny = PHYSICS_SURFACE_OTHER;

} // namespace GAME
