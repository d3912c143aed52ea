// One square block of a water layer: 9 x 9 units with a 10 x 10 coverage map (row by row along z,
// 10 bytes along x; 0 dry, 255 water after painting, any byte after loading) and 100 water
// vertices one unit apart over it, their colour carrying the coverage in alpha and the depth over
// the ground below. Neighbouring blocks share their edge positions, each with its own vertices.
// Blocks on the far edges of the water area have boxes clipped to it; their vertices step by one
// unit all the same and are clipped to the box.
//
// Owned by its layer (WaterLayer), which sets its box and files it in the water's tree. Main
// thread (a level loading thread builds the blocks of the water it loads).
#pragma once

#include "terrain/WaterElement.h"

#include <cstdint>

namespace GAME {

class WaterBlock : public WaterElement
{
public:
    static constexpr unsigned mapSize = 10;
    static constexpr unsigned numCoverageBytes = mapSize * mapSize;
    static constexpr unsigned numVertices = mapSize * mapSize;
    // Rows of triangle strips a block draws.
    static constexpr unsigned numStripRows = mapSize - 1;

    // The block of grid column x and row z, all dry, without box or vertices.
    WaterBlock(RenderDevice& device, unsigned x, unsigned z);

    unsigned GetX() const { return m_x; }
    unsigned GetZ() const { return m_z; }
    uint8_t* GetCoverage() { return m_coverage; }
    const uint8_t* GetCoverage() const { return m_coverage; }
    // All 100 bytes 0.
    bool IsEmpty() const;
    // The box the layer computed (centre height the layer's surface).
    void SetBoundingBox(const ABBox& box) { m_box = box; }

    // Makes the vertex buffer (logging "Failed to create vertex buffer for water block." when the
    // device refuses) and writes the 100 vertices; false without buffer.
    bool BuildVertices(const TerrainBase* terrain, const GridRegion* grid);
    // Rewrites the vertices with the current coverage and ground; true when a vertex has both
    // coverage and depth. False without vertex buffer.
    bool UpdateDepth(const TerrainBase* terrain, const GridRegion* grid) override;
    // A triangle strip over the 100 vertices with the water's block index buffer.
    void Render(RenderDevice& device) override;
    const Name& GetStyleName() const override;
    const Name& GetReflectStyleName() const override;

private:
    bool WriteVertices(const TerrainBase* terrain, const GridRegion* grid);

    unsigned m_x;
    unsigned m_z;
    uint8_t m_coverage[numCoverageBytes] = {};
};

} // namespace GAME
