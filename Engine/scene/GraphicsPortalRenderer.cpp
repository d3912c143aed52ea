#include "scene/GraphicsPortalRenderer.h"

#include "core/Color.h"
#include "core/MathUtil.h"
#include "core/OBBox.h"
#include "core/Profile.h"
#include "data/EngineDataServices.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsServices.h"
#include "scene/GraphicsLight.h"
#include "scene/GraphicsNormalRenderer.h"
#include "scene/GraphicsReflectionManager.h"
#include "scene/GraphicsTransparencyManager.h"
#include "scene/SceneDayLight.h"
#include "scene/SceneServices.h"
#include "scene/SceneWorldServices.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace GAME {

namespace {

std::string Indent(int count)
{
    return std::string(static_cast<size_t>(std::clamp(count, 0, GraphicsPortalRenderer::maxIndent)), '-');
}

void AddStatistic(const std::string& text)
{
    if (EngineDataServices* services = EngineDataServices::Get())
        services->AddStatisticText(text.c_str());
}

Color Tinted(const Color& color, const Color& tint)
{
    return Color(color.r * tint.r, color.g * tint.g, color.b * tint.b, color.a);
}

} // namespace

GraphicsPortalRenderer::GraphicsPortalRenderer(GraphicsCanvas& canvas, Region* rootRegion,
                                               const Camera& camera, const Viewport& viewport,
                                               bool undergroundOnly)
    : m_canvas(canvas), m_viewport(viewport), m_rootRegion(rootRegion), m_camera(camera),
      m_viewFrustum(camera.GetFrustum(viewport)), m_undergroundOnly(undergroundOnly)
{
    if (const GraphicsEngine* graphics = GraphicsServices::Graphics())
        m_regionStatistics = graphics->IsRegionListEnabled();
}

float GraphicsPortalRenderer::GetPortalFade(const Portal& portal, const Vec3& point) const
{
    SceneWorldServices& world = SceneWorldServices::Current();
    const Plane plane = world.GetPortalPlane(&portal);
    float d = plane.GetDistance(point);
    if (!(d > 0.0f))
        d = 0.0f;
    const Vec3 choke = world.GetPortalChokePoint(&portal);
    const float along = (point - choke - plane.normal * d).Length();
    const float range = m_fadeEnd - m_fadeStart;
    auto fade = [&](float distance) {
        if (!(range > 0.0f))
            return distance <= m_fadeStart ? 1.0f : 0.0f;
        return 1.0f - std::clamp((distance - m_fadeStart) / range, 0.0f, 1.0f);
    };
    return std::min(fade(d), fade(along));
}

float GraphicsPortalRenderer::GetTargetFade(const Portal& portal) const
{
    const Region* region =
        m_transparencyManager ? SceneWorldServices::Current().GetPortalRegion(&portal) : nullptr;
    if (!region)
        return 1.0f;
    const WorldVec3& target = m_transparencyManager->GetTargetPosition();
    if (!target.GetRegion())
        return 1.0f;
    return GetPortalFade(portal, SceneWorldServices::RelativePosition(region, target));
}

float GraphicsPortalRenderer::GetRegionFade(const Region* region) const
{
    if (!region || !m_transparencyManager)
        return 1.0f;
    return m_transparencyManager->GetRegionBlendAmount(region);
}

Coords GraphicsPortalRenderer::RootToRegion(Region* listed, Region* region, const Coords& placement)
{
    return SceneWorldServices::RelativeTransformation(region, listed) * placement.Inverse();
}

bool GraphicsPortalRenderer::IsOnWalk(const Region* region) const
{
    return std::find(m_walk.begin(), m_walk.end(), region) != m_walk.end();
}

