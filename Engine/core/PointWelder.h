// Merges points that lie within 0.01 of each other: every point of a group moves to the group's
// average. Neighbours are found through a grid of unit cells, so a run costs about linear time on
// evenly spread points. The object keeps the result of its last run (the group of each input point
// and the welded positions); one thread at a time.
#pragma once

#include "core/Vec3.h"

#include <cstdint>
#include <vector>

namespace GAME {

class PointWelder
{
public:
    PointWelder();
    ~PointWelder();
    PointWelder(const PointWelder&) = delete;
    PointWelder& operator=(const PointWelder&) = delete;

    // Welds the points in place. A group is the points within 0.01 of the first unvisited point
    // that starts it; a point near another member but not near that first point starts its own.
    void Weld(std::vector<Vec3>& points);

    // For each input point of the last run, the index of its welded point.
    const std::vector<int32_t>& GetGroups() const { return m_groupOfPoint; }
    // One position per group, in the order the groups were formed.
    const std::vector<Vec3>& GetWeldedPoints() const { return m_weldedPoints; }

private:
    std::vector<int32_t> m_groupOfPoint;
    std::vector<Vec3> m_weldedPoints;
};

} // namespace GAME
