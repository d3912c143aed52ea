// Renders what a camera in one region sees, including the regions seen through that region's
// portals. For each region drawn it sets up a GraphicsNormalRenderer with the frame's sun,
// ambient, fog, shadow and drawing switches (outdoors with the graphics engine's fog on, the
// background is the fog's colour: the sky the far ground fades into; underground regions draw
// without fog over black), and composites regions behind portals with the region in front. The
// camera's region shows the regions behind the doorways it faces (the camera in front of them)
// through their openings only, so only doorways in view are followed there. A region behind a
// doorway the camera stands behind is mixed in as the transparency target nears that doorway: a
// portal fades out between fadeStart and fadeEnd units from the target, measured both off its
// plane and along it from its choke point; and regions fade by the transparency manager's blend
// amounts (a region in front of a portal only toward the region behind it: not while the target is
// in a third region). The walk through portals never enters a region that is already on it, and
// stops maxDepth portals deep.
//
// The host makes one per frame for its camera and calls Render inside the open frame. Main thread
// only.
#pragma once

#include "core/Coords.h"
#include "core/Frustum.h"
#include "graphics/Camera.h"
#include "graphics/Viewport.h"

#include <functional>
#include <vector>

namespace GAME {

class GraphicsCanvas;
class GraphicsTransparencyManager;
class Portal;
class Region;
class RenderTexture;

class GraphicsPortalRenderer
{
public:
    static constexpr int maxDepth = 8;
    static constexpr int maxIndent = 15;
    // The nearest the near plane comes to the camera for a doorway close to it (see Render).
    static constexpr float minNearPlane = 0.01f;

    GraphicsPortalRenderer(GraphicsCanvas& canvas, Region* rootRegion, const Camera& camera,
                           const Viewport& viewport, bool undergroundOnly);
    GraphicsPortalRenderer(const GraphicsPortalRenderer&) = delete;
    GraphicsPortalRenderer& operator=(const GraphicsPortalRenderer&) = delete;

    void SetTransparencyManager(const GraphicsTransparencyManager* manager)
    {
        m_transparencyManager = manager;
    }
    void SetFadeParameters(float start, float end)
    {
        m_fadeStart = start;
        m_fadeEnd = end;
    }
    void EnableWireframe(bool enable) { m_wireframe = enable; }

    // Draws the frame. An opening cut by the near plane would leave what lies beyond the doorway's
    // plane on this side in its place (a cave's dark outside its walls, the field behind an
    // entrance's back), so first the near plane comes in for the frame: for each doorway of the
    // regions in view whose bounds come within the near plane's reach of the camera (in view or
    // not, facing either way), to 0.9 of the camera's distance off the doorway's plane times the
    // cosine of the view's corner angle, so that no corner of the near plane reaches that plane;
    // never below minNearPlane (a camera nearer the plane than that still cuts the opening).
    void Render();
    // Draws one region alone as the camera sees it: `placement` carries the region's space into
    // the camera's region's (identity for that region itself, across a doorway for the region
    // behind it). The regions listed with it (its outdoor neighbours in view) are drawn with it;
    // nothing behind its doorways is, and nothing is composited. With `cut` (a doorway of the
    // region), what lies beyond 3 units on the camera's side of that doorway is cut away, as when
    // the region is drawn behind it. The near plane comes in as for Render. A reference picture
    // for tests, and a debugging view of one region.
    void RenderAlone(Region* region, const Coords& placement, const Portal* cut = nullptr);

    // The fade of a portal for a point in its region's space: 1 within the fade start of the
    // portal (off its plane and along it from the choke point), 0 beyond the fade end.
    float GetPortalFade(const Portal& portal, const Vec3& point) const;
    // The portal's fade for the transparency target; 1 without a transparency manager.
    float GetTargetFade(const Portal& portal) const;
    // 1 for a null region or without a transparency manager, else the manager's blend amount.
    float GetRegionFade(const Region* region) const;

    // The regions drawn by the last Render, in order (for tests).
    const std::vector<Region*>& GetRenderedRegions() const { return m_rendered; }

private:
    // resultWanted false: what the region's drawing returns is taken by no one (a composite that
    // weighs it by 0): its blurred copy is not made unless regions behind its own back-facing
    // portals take it.
    RenderTexture* RenderRegion(Region* region, const Coords& placement, Region* previousRegion, float fade,
                                RenderTexture* previous, int depth, bool resultWanted = true);
    // Calls visit(listed, portal, target fade) for each portal of the listed regions that faces the
    // camera the way asked and is seen (fading, or inside the view frustum), until visit answers
    // false.
    void VisitSeenPortals(Region* region, const Coords& placement, const std::vector<Region*>& regions,
                          bool frontFacing, const std::function<bool(Region*, Portal*, float)>& visit) const;
    Portal* FindPortal(Region* region, const Coords& placement, const std::vector<Region*>& regions,
                       bool frontFacing, float& fade) const;
    // `drawn`: what PortalsToDraw answers for the same side. lastWanted: whether the texture
    // returned is taken (by the composite of the region that asked); the regions before the last
    // hand theirs on to the next.
    RenderTexture* DrawPortals(Region* region, const Coords& placement, const std::vector<Region*>& regions,
                               bool frontFacing, Region* previousRegion, RenderTexture* texture, int depth,
                               const std::vector<Portal*>& drawn, bool lastWanted);
    // The regions DrawPortals would draw: the portals seen that lead into a region other than the
    // previous one and not on the walk.
    std::vector<Portal*> PortalsToDraw(Region* region, const Coords& placement,
                                       const std::vector<Region*>& regions, bool frontFacing,
                                       Region* previousRegion, int depth) const;
    RenderTexture* RenderOneRegion(const std::vector<Region*>& regions, Region* region,
                                   const Coords& placement, float fade, RenderTexture* previous,
                                   bool postProcess, bool toSharedTarget, int depth,
                                   const Portal* backPortal);
    // Brings the camera's near plane in for the doorways near the camera (see Render).
    void KeepDoorwaysPastTheNearPlane();
    // Root space into the listed region's space, through the region being drawn.
    static Coords RootToRegion(Region* listed, Region* region, const Coords& placement);
    bool IsOnWalk(const Region* region) const;

    const GraphicsTransparencyManager* m_transparencyManager = nullptr;
    GraphicsCanvas& m_canvas;
    Viewport m_viewport;
    Region* m_rootRegion;
    Camera m_camera;
    Frustum m_viewFrustum;
    float m_fadeStart = 8.0f;
    float m_fadeEnd = 11.0f;
    bool m_undergroundOnly;
    bool m_regionStatistics = false;
    bool m_wireframe = false;
    std::vector<Region*> m_walk;
    std::vector<Region*> m_rendered;
};

} // namespace GAME
