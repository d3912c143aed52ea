// Debug shapes and texts queued from anywhere during a frame (boxes, spheres, frusta, lines,
// arrows, cones, texts, each in a region's space with a colour) and drawn at once by Flush with the
// frame's camera. A lazily made singleton; the engine gives it the utility font at start-up and
// destroys it at shut-down. Main thread only.
//
// TODO(stand-in): the queue of debug commands and their drawing through the primitive drawer;
// until the primitive drawer and the camera exist, queued shapes are dropped at once (so nothing
// grows while no one flushes) and Flush draws nothing.
#pragma once

#include "core/Singleton.h"

namespace GAME {

class ABBox;
class Camera;
class Color;
class Frustum;
class GraphicsCanvas;
class GraphicsFont;
class GraphicsShader2;
class OBBox;
class Region;
class Sphere;
class Vec2;
class Vec3;
class Viewport;

class DebugRenderManager : public Singleton<DebugRenderManager>
{
public:
    DebugRenderManager() = default;
    ~DebugRenderManager() override = default;

    void Enable() { m_enabled = true; }
    void Disable() { m_enabled = false; }
    bool IsEnabled() const { return m_enabled; }
    // The font later texts are drawn with (texts queued without one are not drawn).
    void SetFont(const GraphicsFont* font) { m_font = font; }
    const GraphicsFont* GetFont() const { return m_font; }

    void RenderText(const char* text, const Vec2& screenPosition, const Color& color);
    void RenderText(const char* text, Region* region, const Vec3& position, const Color& color);
    void RenderBox(Region* region, const OBBox& box, const Color& color);
    void RenderBox(Region* region, const ABBox& box, const Color& color);
    void RenderSphere(Region* region, const Sphere& sphere, const Color& color);
    void RenderFrustum(Region* region, const Frustum& frustum, const Color& color);
    void RenderLine(Region* region, const Vec3& from, const Vec3& to, const Color& color,
                    const GraphicsShader2* shader);
    void RenderArrow(Region* region, const Vec3& from, const Vec3& to, const Color& color);
    void RenderCone(Region* region, const Vec3& apex, const Vec3& axis, float halfAngle, const Color& color);

    // Draws and discards what was queued.
    void Flush(GraphicsCanvas& canvas, Region* region, const Camera& camera, const Viewport& viewport);

private:
    bool m_enabled = true;
    const GraphicsFont* m_font = nullptr;
};

} // namespace GAME
