// Debug shapes and texts queued from anywhere during a frame (boxes, spheres, frusta, lines,
// arrows, cones, texts, each in a region's space with a colour) and drawn at once by Flush with the
// frame's camera, in the order they were queued; each is drawn once and discarded. Texts are drawn
// only when a font was set at the time they were queued, with the engine's utility font style.
// The forms without a region queue nothing.
//
// The queue is bounded (maxQueuedCommands): a run that never flushes (headless, no camera) stops
// queuing at the bound, with one log line, instead of growing without limit; Flush makes room
// again.
//
// A lazily made singleton; the engine gives it the utility font at start-up and destroys it at
// shut-down (deleting anything still queued). Main thread only.
#pragma once

#include "core/Color.h"
#include "core/Frustum.h"
#include "core/OBBox.h"
#include "core/Singleton.h"
#include "core/Sphere.h"
#include "core/Vec2.h"
#include "core/Vec3.h"

#include <memory>
#include <string>
#include <vector>

namespace GAME {

class ABBox;
class Camera;
class GraphicsCanvas;
class GraphicsFont;
class GraphicsPrimitiveDrawer;
class GraphicsShader2;
class Region;
class RenderDevice;
class RenderVertexDeclaration;
class Viewport;

// One queued shape or text; drawn by Render with the drawer Flush set up, then deleted.
class DebugRenderCommand
{
public:
    virtual ~DebugRenderCommand() = default;
    virtual void Render(GraphicsPrimitiveDrawer& drawer) = 0;
};

class DebugRenderManager : public Singleton<DebugRenderManager>
{
public:
    static constexpr size_t maxQueuedCommands = 65536;
    static constexpr int defaultTextSize = 16;

    // Makes its vertex declaration on the engine's device (or at the first flush without one).
    DebugRenderManager();
    ~DebugRenderManager() override;

    void Enable() { m_enabled = true; }
    void Disable() { m_enabled = false; }
    bool IsEnabled() const { return m_enabled; }
    // The font later texts are drawn with (texts queued without one are not drawn).
    void SetFont(const GraphicsFont* font) { m_font = font; }
    const GraphicsFont* GetFont() const { return m_font; }

    // Screen text at a pixel position.
    void RenderText(const char* text, const Vec2& screenPosition, const Color& color);
    // Text at a position of the region's space, drawn where the camera sees it.
    void RenderText(const char* text, Region* region, const Vec3& position, const Color& color);
    void RenderBox(Region* region, const OBBox& box, const Color& color);
    void RenderBox(Region* region, const ABBox& box, const Color& color);
    void RenderSphere(Region* region, const Sphere& sphere, const Color& color);
    void RenderFrustum(Region* region, const Frustum& frustum, const Color& color);
    // With the shader's style "normal" (the drawer's shader without one).
    void RenderLine(Region* region, const Vec3& from, const Vec3& to, const Color& color,
                    const GraphicsShader2* shader);
    void RenderArrow(Region* region, const Vec3& from, const Vec3& to, const Color& color);
    void RenderCone(Region* region, const Vec3& apex, const Vec3& axis, float halfAngle, const Color& color);
    // The forms without a region draw nothing.
    void RenderText(const char* text, const Vec3& position, const Color& color);
    void RenderBox(const OBBox& box, const Color& color);
    void RenderBox(const ABBox& box, const Color& color);
    void RenderSphere(const Sphere& sphere, const Color& color);
    void RenderFrustum(const Frustum& frustum, const Color& color);
    void RenderArrow(const Vec3& from, const Vec3& to, const Color& color);
    void RenderCone(const Vec3& apex, const Vec3& axis, float halfAngle, const Color& color);

    // Draws and discards what was queued: the canvas's viewport becomes the viewport, its depth is
    // cleared, and every command draws through one primitive drawer with the camera.
    void Flush(GraphicsCanvas& canvas, Region* region, const Camera& camera, const Viewport& viewport);

    size_t GetNumQueuedCommands() const { return m_commands.size(); }

private:
    void CreateDeclaration(RenderDevice* device);
    void Queue(std::unique_ptr<DebugRenderCommand> command);

    bool m_enabled = true;
    const GraphicsFont* m_font = nullptr;
    int m_textSize = defaultTextSize;
    RenderDevice* m_device = nullptr; // the device the declaration was made on
    RenderVertexDeclaration* m_declaration = nullptr;
    std::vector<std::unique_ptr<DebugRenderCommand>> m_commands;
    bool m_overflowReported = false;
};

} // namespace GAME
