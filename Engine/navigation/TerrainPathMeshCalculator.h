// The walkable ground of height-field terrains for a path-mesh build: every passable cell of the
// gathered regions' terrains that meets the build box becomes two faces, corners at the cell's
// four sample heights, in the build frame. Cells steeper than the walkable slope become obstacle
// faces. Stateless; main thread (it reads the regions' levels).
#pragma once

#include "core/IntSpaceBox.h"
#include "navigation/PathFace.h"

#include <vector>

namespace GAME {

class Region;

class TerrainPathMeshCalculator
{
public:
    // Appends to faces; regions without a level or terrain add nothing.
    static void CreateNavigationMesh(const std::vector<Region*>& regions, const IntSpaceBox& box,
                                     std::vector<PathFace>& faces);
};

} // namespace GAME
