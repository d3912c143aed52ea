// Plane geometry on outline points: orientation, distances, grid snapping, triangle tests, the
// ear-clipping triangulator and the edge-flipping pass that evens out its triangles. Everything
// works in the x and y of its inputs. Pure functions, safe from any thread.
#pragma once

#include "core/PolygonVertex.h"
#include "core/SimplePolygon.h"
#include "core/Vec2.h"

#include <vector>

namespace GAME {

// cross(b - a, c - a): positive for a counter-clockwise turn.
float Orient2D(const Vec2& a, const Vec2& b, const Vec2& c);

// Distance from p to the segment a-b; t receives the clamped parameter of the nearest point.
// A zero-length segment gives a non-finite t and distance.
float DistancePointToSegment2D(const Vec2& a, const Vec2& b, const Vec2& p, float& t);

// Rounds x and y to the nearest multiple of the spacing (in double precision); spacing 0 keeps
// the point.
Vec2 SnapToGrid(const Vec2& point, double spacing);
void SnapTriangle(PolygonTriangle& triangle, double spacing);

// Points on the edges are outside; a degenerate triangle contains nothing.
bool PointStrictlyInTriangle2D(const PolygonTriangle& triangle, const Vec2& p);
// Every vertex of the triangle other than a and b lies strictly left of the directed line a -> b.
bool TriangleLeftOfLine(const PolygonTriangle& triangle, const Vec2& a, const Vec2& b);
// Edges crossing properly, or a vertex of one strictly inside the other. Touching is no overlap.
bool TrianglesOverlap2D(const PolygonTriangle& t0, const PolygonTriangle& t1);

// Positive for counter-clockwise order (the opposite sign of SimplePolygon::GetSignedArea).
float PolygonArea2D(const SimplePolygon& polygon);
// Edges included.
bool InsideTriangle2D(float ax, float ay, float bx, float by, float cx, float cy, float px, float py);

// Whether the corner at position v of the index list V (neighbours at u and w) can be cut off:
// convex, and no other vertex among the first n positions inside it.
bool IsEar(const SimplePolygon& polygon, int u, int v, int w, int n, const int* V);
// Appends the triangles of a simple outline, each counter-clockwise. A self-crossing outline
// stops the clipper early and keeps the triangles found so far.
void EarClipTriangulate(const SimplePolygon& polygon, std::vector<PolygonTriangle>& triangles);
// Flips the shared edge of neighbouring triangles whose opposite angles sum to more than 181
// degrees, until none is left; each triangle keeps its slot and its orientation.
void FlipTriangleEdges(std::vector<PolygonTriangle>& triangles);

} // namespace GAME
