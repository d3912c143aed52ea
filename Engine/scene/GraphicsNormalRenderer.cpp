#include "scene/GraphicsNormalRenderer.h"

#include "core/Log.h"
#include "core/MathUtil.h"
#include "core/OBBox.h"
#include "core/Profile.h"
#include "core/RegionServices.h"
#include "core/Time.h"
#include "core/Vec4.h"
#include "data/EngineDataServices.h"
#include "graphics/DebugRenderManager.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsPrimitiveDrawer.h"
#include "graphics/GraphicsServices.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/GraphicsTexture.h"
#include "graphics/RenderSurface.h"
#include "graphics/RenderTexture.h"
#include "scene/GraphicsRenderable.h"
#include "scene/GraphicsShadowMap.h"
#include "scene/SceneWorldServices.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace GAME {

namespace {

// The whole of a texture over the rectangle with these blend factors, no alpha test.
void RenderTextureRect(GraphicsCanvas& canvas, const Rect& rect, const RenderTexture* texture,
                       RenderBlendFactor source, RenderBlendFactor destination, const Color& color)
{
    if (!texture)
        return;
    canvas.RenderRect(
        rect,
        Rect(0.0f, 0.0f, static_cast<float>(texture->GetWidth()), static_cast<float>(texture->GetHeight())),
        texture, source, destination, color, false);
}

#define SCENE_STYLE(function, text)                                                                          \
    const Name& GraphicsNormalRenderer::function()                                                           \
    {                                                                                                        \
        static const Name name = Name::Create(text);                                                         \
        return name;                                                                                         \
    }

struct Parameters
{
    Name cameraOrigin = Name::Create("cameraOrigin");
    Name time = Name::Create("time");
    Name fogColor = Name::Create("fogColor");
    Name depthFogParams = Name::Create("depthFogParams");
    Name heightFogParams = Name::Create("heightFogParams");
    Name transparencyHeight = Name::Create("transparencyHeight");
    Name skyAmbientColor = Name::Create("skyAmbientColor");
    Name groundAmbientColor = Name::Create("groundAmbientColor");
    Name lightColor = Name::Create("lightColor");
    Name lightPosition = Name::Create("lightPosition");
    Name lightMaxDistance = Name::Create("lightMaxDistance");
    Name lightShadowIntensity = Name::Create("lightShadowIntensity");
    Name lightDirection = Name::Create("lightDirection");
    Name worldToShadowMatrix = Name::Create("worldToShadowMatrix");
    Name shadowBluriness = Name::Create("shadowBluriness");
    Name shadowTexture = Name::Create("shadowTexture");
    Name alphaMaskTexture = Name::Create("alphaMaskTexture");
    Name alphaMaskFactor = Name::Create("alphaMaskFactor");
};

const Parameters& Names()
{
    static const Parameters names;
    return names;
}

void AddStatistic(const char* text)
{
    if (EngineDataServices* services = EngineDataServices::Get())
        services->AddStatisticText(text);
}

// The scene's clipping plane carried into clip space: (M^-1)^T applied to (n, d).
Plane ToClipSpace(const Mat4& worldToScreen, const Plane& plane)
{
    const Mat4 inverseTranspose = worldToScreen.Inverse().Transpose();
    const Vec4 p = inverseTranspose * Vec4(plane.normal, plane.d);
    return Plane(Vec3(p.x, p.y, p.z), p.w);
}

// The rectangle of the current target, alpha included, copied unblurred into a temporary surface
// of its size; null when no surface can be had or the copy fails.
RenderSurface* CopyFrameBuffer(GraphicsCanvas& canvas, const Rect& rect)
{
    RenderSurface* source = canvas.GetTargetSurface();
    const int width = static_cast<int>(rect.width), height = static_cast<int>(rect.height);
    if (!source || width <= 0 || height <= 0)
        return nullptr;
    RenderSurface* copy =
        canvas.CreateTemporaryTextureSurface(width, height, RENDER_FORMAT_RGBA, RENDER_FORMAT_NONE);
    if (!copy || !copy->GetTexture() || !source->CopyToTexture(copy->GetTexture(), rect))
        return nullptr;
    return copy;
}

RenderTextureFormat ShadowColorFormat(GraphicsCanvas& canvas, RenderGenerationId generation)
{
    if (generation != 6 && canvas.Supports16bitColorWithDepth())
        return RENDER_FORMAT_RGB16;
    return RENDER_FORMAT_RGBA;
}

} // namespace

SCENE_STYLE(AmbientLightStyle, "ambientLightStyle")
SCENE_STYLE(DirectionalDiffuseStyle, "dLightDiffuseStyle")
SCENE_STYLE(PointDiffuseStyle, "pLightDiffuseStyle")
SCENE_STYLE(DirectionalDiffuseAmbientStyle, "dLightDiffuseAmbientStyle")
SCENE_STYLE(PointDiffuseAmbientStyle, "pLightDiffuseAmbientStyle")
SCENE_STYLE(DepthOnlyStyle, "depthOnlyStyle")
SCENE_STYLE(DepthStyle, "depthStyle")
SCENE_STYLE(EmissiveStyle, "emissiveStyle")
SCENE_STYLE(FogStyle, "fogStyle")
SCENE_STYLE(ColorStyle, "colorStyle")
SCENE_STYLE(TransparencyMaskStyle, "transparencyMaskStyle")
SCENE_STYLE(MaskStyle, "mask")
#undef SCENE_STYLE

