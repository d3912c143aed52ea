#include "world/EffectGeometryEntity.h"

#include "core/ObjectManager.h"
#include "world/Region.h"
#include "world/World.h"
#include "world/WorldServices.h"

namespace GAME {

EffectGeometryEntity::~EffectGeometryEntity()
{
    EffectGeometry::DestroyDeclaration(m_device, m_vertexFormat);
    EffectGeometry::UnloadTexture(m_texture);
    EffectGeometry::UnloadShader(m_shader);
}

int EffectGeometryEntity::GetNumRenderPasses(const Name&, RenderGenerationId) const
{
    return 1;
}

ABBox EffectGeometryEntity::GetRenderPassBoundingBox() const
{
    return GetRegionBoundingBox();
}

int EffectGeometryEntity::GetRenderPassSortOrder(int, const Name&, RenderGenerationId) const
{
    return m_sortOrder;
}

const GraphicsShader2* EffectGeometryEntity::GetShader2(int, const Name&) const
{
    return m_shader;
}

const Name& EffectGeometryEntity::GetShaderStyle(int, const Name& style, RenderGenerationId) const
{
    return style;
}

const GraphicsTexture* EffectGeometryEntity::GetTexture(int, const Name&) const
{
    return m_texture;
}

void EffectGeometryEntity::CreateVertexFormat()
{
    if (m_vertexFormat)
        return;
    m_device = WorldServices::Device();
    m_vertexFormat = EffectGeometry::CreateDeclaration(m_device);
}

void EffectGeometryEntity::ReplaceTexture(const std::string& name)
{
    EffectGeometry::UnloadTexture(m_texture);
    m_texture = EffectGeometry::LoadTexture(name);
}

void EffectGeometryEntity::ReplaceShader(const std::string& name)
{
    EffectGeometry::UnloadShader(m_shader);
    m_shader = EffectGeometry::LoadShader(name);
}

void EffectGeometryEntity::DrawGeometry(GraphicsCanvas& canvas, const GraphicsSceneRenderer& renderer,
                                        const std::vector<EffectVertex>& vertices,
                                        const std::vector<uint32_t>& indices)
{
    if (!EffectGeometry::BeginShader(m_shader, m_texture, renderer))
        return;
    EffectGeometry::DrawTriangles(canvas, m_vertexFormat, m_shader, vertices.data(),
                                  static_cast<unsigned int>(vertices.size()), indices.data(),
                                  static_cast<unsigned int>(indices.size()));
    EffectGeometry::EndShader(m_shader);
}

void EffectGeometryEntity::LeaveWorld()
{
    if (IsInWorld()) {
        Region* region = GetRegion();
        World* world = region && region->GetWorld() ? region->GetWorld() : World::GetCurrent();
        if (world)
            world->RemoveEntity(this);
    }
    ObjectManager::Get()->DestroyObjectEx(this, __FILE__, __LINE__);
}

} // namespace GAME
