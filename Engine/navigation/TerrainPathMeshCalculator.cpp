#include "navigation/TerrainPathMeshCalculator.h"

#include "navigation/ImpassableData.h"
#include "terrain/Terrain.h"
#include "terrain/TerrainBase.h"
#include "world/Level.h"
#include "world/Region.h"

#include <algorithm>
#include <cstdint>

namespace GAME {

void TerrainPathMeshCalculator::CreateNavigationMesh(const std::vector<Region*>& regions,
                                                     const IntSpaceBox& box, std::vector<PathFace>& faces)
{
    for (Region* region : regions) {
        const Level* level = region ? region->GetLevel(true) : nullptr;
        const TerrainBase* terrain = level ? level->GetTerrain() : nullptr;
        if (!terrain || terrain->GetNumXSamples() < 2 || terrain->GetNumYSamples() < 2)
            continue;
        // Samples lie one unit apart from the region's origin: cell (x, y) spans x..x+1 and
        // z = y..y+1 of region space.
        const IntVec3& o = region->GetOffsetFromWorld();
        const int64_t cellsX = terrain->GetNumXSamples() - 1, cellsY = terrain->GetNumYSamples() - 1;
        // The cells inside the box (the box's sides are whole units, as are the cells').
        const int64_t x0 = std::max<int64_t>(0, int64_t(box.center.x) - box.halfSize.x - o.x);
        const int64_t x1 = std::min<int64_t>(cellsX - 1, int64_t(box.center.x) + box.halfSize.x - o.x - 1);
        const int64_t y0 = std::max<int64_t>(0, int64_t(box.center.z) - box.halfSize.z - o.z);
        const int64_t y1 = std::min<int64_t>(cellsY - 1, int64_t(box.center.z) + box.halfSize.z - o.z - 1);
        if (x0 > x1 || y0 > y1)
            continue;
        // TODO(stand-in): the editable terrain keeps the impassable data it was handed; once it
        // keeps passability cells of its own (slopes, cut-aways), ask Terrain::IsImpassable.
        const Terrain* editable = level->GetEditableTerrain();
        const ImpassableData* impassable = editable && editable->GetImpassableData().HasBeenLoadedOrPrimed()
                                               ? &editable->GetImpassableData()
                                               : nullptr;
        const Vec3 shift = BuildFrameShift(o, box);
        auto corner = [&](int64_t x, int64_t y) {
            return Vec3(static_cast<float>(x), terrain->GetHeight(static_cast<int>(x), static_cast<int>(y)),
                        static_cast<float>(y)) +
                   shift;
        };
        for (int64_t y = y0; y <= y1; ++y)
            for (int64_t x = x0; x <= x1; ++x) {
                if (impassable && impassable->GetImpassable(static_cast<int>(x), static_cast<int>(y)))
                    continue;
                const Vec3 a = corner(x, y), b = corner(x + 1, y), c = corner(x + 1, y + 1),
                           d = corner(x, y + 1);
                // Wound so that the normal of flat ground points up.
                faces.emplace_back(a, d, c,
                                   IsWalkableSlope(a, d, c) ? PATH_FACE_WALKABLE : PATH_FACE_OBSTACLE);
                faces.emplace_back(a, c, b,
                                   IsWalkableSlope(a, c, b) ? PATH_FACE_WALKABLE : PATH_FACE_OBSTACLE);
            }
    }
}

} // namespace GAME
