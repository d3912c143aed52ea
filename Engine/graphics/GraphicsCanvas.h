// The frame and 2-D drawing service the graphics engine makes over its render device: it brackets
// each frame, keeps the render-target bookkeeping (primary surface, target surface, a pool of
// temporary texture surfaces reused frame by frame), owns the two 4 MiB dynamic buffers every
// immediate-mode drawer shares, puts the device into a known default state, and draws screen-space
// rectangles, textured rectangles, triangle fans, a square radial wipe, a blurred copy of the frame
// and text. It holds no geometry between calls. The device and the primary surface are not owned;
// the blur's filter shader ("Shaders/Filter.ssh") is loaded through the graphics engine given to
// the constructor and released with the canvas.
//
// Everything is in screen pixels, y down, at the canvas depth (SetDepth). Text goes through the
// fonts' run drawing (GraphicsFont.h); the style-based forms take font, size, colour, shadow,
// weight and filtering from the style manager's font styles.
//
// Main thread only.
#pragma once

#include "core/Color.h"
#include "core/Rect.h"
#include "core/Vec2.h"
#include "graphics/RenderTypes.h"
#include "graphics/Viewport.h"

#include <string>
#include <vector>

namespace GAME {

class GraphicsEngine;
class GraphicsFont;
class GraphicsShader2;
class GraphicsTexture;
class Plane;
class RenderDevice;
class RenderSurface;
class RenderTexture;
class RenderDynamicVertexBuffer;
class RenderDynamicIndexBuffer;

class GraphicsCanvas
{
public:
    static constexpr unsigned int dynamicBufferSize = 4u * 1024u * 1024u;
    static constexpr const char* filterShaderName = "Shaders/Filter.ssh";
    // The alpha test of alpha-tested rectangles passes above this.
    static constexpr float alphaTestReference = 0.05f;
    // Text boxes reach this far around their text on each side.
    static constexpr int textBoxMargin = 3;

    enum XAlignment : int32_t
    {
        X_ALIGN_LEFT = 0,
        X_ALIGN_RIGHT = 1,
        X_ALIGN_CENTER = 2,
    };
    enum YAlignment : int32_t
    {
        Y_ALIGN_TOP = 0,
        Y_ALIGN_BOTTOM = 1,
        Y_ALIGN_CENTER = 2,
    };

    // graphics loads the filter shader and lends the basic vertex declaration to the blur; without
    // it the blur returns its unblurred copy.
    GraphicsCanvas(RenderDevice* device, RenderSurface* primarySurface, GraphicsEngine* graphics = nullptr);
    // Destroys the dynamic buffers and every pooled surface and unloads the filter shader.
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
    GraphicsEngine* GetGraphicsEngine() const { return m_graphics; }
    GraphicsShader2* GetFilterShader() const { return m_filterShader; }
    void SetPrimarySurface(RenderSurface* surface) { m_primarySurface = surface; }
    RenderSurface* GetPrimarySurface() const { return m_primarySurface; }
    RenderSurface* GetTargetSurface() const { return m_targetSurface; }
    RenderSurface* GetRenderTarget0() const { return m_renderTarget0; }
    // Changes of render target 0 through the canvas since the frame began (each one ends a pass
    // of the device's work).
    int GetTargetSwitchCount() const { return m_targetSwitches; }
    void SetDepth(float depth) { m_depth = depth; }
    float GetDepth() const { return m_depth; }
    void SetResolution(int width, int height);
    float GetResolutionWidth() const { return m_resolutionWidth; }
    float GetResolutionHeight() const { return m_resolutionHeight; }
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
    void SetDepthTarget(RenderSurface* surface);
    void SetColorWriteMode(RenderWriteMode mode);
    void SetAlphaWriteMode(RenderWriteMode mode);
    void SetDepthWriteMode(RenderWriteMode mode);
    void SetAlphaTestFunction(RenderTestFunction function);
    void SetDepthTestFunction(RenderTestFunction function);
    void SetClippingPlane(int index, const Plane& plane);
    void ClearClippingPlane(int index);
    bool SupportsDepthRenderTargets() const;
    bool Supports16bitColorWithDepth() const;
    RenderSurface* CreateTextureSurface(int width, int height, RenderTextureFormat colorFormat,
                                        RenderTextureFormat depthFormat);
    RenderSurface* CreateTextureSurface(int width, int height, const RenderTexture* texture,
                                        RenderTextureFormat depthFormat);
    // Releases a surface the caller made (never a temporary one); null afterwards.
    void DestroySurface(RenderSurface*& surface);

