// The renderable interface and its pass record, as the terrain's render interfaces, plugs and tiles
// implement and read them: everything the scene renderer draws reaches it through
// GraphicsRenderable (passes per style, their box, sort order, shader, shader style, texture and
// opacity, and RenderPass to draw one), and each queued pass comes back as a RenderablePass.
//
// TODO(stand-in): these are the scene folder's declarations (scene/GraphicsRenderable.h and
// scene/RenderablePass.h), written out here word for word until that folder's files land; then
// this header becomes those two includes.
#pragma once

#include "core/ABBox.h"
#include "core/Coords.h"
#include "graphics/RenderTypes.h"

#include <cstdint>

namespace GAME {

class GraphicsCanvas;
class GraphicsSceneRenderer;
class GraphicsShader2;
class GraphicsTexture;
class Name;
class Region;
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

struct RenderablePass
{
    // The renderable that owns the pass.
    const GraphicsRenderable* renderable = nullptr;
    // The region the renderable was added with.
    Region* region = nullptr;
    // 0 to the pass count - 1.
    int32_t passIndex = 0;
    // Never null in a queued record.
    const GraphicsShader2* shader = nullptr;
    // The style's index inside the shader; never -1 in a queued record.
    int32_t styleIndex = 0;
    // Placement of the region's space in scene space.
    Coords regionToScene;
    // The renderable's box carried into scene space.
    ABBox bounds;
    int32_t sortOrder = 0;
    // Centre (minus the origin of regionToScene) and radius of the light sphere the pass was
    // gathered for; all 0 without one.
    float lightSphere[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    const GraphicsTexture* texture = nullptr;
    float opacity = 1.0f;
};

} // namespace GAME
