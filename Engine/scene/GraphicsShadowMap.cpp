#include "scene/GraphicsShadowMap.h"

#include "core/Intersect.h"
#include "core/Log.h"
#include "core/Mat3.h"
#include "core/MathUtil.h"
#include "core/Time.h"
#include "core/Vec2.h"
#include "data/EngineDataServices.h"
#include "graphics/Camera.h"
#include "graphics/DebugRenderManager.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsPrimitiveDrawer.h"
#include "graphics/GraphicsServices.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/GraphicsTexture.h"
#include "graphics/InputDevice.h"
#include "graphics/RenderSurface.h"
#include "graphics/RenderTexture.h"
#include "scene/SceneServices.h"
#include "scene/SceneWorldServices.h"
#include "scene/ShadowFocus.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace GAME {

namespace {

const Name& ShadowStyle()
{
    static const Name name = Name::Create("shadow");
    return name;
}

const Name& PointShadowStyle()
{
    static const Name name = Name::Create("pLightShadowStyle");
    return name;
}

// A map is cleared whole, colour and depth: a depth left from another frame would hide casters.
constexpr unsigned int kClearFlags = RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH;

// The Caps Lock key's scan code in the input device's numbering.
constexpr uint32_t kCapsLockKey = 58;

// Caps Lock toggled on or held down, through the engine's input device; false without one.
bool IsCapsLockActive()
{
    const InputDevice* input = SceneServices::Input();
    if (!input)
        return false;
    if (input->IsKeyDown(kCapsLockKey))
        return true;
    const int events = input->GetNumButtonEvents();
    return events > 0 && input->GetButtonEvent(events - 1).capsLock;
}

void AddStatistic(const char* format, ...) __attribute__((format(printf, 1, 2)));
void AddStatistic(const char* format, ...)
{
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (EngineDataServices* services = EngineDataServices::Get())
        services->AddStatisticText(line);
}

Mat4 Rows(float a00, float a01, float a02, float a03, float a10, float a11, float a12, float a13, float a20,
          float a21, float a22, float a23, float a30, float a31, float a32, float a33)
{
    Mat4 m;
    const float v[16] = {a00, a01, a02, a03, a10, a11, a12, a13, a20, a21, a22, a23, a30, a31, a32, a33};
    for (int i = 0; i < 16; ++i)
        m.m[i] = v[i];
    return m;
}

// LookInDirection with a fallback up vector when up runs along the direction.
Coords LookAlong(const Vec3& position, const Vec3& direction, const Vec3& up)
{
    const Vec3 side = Vec3::Cross(up, direction);
    if (side.LengthSquared() > 1e-12f)
        return Coords::LookInDirection(position, direction, up);
    return Coords::LookInDirection(position, direction, direction.GetPerpendicular());
}

void BoundPoints(const Coords& toSpace, const Vec3* points, int count, Vec3& min, Vec3& max)
{
    min = Vec3(gInfinity, gInfinity, gInfinity);
    max = Vec3(-gInfinity, -gInfinity, -gInfinity);
    for (int i = 0; i < count; ++i) {
        const Vec3 p = toSpace.TransformPoint(points[i]);
        min = Vec3::Min(min, p);
        max = Vec3::Max(max, p);
    }
}

bool AllFinite(const Mat4& m)
{
    for (float v : m.m)
        if (!IsFinite(v))
            return false;
    return true;
}

// The projected size of a box along the unit vector.
float ProjectedExtent(const Vec3& axis, const Vec3& extents)
{
    return std::fabs(axis.x) * extents.x + std::fabs(axis.y) * extents.y + std::fabs(axis.z) * extents.z;
}

} // namespace

// ---- Shadow-map renderer -------------------------------------------------------------------------

GraphicsTexture* GraphicsShadowMapRenderer::s_depthLookupTexture = nullptr;

