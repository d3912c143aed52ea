// A way found by the path finder: its corners in order, each a position in its region, from the
// start to the goal. Where the way leaves one region for another (through a portal, or across the
// border of two regions' meshes) the same place appears twice in a row, in the space of the region
// left and then of the region entered. The caller of PathFinder::FindPath owns it. A plain value;
// one thread at a time.
#pragma once

#include "core/WorldVec3.h"

#include <vector>

namespace GAME {

class Path
{
public:
    Path() = default;
    virtual ~Path() = default;

    void AddPoint(const WorldVec3& point) { m_points.push_back(point); }
    int GetNumPoints() const { return static_cast<int>(m_points.size()); }
    // Null region and zero position outside [0, GetNumPoints()).
    WorldVec3 GetPoint(int index) const;
    const std::vector<WorldVec3>& GetPoints() const { return m_points; }
    // The length of the way: the segments between corners of one region (a change of region adds
    // nothing).
    float GetLength() const;
    // The number of times the way changes region.
    int GetNumRegionChanges() const;

private:
    std::vector<WorldVec3> m_points;
};

} // namespace GAME