RenderSurface* GraphicsNormalRenderer::s_sceneTarget = nullptr;
RenderSurface* GraphicsNormalRenderer::s_directionalShadowSurface = nullptr;
RenderSurface* GraphicsNormalRenderer::s_pointShadowSurfaces[numPointShadowSurfaces] = {};
RenderSurface* GraphicsNormalRenderer::s_whiteSurface = nullptr;
RenderSurface* GraphicsNormalRenderer::s_transparencyMaskSurface = nullptr;
GraphicsTexture* GraphicsNormalRenderer::s_inverseTransparencyMask = nullptr;
bool GraphicsNormalRenderer::s_rendering = false;

GraphicsNormalRenderer::GraphicsNormalRenderer() : m_frameTime(static_cast<uint32_t>(GetGameTime())) {}

GraphicsNormalRenderer::~GraphicsNormalRenderer() = default;

// ---- Shared render targets ----------------------------------------------------------------------

void GraphicsNormalRenderer::CreateRenderTargets(GraphicsEngine& graphics, unsigned int shadowSize,
                                                 unsigned int pointShadowSize)
{
    GraphicsCanvas* canvas = graphics.GetCanvas();
    if (!canvas)
        return;
    DestroyRenderTargets(graphics);
    const int width = canvas->GetWidth(), height = canvas->GetHeight();
    const RenderTextureFormat shadowFormat = ShadowColorFormat(*canvas, graphics.GetGenerationId());
    s_sceneTarget = canvas->CreateTextureSurface(width, height, RENDER_FORMAT_RGBA, RENDER_FORMAT_D24);
    const int shadow = static_cast<int>(shadowSize), point = static_cast<int>(pointShadowSize);
    s_directionalShadowSurface =
        canvas->CreateTextureSurface(shadow, shadow, shadowFormat, RENDER_FORMAT_D16);
    // Every point light of a frame keeps its own map until the lit passes have read it.
    for (int i = 0; i < numPointShadowSurfaces; ++i) {
        const int size = i < 4 ? point : point / 2;
        s_pointShadowSurfaces[i] = canvas->CreateTextureSurface(size, size, shadowFormat, RENDER_FORMAT_D16);
    }
    s_whiteSurface =
        canvas->CreateTextureSurface(whiteSurfaceSize, whiteSurfaceSize, shadowFormat, RENDER_FORMAT_D16);
    if (s_whiteSurface) {
        RenderSurface* previous = canvas->GetTargetSurface();
        canvas->ClearRenderSurface(s_whiteSurface, Color(1.0f, 1.0f, 1.0f, 1.0f), defaultClearFlags);
        canvas->SetTargetSurface(previous);
    }
    s_transparencyMaskSurface =
        canvas->CreateTextureSurface(width, height, RENDER_FORMAT_RGBA, RENDER_FORMAT_D16);
    s_inverseTransparencyMask = graphics.LoadTexture(inverseTransparencyMaskName);
}

void GraphicsNormalRenderer::DestroyRenderTargets(GraphicsEngine& graphics)
{
    if (GraphicsCanvas* canvas = graphics.GetCanvas()) {
        canvas->DestroySurface(s_sceneTarget);
        canvas->DestroySurface(s_directionalShadowSurface);
        for (RenderSurface*& surface : s_pointShadowSurfaces)
            canvas->DestroySurface(surface);
        canvas->DestroySurface(s_whiteSurface);
        canvas->DestroySurface(s_transparencyMaskSurface);
    }
    if (s_inverseTransparencyMask)
        graphics.UnloadTexture(s_inverseTransparencyMask);
    s_inverseTransparencyMask = nullptr;
}

RenderSurface* GraphicsNormalRenderer::GetPointShadowSurface(int index)
{
    return index >= 0 && index < numPointShadowSurfaces ? s_pointShadowSurfaces[index] : nullptr;
}

// ---- Settings ---------------------------------------------------------------------------------

void GraphicsNormalRenderer::SetDepthFogParams(float start, float end, float density)
{
    m_depthFog[0] = start;
    m_depthFog[1] = end != start ? 1.0f / (end - start) : 0.0f;
    m_depthFog[2] = density;
}

void GraphicsNormalRenderer::SetHeightFogParams(float base, float top, float density)
{
    m_heightFog[0] = base;
    m_heightFog[1] = top != base ? 1.0f / (top - base) : 0.0f;
    m_heightFog[2] = density;
}

void GraphicsNormalRenderer::SetClippingPlane(const Plane& plane)
{
    m_clippingPlane = plane;
    m_clippingOn = 1;
}

// ---- Scene building ---------------------------------------------------------------------------