GraphicsShadowMapRenderer::GraphicsShadowMapRenderer(const GraphicsLight& light, Region* region)
    : m_light(light)
{
    m_viewerRegion = region;
}

void GraphicsShadowMapRenderer::CreateResources(GraphicsEngine& graphics)
{
    if (!s_depthLookupTexture)
        s_depthLookupTexture = graphics.LoadTexture(depthLookupTextureName);
}

void GraphicsShadowMapRenderer::DestroyResources(GraphicsEngine& graphics)
{
    if (s_depthLookupTexture)
        graphics.UnloadTexture(s_depthLookupTexture);
    s_depthLookupTexture = nullptr;
}

void GraphicsShadowMapRenderer::SetWorldToScreenMatrix(const Mat4& matrix, const Viewport& viewport)
{
    m_worldToScreen = matrix;
    m_viewport = viewport;
}

bool GraphicsShadowMapRenderer::SetSceneShaderParameters(GraphicsCanvas&, GraphicsShader2& shader)
{
    static const Name lightPosition = Name::Create("lightPosition");
    static const Name lightMaxDistance = Name::Create("lightMaxDistance");
    static const Name lightDirection = Name::Create("lightDirection");
    static const Name depthLookupTexture = Name::Create("depthLookupTexture");
    static const Name time = Name::Create("time");
    const WorldCoords& placement = m_light.GetObjectToWorldCoords();
    if (m_light.GetType() == GraphicsLight::TYPE_POINT && placement.GetRegion() && m_viewerRegion) {
        shader.SetFloat3(lightPosition, 0,
                         SceneWorldServices::RelativePosition(m_viewerRegion, placement.GetOrigin()));
        shader.SetFloat(lightMaxDistance, 0, m_light.GetRadius());
    } else if (m_light.GetType() == GraphicsLight::TYPE_DIRECTIONAL) {
        shader.SetFloat3(lightDirection, 0, placement.GetZAxis());
    }
    if (m_generationId == 6 && s_depthLookupTexture)
        shader.SetTexture(depthLookupTexture, 0, s_depthLookupTexture->GetTexture());
    return shader.SetFloat(time, 0, static_cast<float>(GetGameTime()) * 0.001f);
}

void GraphicsShadowMapRenderer::Render(GraphicsCanvas& canvas, RenderSurface* surface, const Name& style)
{
    canvas.SetTargetSurface(surface);
    canvas.SetViewport(m_viewport);
    canvas.SetClearColor(Color(1.0f, 1.0f, 1.0f, 1.0f));
    canvas.Clear(kClearFlags);
    RenderStyle(canvas, style);
    if (m_light.GetType() == GraphicsLight::TYPE_DIRECTIONAL) {
        static const Name shadowStyle = Name::Create("shadow");
        GraphicsPrimitiveDrawer drawer(canvas);
        drawer.SetShader(GetPortalMaskShader(), shadowStyle);
        drawer.SetCamera(m_viewerRegion, m_camera, m_viewport);
        drawer.SetWorldToScreenMatrix(m_worldToScreen);
        drawer.SetColor(Color(1.0f, 0.0f, 1.0f, 1.0f));
        SceneWorldServices& world = SceneWorldServices::Current();
        for (const auto& [region, regionToScene] : m_regionToScene) {
            if (!region)
                continue;
            for (int i = 0; i < world.GetNumPortals(region); ++i)
                if (const Portal* portal = world.GetPortal(region, i))
                    world.RenderPortal(portal, drawer, regionToScene);
        }
        drawer.Flush();
    }
    canvas.SetDefaultState();
    canvas.SetViewport(m_viewport);
}

// ---- Shadow map --------------------------------------------------------------------------------