void GraphicsPortalRenderer::KeepDoorwaysPastTheNearPlane()
{
    if (m_camera.GetType() != CAMERA_PERSPECTIVE || !(m_camera.GetFOV() > 0.0f))
        return;
    // A point the view sees lies in front of the camera by at least this share of its distance
    // (the view's corners are the worst).
    const float tanV = std::tan(0.5f * m_camera.GetFOV());
    const float tanH = tanV * m_viewport.GetAspectRatio() * std::max(m_camera.GetCameraAspect(), 1.0f);
    const float ahead = 1.0f / std::sqrt(1.0f + tanV * tanV + tanH * tanH);
    if (!std::isfinite(ahead))
        return;
    SceneWorldServices& world = SceneWorldServices::Current();
    std::vector<Region*> regions;
    world.GetRegionsInFrustum(m_rootRegion, m_viewFrustum,
                              m_undergroundOnly && world.IsUnderground(m_rootRegion), regions);
    const Vec3 eye = m_camera.GetCoords().origin;
    float nearPlane = m_camera.GetNearPlane();
    for (Region* listed : regions) {
        const Coords toRoot = SceneWorldServices::RelativeTransformation(listed, m_rootRegion);
        for (int i = 0; i < world.GetNumPortals(listed); ++i) {
            const Portal* portal = world.GetPortal(listed, i);
            if (!portal)
                continue;
            // Only an opening that comes within the near plane's reach of the camera can be cut.
            const OBBox box = TransformOBBox(toRoot, world.GetPortalBoundingBox(portal));
            const Vec3 local = box.coords.Inverse().TransformPoint(eye);
            const Vec3 outside(std::max(std::fabs(local.x) - box.extents.x, 0.0f),
                               std::max(std::fabs(local.y) - box.extents.y, 0.0f),
                               std::max(std::fabs(local.z) - box.extents.z, 0.0f));
            if (outside.Length() * ahead >= nearPlane)
                continue;
            const float off =
                std::fabs(TransformPlane(toRoot, world.GetPortalPlane(portal)).GetDistance(eye));
            nearPlane = std::min(nearPlane, std::max(minNearPlane, 0.9f * off * ahead));
        }
    }
    m_camera.SetNearPlane(nearPlane);
}

void GraphicsPortalRenderer::Render()
{
    Profile block("Scene");
    m_walk.clear();
    m_rendered.clear();
    if (!m_rootRegion)
        return;
    KeepDoorwaysPastTheNearPlane();
    // The camera's region shows the regions behind its doorways through their openings only
    // (weight 0 for their pictures elsewhere): the camera stands in that region, in front of those
    // doorways, and sees nothing else of them. The region the target came from no longer fades
    // out round the view: drawn from a camera that has come through the doorway it is the view
    // behind the doorway's back (the field's grass over a cave's floor, a cave's dark round a
    // field), not what lies round the camera.
    RenderRegion(m_rootRegion, Coords(), nullptr, 0.0f, nullptr, 0);
}

void GraphicsPortalRenderer::RenderAlone(Region* region, const Coords& placement, const Portal* cut)
{
    Profile block("Scene");
    m_walk.clear();
    m_rendered.clear();
    if (!region)
        return;
    KeepDoorwaysPastTheNearPlane();
    Frustum frustum = m_viewFrustum;
    frustum.Transform(placement.Inverse());
    SceneWorldServices& world = SceneWorldServices::Current();
    std::vector<Region*> regions;
    world.GetRegionsInFrustum(region, frustum, m_undergroundOnly && world.IsUnderground(region), regions);
    RenderOneRegion(regions, region, placement, 1.0f, nullptr, false, false, 0, cut);
}

void GraphicsPortalRenderer::VisitSeenPortals(Region* region, const Coords& placement,
                                              const std::vector<Region*>& regions, bool frontFacing,
                                              const std::function<bool(Region*, Portal*, float)>& visit) const
{
    // The camera's region shows what lies behind its front-facing doorways through their openings
    // only: a doorway out of view adds nothing to it, however near the target. The view frustum's
    // sides all meet at the camera, so a doorway close behind it can straddle each of them; the
    // near plane tells it apart.
    const bool inViewOnly = frontFacing && region == m_rootRegion;
    Frustum seen = m_viewFrustum;
    if (inViewOnly) {
        const Coords& eye = m_camera.GetCoords();
        seen.AddPlane(Plane(eye.zAxis, eye.origin + eye.zAxis * m_camera.GetNearPlane()));
    }
    SceneWorldServices& world = SceneWorldServices::Current();
    for (Region* listed : regions) {
        const Coords toListed = RootToRegion(listed, region, placement);
        const Vec3 camera = toListed.TransformPoint(m_camera.GetCoords().origin);
        Frustum frustum = seen;
        frustum.Transform(toListed);
        for (int i = 0; i < world.GetNumPortals(listed); ++i) {
            Portal* portal = world.GetPortal(listed, i);
            if (!portal || world.IsPortalFrontFacing(portal, camera) != frontFacing)
                continue;
            const float targetFade = GetTargetFade(*portal);
            if (((targetFade > 0.0f && !inViewOnly) || world.PortalIntersects(portal, frustum)) &&
                !visit(listed, portal, targetFade))
                return;
        }
    }
}

