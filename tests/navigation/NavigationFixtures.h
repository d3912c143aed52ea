// Shared by the navigation tests: flat walkable ground as path faces, free-standing regions (no
// world) at an offset, and path meshes built over them.
#pragma once

#include "core/ABBox.h"
#include "core/IntSpaceBox.h"
#include "navigation/PathFace.h"
#include "navigation/PathMesh.h"
#include "world/Region.h"
#include "world/RegionId.h"

#include <memory>
#include <string>
#include <vector>

namespace GAME::NavigationTest {

// Two walkable faces covering x0..x1, z0..z1 at height y (build frame), wound to face up.
inline void AddFlatGround(std::vector<PathFace>& faces, float x0, float z0, float x1, float z1,
                          float y = 0.0f)
{
    const Vec3 a(x0, y, z0), b(x1, y, z0), c(x1, y, z1), d(x0, y, z1);
    faces.emplace_back(a, d, c, PATH_FACE_WALKABLE);
    faces.emplace_back(a, c, b, PATH_FACE_WALKABLE);
}

// A region outside any world: the box in its own space, placed at the offset.
inline std::unique_ptr<Region> MakeRegion(const IntVec3& offset, const ABBox& box,
                                          const std::string& name = "r")
{
    return std::make_unique<Region>(nullptr, 0, name, box, offset, RegionId(), 0, 0);
}

// The box a level of the region's box would build over: the box grown by 8 on every side, in world
// units.
inline IntSpaceBox BuildBoxOf(const Region& region)
{
    const ABBox& box = region.GetBoundingBox();
    const IntVec3& o = region.GetOffsetFromWorld();
    return IntSpaceBox(IntVec3(o.x + static_cast<int>(box.center.x), o.y + static_cast<int>(box.center.y),
                               o.z + static_cast<int>(box.center.z)),
                       IntVec3(static_cast<int>(box.extents.x) + 8, static_cast<int>(box.extents.y) + 8,
                               static_cast<int>(box.extents.z) + 8));
}

// A mesh for the region: flat ground over the whole build box at region height 0, and the boxes
// (region space) as obstacles.
inline bool BuildFlatMesh(PathMesh& mesh, Region& region, const std::vector<OBBox>& regionObstacles = {})
{
    const IntSpaceBox box = BuildBoxOf(region);
    const Vec3 shift = BuildFrameShift(region.GetOffsetFromWorld(), box);
    std::vector<PathFace> faces;
    const float hx = static_cast<float>(box.halfSize.x), hz = static_cast<float>(box.halfSize.z);
    AddFlatGround(faces, -hx, -hz, hx, hz, shift.y);
    std::vector<OBBox> obstacles;
    for (OBBox o : regionObstacles) {
        o.coords.origin += shift;
        obstacles.push_back(o);
    }
    mesh.SetRegion(&region);
    return mesh.Create(faces, obstacles, box);
}

} // namespace GAME::NavigationTest