GraphicsShadowMap::GraphicsShadowMap(const GraphicsLight& light, Region* region)
    : m_light(light), m_region(region), m_lightMin(gInfinity, gInfinity, gInfinity),
      m_lightMax(-gInfinity, -gInfinity, -gInfinity), m_sceneMin(gInfinity, gInfinity, gInfinity),
      m_sceneMax(-gInfinity, -gInfinity, -gInfinity)
{
    const WorldCoords& placement = light.GetObjectToWorldCoords();
    if (light.GetType() == GraphicsLight::TYPE_DIRECTIONAL)
        m_lightFrame = LookAlong(Vec3(), -placement.GetZAxis(), Vec3(0.0f, 1.0f, 0.0f));
    else if (placement.GetRegion() && region)
        m_lightFrame =
            Coords::Translation(SceneWorldServices::RelativePosition(region, placement.GetOrigin()));
    m_worldToLight = m_lightFrame.Inverse();
}

bool GraphicsShadowMap::AddSurface(const RenderablePass& pass)
{
    const Vec3& c = pass.bounds.center;
    const Vec3& h = pass.bounds.extents;
    if (!IsFiniteVec3(c) || !IsFiniteVec3(h))
        return false;
    const Vec3 lc = m_worldToLight.TransformPoint(c);
    const Coords& f = m_lightFrame;
    const Vec3 lh(ProjectedExtent(f.xAxis, h), ProjectedExtent(f.yAxis, h), ProjectedExtent(f.zAxis, h));
    m_lightMin = Vec3::Min(m_lightMin, lc - lh);
    m_lightMax = Vec3::Max(m_lightMax, lc + lh);
    m_sceneMin = Vec3::Min(m_sceneMin, c - h);
    m_sceneMax = Vec3::Max(m_sceneMax, c + h);
    m_surfaces.push_back(pass);
    return true;
}

Mat4 GraphicsShadowMap::GetBiasMatrix()
{
    return Rows(0.5f, 0, 0, 0.5f, 0, -0.5f, 0, 0.5f, 0, 0, 1, 0, 0, 0, 0, 1);
}

Frustum GraphicsShadowMap::ComputeSweptVolume(const Frustum& viewFrustum) const
{
    Frustum volume = viewFrustum;
    volume.AddPlane(Plane(Vec3(1, 0, 0), -m_sceneMin.x));
    volume.AddPlane(Plane(Vec3(-1, 0, 0), m_sceneMax.x));
    volume.AddPlane(Plane(Vec3(0, 1, 0), -m_sceneMin.y));
    volume.AddPlane(Plane(Vec3(0, -1, 0), m_sceneMax.y));
    volume.AddPlane(Plane(Vec3(0, 0, 1), -m_sceneMin.z));
    volume.AddPlane(Plane(Vec3(0, 0, -1), m_sceneMax.z));
    return ComputeCasterVolume(volume, m_lightFrame.zAxis);
}

void GraphicsShadowMap::CloseAtNearestCaster(Frustum& volume, const std::vector<Entity*>& entities) const
{
    const Vec3 d = m_lightFrame.zAxis;
    float s = gInfinity;
    SceneWorldServices& world = SceneWorldServices::Current();
    for (Entity* entity : entities) {
        Region* region = entity ? world.GetEntityRegion(entity) : nullptr;
        if (!region || !world.CastsShadows(entity))
            continue;
        const ABBox box = world.GetEntityRegionBoundingBox(entity);
        const Vec3 centre =
            m_region ? SceneWorldServices::RelativePosition(m_region, WorldVec3(region, box.center))
                     : box.center;
        s = std::min(s, Vec3::Dot(d, centre) - ProjectedExtent(d, box.extents));
    }
    if (!(s < gInfinity)) {
        const Vec3 centre = (m_sceneMin + m_sceneMax) * 0.5f;
        const Vec3 extents = (m_sceneMax - m_sceneMin) * 0.5f;
        s = Vec3::Dot(d, centre) - ProjectedExtent(d, extents);
    }
    if (s < gInfinity)
        volume.AddPlane(Plane(d, -s));
}