Portal* GraphicsPortalRenderer::FindPortal(Region* region, const Coords& placement,
                                           const std::vector<Region*>& regions, bool frontFacing,
                                           float& fade) const
{
    fade = 0.0f;
    Portal* found = nullptr;
    VisitSeenPortals(region, placement, regions, frontFacing, [&](Region*, Portal* portal, float targetFade) {
        if (!SceneWorldServices::Current().GetConnectedRegion(portal))
            return true;
        found = portal;
        fade = targetFade;
        return false;
    });
    return found;
}

RenderTexture* GraphicsPortalRenderer::RenderRegion(Region* region, const Coords& placement,
                                                    Region* previousRegion, float fade,
                                                    RenderTexture* previous, int depth, bool resultWanted)
{
    m_walk.push_back(region);
    Frustum frustum = m_viewFrustum;
    frustum.Transform(placement.Inverse());
    SceneWorldServices& world = SceneWorldServices::Current();
    std::vector<Region*> regions;
    const bool undergroundOnly = m_undergroundOnly && world.IsUnderground(region);
    world.GetRegionsInFrustum(region, frustum, undergroundOnly, regions);

    float backFade = 0.0f, frontFade = 0.0f;
    const Portal* backPortal = FindPortal(region, placement, regions, false, backFade);
    const bool backFacing = backPortal != nullptr;
    // The blurred copy is for the regions behind the back-facing portals and for whoever asked
    // for this region's result; with neither it is not made (its only other trace, the alpha it
    // leaves in the target, is overwritten or never read).
    // What each side draws is worked out once: the walk is the same again after each side's
    // regions are drawn.
    const std::vector<Portal*> backDrawn =
        backFacing ? PortalsToDraw(region, placement, regions, false, previousRegion, depth + 1) : std::vector<Portal*>();
    const bool postProcess = backFacing && (resultWanted || !backDrawn.empty());
    const bool toShared =
        previous != nullptr || FindPortal(region, placement, regions, true, frontFade) != nullptr;
    const std::vector<Portal*> frontDrawn =
        toShared && !previousRegion ? PortalsToDraw(region, placement, regions, true, nullptr, depth + 1)
                                    : std::vector<Portal*>();
    // This region's composite weighs what the regions behind its front-facing portals drew by its
    // fade (0 for the camera's region, see Render): at 0 the last of them is taken by no one.
    if (toShared && !previousRegion)
        previous =
            DrawPortals(region, placement, regions, true, nullptr, previous, depth + 1, frontDrawn, fade != 0.0f);
    if (!previousRegion && backFade == 0.0f)
        backPortal = nullptr;
    RenderTexture* texture =
        RenderOneRegion(regions, region, placement, fade, previous, postProcess, toShared, depth, backPortal);
    if (backFacing)
        texture =
            DrawPortals(region, placement, regions, false, previousRegion, texture, depth + 1, backDrawn, resultWanted);
    m_walk.pop_back();
    return texture;
}

std::vector<Portal*> GraphicsPortalRenderer::PortalsToDraw(Region* region, const Coords& placement,
                                                           const std::vector<Region*>& regions,
                                                           bool frontFacing, Region* previousRegion,
                                                           int depth) const
{
    std::vector<Portal*> portals;
    if (depth > maxDepth)
        return portals;
    VisitSeenPortals(region, placement, regions, frontFacing, [&](Region*, Portal* portal, float) {
        Coords across;
        Region* behind = nullptr;
        if (SceneWorldServices::Current().GetBackToFrontCoords(portal, across, behind) && behind &&
            behind != previousRegion && !IsOnWalk(behind))
            portals.push_back(portal);
        return true;
    });
    return portals;
}

