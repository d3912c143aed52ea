// What the entities that draw their own triangles share: decals, line effects and weapon trails
// write one 24-byte vertex (position, colour packed 0xAARRGGBB so its bytes run blue, green, red,
// alpha, one pair of texture coordinates) into the canvas's shared dynamic buffers and draw it with
// their shader, whose "objectToScreenMatrix" is the scene renderer's world-to-screen matrix (the
// vertices are in scene space) and whose "baseTexture" is their texture.
//
// A draw never writes past what it locked: both locks are sized from the counts handed in, and a
// batch of more than maxVertices vertices, or with an index at or past its vertex count, is
// refused. Textures and shaders are loaded and released through the engine's graphics engine;
// without one every load answers null.
//
// Main thread (loads may also run on a level's loading thread, as the graphics engine allows).
#pragma once

#include "core/Color.h"
#include "core/Vec3.h"
#include "graphics/RenderTypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class GraphicsCanvas;
class GraphicsSceneRenderer;
class GraphicsShader2;
class GraphicsTexture;
class RenderDevice;
class RenderVertexDeclaration;

struct EffectVertex
{
    Vec3 position;
    uint32_t color = 0; // 0xAARRGGBB
    float u = 0.0f;
    float v = 0.0f;
};
static_assert(sizeof(EffectVertex) == 24, "effect vertices are 24 bytes");

class EffectGeometry
{
public:
    // One lock of the vertex buffer holds at most 24000 bytes.
    static constexpr unsigned int maxVertices = 1000;
    static const VertexElement vertexElements[3];

    // The device's form of the colour; channels outside 0 to 1 (and NaN) are held to that range.
    static uint32_t PackColor(const Color& color);

    // Two triangles for each pair of consecutive points of a ribbon whose point k has the vertices
    // 2k and 2k + 1 (counted from the ribbon's first vertex), appended.
    static void AppendRibbonIndices(std::vector<uint32_t>& indices, uint32_t points);

    // The three-element format of EffectVertex; null without a device.
    static RenderVertexDeclaration* CreateDeclaration(RenderDevice* device);
    // Releases it (the pointer becomes null); nothing without a device or declaration.
    static void DestroyDeclaration(RenderDevice* device, RenderVertexDeclaration*& declaration);

    // Through the engine's graphics engine; null for an empty name or without one.
    static GraphicsTexture* LoadTexture(const std::string& name);
    static GraphicsShader2* LoadShader(const std::string& name);
    // Release one use each and null the pointer.
    static void UnloadTexture(GraphicsTexture*& texture);
    static void UnloadShader(GraphicsShader2*& shader);

    // Opens a nested level of the shader (the scene renderer has begun it in the pass's style) and
    // sets both parameters; false (nothing begun) without a shader.
    static bool BeginShader(GraphicsShader2* shader, GraphicsTexture* texture,
                            const GraphicsSceneRenderer& renderer);
    static void EndShader(GraphicsShader2* shader);
    // Copies the batch into the canvas's buffers and draws it as a triangle list with the begun
    // shader; false (nothing drawn) without buffers, device or declaration, for an empty batch, one
    // of more than maxVertices vertices, an index count that is not a multiple of 3, or an index
    // that names no vertex of the batch.
    static bool DrawTriangles(GraphicsCanvas& canvas, RenderVertexDeclaration* declaration,
                              GraphicsShader2* shader, const EffectVertex* vertices, unsigned int vertexCount,
                              const uint32_t* indices, unsigned int indexCount);
};

} // namespace GAME
