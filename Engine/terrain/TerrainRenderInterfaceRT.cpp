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
    FindBlocksInLayer(layer, out, sphere);
}

void TerrainRenderInterfaceRT::RenderGroundSolid(const RenderablePass& pass, GraphicsCanvas& canvas,
                                                 const TerrainRenderContext& context)
{
    DrawGroundSolid(*m_terrain, m_terrain->GetGroundVertexBuffer(), pass, canvas, context);
}

void TerrainRenderInterfaceRT::RenderGround(const RenderablePass& pass, GraphicsCanvas& canvas,
                                            const TerrainRenderContext& context, bool reverse)
{
    DrawGround(*m_terrain, m_terrain->GetGroundVertexBuffer(), pass, canvas, context, reverse);
}

void TerrainRenderInterfaceRT::RenderGrass(const RenderablePass& pass, GraphicsCanvas& canvas,
                                           const TerrainRenderContext& context)
{
    DrawGrass(*m_terrain, m_terrain->GetGrassIndexBuffer(), pass, canvas, context);
}

} // namespace GAME
