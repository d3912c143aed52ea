// Collects 2-D points and constraint segments (the outlines of passable ground that the path-mesh
// builders produce), snaps and de-duplicates the points, and triangulates them with the engine's
// mesh generator. The triangles index the collected points, so each corner keeps the height and
// the three values of the first vertex that reached its snapped position.
//
// Outlines are directed: each segment keeps the ground on its left and carves away the side on
// its right (outer outlines run counter-clockwise, holes clockwise); triangles outside every
// outline, reachable from the convex hull, go as well.
//
// Building the lists is done by one thread at a time; Triangulate holds the object's lock for the
// whole generator run.
#pragma once

#include "core/CriticalSection.h"
#include "core/PolygonVertex.h"
#include "core/Vec2.h"

#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace GAME {

class TriangulationData
{
public:
    TriangulationData();
    ~TriangulationData();
    TriangulationData(const TriangulationData&) = delete;
    TriangulationData& operator=(const TriangulationData&) = delete;

    // 0 (the default) turns snapping off.
    void SetSnapSpacing(double spacing) { m_snapSpacing = spacing; }
    double GetSnapSpacing() const { return m_snapSpacing; }
    Vec2 SnapPoint(float x, float y) const;

    // Index of the point at the snapped position, or -1.
    int32_t FindPoint(float x, float y) const;
    // Index of the point at the vertex's snapped position, added when new.
    int32_t AddPoint(const PolygonVertex& vertex);
    // Adds both points and the segment a -> b (duplicates are kept).
    void AddSegment(const PolygonVertex& a, const PolygonVertex& b);
    // Removes the segment b -> a when present, otherwise adds a -> b, so an edge entered once in
    // each direction cancels out. Points that were never added make it do nothing.
    void ToggleSegment(const PolygonVertex& a, const PolygonVertex& b);
    // The same operation under the name the terrain's plug builder uses: an edge of a plug that
    // stays cancels the segment entered the other way.
    void RemoveSegment(const PolygonVertex& a, const PolygonVertex& b) { ToggleSegment(a, b); }

    int32_t GetNumPoints() const { return static_cast<int32_t>(m_points.size()); }
    // The snapped x, y, the height and the values of point i (a zero vertex when out of range).
    PolygonVertex GetVertex(int32_t i) const;
    int32_t GetNumSegments() const { return static_cast<int32_t>(m_segments.size() - m_deadSegments); }
    // The segments in the order they were entered.
    std::vector<std::pair<int32_t, int32_t>> GetSegments() const;

    // Three point indices per triangle. Both outputs are reset first; no points, or a generator
    // failure (logged), give no triangles.
    void Triangulate(std::unique_ptr<int32_t[]>& indices, int32_t& triangleCount);

    // Drops segments whose end points lie less than 0.0001 apart in x, y.
    void RemoveShortSegments();
    // Welds the points as 3-D points (x, height, y) and drops the segments that became shorter
    // than 0.0001. The point lookup still answers for the positions as they were added.
    void WeldPoints();

    // Writes the points and segments as text, with a GNUPLOT section of the segments.
    bool DumpToFile(const char* path);

private:
    struct PointKey
    {
        float x;
        float y;
        bool operator==(const PointKey& o) const { return x == o.x && y == o.y; }
    };
    struct PointKeyHash
    {
        size_t operator()(const PointKey& key) const;
    };
    struct SegmentKeyHash
    {
        size_t operator()(uint64_t key) const;
    };
    static uint64_t SegmentKey(int32_t first, int32_t second)
    {
        return (uint64_t(uint32_t(first)) << 32) | uint32_t(second);
    }

    void AppendSegment(int32_t first, int32_t second);
    // Drops removed entries and renumbers the segment table.
    void CompactSegments();
    template <class Predicate> void RemoveSegmentsIf(Predicate shouldRemove);

    static constexpr std::pair<int32_t, int32_t> kRemovedSegment{-1, -1};

    CriticalSection m_lock;
    double m_snapSpacing = 0.0;
    std::vector<std::pair<int32_t, int32_t>> m_segments; // removed entries hold kRemovedSegment
    size_t m_deadSegments = 0;
    std::vector<Vec2> m_points;
    std::vector<float> m_heights;
    std::vector<std::array<uint32_t, 3>> m_pointValues;
    std::unordered_multimap<uint64_t, uint32_t, SegmentKeyHash> m_segmentTable;
    std::unordered_map<PointKey, int32_t, PointKeyHash> m_pointTable;
};

// The name the terrain's plug builder knows the wrapper by.
using Triangulator = TriangulationData;

// Runs the mesh generator on the points and segments (index pairs). The triangles' corners index
// the given points: a point the generator inserts where segments cross is replaced by the nearest
// given point, and triangles left with fewer than three distinct corners are dropped. Returns
// false (no triangles) when the generator fails.
bool TriangulatePoints(const Vec2* points, int32_t pointCount, const int32_t* segments, int32_t segmentCount,
                       std::unique_ptr<int32_t[]>& indices, int32_t& triangleCount);

} // namespace GAME
