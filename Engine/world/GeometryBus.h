// The faces that geometry queries gather from the ground of the regions (GeometryBusStop of the
// region and the world): each a triangle in the space of the region it came from. A plain value;
// any thread.
#pragma once

#include "core/Vec3.h"

namespace GAME::GeometryBus {

struct SimpleFace
{
    Vec3 vertices[3];
};

} // namespace GAME::GeometryBus