void GraphicsNormalRenderer::AddRegionContents(Region* region, const Coords& regionToScene,
                                               const Frustum& regionFrustum,
                                               const WorldFrustum* transparencyFrustum)
{
    if (region)
        SceneWorldServices::Current().AddRegionToScene(region, *this, regionToScene, regionFrustum,
                                                       transparencyFrustum);
}

void GraphicsNormalRenderer::BuildScene(bool all)
{
    if (!m_viewerRegion)
        return;
    SceneWorldServices& world = SceneWorldServices::Current();
    std::vector<Region*> regions;
    world.GetRegionsInFrustum(m_viewerRegion, m_frustum, false, regions);
    for (Region* region : regions)
        if (all || world.IsLevelLoaded(region))
            AddRegionToScene(region);
}

void GraphicsNormalRenderer::AddElementsInBox(Region* region, const OBBox& box, const Coords& regionToScene)
{
    if (!region)
        return;
    SetRegionToSceneCoords(region, regionToScene);
    // The six faces of the box, normals inward.
    Frustum faces;
    const Coords& c = box.coords;
    const Vec3 axes[3] = {c.xAxis, c.yAxis, c.zAxis};
    const float extents[3] = {box.extents.x, box.extents.y, box.extents.z};
    for (int i = 0; i < 3; ++i) {
        faces.AddPlane(Plane(axes[i], c.origin - axes[i] * extents[i]));
        faces.AddPlane(Plane(-axes[i], c.origin + axes[i] * extents[i]));
    }
    SceneWorldServices& world = SceneWorldServices::Current();
    std::vector<Entity*> entities;
    world.GetLevelEntitiesInFrustum(region, faces, entities);
    for (Entity* entity : entities)
        if (world.RendersAcrossPortals(entity))
            world.AddEntityToScene(entity, *this, &faces);
}

// ---- Shader parameters ------------------------------------------------------------------------

bool GraphicsNormalRenderer::SetSceneShaderParameters(GraphicsCanvas&, GraphicsShader2& shader)
{
    const Parameters& n = Names();
    shader.SetFloat3(n.cameraOrigin, 0, m_camera.GetCoords().origin);
    shader.SetFloat(n.time, 0, static_cast<float>(m_frameTime) * 0.001f);
    shader.SetFloat3(n.fogColor, 0, m_fogColor);
    // Shaders that carry the fog in their own styles draw none while it is off: its densities go
    // to them as 0.
    const float depthFog[3] = {m_depthFog[0], m_depthFog[1], m_fogOn ? m_depthFog[2] : 0.0f};
    shader.SetFloat3(n.depthFogParams, 0, depthFog);
    const float viewerHeight =
        m_viewerRegion ? static_cast<float>(RegionServices::OffsetFromWorld(m_viewerRegion).y) : 0.0f;
    const float heightFog[3] = {m_heightFog[0] - viewerHeight, m_heightFog[1],
                                m_fogOn ? m_heightFog[2] : 0.0f};
    shader.SetFloat3(n.heightFogParams, 0, heightFog);
    shader.SetFloat(n.transparencyHeight, 0, m_transparencyValue);
    shader.SetFloat3(n.skyAmbientColor, 0, m_skyAmbient);
    shader.SetFloat3(n.groundAmbientColor, 0, m_groundAmbient);
    if (const LightElement* element = m_currentLight) {
        const GraphicsLight& light = *element->light;
        shader.SetFloat3(n.lightColor, 0, light.GetColor());
        if (light.GetType() == GraphicsLight::TYPE_POINT) {
            shader.SetFloat3(n.lightPosition, 0, element->sphere.center);
            shader.SetFloat(n.lightMaxDistance, 0, light.GetRadius());
            shader.SetFloat(n.lightShadowIntensity, 0, light.GetShadowIntensity());
            shader.SetFloat3(n.lightDirection, 0, Vec3());
        } else if (light.GetType() == GraphicsLight::TYPE_DIRECTIONAL) {
            const WorldCoords& placement = light.GetObjectToWorldCoords();
            Vec3 direction = placement.GetZAxis();
            if (m_viewerRegion && placement.GetRegion())
                direction = SceneWorldServices::RelativeTransformation(m_viewerRegion, placement.GetRegion())
                                .TransformVector(direction);
            shader.SetFloat3(n.lightDirection, 0, direction);
        }
        shader.SetFloat4x4(n.worldToShadowMatrix, 0, element->worldToShadow);
        const RenderTexture* shadow = element->shadowSurface ? element->shadowSurface->GetTexture() : nullptr;
        if (shadow) {
            const float width = static_cast<float>(shadow->GetWidth());
            shader.SetFloat(n.shadowBluriness, 0, width > 0.0f ? m_shadowSoftness / width : 0.0f);
            shader.SetTexture(n.shadowTexture, 0, shadow);
        }
    }
    shader.SetTexture(n.alphaMaskTexture, 0, m_alphaMaskTexture);
    const float factor[4] = {m_alphaMaskFactor, m_alphaMaskFactor, m_alphaMaskFactor, m_alphaMaskFactor};
    return shader.SetFloat4(n.alphaMaskFactor, 0, factor);
}

