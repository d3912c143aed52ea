// The geometry that focuses a directional shadow map on the part of space that can throw shadows
// into the camera's view. Convex volumes are lists of planes (GAME::Frustum) with inward normals:
// a point is inside when n.p + d >= 0 for every plane. Pure functions of their arguments; any
// thread.
#pragma once

#include "core/Frustum.h"
#include "core/Vec3.h"

namespace GAME {

// The volume of every point that can shade a point of the given volume along the light's
// direction of travel (unit): the planes facing the light stay, each followed by the planes
// through its edges with the planes facing away, running along the light. The result is open
// toward the light; the caller closes it.
Frustum ComputeCasterVolume(const Frustum& volume, const Vec3& lightDirection);

// The corner points of the convex volume, written to out (room for maxCount); the number
// written. Fewer than three planes give none; a corner where more than three planes meet may be
// written more than once. Points within 0.001 outside a plane still count as inside.
int ComputeVolumeCorners(Vec3* out, int maxCount, const Frustum& volume);

} // namespace GAME