    // Null binds the primary surface; the surface becomes target and render target 0.
    void SetTargetSurface(RenderSurface* surface);
    void SetRenderTarget(int index, RenderSurface* surface);
    void ClearRenderSurface(RenderSurface* surface, const Color& color, unsigned int flags);
    // A surface of the pool that is free this frame and has these sizes and formats, else a new
    // one (null when the device cannot make it). The pool owns them until the next device reset.
    RenderSurface* CreateTemporaryTextureSurface(int width, int height, RenderTextureFormat colorFormat,
                                                 RenderTextureFormat depthFormat);
    size_t GetNumTemporarySurfaces() const { return m_temporarySurfaces.size(); }
    // "None", "RGB", "RGBA", "DsDt", "R16F", "R32F", "D16", "D24", "D32", else "Unknown".
    static const char* GetFormatName(RenderTextureFormat format);

    // The scissor rectangle, cut at the resolution's right and bottom edges (never negative).
    void SetClippingRect(const Rect& rect);
    // The scissor rectangle over the whole device.
    void ClearClippingRect();

    // Fixed function, all writes on, depth test less-equal, no alpha test, blending one/zero,
    // no textures on stages 0-7, stage states 0 and 1 cleared on all 16 stages, pass states 18, 20
    // and 21 at 0.
    void SetDefaultState();

    // A filled rectangle, alpha-blended.
    void RenderRect(const Rect& rect, const Color& color);
    // A texture's texel rectangle over the screen rectangle, alpha-blended; nothing without a texture.
    void RenderRect(const Rect& rect, const Rect& textureRect, const GraphicsTexture* texture,
                    const Color& color);
    // The general form: texture (may be null) with a texel rectangle, blend factors, alpha test.
    void RenderRect(const Rect& rect, const Rect& textureRect, const RenderTexture* texture,
                    RenderBlendFactor sourceBlend, RenderBlendFactor destinationBlend, const Color& color,
                    bool alphaTest);
    // An untextured rectangle with these blend factors; the device's blend factors are put back.
    void RenderRect(const Rect& rect, RenderBlendFactor sourceBlend, RenderBlendFactor destinationBlend,
                    const Color& color);
    // Filled rectangles in one colour, alpha-blended, in one draw call (a quad list).
    void RenderRects(const std::vector<Rect>& rects, const Color& color);
    // A triangle fan (the first point is the hub) in one colour over everything, alpha-blended.
    void RenderTriFan(const std::vector<Vec2>& points, const Color& color);
    // Lines are not drawn by the canvas (the primitive drawer draws them).
    void RenderLine(const Vec2& from, const Vec2& to, const Color& color);
    // Fills the part of the rectangle a clock hand (starting up, turning clockwise through
    // 2 pi fraction) has not swept yet: all of it at 0, nothing at 1. The hand turns about the
    // rectangle's centre moved by centerOffset.
    void RenderSquareRadialWipeEffect(const Rect& rect, const Vec2& centerOffset, const Color& color,
                                      float fraction);
    // The fan of the wipe: the centre, the hand's point, then the edge points (middles and corners,
    // each held to the rectangle) the hand has still to reach, clockwise up to the top middle.
    static std::vector<Vec2> GetSquareRadialWipePoints(const Rect& rect, const Vec2& centerOffset,
                                                       float fraction);
    // A blurred copy of the rectangle of render target 0 in a temporary surface of the size (an
    // unblurred copy when the filter shader has no style "normal"); null when no surface can be
    // had or nothing is bound.
    RenderSurface* BlurFrameBuffer(int width, int height, const Rect& rect);