RenderTexture* GraphicsPortalRenderer::DrawPortals(Region* region, const Coords& placement,
                                                   const std::vector<Region*>& regions, bool frontFacing,
                                                   Region* previousRegion, RenderTexture* texture, int depth,
                                                   const std::vector<Portal*>& drawn, bool lastWanted)
{
    if (m_regionStatistics)
        AddStatistic(Indent(depth + 1) +
                     (frontFacing ? " Rendering FRONT facing portals of region "
                                  : " Rendering BACK facing portals of region ") +
                     SceneWorldServices::Current().GetRegionName(region));
    if (depth > maxDepth)
        return texture;
    // The last region drawn hands its result back; each before it to the next.
    VisitSeenPortals(
        region, placement, regions, frontFacing, [&](Region* listed, Portal* portal, float targetFade) {
            Coords across;
            Region* behind = nullptr;
            if (!SceneWorldServices::Current().GetBackToFrontCoords(portal, across, behind) || !behind ||
                behind == previousRegion || IsOnWalk(behind))
                return true;
            // The region holding the portal gives way only to the region behind it: while the
            // target is in a third region (a neighbour's doorway in view) both blend amounts are 0,
            // and the region in front must stay whole rather than open onto the one behind.
            float fadeValue =
                m_transparencyManager ? std::max(GetRegionFade(listed), 1.0f - GetRegionFade(behind)) : 2.0f;
            if (!frontFacing)
                fadeValue += 1.0f - targetFade;
            // Behind's space into the listed region's, then into the drawn region's, then the root's.
            const Coords behindToRoot =
                placement * SceneWorldServices::RelativeTransformation(listed, region) * across;
            const bool wanted = lastWanted || drawn.empty() || portal != drawn.back();
            texture = RenderRegion(behind, behindToRoot, listed, fadeValue, texture, depth, wanted);
            return true;
        });
    return texture;
}