Frustum GraphicsShadowMap::ComputeFocusVolume(const Frustum& viewFrustum) const
{
    Frustum volume = ComputeSweptVolume(viewFrustum);
    CloseAtNearestCaster(volume, {});
    return volume;
}

bool GraphicsShadowMap::FitUniform(const Camera& camera, const Vec3& d, const Vec3* points, int count,
                                   Mat4& M)
{
    if (count < 1)
        return false;
    Coords light = LookAlong(camera.GetCoords().origin, d, d.GetPerpendicular());
    Vec3 min, max;
    BoundPoints(light.Inverse(), points, count, min, max);
    const float dx = max.x - min.x, dy = max.y - min.y, dz = max.z - min.z;
    if (!(dx > 0.0f) || !(dy > 0.0f))
        return false;
    light.origin = light.TransformPoint(Vec3((min.x + max.x) * 0.5f, (min.y + max.y) * 0.5f, min.z));
    const Mat4 V(light.Inverse());
    // A body without depth along the light lies at depth 0.
    const float depthScale = dz > 0.0f ? 1.0f / dz : 0.0f;
    const Mat4 O = Rows(-2.0f / dx, 0, 0, 0, 0, 2.0f / dy, 0, 0, 0, 0, depthScale, 0, 0, 0, 0, 1);
    const Mat4 result = O * V;
    if (!AllFinite(result))
        return false;
    M = result;
    return true;
}

bool GraphicsShadowMap::FitLightSpacePerspective(const Camera& camera, const Vec3& d, const Vec3* points,
                                                 int count, Mat4& M)
{
    if (count < 1)
        return false;
    const Vec3 v = camera.GetCoords().zAxis;
    const Vec3 e = camera.GetCoords().origin;
    const Vec3 l = -d;
    const float cosGamma = Vec3::Dot(v, d);
    const float sinGamma = std::sqrt(std::max(0.0f, 1.0f - cosGamma * cosGamma));
    const Vec3 left = Vec3::Cross(v, l);
    const Vec3 up = Vec3::Cross(l, left);
    // The perspective has no direction to work along when the light runs with the view.
    if (sinGamma < 1e-3f || up.LengthSquared() < 1e-12f)
        return FitUniform(camera, d, points, count, M);
    const Vec3 u = up.Unit();
    const Coords l1 = Coords::LookInDirection(e, u, l);
    Vec3 min, max;
    BoundPoints(l1.Inverse(), points, count, min, max);
    const float delta = std::fabs(max.z - min.z);
    const float z = 1.0f / sinGamma;
    const float n = (std::sqrt((delta * sinGamma + z) * z) + z) / sinGamma;
    const float f = n + delta;
    Vec3 centre = e + u * ((n - 1.0f) * -10.0f);
    // Every body point must lie in front of the projection centre, at least n away; otherwise the
    // divide by w would fold points behind it into the map.
    const float nearest = min.z + 10.0f * (n - 1.0f);
    if (!(nearest >= n))
        centre = e + u * (min.z - n);
    const Coords l2 = Coords::LookInDirection(centre, u, l);
    const Mat4 V(l2.Inverse());
    const Mat4 P =
        Rows(-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, (f + n) / (f - n), -2.0f * f * n / (f - n), 0, 0, 1, 0);
    const Mat4 PV = P * V;
    Vec3 pmin(gInfinity, gInfinity, gInfinity), pmax(-gInfinity, -gInfinity, -gInfinity);
    for (int i = 0; i < count; ++i) {
        const Vec3 p = PV.TransformPoint(points[i]);
        pmin = Vec3::Min(pmin, p);
        pmax = Vec3::Max(pmax, p);
    }
    const float dx = pmax.x - pmin.x, dy = pmax.y - pmin.y, dz = pmax.z - pmin.z;
    if (!(dx > 0.0f) || !(dz > 0.0f))
        return FitUniform(camera, d, points, count, M);
    const float depthScale = dy > 0.0f ? 1.0f / dy : 0.0f;
    const Mat4 F = Rows(2.0f / dx, 0, 0, -(pmin.x + pmax.x) / dx, 0, 0, 2.0f / dz, -(pmin.z + pmax.z) / dz, 0,
                        -depthScale, 0, dy > 0.0f ? pmax.y / dy : 0.0f, 0, 0, 0, 1);
    const Mat4 result = F * PV;
    if (!AllFinite(result))
        return FitUniform(camera, d, points, count, M);
    M = result;
    return true;
}

