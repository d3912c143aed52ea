// The rings that spread on a level's water where something disturbs it: up to 128 ripples, each
// growing from its start radius to its maximum and fading as it grows, drawn as one quad each
// from one shared vertex buffer with one draw ("Shaders/Water/WaterRipple.ssh"). A renderable
// that the Water adds to the scene after its render interface; ripples are not saved.
//
// The table is fixed: a ripple started while all 128 are alive is refused, and nothing allocates
// after the buffers are made. Random sizes and places come from the water's generator
// (WaterRandom). Owned by its Water (by value). Main thread.
#pragma once

#include "core/Vec3.h"
#include "scene/GraphicsRenderable.h"

#include <cstdint>

namespace GAME {

class GraphicsShader2;
class RenderDevice;
class RenderIndexBuffer;
class RenderVertexBuffer;
class RenderVertexDeclaration;

class WaterRippleSet : public GraphicsRenderable
{
public:
    static constexpr unsigned maxRipples = 128;
    static constexpr unsigned numVertices = maxRipples * 4;
    static constexpr unsigned numIndices = maxRipples * 6;
    static constexpr const char* shaderName = "Shaders/Water/WaterRipple.ssh";

    struct Ripple
    {
        Vec3 position;
        float radius = 0.0f;
        float maxRadius = 0.0f;
        bool active = false;
    };

    // Loads the shader when a graphics engine exists.
    WaterRippleSet();
    // Unloads the shader and releases the buffers and the declaration.
    ~WaterRippleSet();
    WaterRippleSet(const WaterRippleSet&) = delete;
    WaterRippleSet& operator=(const WaterRippleSet&) = delete;

    // Makes the vertex declaration on the device.
    void Initialize(RenderDevice* device);
    // The vertex buffer of 512 vertices and the index buffer of 768 indices, then the vertices of
    // the ripples alive; false (logged) when the device refuses one.
    bool CreateBuffers();
    void ReleaseBuffers();
    // Releases buffers and declaration and forgets the device.
    void Destroy();

    // A ripple of about startSize growing to about growth (each within 0.2), moved by up to 0.2
    // along x and z and raised by 0.01; false when all 128 are alive or its maximum would not be
    // positive.
    bool AddRipple(const Vec3& position, float startSize, float growth);
    // Grows the ripples (elapsed x growth speed x 0.001 units), writes their quads, and retires
    // those that reached their maximum.
    void Update(int elapsedMilliseconds);

    int GetNumRenderPasses(const Name& style, RenderGenerationId generation) const override;
    ABBox GetRenderPassBoundingBox() const override;
    int GetRenderPassSortOrder(int pass, const Name& style, RenderGenerationId generation) const override;
    const GraphicsShader2* GetShader2(int pass, const Name& style) const override;
    const Name& GetShaderStyle(int pass, const Name& style, RenderGenerationId generation) const override;
    const GraphicsTexture* GetTexture(int pass, const Name& style) const override;
    void RenderPass(const RenderablePass& pass, const Name& style, GraphicsCanvas& canvas,
                    const GraphicsSceneRenderer& renderer) override;
    void LogInfo() const override;

    // Quads written by the last update.
    unsigned GetNumLive() const { return m_numLive; }
    unsigned GetNumActive() const;
    const Ripple& GetRipple(unsigned i) const { return m_ripples[i]; }
    float GetGrowthSpeed() const { return m_growthSpeed; }
    void SetGrowthSpeed(float speed) { m_growthSpeed = speed; }
    RenderVertexBuffer* GetVertexBuffer() const { return m_vertexBuffer; }

private:
    float m_growthSpeed = 1.0f;
    unsigned m_numLive = 0;
    RenderVertexBuffer* m_vertexBuffer = nullptr;
    RenderIndexBuffer* m_indexBuffer = nullptr;
    GraphicsShader2* m_shader = nullptr;
    Ripple m_ripples[maxRipples];
    RenderDevice* m_device = nullptr;
    RenderVertexDeclaration* m_declaration = nullptr;
};

} // namespace GAME
