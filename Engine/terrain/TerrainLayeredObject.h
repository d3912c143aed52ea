// A terrain object drawn as a renderable of its own with the terrain's layer shader (plugs and
// tiles): a solid pass (sort order -1), then one pass per layer that shows under its box (3), the
// top layer first; in the reflection style the layers alone, bottom first. Keeps its terrain (not
// owned) and the ascending list of those layers (OnLayersChanged asks the terrain again).
//
// Owned as the derived object is; main thread.
#pragma once

#include "scene/GraphicsRenderable.h"
#include "scene/RenderablePass.h"
#include "terrain/TerrainObject.h"

#include <vector>

namespace GAME {

class GraphicsShader2;
struct TerrainRenderContext;

class TerrainLayeredObject : public TerrainObject, public GraphicsRenderable
{
public:
    void SetTerrain(TerrainBase* terrain) { m_terrain = terrain; }
    TerrainBase* GetTerrain() const { return m_terrain; }
    const std::vector<unsigned>& GetLayers() const { return m_layers; }

    // ---- TerrainObject ----
    void AddToScene(GraphicsSceneRenderer& renderer, TerrainBase& terrain) override;
    void OnLayersChanged() override;

    // ---- GraphicsRenderable ----
    int GetNumRenderPasses(const Name& style, RenderGenerationId generation) const override;
    ABBox GetRenderPassBoundingBox() const override { return GetBoundingBox(); }
    int GetRenderPassSortOrder(int pass, const Name& style, RenderGenerationId generation) const override;
    const GraphicsShader2* GetShader2(int pass, const Name& style) const override;
    const Name& GetShaderStyle(int pass, const Name& style, RenderGenerationId generation) const override;
    const GraphicsTexture* GetTexture(int, const Name&) const override { return nullptr; }
    // The pass drawn with the renderer's flags and view-projection.
    void RenderPass(const RenderablePass& pass, const Name& style, GraphicsCanvas& canvas,
                    const GraphicsSceneRenderer& renderer) override;
    // The pass drawn with the renderer's state given as a context.
    virtual void RenderPass(const RenderablePass& pass, const Name& style, GraphicsCanvas& canvas,
                            const TerrainRenderContext& context) = 0;

    // The layer the pass draws (-1 for the solid pass or a pass past the layers).
    int GetPassLayer(int pass, const Name& style) const;

protected:
    // solidPassKeepsFog: whether the solid pass answers the fog style with itself (ground the fog
    // covers as it covers the blocks) or with no style (a mesh set into the ground).
    explicit TerrainLayeredObject(bool solidPassKeepsFog) : m_solidPassKeepsFog(solidPassKeepsFog) {}

    // The layer's texture offset and scale over the terrain, its opacity texture and its type's
    // parameters, on the begun shader.
    void SetLayerParams(GraphicsShader2& shader, unsigned layer) const;

    TerrainBase* m_terrain = nullptr;
    std::vector<unsigned> m_layers;

private:
    bool m_solidPassKeepsFog;
};

} // namespace GAME
