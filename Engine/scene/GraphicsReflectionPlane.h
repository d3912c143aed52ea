// One reflecting surface as water offers it to the reflection manager: the plane, its bounds in
// its region's space, the region, and the surface the manager rendered the reflection into for
// this frame (null until it has; the water resets it before each collection and draws its
// reflection from it). A plain record held by value by each piece of water. Main thread.
#pragma once

#include "core/ABBox.h"
#include "core/Vec3.h"

namespace GAME {

class Region;
class RenderSurface;

struct GraphicsReflectionPlane
{
    Vec3 normal = Vec3(0.0f, 1.0f, 0.0f);
    // Signed distance of p: normal . p + d.
    float d = 0.0f;
    ABBox box;
    // A plane without region is not registered.
    Region* region = nullptr;
    RenderSurface* reflectionSurface = nullptr;
};

} // namespace GAME
