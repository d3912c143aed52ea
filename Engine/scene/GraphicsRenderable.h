// Everything the scene renderer draws reaches it through this interface: entities, decals, line
// effects, weapon trails, particle emitters, mesh instances, terrain, grid regions and water hand
// themselves to GraphicsSceneRenderer::AddRenderable while their region is added to the scene. The
// renderer asks, per named style and render generation, how many passes there are, where they are,
// in which order they draw, with which shader, shader style, texture and opacity, and then asks
// each surviving pass to draw itself (RenderPass), with the shader begun in the record's style.
//
// A pure interface without data and without a virtual destructor: implementers are destroyed
// through their own types. All queries are const. Called on the main thread while a frame renders.
#pragma once

#include "core/ABBox.h"
#include "graphics/RenderTypes.h"

namespace GAME {

class GraphicsCanvas;
class GraphicsSceneRenderer;
class GraphicsShader2;
class GraphicsTexture;
class Name;
struct RenderablePass;

class GraphicsRenderable
{
public:
    GraphicsRenderable() = default;
    GraphicsRenderable(const GraphicsRenderable&) = default;
    // Copies nothing: the interface has no data.
    GraphicsRenderable& operator=(const GraphicsRenderable&) { return *this; }

    // Passes in that style; 0 or less means none.
    virtual int GetNumRenderPasses(const Name& style, RenderGenerationId generation) const = 0;
    // One box for every pass, in the space of the renderable's region.
    virtual ABBox GetRenderPassBoundingBox() const = 0;
    virtual int GetRenderPassSortOrder(int pass, const Name& style, RenderGenerationId generation) const = 0;
    // Null drops the pass.
    virtual const GraphicsShader2* GetShader2(int pass, const Name& style) const = 0;
    // The style to look up inside the shader (it may differ from the frame's style).
    virtual const Name& GetShaderStyle(int pass, const Name& style, RenderGenerationId generation) const = 0;
    // May be null.
    virtual const GraphicsTexture* GetTexture(int pass, const Name& style) const = 0;
    virtual float GetOpacity(int, const Name&) const { return 1.0f; }
    // A renderable that answers false casts no shadow.
    virtual bool GetCastsShadows() const { return true; }
    // Binds its own geometry, textures and per-object parameters and draws; leaves the shader
    // begun (the renderer ends it).
    virtual void RenderPass(const RenderablePass& pass, const Name& style, GraphicsCanvas& canvas,
                            const GraphicsSceneRenderer& renderer) = 0;
    // Lines that describe the renderable, into the log.
    virtual void LogInfo() const = 0;

protected:
    // Not deleted through the interface.
    ~GraphicsRenderable() = default;
};

} // namespace GAME
