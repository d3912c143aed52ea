// One ribbon of a river (WaterPath) between two neighbouring control points A and B: n rows of
// water vertices from A to B along the centre Bezier, 10 vertices across each row from the left
// edge to the right, the row's flow direction in the normal slot and a texture coordinate that
// runs a whole number of repeats along the segment. The first and last segments of a path fade
// in and out over their end rows. A segment always has at least one subdivision and at most 64.
//
// The vertices are kept beside the vertex buffer so that the depth over a changed ground can be
// rewritten without reading the device's memory back. Owned by its path. Main thread (a level
// loading thread builds the segments of the water it loads).
#pragma once

#include "core/Vec2.h"
#include "terrain/WaterCurve.h"
#include "terrain/WaterElement.h"

#include <vector>

namespace GAME {

class WaterPathSegment : public WaterElement
{
public:
    static constexpr unsigned maxSubdivisions = maxStripRows;
    static constexpr unsigned rowVertices = stripColumns;

    explicit WaterPathSegment(RenderDevice& device);

    // Rebuilds the segment from its two points at the height. textureScale is the type's (x along
    // the river, y across it). The vertex buffer may fail ("Failed to create vertex buffer for
    // water segment."); the box and vertices are made all the same.
    void Build(const ControlPoint& a, const ControlPoint& b, float height, bool first, bool last,
               const Vec2& textureScale, const TerrainBase* terrain, const GridRegion* grid);

    // Keeps each vertex's alpha and rewrites its depth; false (logged) without vertex buffer.
    bool UpdateDepth(const TerrainBase* terrain, const GridRegion* grid) override;
    void Render(RenderDevice& device) override;
    const Name& GetStyleName() const override;
    const Name& GetReflectStyleName() const override;

    unsigned GetNumSubdivisions() const { return m_subdivisions; }
    unsigned GetNumVertices() const { return (m_subdivisions + 1) * rowVertices; }
    uint32_t GetNumTriangles() const { return GetStripTriangleCount(m_subdivisions); }
    const std::vector<WaterVertex>& GetVertices() const { return m_vertices; }
    // Subdivisions of a centre curve of that length: half the length, truncated, held to 1 ... 64.
    static unsigned CountSubdivisions(float length);

private:
    void Upload();

    unsigned m_subdivisions = 0;
    std::vector<WaterVertex> m_vertices;
};

} // namespace GAME
