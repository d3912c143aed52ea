// One pass of one renderable as the scene renderer queued it: filled from the renderable's answers
// (sort order, shader and its style index, texture, opacity), sorted, and handed back to the
// renderable's RenderPass. A plain record, copied by value into the renderer's lists.
#pragma once

#include "core/ABBox.h"
#include "core/Coords.h"

#include <cstdint>

namespace GAME {

class GraphicsRenderable;
class GraphicsShader2;
class GraphicsTexture;
class Region;

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
