#include "core/PointWelder.h"

#include "core/IntVec3.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace GAME {

namespace {

constexpr float kWeldDistanceSquared = 0.0001f;
constexpr double kWeldDistance = 0.01;

// A floored coordinate as a cell index: truncated to 64 bits, low 32 bits kept. Values that a
// 64-bit integer cannot hold (and NaN) are clamped first rather than converted blindly.
int32_t CellCoordinate(double flooredValue)
{
    if (std::isnan(flooredValue))
        return 0;
    const double clamped = std::clamp(flooredValue, -9.0e18, 9.0e18);
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(clamped))));
}

struct CellHash
{
    size_t operator()(const IntVec3& c) const
    {
        return (uint32_t(c.x) * 1000u + uint32_t(c.y)) * 1000u + uint32_t(c.z);
    }
};

// The cells that the 0.01 neighbourhood of a coordinate touches: at most three.
struct CellRange
{
    double first;
    int count;
};

CellRange NeighbourCells(float value)
{
    const double lo = std::floor(double(value) - kWeldDistance);
    const double hi = std::ceil(double(value) + kWeldDistance);
    const double span = hi - lo;
    return CellRange{lo, span >= 2.0 ? 3 : (span >= 1.0 ? 2 : 1)};
}

} // namespace

PointWelder::PointWelder() = default;
PointWelder::~PointWelder() = default;

void PointWelder::Weld(std::vector<Vec3>& points)
{
    // A second run starts from scratch instead of appending groups to the previous ones.
    m_groupOfPoint.assign(points.size(), -1);
    m_weldedPoints.clear();
    if (points.empty())
        return;

    std::vector<bool> visited(points.size(), false);
    std::unordered_map<IntVec3, std::vector<uint32_t>, CellHash> cells;
    cells.reserve(100);
    for (size_t i = 0; i < points.size(); ++i) {
        const Vec3& p = points[i];
        const IntVec3 cell(CellCoordinate(std::floor(double(p.x))), CellCoordinate(std::floor(double(p.y))),
                           CellCoordinate(std::floor(double(p.z))));
        cells[cell].push_back(static_cast<uint32_t>(i));
    }

    std::vector<uint32_t> group;
    for (size_t i = 0; i < points.size(); ++i) {
        if (visited[i])
            continue;
        visited[i] = true;
        group.assign(1, static_cast<uint32_t>(i));
        const Vec3 origin = points[i];

        const CellRange rx = NeighbourCells(origin.x), ry = NeighbourCells(origin.y),
                        rz = NeighbourCells(origin.z);
        for (int ix = 0; ix < rx.count; ++ix)
            for (int iy = 0; iy < ry.count; ++iy)
                for (int iz = 0; iz < rz.count; ++iz) {
                    const IntVec3 cell(CellCoordinate(rx.first + ix), CellCoordinate(ry.first + iy),
                                       CellCoordinate(rz.first + iz));
                    auto found = cells.find(cell);
                    if (found == cells.end())
                        continue;
                    for (uint32_t j : found->second) {
                        if (visited[j])
                            continue;
                        // Measured from the point that started the group, never from later members.
                        if ((points[j] - origin).LengthSquared() < kWeldDistanceSquared) {
                            visited[j] = true;
                            group.push_back(j);
                        }
                    }
                }

        Vec3 sum;
        for (uint32_t member : group)
            sum += points[member];
        const int32_t index = static_cast<int32_t>(m_weldedPoints.size());
        m_weldedPoints.push_back(sum * (1.0f / static_cast<float>(group.size())));
        for (uint32_t member : group)
            m_groupOfPoint[member] = index;
    }

    for (size_t i = 0; i < points.size(); ++i)
        points[i] = m_weldedPoints[static_cast<size_t>(m_groupOfPoint[i])];
}

} // namespace GAME