ClearAir GraphicsNormalRenderer::GetClearAir() const
{
    ClearAir air;
    if (!m_fogOn)
        return air;
    air.any = true;
    air.eye = m_camera.GetCoords().origin;
    // No depth fog nearer than its start (whether it rises over a distance or at once).
    air.reach = m_depthFog[2] > 0.0f ? m_depthFog[0] : gInfinity;
    // No height fog above its top: the base plus the rise's length, or the base itself where the
    // fog rises at once.
    const float viewerHeight =
        m_viewerRegion ? static_cast<float>(RegionServices::OffsetFromWorld(m_viewerRegion).y) : 0.0f;
    const float base = m_heightFog[0] - viewerHeight;
    air.above = !(m_heightFog[2] > 0.0f) ? -gInfinity
                : m_heightFog[1] > 0.0f  ? base + 1.0f / m_heightFog[1]
                                         : base;
    return air;
}

// ---- Lights -----------------------------------------------------------------------------------

Rect GraphicsNormalRenderer::ViewportRect() const
{
    return Rect(static_cast<float>(m_viewport.x), static_cast<float>(m_viewport.y),
                static_cast<float>(m_viewport.width), static_cast<float>(m_viewport.height));
}

Rect GraphicsNormalRenderer::GetLightRect(const Sphere& sphere) const
{
    const float r = sphere.radius + 1.0f;
    const Vec3 c = m_worldToCamera.TransformPoint(sphere.center);
    if (c.z < -r)
        return Rect(0.0f, 0.0f, 0.0f, 0.0f);
    const Rect whole = ViewportRect();
    if (c.z < r + 1.0f)
        return whole;
    const float t = std::tan(m_camera.GetFOV() * 0.5f);
    const float aspect = m_viewport.GetAspectRatio() * m_camera.GetCameraAspect();
    if (!(t > 0.0f) || !(aspect > 0.0f))
        return whole;
    // The slopes (a / z) of the two tangents from the camera to the circle of radius r about
    // (a, z) in one plane; false when the camera lies inside the circle.
    auto tangents = [r](float a, float z, float& lo, float& hi) {
        const float d2 = a * a + z * z;
        const float den = z * z - r * r;
        if (!(d2 > r * r) || !(den > 0.0f))
            return false;
        const float root = r * std::sqrt(d2 - r * r);
        lo = (a * z - root) / den;
        hi = (a * z + root) / den;
        return true;
    };
    float x0, x1, y0, y1;
    if (!tangents(c.x, c.z, x0, x1) || !tangents(c.y, c.z, y0, y1))
        return whole;
    const float px0 = std::clamp(x0 / (t * aspect), -1.0f, 1.0f),
                px1 = std::clamp(x1 / (t * aspect), -1.0f, 1.0f);
    const float py0 = std::clamp(y0 / t, -1.0f, 1.0f), py1 = std::clamp(y1 / t, -1.0f, 1.0f);
    const float w = static_cast<float>(m_viewport.width), h = static_cast<float>(m_viewport.height);
    // Camera +X is the picture's left, +Y its top.
    const float left = std::clamp(w * (1.0f - px1) * 0.5f, 0.0f, w);
    const float right = std::clamp(w * (1.0f - px0) * 0.5f, 0.0f, w);
    const float top = std::clamp(h * (1.0f - py1) * 0.5f, 0.0f, h);
    const float bottom = std::clamp(h * (1.0f - py0) * 0.5f, 0.0f, h);
    return Rect(whole.x + left, whole.y + top, right - left, bottom - top);
}

void GraphicsNormalRenderer::GatherLights(GraphicsCanvas& canvas)
{
    m_lightElements.clear();
    const GraphicsEngine* graphics = GraphicsServices::Graphics();
    for (const GraphicsLight& light : m_lights) {
        LightElement element;
        element.light = &light;
        element.rect = ViewportRect();
        element.sphere = Sphere(Vec3(), 0.0f);
        if (light.GetType() == GraphicsLight::TYPE_POINT) {
            const WorldCoords& placement = light.GetObjectToWorldCoords();
            const Vec3 centre =
                m_viewerRegion && placement.GetRegion()
                    ? SceneWorldServices::RelativePosition(m_viewerRegion, placement.GetOrigin())
                    : placement.GetOrigin().GetRegionPosition();
            element.sphere = Sphere(centre, light.GetRadius());
            if (m_showLights)
                if (DebugRenderManager* debug = DebugRenderManager::Get())
                    debug->RenderSphere(m_viewerRegion, element.sphere, Color(1.0f, 1.0f, 0.0f, 1.0f));
            element.rect = GetLightRect(element.sphere);
        }
        if (element.rect.width > 0.0f && element.rect.height > 0.0f)
            m_lightElements.push_back(element);
    }
    const bool lowQuality = graphics && graphics->UseLowQualityLighting();
    auto area = [](const LightElement& e) { return static_cast<int>(e.rect.width * e.rect.height); };
    std::stable_sort(m_lightElements.begin(), m_lightElements.end(),
                     [&](const LightElement& a, const LightElement& b) {
                         if (lowQuality && a.light->GetCastsShadows() != b.light->GetCastsShadows())
                             return a.light->GetCastsShadows();
                         return area(a) > area(b);
                     });
    BuildShadows(canvas);
    if (graphics && graphics->IsStatsEnabled() && m_showLights) {
        char line[64];
        std::snprintf(line, sizeof line, "%d lights", static_cast<int>(m_lightElements.size()));
        AddStatistic(line);
    }
}