RenderTexture* GraphicsPortalRenderer::RenderOneRegion(const std::vector<Region*>& regions, Region* region,
                                                       const Coords& placement, float fade,
                                                       RenderTexture* previous, bool postProcess,
                                                       bool toSharedTarget, int depth,
                                                       const Portal* backPortal)
{
    m_rendered.push_back(region);
    SceneWorldServices& world = SceneWorldServices::Current();
    GraphicsEngine* graphics = GraphicsServices::Graphics();
    GraphicsNormalRenderer renderer;
    renderer.EnableWireframe(m_wireframe);
    Camera camera = m_camera;
    camera.SetCoords(placement.Inverse() * m_camera.GetCoords());
    renderer.SetViewer(region, camera, m_viewport, camera.GetFrustum(m_viewport));

    // The sun and the ambient light.
    const bool underground = world.IsUnderground(region);
    GraphicsLight sun;
    sun.SetType(GraphicsLight::TYPE_DIRECTIONAL);
    sun.SetCastsShadows(true);
    Color sunColor(0.0f, 0.0f, 0.0f, 1.0f), sky(1.0f, 1.0f, 1.0f, 1.0f), ground(1.0f, 1.0f, 1.0f, 1.0f);
    if (!underground) {
        if (SceneDayLight* day = world.GetDayLight()) {
            if (graphics && graphics->UseLowQualityLighting() && !day->IsDay())
                sun.SetCastsShadows(false);
            sunColor = day->GetLightColor();
            sky = day->GetSkyAmbientColor();
            ground = day->GetGroundAmbientColor();
            const Vec3 direction = day->GetLightDirection();
            sun.SetObjectToWorldCoords(WorldCoords(
                region, Coords::LookInDirection(Vec3(), direction, direction.GetPerpendicular())));
        }
    }
    Color tintLight, tintSky, tintGround;
    if (SceneServices::AmbianceTint(underground ? 0 : 1, tintLight, tintSky, tintGround)) {
        sunColor = Tinted(sunColor, tintLight);
        sky = Tinted(sky, tintSky);
        ground = Tinted(ground, tintGround);
    }
    sunColor.a = 1.0f;
    sun.SetColor(sunColor);
    Region* sunRegion = underground ? nullptr : region;

    if (graphics && sunRegion && graphics->IsReflectionsEnabled() && graphics->GetPixelShaderVersion() > 3) {
        Profile block("Scene: reflections");
        GraphicsReflectionManager reflections;
        const int rendered = reflections.RenderReflections(
            m_canvas, GraphicsReflectionManager::RenderSet(&camera, region, m_viewport, &sun, &sky, &ground));
        for (int i = 0; i < rendered; ++i)
            graphics->AddReflection();
    }

    renderer.SetSkyAmbientColor(sky);
    renderer.SetGroundAmbientColor(ground);
    if (sunRegion)
        renderer.AddLight(sun);
    if (graphics) {
        renderer.SetGenerationId(graphics->GetGenerationId());
        renderer.ShowLights(graphics->IsShowLightsEnabled());
        renderer.EnableBoundingBoxes(graphics->IsShowBoundingBoxesEnabled());
        renderer.EnableShadows(graphics->IsShadowsEnabled());
        renderer.EnableLighting(graphics->IsLightingEnabled());
        renderer.EnableTransparency(graphics->IsTransparencyEnabled());
        renderer.EnableTerrain(graphics->IsTerrainEnabled());
        renderer.EnableGrass(graphics->IsGrassEnabled());
        renderer.EnableGridTiles(graphics->IsGridTilesEnabled());
        renderer.EnableMeshes(graphics->IsMeshesEnabled());
        renderer.EnableDecals(graphics->IsDecalsEnabled());
        renderer.EnableEffects(graphics->IsEffectsEnabled());
        renderer.EnableWater(graphics->IsWaterEnabled());
        // The outdoor air: its fog, and the sky (the background) in the fog's colour, so that the
        // far ground fades into it. Underground there is neither: no fog, a black background.
        const bool fog = graphics->IsFogEnabled() && !underground;
        renderer.EnableFog(fog);
        const float* fogColor = graphics->GetFogColor();
        renderer.SetFogColor(Color(fogColor[0], fogColor[1], fogColor[2], 1.0f));
        if (fog)
            renderer.SetBackgroundColor(Color(fogColor[0], fogColor[1], fogColor[2], 1.0f));
        const float* depthFog = graphics->GetDepthFog();
        renderer.SetDepthFogParams(depthFog[0], depthFog[1], depthFog[2]);
        const float* heightFog = graphics->GetHeightFog();
        renderer.SetHeightFogParams(heightFog[0], heightFog[1], heightFog[2]);
    }
    if (m_transparencyManager) {
        renderer.SetTransparency(m_transparencyManager->GetTransparencyFrustum(),
                                 m_transparencyManager->GetTransparencyHeight());
        const WorldVec3& target = m_transparencyManager->GetTargetPosition();
        if (target.GetRegion())
            renderer.SetTransparencyTarget(SceneWorldServices::RelativePosition(region, target));
    }
    if (float softness = 0.0f; world.GetShadowSoftness(region, softness))
        renderer.SetShadowSoftness(softness);

    // A region's relative transformation carries its own positions into the other region's
    // space: each listed region is placed by its transformation to the region being drawn.
    {
        Profile building("Scene: building");
        for (Region* listed : regions) {
            if (m_regionStatistics)
                AddStatistic(Indent(depth + 1) + "> Rendering Region " + world.GetRegionName(listed));
            renderer.AddRegionToScene(listed, SceneWorldServices::RelativeTransformation(listed, region),
                                      nullptr);
        }
        renderer.SetPortalRegions(&regions);
        renderer.SetRegionToSceneCoords(m_rootRegion, placement.Inverse());
        const Frustum& frustum = renderer.GetFrustum();
        for (Region* listed : regions) {
            const Coords listedToScene = SceneWorldServices::RelativeTransformation(listed, region);
            Frustum listedFrustum = frustum;
            listedFrustum.Transform(listedToScene.Inverse());
            for (int i = 0; i < world.GetNumPortals(listed); ++i) {
                const Portal* portal = world.GetPortal(listed, i);
                if (!portal || !world.PortalIntersects(portal, listedFrustum))
                    continue;
                Coords across;
                Region* behind = nullptr;
                if (!world.GetBackToFrontCoords(portal, across, behind) || !behind)
                    continue;
                renderer.AddElementsInBox(
                    behind, TransformOBBox(across.Inverse(), world.GetPortalBoundingBox(portal)),
                    listedToScene * across);
            }
        }
    }
    if (const Region* backRegion = backPortal ? world.GetPortalRegion(backPortal) : nullptr) {
        Plane plane = world.GetPortalPlane(backPortal);
        plane.d += 3.0f;
        renderer.SetClippingPlane(
            TransformPlane(SceneWorldServices::RelativeTransformation(backRegion, region), plane));
    }
    return renderer.Render(m_canvas, fade, previous, postProcess, toSharedTarget, m_canvas.GetTargetSurface(),
                           underground);
}

} // namespace GAME
