#include "scene/GraphicsReflectionManager.h"

#include "core/Frustum.h"
#include "core/Mat4.h"
#include "core/RegionServices.h"
#include "core/Vec4.h"
#include "graphics/Camera.h"
#include "graphics/DebugRenderManager.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsServices.h"
#include "scene/GraphicsLight.h"
#include "scene/GraphicsNormalRenderer.h"
#include "scene/SceneWorldServices.h"

#include <cmath>

namespace GAME {

namespace {

// Region b's offset from region a's, as floats (zero when either is missing).
Vec3 OffsetBetween(const Region* from, const Region* to)
{
    if (!from || !to)
        return Vec3();
    const IntVec3 d = RegionServices::OffsetFromWorld(to) - RegionServices::OffsetFromWorld(from);
    return Vec3(static_cast<float>(d.x), static_cast<float>(d.y), static_cast<float>(d.z));
}

} // namespace

const Name& GraphicsReflectionManager::ReflectionStyle()
{
    static const Name name = Name::Create("reflectionStyle");
    return name;
}

void GraphicsReflectionManager::AddReflectionPlane(GraphicsReflectionPlane& plane)
{
    if (!plane.region)
        return;
    for (ActivePlane& active : m_activePlanes) {
        if (!(Vec3::Dot(active.plane.normal, plane.normal) > mergeDot))
            continue;
        const Vec3 centre = plane.box.center + OffsetBetween(active.region, plane.region);
        if (std::fabs(active.bounds.center.y - centre.y) <= mergeHeight) {
            active.bounds = active.bounds.Union(ABBox(centre, plane.box.extents));
            active.planes.push_back(&plane);
            return;
        }
    }
    ActivePlane active;
    active.plane = Plane(plane.normal, plane.d);
    active.bounds = plane.box;
    active.region = plane.region;
    active.planes.reserve(10);
    active.elementBoxes.reserve(100);
    active.planes.push_back(&plane);
    m_activePlanes.push_back(std::move(active));
}

void GraphicsReflectionManager::UpdatePlaneElementBounds(const GraphicsReflectionPlane* plane, ABBox box)
{
    for (ActivePlane& active : m_activePlanes)
        for (const GraphicsReflectionPlane* member : active.planes)
            if (member == plane) {
                box.center += OffsetBetween(active.region, plane->region);
                active.elementBoxes.push_back(box);
                return;
            }
}

void GraphicsReflectionManager::CollectPlanes(const RenderSet& set)
{
    const Frustum frustum = set.camera->GetFrustum(set.viewport);
    SceneWorldServices& world = SceneWorldServices::Current();
    std::vector<Region*> regions;
    world.GetRegionsInFrustum(set.region, frustum, false, regions);
    for (Region* region : regions) {
        Frustum moved = frustum;
        moved.Translate(-OffsetBetween(set.region, region));
        world.AddReflectionPlanes(region, *this, moved);
    }
}

int GraphicsReflectionManager::RenderReflections(GraphicsCanvas& canvas, const RenderSet& set)
{
    if (!set.camera || !set.region)
        return 0;
    // The mirrored camera's aspect is the viewport's; a viewport without height has none.
    if (set.viewport.height <= 0 || set.viewport.width <= 0)
        return 0;
    CollectPlanes(set);
    for (ActivePlane& active : m_activePlanes)
        RenderActivePlane(canvas, set, active);
    return static_cast<int>(m_activePlanes.size());
}

void GraphicsReflectionManager::RenderActivePlane(GraphicsCanvas& canvas, const RenderSet& set,
                                                  ActivePlane& active)
{
    GraphicsNormalRenderer renderer;
    const Viewport viewport(0, 0, surfaceSize, surfaceSize);
    Camera camera = *set.camera;
    camera.SetCameraAspect(static_cast<float>(set.viewport.width) / static_cast<float>(set.viewport.height));

    const Vec3 offset = OffsetBetween(set.region, active.region);
    Plane plane = active.plane;
    plane.d -= offset.y;
    const Vec3& n = plane.normal;
    Coords coords = camera.GetCoords();
    coords.origin = coords.origin - n * (2.0f * (Vec3::Dot(n, coords.origin) + plane.d));
    coords.xAxis = coords.xAxis - n * (2.0f * Vec3::Dot(n, coords.xAxis));
    coords.yAxis = -(coords.yAxis - n * (2.0f * Vec3::Dot(n, coords.yAxis)));
    coords.zAxis = coords.zAxis - n * (2.0f * Vec3::Dot(n, coords.zAxis));
    camera.SetCoords(coords);

    Frustum frustum = camera.GetMinFrustum(viewport, offset, active.elementBoxes);
    // Only what lies above the water can be seen in it (the clipping plane below cuts the rest):
    // what lies wholly beneath is not even gathered.
    frustum.AddPlane(plane);
    renderer.SetViewer(set.region, camera, viewport, frustum);
    renderer.ShowLights(false);
    renderer.EnableRendering(true);
    renderer.EnableWireframe(false);
    renderer.EnableLighting(false);
    renderer.EnableShadows(false);
    renderer.EnableFog(false);
    renderer.EnableTerrain(true);
    renderer.EnableGrass(true);
    renderer.EnableGridTiles(true);
    renderer.EnableMeshes(true);
    renderer.EnableDecals(true);
    renderer.EnableEffects(true);
    renderer.EnableWater(false);
    if (const GraphicsEngine* graphics = GraphicsServices::Graphics())
        renderer.SetGenerationId(graphics->GetGenerationId());
    // The scene first: a region already entered would add nothing.
    renderer.BuildScene(false);
    renderer.SetRegionToSceneCoords(set.region, Coords());
    if (set.skyAmbient)
        renderer.SetSkyAmbientColor(*set.skyAmbient);
    if (set.groundAmbient)
        renderer.SetGroundAmbientColor(*set.groundAmbient);

    RenderSurface* previous = canvas.GetTargetSurface();
    canvas.SetDefaultState();
    active.surface =
        canvas.CreateTemporaryTextureSurface(surfaceSize, surfaceSize, RENDER_FORMAT_RGBA, RENDER_FORMAT_D24);
    if (!active.surface)
        return;
    canvas.SetTargetSurface(active.surface);
    canvas.SetViewport(viewport);
    canvas.SetClearColor(Color(0.0f, 0.0f, 0.0f, 0.0f));
    canvas.Clear(GraphicsNormalRenderer::defaultClearFlags);
    const Vec4 clip = renderer.GetWorldToScreenMatrix().Inverse().Transpose() * Vec4(plane.normal, plane.d);
    canvas.SetClippingPlane(0, Plane(Vec3(clip.x, clip.y, clip.z), clip.w));
    GraphicsLight dark;
    dark.SetType(GraphicsLight::TYPE_DIRECTIONAL);
    dark.SetColor(Color(0.0f, 0.0f, 0.0f, 1.0f));
    renderer.RenderLightStyle(canvas, set.sun ? *set.sun : dark, ReflectionStyle(), 0);
    canvas.ClearClippingPlane(0);
    canvas.SetTargetSurface(previous);
    for (GraphicsReflectionPlane* member : active.planes)
        member->reflectionSurface = active.surface;
}

void GraphicsReflectionManager::RenderActivePlaneBounds() const
{
    DebugRenderManager* debug = DebugRenderManager::Get();
    if (!debug)
        return;
    for (const ActivePlane& active : m_activePlanes) {
        debug->RenderBox(active.region, active.bounds, Color(0.0f, 1.0f, 1.0f, 1.0f));
        for (const ABBox& box : active.elementBoxes)
            debug->RenderBox(active.region, box, Color(1.0f, 1.0f, 0.0f, 1.0f));
    }
}

} // namespace GAME