void GraphicsNormalRenderer::BuildShadows(GraphicsCanvas& canvas)
{
    m_pointShadowCount = 0;
    bool directionalTaken = false;
    for (LightElement& element : m_lightElements) {
        element.shadowSurface = s_whiteSurface;
        const GraphicsLight& light = *element.light;
        if (!light.GetCastsShadows() || !m_shadowsOn)
            continue;
        const bool directional = light.GetType() == GraphicsLight::TYPE_DIRECTIONAL;
        const bool point = light.GetType() == GraphicsLight::TYPE_POINT;
        RenderSurface* surface = nullptr;
        if (directional && !directionalTaken) {
            surface = s_directionalShadowSurface;
            directionalTaken = true;
        } else if (point && m_pointShadowCount < numPointShadowSurfaces) {
            surface = s_pointShadowSurfaces[m_pointShadowCount++];
        }
        if (!surface)
            continue;
        element.shadowSurface = surface;
        GraphicsShadowMap map(light, m_viewerRegion);
        const Name& style = directional ? DirectionalDiffuseStyle() : PointDiffuseStyle();
        const float radiusSquared = element.sphere.radius * element.sphere.radius;
        std::vector<RenderablePass> passes;
        for (const QueuedRenderable& entry : m_renderables) {
            if (!entry.renderable->GetCastsShadows())
                continue;
            if (point && BoxPointDistanceSquared(entry.bounds, element.sphere.center) > radiusSquared)
                continue;
            passes.clear();
            RenderablePass pass;
            const int count = entry.renderable->GetNumRenderPasses(style, m_generationId);
            for (int i = 0; i < count; ++i)
                if (FillPass(pass, entry, i, style, lowestSortOrder, highestSortOrder, nullptr))
                    map.AddSurface(pass);
        }
        if (directional && map.GetSurfaces().empty()) {
            // Nothing casts: the map would only be cleared to white, which the white surface
            // already is (and a clear of the whole map costs a fill every frame).
            element.shadowSurface = s_whiteSurface;
        } else if (directional)
            map.RenderDirectional(canvas, m_camera, m_frustum, GraphicsShadowMap::LightSpacePerspective,
                                  surface, element.worldToShadow);
        else
            map.RenderPoint(canvas, Vec3(0.0f, -1.0f, 0.0f), surface, element.worldToShadow);
    }
}

// ---- Drawing ----------------------------------------------------------------------------------

void GraphicsNormalRenderer::ResolveStyle(std::vector<RenderablePass>& list, const Name& style,
                                          RenderGenerationId generation)
{
    size_t kept = 0;
    for (RenderablePass& pass : list) {
        const int index =
            pass.shader->FindStyleByName(pass.renderable->GetShaderStyle(pass.passIndex, style, generation));
        // A shader without the style draws nothing of this pass in it.
        if (index < 0)
            continue;
        pass.styleIndex = index;
        list[kept++] = pass;
    }
    list.resize(kept);
}

void GraphicsNormalRenderer::RenderLightStyle(GraphicsCanvas& canvas, const GraphicsLight& light,
                                              const Name& style, unsigned int clearFlags)
{
    LightElement element;
    element.light = &light;
    element.rect = ViewportRect();
    element.sphere = Sphere(Vec3(), 0.0f);
    m_currentLight = &element;
    if (clearFlags != 0) {
        canvas.SetClearColor(m_backgroundColor);
        canvas.Clear(clearFlags);
    }
    if (m_renderingOn) {
        canvas.EnableWireframe(m_wireframe);
        RenderStyle(canvas, style);
        canvas.SetDefaultState();
        canvas.EnableWireframe(false);
    }
    m_currentLight = nullptr;
}

