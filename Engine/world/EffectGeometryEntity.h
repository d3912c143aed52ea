// What the entities that draw their own triangles through EffectGeometry (decals, line effects
// with their beams and bolts, weapon trails) share as renderables: one pass in whatever style the
// frame asks, at the sort order the class gives, with the entity's shader and texture, over its
// region bounding box. Owns the vertex format (made on the world's device) and one use each of the
// texture and the shader, all released when the entity goes.
//
// Main thread (a level's loading thread may create and load one).
#pragma once

#include "scene/GraphicsRenderable.h"
#include "world/EffectGeometry.h"
#include "world/Entity.h"

#include <string>
#include <vector>

namespace GAME {

class RenderDevice;
class RenderVertexDeclaration;

class EffectGeometryEntity : public Entity, public GraphicsRenderable
{
public:
    // ---- GraphicsRenderable ----
    // One pass, in the frame's style.
    int GetNumRenderPasses(const Name& style, RenderGenerationId generation) const override;
    // The entity's region bounding box.
    ABBox GetRenderPassBoundingBox() const override;
    int GetRenderPassSortOrder(int pass, const Name& style, RenderGenerationId generation) const override;
    const GraphicsShader2* GetShader2(int pass, const Name& style) const override;
    const Name& GetShaderStyle(int pass, const Name& style, RenderGenerationId generation) const override;
    const GraphicsTexture* GetTexture(int pass, const Name& style) const override;

protected:
    explicit EffectGeometryEntity(int sortOrder) : m_sortOrder(sortOrder) {}
    // Releases the vertex format, the texture and the shader.
    ~EffectGeometryEntity() override;

    // The vertex format on the world's device, unless there is one already.
    void CreateVertexFormat();
    // Each releases the current one and loads the named one (none for an empty name).
    void ReplaceTexture(const std::string& name);
    void ReplaceShader(const std::string& name);
    // One batch drawn with the shader begun over the texture (see EffectGeometry::DrawTriangles).
    void DrawGeometry(GraphicsCanvas& canvas, const GraphicsSceneRenderer& renderer,
                      const std::vector<EffectVertex>& vertices, const std::vector<uint32_t>& indices);
    // Out of the world (when in it) and queued for destruction.
    void LeaveWorld();

    RenderDevice* m_device = nullptr;
    RenderVertexDeclaration* m_vertexFormat = nullptr;
    GraphicsShader2* m_shader = nullptr;
    GraphicsTexture* m_texture = nullptr;

private:
    const int m_sortOrder;
};

} // namespace GAME
