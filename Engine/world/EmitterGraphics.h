// What a particle emitter asks of its texture and shader: loading and releasing them by name, the
// texture's frame count, the shader's styles and sort orders, preloading, and applying the shader
// for one texture frame before a draw. The graphics engine's textures and shaders answer through
// the default; a tool or a test may install its own (Install(null) restores the default).
//
// The default answers for a texture or shader still loading as for none: no frames, no style; the
// emitter draws once they are in.
//
// Main thread.
#pragma once

#include <string>

namespace GAME {

class GraphicsShader2;
class GraphicsTexture;
class Mat4;
class Name;

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
    // Sets "objectToScreenMatrix" and "baseTexture" to the frame of the texture, and applies the
    // shader's "Emitter" pass for the draw that follows (the shader is begun by the renderer).
    virtual void ApplyPass(const GraphicsShader2* shader, const GraphicsTexture* texture, unsigned int frame,
                           const Mat4& objectToScreen) = 0;

    static void Install(EmitterGraphics* graphics);
    static EmitterGraphics* Get();
};

} // namespace GAME