void GraphicsNormalRenderer::RenderLightLoop(GraphicsCanvas& canvas, int low, int high, bool withAmbient,
                                             const std::vector<RenderablePass>* run)
{
    // The passes of a style: gathered from the scene, or the given run re-resolved for it (kept
    // in its order: runs are drawn far to near).
    auto draw = [&](const Name& style, const Sphere* sphere) {
        std::vector<RenderablePass> list;
        if (!run) {
            GatherPasses(list, style, low, high, sphere);
            RenderPasses(canvas, list, style);
            return;
        }
        const float radiusSquared = sphere ? sphere->radius * sphere->radius : 0.0f;
        for (const RenderablePass& pass : *run)
            if (!sphere || BoxPointDistanceSquared(pass.bounds, sphere->center) <= radiusSquared)
                list.push_back(pass);
        ResolveStyle(list, style, m_generationId);
        RenderPasses(canvas, list, style, false);
    };
    if (m_lightElements.empty()) {
        if (withAmbient)
            draw(AmbientLightStyle(), nullptr);
        return;
    }
    for (size_t i = 0; i < m_lightElements.size(); ++i) {
        const LightElement& element = m_lightElements[i];
        const int type = element.light->GetType();
        if (type != GraphicsLight::TYPE_DIRECTIONAL && type != GraphicsLight::TYPE_POINT)
            continue;
        const bool ambient = withAmbient && i == 0;
        const Name& style = type == GraphicsLight::TYPE_DIRECTIONAL
                                ? (ambient ? DirectionalDiffuseAmbientStyle() : DirectionalDiffuseStyle())
                                : (ambient ? PointDiffuseAmbientStyle() : PointDiffuseStyle());
        canvas.SetClippingRect(ambient ? ViewportRect() : element.rect);
        m_currentLight = &element;
        draw(style, type == GraphicsLight::TYPE_POINT && !ambient ? &element.sphere : nullptr);
        m_currentLight = nullptr;
        canvas.ClearClippingRect();
    }
}

void GraphicsNormalRenderer::RenderTransparentPasses(GraphicsCanvas& canvas,
                                                     std::vector<RenderablePass>& list)
{
    if (!m_transparentPassesOn || list.empty())
        return;
    m_alphaMaskTexture = s_transparencyMaskSurface ? s_transparencyMaskSurface->GetTexture() : nullptr;
    const Vec3 eye = m_camera.GetCoords().origin;
    std::sort(list.begin(), list.end(), [&eye](const RenderablePass& a, const RenderablePass& b) {
        return (a.bounds.center - eye).LengthSquared() > (b.bounds.center - eye).LengthSquared();
    });
    auto forEachRun = [&](auto&& body) {
        size_t start = 0;
        while (start < list.size()) {
            size_t end = start + 1;
            while (end < list.size() && list[end].opacity == list[start].opacity)
                ++end;
            const std::vector<RenderablePass> run(list.begin() + static_cast<std::ptrdiff_t>(start),
                                                  list.begin() + static_cast<std::ptrdiff_t>(end));
            body(run);
            start = end;
        }
    };
    m_alphaMaskFactor = 1.0f;
    forEachRun([&](const std::vector<RenderablePass>& run) {
        std::vector<RenderablePass> depth = run;
        ResolveStyle(depth, DepthStyle(), m_generationId);
        RenderPasses(canvas, depth, DepthStyle(), false);
        RenderLightLoop(canvas, transparentSortOrder, transparentSortOrder, true, &run);
    });
    m_alphaMaskFactor = 0.0f;
    forEachRun([&](const std::vector<RenderablePass>& run) {
        RenderLightLoop(canvas, transparentSortOrder, transparentSortOrder, true, &run);
    });
    m_alphaMaskTexture = nullptr;
}

void GraphicsNormalRenderer::RenderMainPass(GraphicsCanvas& canvas, RenderSurface* target)
{
    Viewport viewport = m_viewport;
    const RenderTexture* texture = target ? target->GetTexture() : nullptr;
    const int maxWidth = texture ? texture->GetWidth() : canvas.GetWidth();
    const int maxHeight = texture ? texture->GetHeight() : canvas.GetHeight();
    viewport.width = std::min(viewport.width, maxWidth);
    viewport.height = std::min(viewport.height, maxHeight);
    canvas.SetViewport(viewport);
    canvas.SetDefaultState();
    canvas.EnableWireframe(m_wireframe);

    std::vector<RenderablePass> transparent;
    GatherPasses(transparent, AmbientLightStyle(), transparentSortOrder, transparentSortOrder, nullptr);
    if (!transparent.empty() && s_transparencyMaskSurface) {
        Profile block("Scene: transparency mask");
        RenderSurface* previous = canvas.GetTargetSurface();
        canvas.SetTargetSurface(s_transparencyMaskSurface);
        canvas.SetClearColor(Color(1.0f, 0.0f, 0.0f, 1.0f));
        canvas.Clear(defaultClearFlags);
        RenderStyle(canvas, TransparencyMaskStyle());
        canvas.SetTargetSurface(previous);
        canvas.SetViewport(viewport);
    }

    {
        Profile block("Scene: lit passes");
        RenderLightLoop(canvas, -1, 999, true, nullptr);
        if (!m_lightElements.empty() &&
            m_lightElements.front().light->GetType() == GraphicsLight::TYPE_POINT) {
            RenderStyle(canvas, AmbientLightStyle(), 1000, 9999, nullptr);
            RenderLightLoop(canvas, 1000, 9999, false, nullptr);
        } else {
            RenderLightLoop(canvas, 1000, 9999, true, nullptr);
        }
    }

    {
        Profile block("Scene: emissive passes (water, effects)");
        m_currentLight = m_lightElements.empty() ? nullptr : &m_lightElements.front();
        canvas.EnableWireframe(m_wireframe);
        RenderStyle(canvas, EmissiveStyle());
        m_currentLight = nullptr;
    }

    if (!transparent.empty()) {
        Profile block("Scene: transparent passes");
        RenderTransparentPasses(canvas, transparent);
    }

    if (m_fogOn && (m_depthFog[2] > 0.0f || m_heightFog[2] > 0.0f)) {
        Profile block("Scene: fog step");
        canvas.SetDefaultState();
        // What lies wholly in the clear air would draw no fog at all.
        std::vector<RenderablePass> fog;
        GatherPasses(fog, FogStyle(), lowestSortOrder, highestSortOrder, nullptr);
        const ClearAir air = GetClearAir();
        fog.erase(std::remove_if(fog.begin(), fog.end(),
                                 [&air](const RenderablePass& pass) { return air.Contains(pass.bounds); }),
                  fog.end());
        RenderPasses(canvas, fog, FogStyle());
    }
}

