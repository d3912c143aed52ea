// The walkable floors of cell-grid regions for a path-mesh build: each gathered region's grid
// faces inside the build box, taken from the region's geometry bus stop
// (Region::GeometryBusStop) and carried into the build frame; faces steeper than the walkable
// slope become obstacle faces. Stateless; main thread (it reads the regions' levels).
#pragma once

#include "core/IntSpaceBox.h"
#include "navigation/PathFace.h"

#include <vector>

namespace GAME {

class Region;

class GridPathMeshCalculator
{
public:
    // Appends to faces; regions without a grid region add nothing.
    static void CreateNavigationMesh(const std::vector<Region*>& regions, const IntSpaceBox& box,
                                     std::vector<PathFace>& faces);
};

} // namespace GAME