bool GraphicsShadowMap::FitTrapezoidal(const Camera& givenCamera, const Vec3& d, const Vec3* points,
                                       int count, Mat4& M)
{
    // The focus freezes while Caps Lock is on, for inspection.
    static bool haveKept = false;
    static Camera kept;
    if (!haveKept || !IsCapsLockActive()) {
        kept = givenCamera;
        haveKept = true;
    }
    const Camera& camera = kept;
    if (count < 4)
        return FitUniform(camera, d, points, count, M);
    const Coords light = LookAlong(Vec3(), d, d.GetPerpendicular());
    const Coords toLight = light.Inverse();
    const Vec3 e3 = toLight.TransformPoint(camera.GetCoords().origin);
    const Vec3 f3 =
        toLight.TransformPoint(camera.GetCoords().origin + camera.GetCoords().zAxis * trapezoidFocusDistance);
    const Vec2 e(e3.x, e3.y);
    Vec2 axis(f3.x - e3.x, f3.y - e3.y);
    const float axisLength = std::sqrt(axis.x * axis.x + axis.y * axis.y);
    if (!(axisLength > 1e-4f))
        return FitUniform(camera, d, points, count, M);
    axis = Vec2(axis.x / axisLength, axis.y / axisLength);
    const Vec2 side(-axis.y, axis.x);
    float top = gInfinity, base = -gInfinity, zMin = gInfinity, zMax = -gInfinity;
    std::vector<Vec2> local(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const Vec3 p = toLight.TransformPoint(points[i]);
        local[static_cast<size_t>(i)] = Vec2(p.x, p.y);
        const float t = (p.x - e.x) * axis.x + (p.y - e.y) * axis.y;
        top = std::min(top, t);
        base = std::max(base, t);
        zMin = std::min(zMin, p.z);
        zMax = std::max(zMax, p.z);
    }
    const float lambda = base - top;
    const float delta = trapezoidFocusDistance - top;
    float eta = (lambda * delta * 0.4f) / (1.6f * lambda - 2.0f * delta);
    AddStatistic("eta = %f", static_cast<double>(eta));
    if (!(lambda > 0.0f))
        return FitUniform(camera, d, points, count, M);
    // The reference point must lie behind the top line for the sides to enclose the body.
    if (!IsFinite(eta) || !(eta > 0.0f))
        eta = lambda;
    const Vec2 q(e.x + axis.x * (top - eta), e.y + axis.y * (top - eta));
    float rMin = gInfinity, rMax = -gInfinity;
    for (const Vec2& p : local) {
        const float t = (p.x - q.x) * axis.x + (p.y - q.y) * axis.y;
        const float s = (p.x - q.x) * side.x + (p.y - q.y) * side.y;
        if (!(t > 0.0f))
            continue;
        rMin = std::min(rMin, s / t);
        rMax = std::max(rMax, s / t);
    }
    if (!(rMax > rMin))
        return FitUniform(camera, d, points, count, M);
    auto corner = [&](float t, float r) {
        return Vec2(q.x + axis.x * t + side.x * r * t, q.y + axis.y * t + side.y * r * t);
    };
    const Vec2 quad[4] = {corner(eta, rMin), corner(eta + lambda, rMin), corner(eta + lambda, rMax),
                          corner(eta, rMax)};
    const Mat3 T = QuadToRectTransform(-1.0f, -1.0f, 1.0f, 1.0f, quad);
    const float dz = zMax - zMin;
    const float depthScale = dz > 0.0f ? 1.0f / dz : 0.0f;
    // x, y and w through the projective map, depth linear in light space (scaled by w so that it
    // survives the divide).
    Mat4 N = Rows(T.Get(0, 0), T.Get(0, 1), 0, T.Get(0, 2), T.Get(1, 0), T.Get(1, 1), 0, T.Get(1, 2), 0, 0,
                  depthScale, -zMin * depthScale, T.Get(2, 0), T.Get(2, 1), 0, T.Get(2, 2));
    const Mat4 result = N * Mat4(toLight);
    if (!AllFinite(result))
        return FitUniform(camera, d, points, count, M);
    M = result;
    return true;
}