RenderTexture* GraphicsNormalRenderer::RenderPostProcess(GraphicsCanvas& canvas)
{
    const Rect rect(0.0f, 0.0f, static_cast<float>(m_viewport.width), static_cast<float>(m_viewport.height));
    canvas.SetDefaultState();
    if (m_clippingOn)
        canvas.ClearClippingPlane(0);
    // The whole alpha to 0.
    canvas.SetColorWriteMode(RENDER_WRITE_DISABLED);
    canvas.SetAlphaWriteMode(RENDER_WRITE_ENABLED);
    canvas.SetDepthWriteMode(RENDER_WRITE_DISABLED);
    canvas.RenderRect(rect, RENDER_BLEND_ONE, RENDER_BLEND_ZERO, Color(0.0f, 0.0f, 0.0f, 0.0f));
    canvas.SetDepth(1.0f);
    canvas.SetColorWriteMode(RENDER_WRITE_DISABLED);
    canvas.SetAlphaWriteMode(RENDER_WRITE_ENABLED);
    canvas.SetDepthWriteMode(RENDER_WRITE_DISABLED);
    // The mask only where the region drew something: where its depth is still the clear's (the
    // background, or what the clipping plane cut away) the alpha stays 0, so the sky it cleared
    // to, or a cave's black, never shows over the region composited with it.
    canvas.SetDepthTestFunction(RENDER_TEST_GREATER);
    if (s_inverseTransparencyMask)
        RenderTextureRect(canvas, rect, s_inverseTransparencyMask->GetTexture(), RENDER_BLEND_ONE,
                          RENDER_BLEND_ZERO, Color(1.0f, 1.0f, 1.0f, 1.0f));
    canvas.SetDepth(0.0f);
    if (m_clippingOn)
        canvas.SetClippingPlane(0, m_clipSpaceClippingPlane);
    RenderStyle(canvas, MaskStyle());
    canvas.ClearClippingPlane(0);
    RenderSurface* blurred =
        canvas.BlurFrameBuffer(m_viewport.width / 8, m_viewport.height / 8, ViewportRect());
    // Without a blurred copy the regions behind the portals still need this frame's alpha: they
    // take it unblurred, with harder edges.
    if (!blurred)
        blurred = CopyFrameBuffer(canvas, ViewportRect());
    return blurred ? blurred->GetTexture() : nullptr;
}

void GraphicsNormalRenderer::Composite(GraphicsCanvas& canvas, RenderSurface* target, RenderTexture* previous,
                                       float blend)
{
    const Rect rect = ViewportRect();
    canvas.SetTargetSurface(s_sceneTarget);
    canvas.SetViewport(m_viewport);
    canvas.SetColorWriteMode(RENDER_WRITE_DISABLED);
    canvas.SetAlphaWriteMode(RENDER_WRITE_ENABLED);
    canvas.SetDepthWriteMode(RENDER_WRITE_DISABLED);
    canvas.SetDepthTestFunction(RENDER_TEST_ALWAYS);
    // Weighed by 0 the previous texture leaves alpha 0, as no texture does (without reading it).
    if (!previous || blend == 0.0f) {
        canvas.RenderRect(rect, RENDER_BLEND_ONE, RENDER_BLEND_ZERO, Color(1.0f, 1.0f, 1.0f, 0.0f));
    } else if (blend <= 1.0f) {
        RenderTextureRect(canvas, rect, previous, RENDER_BLEND_ONE, RENDER_BLEND_ZERO,
                          Color(1.0f, 1.0f, 1.0f, blend));
    } else {
        canvas.RenderRect(rect, RENDER_BLEND_ONE, RENDER_BLEND_ZERO, Color(1.0f, 1.0f, 1.0f, blend - 1.0f));
        RenderTextureRect(canvas, rect, previous, RENDER_BLEND_ONE, RENDER_BLEND_ONE,
                          Color(1.0f, 1.0f, 1.0f, 1.0f));
    }
    if (m_portalRegions) {
        GraphicsPrimitiveDrawer drawer(canvas);
        drawer.SetShader(GetPortalMaskShader());
        drawer.SetCamera(m_viewerRegion, m_camera, m_viewport);
        drawer.SetColor(Color(1.0f, 0.0f, 1.0f, 1.0f));
        SceneWorldServices& world = SceneWorldServices::Current();
        for (Region* region : *m_portalRegions) {
            const Coords* regionToScene = region ? FindRegionToSceneCoords(region) : nullptr;
            if (!regionToScene)
                continue;
            for (int i = 0; i < world.GetNumPortals(region); ++i)
                if (const Portal* portal = world.GetPortal(region, i))
                    world.RenderPortal(portal, drawer, *regionToScene);
        }
        drawer.Flush();
    }
    canvas.SetTargetSurface(target);
    canvas.SetViewport(m_viewport);
    canvas.SetColorWriteMode(RENDER_WRITE_ENABLED);
    canvas.SetAlphaWriteMode(RENDER_WRITE_DISABLED);
    canvas.SetDepthTestFunction(RENDER_TEST_ALWAYS);
    if (s_sceneTarget)
        RenderTextureRect(canvas, rect, s_sceneTarget->GetTexture(), RENDER_BLEND_INV_SRC_ALPHA,
                          RENDER_BLEND_SRC_ALPHA, Color(1.0f, 1.0f, 1.0f, 1.0f));
}

