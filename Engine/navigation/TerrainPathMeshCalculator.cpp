#include "navigation/TerrainPathMeshCalculator.h"

#include "core/RegionServices.h"
#include "navigation/NavigationGround.h"
#include "navigation/NavigationServices.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace GAME {

void TerrainPathMeshCalculator::CreateNavigationMesh(const std::vector<Region*>& regions,
                                                     const IntSpaceBox& box, std::vector<PathFace>& faces)
{
    NavigationServices* world = NavigationServices::Get();
    if (!world)
        return;
    for (Region* region : regions) {
        const Level* level = region ? world->GetLevel(region, true) : nullptr;
        const NavigationGround* ground = level ? world->GetGround(region) : nullptr;
        if (!ground || ground->GetNumXSamples() < 2 || ground->GetNumYSamples() < 2)
            continue;
        // Samples lie one unit apart from the region's origin: cell (x, y) spans x..x+1 and
        // z = y..y+1 of region space.
        const IntVec3 o = RegionServices::OffsetFromWorld(region);
        const int64_t cellsX = ground->GetNumXSamples() - 1, cellsY = ground->GetNumYSamples() - 1;
        // The cells inside the box (the box's sides are whole units, as are the cells').
        const int64_t x0 = std::max<int64_t>(0, int64_t(box.center.x) - box.halfSize.x - o.x);
        const int64_t x1 = std::min<int64_t>(cellsX - 1, int64_t(box.center.x) + box.halfSize.x - o.x - 1);
        const int64_t y0 = std::max<int64_t>(0, int64_t(box.center.z) - box.halfSize.z - o.z);
        const int64_t y1 = std::min<int64_t>(cellsY - 1, int64_t(box.center.z) + box.halfSize.z - o.z - 1);
        if (x0 > x1 || y0 > y1)
            continue;
        const Vec3 shift = BuildFrameShift(o, box);
        auto corner = [&](int64_t x, int64_t y) {
            return Vec3(static_cast<float>(x), ground->GetHeight(static_cast<int>(x), static_cast<int>(y)),
                        static_cast<float>(y)) +
                   shift;
        };
        auto addFace = [&](const Vec3& a, const Vec3& b, const Vec3& c) {
            faces.emplace_back(a, b, c, IsWalkableSlope(a, b, c) ? PATH_FACE_WALKABLE : PATH_FACE_OBSTACLE);
        };
        for (int64_t y = y0; y <= y1; ++y)
            for (int64_t x = x0; x <= x1; ++x) {
                // Only the editable terrain knows impassable cells. A cut-away cell has no height-field
                // ground; the plug that fills it (below) does.
                if (ground->IsImpassable(static_cast<int>(x), static_cast<int>(y)) ||
                    ground->IsInvisible(static_cast<int>(x), static_cast<int>(y)))
                    continue;
                const Vec3 a = corner(x, y), b = corner(x + 1, y), c = corner(x + 1, y + 1),
                           d = corner(x, y + 1);
                // Wound so that the normal of flat ground points up.
                addFace(a, d, c);
                addFace(a, c, b);
            }

        // The plugs in the box: their triangles are ground too. Plug positions are terrain space
        // (X, Y along the samples, Z the height); each face is wound like the ground's, its normal
        // up.
        const Vec3 low(static_cast<float>(x0), -1.0e30f, static_cast<float>(y0));
        const Vec3 high(static_cast<float>(x1 + 1), 1.0e30f, static_cast<float>(y1 + 1));
        std::vector<std::array<Vec3, 3>> triangles;
        ground->GetPlugTriangles(ABBox((low + high) * 0.5f, (high - low) * 0.5f), triangles);
        for (const std::array<Vec3, 3>& triangle : triangles) {
            Vec3 p[3];
            for (int k = 0; k < 3; ++k) {
                const Vec3& v = triangle[static_cast<size_t>(k)];
                p[k] = Vec3(v.x, v.z, v.y) + shift;
            }
            if (Vec3::Cross(p[1] - p[0], p[2] - p[0]).y >= 0.0f)
                addFace(p[0], p[1], p[2]);
            else
                addFace(p[0], p[2], p[1]);
        }
    }
}

} // namespace GAME