void GraphicsShadowMap::ClearToWhite(GraphicsCanvas& canvas, RenderSurface* surface) const
{
    RenderSurface* previous = canvas.GetTargetSurface();
    canvas.ClearRenderSurface(surface, Color(1.0f, 1.0f, 1.0f, 1.0f), kClearFlags);
    canvas.SetTargetSurface(previous);
}

void GraphicsShadowMap::ConfigureRenderer(GraphicsShadowMapRenderer& renderer) const
{
    const GraphicsEngine* graphics = GraphicsServices::Graphics();
    renderer.EnableTerrain(!graphics || graphics->IsTerrainEnabled());
    renderer.EnableGridTiles(!graphics || graphics->IsGridTilesEnabled());
    renderer.EnableMeshes(!graphics || graphics->IsMeshesEnabled());
    renderer.EnableGrass(false);
    renderer.EnableEffects(false);
    renderer.EnableDecals(false);
    renderer.EnableWater(false);
    if (graphics)
        renderer.SetGenerationId(graphics->GetGenerationId());
}

bool GraphicsShadowMap::RenderDirectional(GraphicsCanvas& canvas, const Camera& camera,
                                          const Frustum& viewFrustum, int algorithm, RenderSurface* surface,
                                          Mat4& worldToShadow)
{
    if (!surface)
        return false;
    if (algorithm < Uniform || algorithm > Trapezoidal) {
        ClearToWhite(canvas, surface);
        return false;
    }
    Mat4 M;
    GraphicsShadowMapRenderer renderer(m_light, m_region);
    ConfigureRenderer(renderer);
    if (!m_surfaces.empty()) {
        auto finite = [](const Frustum& frustum) {
            for (const Plane& plane : frustum.planes)
                if (!IsFinite(plane.d) || !IsFiniteVec3(plane.normal))
                    return false;
            return true;
        };
        Frustum volume = ComputeSweptVolume(viewFrustum);
        if (!finite(volume)) {
            ClearToWhite(canvas, surface);
            return false;
        }
        SceneWorldServices& world = SceneWorldServices::Current();
        std::vector<Entity*> entities;
        if (m_region)
            world.GetUpdatedEntitiesInFrustum(m_region, volume, entities);
        CloseAtNearestCaster(volume, entities);
        if (!finite(volume)) {
            ClearToWhite(canvas, surface);
            return false;
        }
        Vec3 body[maxBodyPoints];
        const int count = ComputeVolumeCorners(body, maxBodyPoints, volume);
        const Vec3 d = m_lightFrame.zAxis;
        bool fitted = false;
        if (algorithm == Uniform)
            fitted = FitUniform(camera, d, body, count, M);
        else if (algorithm == LightSpacePerspective)
            fitted = FitLightSpacePerspective(camera, d, body, count, M);
        else
            fitted = FitTrapezoidal(camera, d, body, count, M);
        if (!fitted) {
            ClearToWhite(canvas, surface);
            return false;
        }
        worldToShadow = GetBiasMatrix() * M;
        for (Entity* entity : entities) {
            Region* region = world.GetEntityRegion(entity);
            if (!region || !world.PassesRenderFilter(entity))
                continue;
            renderer.AddRegionToScene(region);
            world.AddEntityToScene(entity, renderer, nullptr);
        }
        const GraphicsEngine* graphics = GraphicsServices::Graphics();
        if (graphics && graphics->IsShadowDebuggingEnabled() && graphics->IsStatsEnabled()) {
            AddStatistic("Directional shadow: %d planes in frustum.",
                         static_cast<int>(volume.GetNumPlanes()));
            for (int row = 0; row < 4; ++row)
                AddStatistic(row == 0 ? " matrix: <%.4f, %.4f, %.4f, %.4f>"
                                      : "         <%.4f, %.4f, %.4f, %.4f>",
                             static_cast<double>(worldToShadow.Get(row, 0)),
                             static_cast<double>(worldToShadow.Get(row, 1)),
                             static_cast<double>(worldToShadow.Get(row, 2)),
                             static_cast<double>(worldToShadow.Get(row, 3)));
        }
    }
    const RenderTexture* texture = surface->GetTexture();
    const Viewport viewport(0, 0, texture ? texture->GetWidth() : surface->GetWidth(),
                            texture ? texture->GetHeight() : surface->GetHeight());
    // Drawn with the depth reversed, as every view is; looked up by the lit passes as made (the
    // device hands the shadow programs their depth that way round).
    renderer.SetWorldToScreenMatrix(Camera::ReversedDepth(M), viewport);
    renderer.Render(canvas, surface, ShadowStyle());
    return true;
}

