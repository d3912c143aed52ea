#include "terrain/WaterElement.h"

#include "core/Log.h"
#include "graphics/RenderDevice.h"
#include "terrain/GridRegion.h"
#include "terrain/TerrainBase.h"

#include <cmath>

namespace GAME {

WaterElement::WaterElement(ElementType type, RenderDevice& device) : m_device(device), m_elementType(type) {}

WaterElement::~WaterElement()
{
    ReleaseVertexBuffer();
}

void WaterElement::ReleaseVertexBuffer()
{
    if (m_vertexBuffer)
        m_device.DestroyVertexBuffer(&m_vertexBuffer);
    m_vertexBuffer = nullptr;
}

void WaterElement::SetFlatVertex(WaterVertex& v, float x, float y, float z, float u, float w, uint32_t color)
{
    v.position[0] = x;
    v.position[1] = y;
    v.position[2] = z;
    v.texCoord[0] = u;
    v.texCoord[1] = w;
    v.normal[0] = 1.0f;
    v.normal[1] = 0.0f;
    v.color = color;
}

RenderVertexDeclaration* WaterElement::CreateVertexDeclaration(RenderDevice& device)
{
    const VertexElement elements[4] = {
        {0, VERTEX_USAGE_POSITION, VERTEX_TYPE_FLOAT3},
        {0, VERTEX_USAGE_TEXCOORD0, VERTEX_TYPE_FLOAT2},
        {0, VERTEX_USAGE_NORMAL, VERTEX_TYPE_FLOAT2},
        {0, VERTEX_USAGE_COLOR, VERTEX_TYPE_COLOR},
    };
    return device.CreateVertexDeclaration(elements, 4);
}

RenderVertexBuffer* WaterElement::CreateVertexBuffer(unsigned bytes, const char* failure)
{
    ReleaseVertexBuffer();
    m_vertexBuffer = bytes ? m_device.CreateVertexBuffer(RENDER_USAGE_STATIC, bytes) : nullptr;
    if (!m_vertexBuffer)
        LogPrintf(1, "%s", failure);
    return m_vertexBuffer;
}

float WaterElement::GetGroundHeight(const TerrainBase* terrain, const GridRegion* grid, float x, float z)
{
    if (terrain)
        return terrain->GetHeightInterpolated(x, z);
    if (grid)
        return grid->GetGroundHeight(x, z);
    return 0.0f;
}

uint32_t WaterElement::EncodeDepth(float depth)
{
    if (!(depth > 0.0f))
        return 0;
    if (depth > 255.0f)
        depth = 255.0f;
    const float whole = std::floor(depth);
    const uint32_t fraction = static_cast<uint32_t>((depth - whole) * 255.0f);
    return (static_cast<uint32_t>(whole) << 8) | (fraction & 0xFFu);
}

uint32_t WaterElement::AlphaBits(float value)
{
    if (!(value > 0.0f))
        return 0;
    return (value >= 255.0f ? 255u : static_cast<uint32_t>(value)) << 24;
}

} // namespace GAME
