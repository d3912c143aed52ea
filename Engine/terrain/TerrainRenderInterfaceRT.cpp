#include "terrain/TerrainRenderInterfaceRT.h"

#include "core/Intersect.h"
#include "core/Sphere.h"
#include "core/Vec2.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/RenderDevice.h"
#include "scene/GraphicsSceneRenderer.h"
#include "terrain/TerrainBlock.h"
#include "terrain/TerrainRT.h"
#include "terrain/TerrainType.h"

namespace GAME {

bool TerrainRenderInterfaceRT::IsCellDrawn(unsigned x, unsigned y, int layer) const
{
    if (!m_terrain->IsVisible(x, y))
        return false;
    return layer < 0 || m_terrain->HasLayerAt(x, y, static_cast<unsigned>(layer));
}

void TerrainRenderInterfaceRT::GetBlocksInLayer(unsigned layer, std::vector<TerrainBlock*>& out,
                                                const Sphere& sphere)
{
    out.reserve(m_visibleBlocks.size());
    for (TerrainBlock* block : m_visibleBlocks) {
        if (sphere.radius > 0.0f && !ABBoxIntersectsSphere(block->GetBoundingBox(), sphere))
            continue;
        block->EnsureRenderData();
        if (block->HasLayer(layer))
            out.push_back(block);
    }
}

void TerrainRenderInterfaceRT::RenderGroundSolid(const RenderablePass& pass, GraphicsCanvas& canvas,
                                                 const TerrainRenderContext& context)
{
    RenderDevice* device = nullptr;
    if (!BeginGround(m_terrain->GetGroundVertexBuffer(), m_terrain->GetVertexDeclaration(), pass, canvas,
                     context, device))
        return;
    const Sphere sphere = GetPassSphere(pass);
    std::vector<TerrainBlock*> blocks;
    if (sphere.radius <= 0.0f) {
        blocks = m_visibleBlocks;
    } else {
        for (TerrainBlock* block : m_visibleBlocks)
            if (ABBoxIntersectsSphere(block->GetBoundingBox(), sphere))
                blocks.push_back(block);
    }
    DrawCells(*m_terrain, blocks, canvas, *device, -1, "TerrainGroundSolid", nullptr);
    m_currentShader->End();
}

void TerrainRenderInterfaceRT::RenderGround(const RenderablePass& pass, GraphicsCanvas& canvas,
                                            const TerrainRenderContext& context, bool reverse)
{
    static const Name textureOffset = Name::Create("textureOffset");
    static const Name textureScale = Name::Create("textureScale");
    static const Name opacityTexture = Name::Create("opacityTexture");
    RenderDevice* device = nullptr;
    if (!BeginGround(m_terrain->GetGroundVertexBuffer(), m_terrain->GetVertexDeclaration(), pass, canvas,
                     context, device))
        return;
    GraphicsShader2* shader = m_currentShader;
    const unsigned x = m_terrain->GetNumXSamples(), y = m_terrain->GetNumYSamples();
    shader->SetFloat2(textureOffset, 0, GetTextureOffset(m_worldOffset));
    shader->SetFloat2(textureScale, 0,
                      Vec2(x > 1 ? 1.0f / static_cast<float>(x - 1) : 0.0f,
                           y > 1 ? 1.0f / static_cast<float>(y - 1) : 0.0f));
    const Sphere sphere = GetPassSphere(pass);
    const unsigned layers = m_terrain->GetNumTextureLayers();
    std::vector<TerrainBlock*> blocks;
    for (unsigned i = 0; i < layers; ++i) {
        const unsigned layer = reverse ? layers - 1 - i : i;
        const TerrainType* type = m_terrain->GetLayerTerrainType(layer);
        if (!type)
            continue;
        blocks.clear();
        GetBlocksInLayer(layer, blocks, sphere);
        if (blocks.empty())
            continue;
        const int drawn =
            DrawCells(*m_terrain, blocks, canvas, *device, static_cast<int>(layer), "TerrainGround", [&] {
                shader->Begin();
                type->SetShaderParams(shader, 0);
                shader->SetTexture(opacityTexture, 0, m_terrain->GetLayerOpacityTexture(layer));
            });
        if (drawn > 0)
            shader->End();
    }
    shader->End();
}

void TerrainRenderInterfaceRT::RenderGrass(const RenderablePass& pass, GraphicsCanvas& canvas,
                                           const TerrainRenderContext& context)
{
    static const Name objectToWorld = Name::Create("objectToWorldMatrix");
    static const Name objectToScreen = Name::Create("objectToScreenMatrix");
    static const Name terrainOffset = Name::Create("terrainOffset");
    RenderDevice* device = canvas.GetRenderDevice();
    RenderIndexBuffer* indices = m_terrain->GetGrassIndexBuffer();
    GraphicsShader2* shader = m_grassShader;
    if (!(context.renderFlags & GraphicsSceneRenderer::RENDER_GRASS) || !shader || !device || !indices ||
        !m_grassDeclaration)
        return;
    device->SetIndices(indices);
    device->SetVertexDeclaration(m_grassDeclaration);
    shader->Begin();
    shader->SetFloat4x4(objectToWorld, 0, Mat4::Identity());
    shader->SetFloat4x4(objectToScreen, 0, context.worldToScreen * Mat4(pass.regionToScene));
    shader->SetFloat3(terrainOffset, 0, pass.regionToScene.origin);
    const Sphere sphere = GetPassSphere(pass);
    std::vector<TerrainBlock*> blocks;
    for (unsigned layer = 0; layer < m_terrain->GetNumTextureLayers(); ++layer) {
        blocks.clear();
        GetBlocksInLayer(layer, blocks, sphere);
        const TerrainType* type = m_terrain->GetLayerTerrainType(layer);
        if (blocks.empty() || !type)
            continue;
        shader->Begin();
        type->SetGrassShaderParams(shader);
        shader->Render("TerrainGrass");
        for (TerrainBlock* block : blocks) {
            const TerrainBlock::GrassRecord* record = block->GetGrassRecord(layer);
            if (!record || record->numBlades == 0 || !record->geometry.bladeBuffer ||
                !record->geometry.windBuffer)
                continue;
            device->SetStreamSource(0, record->geometry.bladeBuffer, 0, TerrainBlock::bladeVertexSize);
            device->SetStreamSource(1, record->geometry.windBuffer, 0, TerrainBlock::windVertexSize);
            RenderDrawRange range;
            range.numVertices = 4 * record->numBlades;
            range.primitiveCount = 2 * record->numBlades;
            device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
        }
        shader->End();
    }
    shader->End();
}

} // namespace GAME
