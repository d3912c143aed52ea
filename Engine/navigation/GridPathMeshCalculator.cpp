#include "navigation/GridPathMeshCalculator.h"

#include "core/ABBox.h"
#include "core/GeometryBus.h"
#include "core/RegionServices.h"
#include "navigation/NavigationServices.h"

namespace GAME {

void GridPathMeshCalculator::CreateNavigationMesh(const std::vector<Region*>& regions, const IntSpaceBox& box,
                                                  std::vector<PathFace>& faces)
{
    NavigationServices* world = NavigationServices::Get();
    if (!world)
        return;
    for (Region* region : regions) {
        const Level* level = region ? world->GetLevel(region, true) : nullptr;
        if (!level || !world->GetGridRegion(level))
            continue;
        const Vec3 shift = BuildFrameShift(RegionServices::OffsetFromWorld(region), box);
        const ABBox query(-shift, Vec3(static_cast<float>(box.halfSize.x), static_cast<float>(box.halfSize.y),
                                       static_cast<float>(box.halfSize.z)));
        std::vector<GeometryBus::SimpleFace> simple;
        world->GetGeometryFaces(region, query, simple);
        for (const GeometryBus::SimpleFace& face : simple) {
            const Vec3 a = face.vertices[0] + shift, b = face.vertices[1] + shift,
                       c = face.vertices[2] + shift;
            faces.emplace_back(a, b, c, IsWalkableSlope(a, b, c) ? PATH_FACE_WALKABLE : PATH_FACE_OBSTACLE);
        }
    }
}

} // namespace GAME
