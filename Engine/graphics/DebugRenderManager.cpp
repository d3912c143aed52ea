#include "graphics/DebugRenderManager.h"

namespace GAME {

// Each queuing call is where a command joins the queue once the drawer exists.
void DebugRenderManager::RenderText(const char*, const Vec2&, const Color&) {}
void DebugRenderManager::RenderText(const char*, Region*, const Vec3&, const Color&) {}
void DebugRenderManager::RenderBox(Region*, const OBBox&, const Color&) {}
void DebugRenderManager::RenderBox(Region*, const ABBox&, const Color&) {}
void DebugRenderManager::RenderSphere(Region*, const Sphere&, const Color&) {}
void DebugRenderManager::RenderFrustum(Region*, const Frustum&, const Color&) {}
void DebugRenderManager::RenderLine(Region*, const Vec3&, const Vec3&, const Color&, const GraphicsShader2*)
{
}
void DebugRenderManager::RenderArrow(Region*, const Vec3&, const Vec3&, const Color&) {}
void DebugRenderManager::RenderCone(Region*, const Vec3&, const Vec3&, float, const Color&) {}
void DebugRenderManager::Flush(GraphicsCanvas&, Region*, const Camera&, const Viewport&) {}

} // namespace GAME