RenderTexture* GraphicsNormalRenderer::Render(GraphicsCanvas& canvas, float blend, RenderTexture* previous,
                                              bool postProcess, bool toSharedTarget, RenderSurface* target,
                                              bool)
{
    if (!m_renderingOn)
        return nullptr;
    const Viewport remembered = canvas.GetViewport();
    s_rendering = true;
    if (m_lightingOn) {
        Profile block("Scene: lights and shadow maps");
        GatherLights(canvas);
    }
    if (m_clippingOn) {
        m_clipSpaceClippingPlane = ToClipSpace(m_worldToScreen, m_clippingPlane);
        canvas.SetClippingPlane(0, m_clipSpaceClippingPlane);
    }
    RenderSurface* drawTarget = toSharedTarget && s_sceneTarget ? s_sceneTarget : target;
    canvas.SetTargetSurface(drawTarget);
    canvas.SetViewport(m_viewport);
    canvas.SetClearColor(Color(m_backgroundColor.r, m_backgroundColor.g, m_backgroundColor.b, 1.0f));
    const RenderTexture* background =
        m_backgroundTexture ? const_cast<GraphicsTexture*>(m_backgroundTexture)->GetTexture() : nullptr;
    if (background) {
        canvas.Clear(m_clearFlags & ~RENDER_CLEAR_COLOR);
        canvas.SetDepthWriteMode(RENDER_WRITE_DISABLED);
        RenderTextureRect(canvas, ViewportRect(), background, RENDER_BLEND_ONE, RENDER_BLEND_ZERO,
                          Color(1.0f, 1.0f, 1.0f, 1.0f));
    } else {
        canvas.Clear(m_clearFlags);
    }
    RenderMainPass(canvas, drawTarget);
    RenderTexture* result = nullptr;
    if (postProcess) {
        Profile block("Scene: post-process");
        result = RenderPostProcess(canvas);
    } else if (m_clippingOn)
        canvas.ClearClippingPlane(0);
    canvas.SetDefaultState();
    canvas.SetViewport(m_viewport);
    canvas.EnableWireframe(false);
    if (toSharedTarget && s_sceneTarget) {
        Profile block("Scene: composite");
        Composite(canvas, target, previous, blend);
    }
    const GraphicsEngine* graphics = GraphicsServices::Graphics();
    if (graphics && graphics->IsShadowDebuggingEnabled()) {
        auto show = [&canvas](RenderSurface* surface, float x) {
            if (surface && surface->GetTexture())
                RenderTextureRect(canvas, Rect(x, 64.0f, 256.0f, 256.0f), surface->GetTexture(),
                                  RENDER_BLEND_ONE, RENDER_BLEND_ZERO, Color(1.0f, 1.0f, 1.0f, 1.0f));
        };
        show(s_directionalShadowSurface, 10.0f);
        if (m_pointShadowCount >= 1)
            show(s_pointShadowSurfaces[0], 276.0f);
        if (m_pointShadowCount > 4)
            show(s_pointShadowSurfaces[4], 542.0f);
    }
    s_rendering = false;
    canvas.SetViewport(remembered);
    m_lightElements.clear();
    return result;
}

RenderTexture* GraphicsNormalRenderer::Render(GraphicsCanvas& canvas, bool postProcess, bool underground)
{
    return Render(canvas, 0.0f, nullptr, postProcess, false, canvas.GetTargetSurface(), underground);
}

RenderTexture* GraphicsNormalRenderer::RenderBlended(GraphicsCanvas& canvas, float blend,
                                                     RenderTexture* previous, bool postProcess,
                                                     bool underground)
{
    return Render(canvas, blend, previous, postProcess, true, canvas.GetTargetSurface(), underground);
}

} // namespace GAME
