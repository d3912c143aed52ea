// What a particle emitter asks of its texture and shader: loading and releasing them by name, the
// texture's frame count, the shader's styles and sort orders, preloading, and applying the shader
// for one texture frame before a draw. The graphics engine answers through the default; a tool or
// a test may install its own (Install(null) restores the default).
//
// TODO(stand-in): the graphics engine's texture and shader resources (GraphicsTexture,
// GraphicsShader2) have no interface yet and their loads answer null, so the default's frame
// count, style look-up, sort order, preloading and shader pass are placeholders that are never
// reached with a loaded texture or shader.
//
// Main thread.
#pragma once

#include <string>

namespace GAME {

class GraphicsSceneRenderer;
class GraphicsShader2;
class GraphicsTexture;
class Name;
struct RenderablePass;

class EmitterGraphics
{
public:
    virtual ~EmitterGraphics() = default;

    // Null when it cannot be loaded; the emitter hands what it got back to the matching Unload.
    virtual GraphicsTexture* LoadTexture(const std::string& fileName) = 0;
    virtual void UnloadTexture(GraphicsTexture* texture) = 0;
    virtual GraphicsShader2* LoadShader(const std::string& fileName) = 0;
    virtual void UnloadShader(GraphicsShader2* shader) = 0;
    // Frames of an animated texture; 0 counts as none.
    virtual unsigned int GetNumFrames(const GraphicsTexture* texture) = 0;
    // The index of the shader's style of that name, -1 when it has none.
    virtual int FindStyleByName(const GraphicsShader2* shader, const Name& style) = 0;
    virtual int GetSortOrder(const GraphicsShader2* shader, int styleIndex) = 0;
    // Queues both on the resource loader (either may be null).
    virtual void PreLoad(GraphicsTexture* texture, GraphicsShader2* shader) = 0;
    // Sets "objectToScreenMatrix" from the pass and "baseTexture" to the frame of the texture,
    // and applies the shader's "Emitter" pass for the draw that follows.
    virtual void ApplyPass(const GraphicsShader2* shader, const GraphicsTexture* texture, unsigned int frame,
                           const RenderablePass& pass, const GraphicsSceneRenderer& renderer) = 0;

    static void Install(EmitterGraphics* graphics);
    static EmitterGraphics* Get();
};

} // namespace GAME
