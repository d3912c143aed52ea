// The frame and 2-D drawing service the graphics engine makes over its render device: it brackets
// each frame, keeps the render-target bookkeeping (primary surface, target surface, a pool of
// temporary texture surfaces reused frame by frame), owns the two 4 MiB dynamic buffers every
// immediate-mode drawer shares, and puts the device into a known default state. The device and
// the primary surface are not owned. Main thread only.
//
// TODO(stand-in): text drawing (fonts and font styles), textured rectangles of graphics textures,
// triangle fans, the square radial wipe, the blurred frame copy and the clipping rectangle come
// with the font, texture and shader resources; until then the canvas draws untextured rectangles
// only.
#pragma once

#include "core/Color.h"
#include "core/Rect.h"
#include "graphics/RenderTypes.h"
#include "graphics/Viewport.h"

#include <vector>

namespace GAME {

class RenderDevice;
class RenderSurface;
class RenderTexture;
class RenderDynamicVertexBuffer;
class RenderDynamicIndexBuffer;

class GraphicsCanvas
{
public:
    static constexpr unsigned int dynamicBufferSize = 4u * 1024u * 1024u;

    GraphicsCanvas(RenderDevice* device, RenderSurface* primarySurface);
    virtual ~GraphicsCanvas();
    GraphicsCanvas(const GraphicsCanvas&) = delete;
    GraphicsCanvas& operator=(const GraphicsCanvas&) = delete;

    // Makes each missing dynamic buffer; false (nothing made) while the device is lost, and
    // false when either buffer is still missing.
    bool CreateDynamicBuffers();
    bool DestroyDynamicBuffers();
    // Forgets the primary and target surfaces and releases every device object the canvas holds.
    // Afterwards the owner sets the new primary surface and calls CreateDynamicBuffers.
    bool PreDeviceReset();

    // Null when missing.
    RenderDynamicVertexBuffer* GetDynamicVertexBuffer() const { return m_dynamicVertexBuffer; }
    RenderDynamicIndexBuffer* GetDynamicIndexBuffer() const { return m_dynamicIndexBuffer; }

    RenderDevice* GetRenderDevice() const { return m_device; }
    void SetPrimarySurface(RenderSurface* surface) { m_primarySurface = surface; }
    RenderSurface* GetPrimarySurface() const { return m_primarySurface; }
    RenderSurface* GetTargetSurface() const { return m_targetSurface; }
    void SetDepth(float depth) { m_depth = depth; }
    void SetResolution(int width, int height);
    void SetResolutionAdjustment(float x, float y);
    float GetResolutionAdjustmentX() const { return m_resolutionAdjustmentX; }
    float GetResolutionAdjustmentY() const { return m_resolutionAdjustmentY; }

    // The device's frame; every pooled temporary surface is free again afterwards.
    bool BeginFrame();
    void EndFrame();
    void PresentSurface(RenderSurface* surface);
    void SetViewport(const Viewport& viewport);
    const Viewport& GetViewport() const;
    void EnableWireframe(bool enable);
    void SetClearColor(const Color& color);
    // RENDER_CLEAR_... flags.
    void Clear(unsigned int flags);
    int GetWidth() const;
    int GetHeight() const;

    // Null binds the primary surface; the surface becomes target and render target 0.
    void SetTargetSurface(RenderSurface* surface);
    void SetRenderTarget(int index, RenderSurface* surface);
    void ClearRenderSurface(RenderSurface* surface, const Color& color, unsigned int flags);
    // A surface of the pool that is free this frame and has these sizes and formats, else a new
    // one (null when the device cannot make it). The pool owns them until the next device reset.
    RenderSurface* CreateTemporaryTextureSurface(int width, int height, RenderTextureFormat colorFormat,
                                                 RenderTextureFormat depthFormat);

    // Fixed function, all writes on, depth test less-equal, no alpha test, blending one/zero,
    // no textures on stages 0-7, stage states 0 and 1 cleared on all 16 stages.
    void SetDefaultState();
    // A filled rectangle in screen pixels, alpha-blended.
    void RenderRect(const Rect& rect, const Color& color);
    // The general form: texture (may be null) with a texel rectangle, blend factors, alpha test.
    void RenderRect(const Rect& rect, const Rect& textureRect, const RenderTexture* texture,
                    RenderBlendFactor sourceBlend, RenderBlendFactor destinationBlend, const Color& color,
                    bool alphaTest);

private:
    struct TemporarySurface
    {
        bool inUse = false;
        int width = 0;
        int height = 0;
        RenderTextureFormat colorFormat = RENDER_FORMAT_NONE;
        RenderTextureFormat depthFormat = RENDER_FORMAT_NONE;
        RenderSurface* surface = nullptr;
    };

    void DestroyTemporarySurfaces();

    float m_depth = 0.0f;
    RenderDevice* m_device;
    RenderSurface* m_primarySurface;
    RenderSurface* m_targetSurface = nullptr;
    RenderSurface* m_renderTarget0;
    float m_resolutionWidth = 0.0f;
    float m_resolutionHeight = 0.0f;
    RenderDynamicVertexBuffer* m_dynamicVertexBuffer = nullptr;
    RenderDynamicIndexBuffer* m_dynamicIndexBuffer = nullptr;
    std::vector<TemporarySurface> m_temporarySurfaces;
    float m_resolutionAdjustmentX = 1.0f;
    float m_resolutionAdjustmentY = 1.0f;
};

} // namespace GAME
