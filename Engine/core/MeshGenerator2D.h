// The engine's own two-dimensional mesh generator: a constrained Delaunay triangulation of points
// and segments with exact predicates and exact segment crossings, behind a small record interface.
// The triangulation wrapper (TriangulationData) is its user. Switches (letters, any order; other
// characters are ignored):
//   p  read the segments as a planar straight-line graph (without it only the points count);
//   z  number points from zero (otherwise from one, in the segments and in the output);
//   c  keep every triangle of the convex hull (otherwise the triangles that can be reached from
//      the hull without crossing a segment are removed);
//   H  carving step: a segment with marker k >= 1 refers to input segment k - 1; when the first
//      piece of that segment starts at the segment's first end point, the triangle on its right
//      is removed together with every triangle reachable from it without crossing a segment;
//   Q  quiet: only errors are reported;  V  verbose: statistics as well.
// Messages go to the engine log at priority 0, one line each. Errors return false with both
// output lists empty; the process is never ended. Runs on any thread; keeps no state between runs.
#pragma once

#include <cstdint>
#include <vector>

namespace GAME {

struct MeshGeneratorInput
{
    std::vector<double> points;          // x, y pairs
    std::vector<int32_t> segments;       // pairs of point numbers
    std::vector<int32_t> segmentMarkers; // empty, or one per segment (0 when not given)
};

struct MeshGeneratorOutput
{
    // Every input point in its input position (duplicates included), then the points inserted
    // where segments cross; x, y pairs.
    std::vector<double> points;
    // Three point numbers per triangle, counter-clockwise. Duplicated input points are referred to
    // by the first of them.
    std::vector<int32_t> triangles;
};

bool GenerateMesh2D(const char* switches, const MeshGeneratorInput& in, MeshGeneratorOutput& out);

} // namespace GAME
