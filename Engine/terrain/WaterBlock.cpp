#include "terrain/WaterBlock.h"

#include "core/Name.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderVertexBuffer.h"

#include <algorithm>

namespace GAME {

WaterBlock::WaterBlock(RenderDevice& device, unsigned x, unsigned z)
    : WaterElement(ELEMENT_BLOCK, device), m_x(x), m_z(z)
{
}

bool WaterBlock::IsEmpty() const
{
    return std::all_of(m_coverage, m_coverage + numCoverageBytes, [](uint8_t b) { return b == 0; });
}

bool WaterBlock::BuildVertices(const TerrainBase* terrain, const GridRegion* grid)
{
    if (!CreateVertexBuffer(numVertices * vertexStride, "Failed to create vertex buffer for water block."))
        return false;
    WriteVertices(terrain, grid);
    return true;
}

bool WaterBlock::UpdateDepth(const TerrainBase* terrain, const GridRegion* grid)
{
    return m_vertexBuffer && WriteVertices(terrain, grid);
}

bool WaterBlock::WriteVertices(const TerrainBase* terrain, const GridRegion* grid)
{
    auto* vertices = static_cast<WaterVertex*>(m_vertexBuffer->Lock());
    if (!vertices)
        return false;
    const Vec3 low = m_box.GetMin(), high = m_box.GetMax();
    const float y = m_box.center.y;
    bool visible = false;
    for (unsigned row = 0; row < mapSize; ++row)
        for (unsigned column = 0; column < mapSize; ++column) {
            const unsigned i = row * mapSize + column;
            WaterVertex& v = vertices[i];
            const float x = std::min(low.x + static_cast<float>(column), high.x);
            const float z = std::min(low.z + static_cast<float>(row), high.z);
            const uint32_t depth = EncodeDepth(y - GetGroundHeight(terrain, grid, x, z));
            SetFlatVertex(v, x, y, z, x, z, (static_cast<uint32_t>(m_coverage[i]) << 24) | depth);
            visible = visible || (m_coverage[i] != 0 && depth != 0);
        }
    m_vertexBuffer->Unlock();
    return visible;
}

void WaterBlock::Render(RenderDevice& device)
{
    if (!m_vertexBuffer)
        return;
    RenderDrawRange range;
    range.baseVertex = static_cast<int32_t>(m_firstVertex);
    range.numVertices = numVertices;
    range.startIndex = 0;
    range.primitiveCount = GetStripTriangleCount(numStripRows);
    device.DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_STRIP, range);
}

const Name& WaterBlock::GetStyleName() const
{
    static const Name name = Name::Create("waterBlockStyle");
    return name;
}

const Name& WaterBlock::GetReflectStyleName() const
{
    static const Name name = Name::Create("waterBlockReflectStyle");
    return name;
}

} // namespace GAME
