// A closed 2-D outline: the contour of an impassable area or an outline that terrain rasterises.
// Vertices are kept in order and the last joins the first; all tests use their x and y with x to
// the right and y up. The polygon owns its vertex list; it is a plain value, one thread at a time.
#pragma once

#include "core/PolygonVertex.h"
#include "core/Vec2.h"

#include <cstddef>
#include <vector>

namespace GAME {

class SimplePolygon
{
public:
    int GetNumVertices() const { return static_cast<int>(m_vertices.size()); }
    PolygonVertex& GetVertex(int i) { return m_vertices[static_cast<size_t>(i)]; }
    const PolygonVertex& GetVertex(int i) const { return m_vertices[static_cast<size_t>(i)]; }
    const std::vector<PolygonVertex>& GetVertices() const { return m_vertices; }

    void AddVertex(const PolygonVertex& v) { m_vertices.push_back(v); }
    void Clear() { m_vertices.clear(); }
    void Reverse();

    // Index of the vertex of smallest x (the first one on ties); -1 for an empty polygon.
    int GetLeftmostVertex() const;
    // Negative for counter-clockwise order, positive for clockwise.
    float GetSignedArea() const;
    bool IsClockwise() const;
    // Winding test: inside when the edges turn at least half a revolution around the point.
    bool Contains(const Vec2& p) const;
    // Joins a hole (in the opposite orientation) into this outline through a bridge from an
    // outer vertex to the hole's leftmost vertex; leaves the outline unchanged when no bridge is
    // free of the outer edges.
    void MergeHole(const SimplePolygon& hole);

private:
    std::vector<PolygonVertex> m_vertices;
};

} // namespace GAME