bool GraphicsShadowMap::RenderPoint(GraphicsCanvas& canvas, const Vec3& direction, RenderSurface* surface,
                                    Mat4& worldToScreen)
{
    if (!surface)
        return false;
    GraphicsShadowMapRenderer renderer(m_light, m_region);
    ConfigureRenderer(renderer);
    const Vec3 p = m_lightFrame.origin;
    const Vec3 back = -direction;
    const Vec3 w = back.Unit().GetPerpendicular();
    const Coords view(Vec3::Cross(back, w), back, w, p);
    const Mat4 M(view.Inverse());
    const RenderTexture* texture = surface->GetTexture();
    const Viewport viewport(0, 0, texture ? texture->GetWidth() : surface->GetWidth(),
                            texture ? texture->GetHeight() : surface->GetHeight());
    renderer.SetWorldToScreenMatrix(M, viewport);
    SceneWorldServices& world = SceneWorldServices::Current();
    std::vector<Entity*> entities;
    if (m_region)
        world.GetUpdatedEntitiesInSphere(m_region, Sphere(p, m_light.GetRadius()), entities);
    if (entities.empty()) {
        // Nothing casts: the map must not keep another frame's depth.
        ClearToWhite(canvas, surface);
    } else {
        for (Entity* entity : entities) {
            Region* region = world.GetEntityRegion(entity);
            if (!region)
                continue;
            renderer.AddRegionToScene(region);
            world.AddEntityToScene(entity, renderer, nullptr);
        }
        renderer.Render(canvas, surface, PointShadowStyle());
    }
    worldToScreen = M;
    return true;
}

void GraphicsShadowMap::DebugStatistics() const
{
    AddStatistic("numSurfaces = %d", static_cast<int>(m_surfaces.size()));
    AddStatistic("xSize       = %f", static_cast<double>(m_lightMax.x - m_lightMin.x));
    AddStatistic("ySize       = %f", static_cast<double>(m_lightMax.y - m_lightMin.y));
}

void GraphicsShadowMap::DrawLabels(const char* text, const Color& color) const
{
    DebugRenderManager* debug = DebugRenderManager::Get();
    if (!debug)
        return;
    for (const RenderablePass& pass : m_surfaces)
        debug->RenderText(text, m_region, pass.bounds.center, color);
}

} // namespace GAME
