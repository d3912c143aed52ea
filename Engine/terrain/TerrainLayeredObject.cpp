#include "terrain/TerrainLayeredObject.h"

#include "core/Vec2.h"
#include "graphics/GraphicsShader2.h"
#include "scene/GraphicsSceneRenderer.h"
#include "terrain/TerrainBase.h"
#include "terrain/TerrainRenderInterfaceBase.h"
#include "terrain/TerrainType.h"
#include "world/Region.h"

namespace GAME {

void TerrainLayeredObject::AddToScene(GraphicsSceneRenderer& renderer, TerrainBase& terrain)
{
    renderer.AddRenderable(this, terrain.GetRegion());
}

void TerrainLayeredObject::OnLayersChanged()
{
    m_layers.clear();
    if (m_terrain)
        m_terrain->GetLayersInBox(m_layers, GetBoundingBox());
}

int TerrainLayeredObject::GetNumRenderPasses(const Name& style, RenderGenerationId) const
{
    const int layers = static_cast<int>(m_layers.size());
    return style == TerrainRenderInterfaceBase::ReflectionStyle() ? layers : layers + 1;
}

int TerrainLayeredObject::GetRenderPassSortOrder(int pass, const Name&, RenderGenerationId) const
{
    return pass == 0 ? -1 : 3;
}

const GraphicsShader2* TerrainLayeredObject::GetShader2(int, const Name&) const
{
    return m_terrain ? m_terrain->GetLayerShader() : nullptr;
}

const Name& TerrainLayeredObject::GetShaderStyle(int pass, const Name& style, RenderGenerationId) const
{
    if (pass == 0)
        return TerrainRenderInterfaceBase::GetSolidPassStyle(style, m_terrain && m_terrain->LowQuality(),
                                                             m_solidPassKeepsFog);
    if (style == TerrainRenderInterfaceBase::FogStyle())
        return TerrainRenderInterfaceBase::NoStyle();
    return style;
}

int TerrainLayeredObject::GetPassLayer(int pass, const Name& style) const
{
    const int layers = static_cast<int>(m_layers.size());
    int entry = -1;
    if (style == TerrainRenderInterfaceBase::ReflectionStyle())
        entry = pass;
    else if (pass >= 1)
        entry = layers - pass;
    return entry >= 0 && entry < layers ? static_cast<int>(m_layers[static_cast<size_t>(entry)]) : -1;
}

void TerrainLayeredObject::RenderPass(const RenderablePass& pass, const Name& style, GraphicsCanvas& canvas,
                                      const GraphicsSceneRenderer& renderer)
{
    TerrainRenderContext context;
    context.renderFlags = renderer.GetRenderFlags();
    context.worldToScreen = renderer.GetWorldToScreenMatrix();
    RenderPass(pass, style, canvas, context);
}

void TerrainLayeredObject::SetLayerParams(GraphicsShader2& shader, unsigned layer) const
{
    static const Name textureOffset = Name::Create("textureOffset");
    static const Name textureScale = Name::Create("textureScale");
    static const Name opacityTexture = Name::Create("opacityTexture");
    if (!m_terrain)
        return;
    const Region* region = m_terrain->GetRegion();
    const Vec2 offset = region ? TerrainRenderInterfaceBase::GetTextureOffset(region->GetOffsetFromWorld())
                               : Vec2(0.0f, 0.0f);
    const unsigned x = m_terrain->GetNumXSamples(), y = m_terrain->GetNumYSamples();
    shader.SetFloat2(textureOffset, 0, offset);
    shader.SetFloat2(textureScale, 0,
                     Vec2(x > 1 ? 1.0f / static_cast<float>(x - 1) : 0.0f,
                          y > 1 ? 1.0f / static_cast<float>(y - 1) : 0.0f));
    shader.SetTexture(opacityTexture, 0, m_terrain->GetLayerOpacityTexture(layer));
    if (const TerrainType* type = m_terrain->GetLayerTerrainType(layer))
        type->SetShaderParams(&shader, 0);
}

} // namespace GAME