    // Text aligned in the rectangle; the width drawn.
    float RenderText(const Rect& rect, const Color& color, const char* text, const GraphicsFont* font,
                     int size, XAlignment xAlign, YAlignment yAlign, bool shadow, int shadowDistance,
                     RenderFontStyle weight, bool filter);
    float RenderText(const Rect& rect, const Color& color, const char16_t* text, const GraphicsFont* font,
                     int size, XAlignment xAlign, YAlignment yAlign, bool shadow, int shadowDistance,
                     RenderFontStyle weight, bool filter);
    // The same at a point (a rectangle of no size).
    float RenderText(int x, int y, const Color& color, const char* text, const GraphicsFont* font, int size,
                     XAlignment xAlign, YAlignment yAlign, bool shadow, int shadowDistance,
                     RenderFontStyle weight, bool filter);
    float RenderText(int x, int y, const Color& color, const char16_t* text, const GraphicsFont* font,
                     int size, XAlignment xAlign, YAlignment yAlign, bool shadow, int shadowDistance,
                     RenderFontStyle weight, bool filter);
    // With the font style of the record; its colour with the alpha given.
    float RenderText(const Rect& rect, const char16_t* text, const std::string& styleName, float alpha,
                     XAlignment xAlign, YAlignment yAlign);
    float RenderText(int x, int y, const char* text, const std::string& styleName, float alpha,
                     XAlignment xAlign, YAlignment yAlign);
    float RenderText(int x, int y, const char16_t* text, const std::string& styleName, float alpha,
                     XAlignment xAlign, YAlignment yAlign);
    // Text on a filled box reaching 3 pixels around it; centred about (x, y) or from its top left.
    // The text is white without a colour.
    float RenderTextBox(int x, int y, const Color& boxColor, const char16_t* text, const GraphicsFont* font,
                        int size, bool centered, const Color* textColor, bool shadow, int shadowDistance,
                        RenderFontStyle weight);
    // With the style's font; the text colour given, else the style's with the alpha given.
    float RenderTextBox(int x, int y, const Color& boxColor, const char16_t* text,
                        const std::string& styleName, float alpha, bool centered, const Color* textColor);
    // Text in the colour with the style's font, on an invisible box.
    float RenderColoredText(int x, int y, const std::u16string& text, const std::string& styleName,
                            const Color& color);
    float RenderColoredText(int x, int y, const std::string& text, const std::string& styleName,
                            const Color& color);
    // The lines one under the other on one box as wide as the longest line (by characters); nothing
    // for no lines.
    void RenderTextParagraph(int x, int y, const Color& textColor, const Color& boxColor,
                             const std::vector<std::u16string>& lines, const std::string& styleName,
                             bool centered);

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
    // Where text of that width and height starts in the rectangle, whole pixels.
    static Vec2 PlaceText(const Rect& rect, int width, int height, XAlignment xAlign, YAlignment yAlign);
    template <class Char>
    float DrawAlignedText(const Rect& rect, const Color& color, const Char* text, const GraphicsFont* font,
                          int size, XAlignment xAlign, YAlignment yAlign, bool shadow, int shadowDistance,
                          RenderFontStyle weight, bool filter);
    // One pass of the blur: source drawn over the target with the filter shader's taps.
    void BlurPass(GraphicsShader2& shader, RenderSurface* target, RenderSurface* source, float offsetX,
                  float offsetY, int destinationFactor);

    GraphicsShader2* m_filterShader = nullptr;
    float m_depth = 0.0f;
    RenderDevice* m_device;
    RenderSurface* m_primarySurface;
    RenderSurface* m_targetSurface = nullptr;
    RenderSurface* m_renderTarget0;
    int m_targetSwitches = 0;
    float m_resolutionWidth = 0.0f;
    float m_resolutionHeight = 0.0f;
    RenderDynamicVertexBuffer* m_dynamicVertexBuffer = nullptr;
    RenderDynamicIndexBuffer* m_dynamicIndexBuffer = nullptr;
    std::vector<TemporarySurface> m_temporarySurfaces;
    float m_resolutionAdjustmentX = 1.0f;
    float m_resolutionAdjustmentY = 1.0f;
    GraphicsEngine* m_graphics;
};

} // namespace GAME
