// The face lists geometry queries gather from the grounds of the world: each stop along the bus (a
// region, its grid region) appends the triangles it has inside a box, in the space of the region
// asked. The path-mesh build takes a grid's walkable faces this way. Plain values; one thread at a
// time.
#pragma once

#include "core/Vec3.h"

#include <cstdint>

namespace GAME {

namespace GeometryBus {

struct SimpleFace
{
    Vec3 vertices[3];
    // The ground's surface value of the face (0 when it has none).
    uint32_t surface = 0;
};

} // namespace GeometryBus

} // namespace GAME
