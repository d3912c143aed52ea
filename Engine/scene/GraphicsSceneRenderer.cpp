#include "scene/GraphicsSceneRenderer.h"

#include "core/Log.h"
#include "core/MathUtil.h"
#include "core/OBBox.h"
#include "core/RegionServices.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsShader2.h"
#include "scene/GraphicsRenderable.h"
#include "scene/SceneWorldServices.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace GAME {

GraphicsShader2* GraphicsSceneRenderer::s_portalMaskShader = nullptr;

bool ClearAir::Contains(const ABBox& box, const Coords& regionToScene) const
{
    return any && Contains(ABBox::FromOBBox(TransformABBox(regionToScene, box)));
}

bool ClearAir::Contains(const ABBox& box) const
{
    // A little short of the limits: a fog shader works its amount out at points interpolated
    // over the box's geometry, not at the box's corners.
    constexpr float margin = 0.01f;
    if (!any || !(box.center.y - box.extents.y > above + margin))
        return false;
    if (std::isinf(reach) && reach > 0.0f)
        return true;
    // The farthest point of the box from the eye.
    float sum = 0.0f;
    const float p[3] = {eye.x, eye.y, eye.z};
    const float c[3] = {box.center.x, box.center.y, box.center.z};
    const float e[3] = {box.extents.x, box.extents.y, box.extents.z};
    for (int i = 0; i < 3; ++i) {
        const float far = std::fabs(c[i] - p[i]) + std::fabs(e[i]);
        sum += far * far;
    }
    return std::sqrt(sum) < reach - margin;
}

float BoxPointDistanceSquared(const ABBox& box, const Vec3& point)
{
    float sum = 0.0f;
    const float p[3] = {point.x, point.y, point.z};
    const float c[3] = {box.center.x, box.center.y, box.center.z};
    const float e[3] = {box.extents.x, box.extents.y, box.extents.z};
    for (int i = 0; i < 3; ++i) {
        const float lo = c[i] - e[i], hi = c[i] + e[i];
        if (p[i] < lo)
            sum += (lo - p[i]) * (lo - p[i]);
        else if (p[i] > hi)
            sum += (p[i] - hi) * (p[i] - hi);
    }
    return sum;
}

GraphicsSceneRenderer::GraphicsSceneRenderer() = default;
GraphicsSceneRenderer::~GraphicsSceneRenderer() = default;

void GraphicsSceneRenderer::AddRegionContents(Region*, const Coords&, const Frustum&, const WorldFrustum*) {}

void GraphicsSceneRenderer::CreateResources(GraphicsEngine& graphics)
{
    if (!s_portalMaskShader)
        s_portalMaskShader = graphics.LoadShader2(portalMaskShaderName);
}

void GraphicsSceneRenderer::DestroyResources(GraphicsEngine& graphics)
{
    if (s_portalMaskShader)
        graphics.UnloadShader2(s_portalMaskShader);
    s_portalMaskShader = nullptr;
}

void GraphicsSceneRenderer::SetViewer(Region* region, const Camera& camera, const Viewport& viewport,
                                      const Frustum& frustum)
{
    m_viewerRegion = region;
    m_camera = camera;
    m_viewport = viewport;
    m_frustum = frustum;
    m_worldToCamera = camera.GetCoords().Inverse();
    Mat4 cameraToScreen;
    if (camera.GetCameraToClipMatrix(cameraToScreen, viewport))
        m_worldToScreen = cameraToScreen * Mat4(m_worldToCamera);
}

void GraphicsSceneRenderer::SetTransparency(const WorldFrustum& frustum, float value)
{
    m_transparencyValue = value;
    if (frustum.GetRegion()) {
        m_transparencyOn = true;
        m_transparencyFrustum = frustum;
    }
}

void GraphicsSceneRenderer::SetRegionToSceneCoords(Region* region, const Coords& regionToScene)
{
    m_regionToScene.emplace(region, regionToScene);
}

const Coords* GraphicsSceneRenderer::FindRegionToSceneCoords(Region* region) const
{
    auto it = m_regionToScene.find(region);
    return it == m_regionToScene.end() ? nullptr : &it->second;
}

const Coords& GraphicsSceneRenderer::GetRegionToSceneCoords(Region* region) const
{
    static const Coords identity;
    if (const Coords* coords = FindRegionToSceneCoords(region))
        return *coords;
    LogPrintf(1, "Scene renderer: region %s was not added to the scene this frame",
              region ? SceneWorldServices::Current().GetRegionName(region).c_str() : "(null)");
    return identity;
}

void GraphicsSceneRenderer::AddRegionToScene(Region* region, const Coords& regionToScene, Region*)
{
    auto entry = m_regionToScene.emplace(region, regionToScene).first;
    Frustum regionFrustum = m_frustum;
    regionFrustum.Transform(regionToScene.Inverse());
    AddRegionContents(region, entry->second, regionFrustum,
                      m_transparencyOn ? &m_transparencyFrustum : nullptr);
}

void GraphicsSceneRenderer::AddRegionToScene(Region* region)
{
    if (!region || m_regionToScene.count(region))
        return;
    Vec3 offset;
    if (m_viewerRegion) {
        const IntVec3 difference =
            RegionServices::OffsetFromWorld(region) - RegionServices::OffsetFromWorld(m_viewerRegion);
        offset = Vec3(static_cast<float>(difference.x), static_cast<float>(difference.y),
                      static_cast<float>(difference.z));
    }
    AddRegionToScene(region, Coords::Translation(offset), nullptr);
}

void GraphicsSceneRenderer::AddRenderable(GraphicsRenderable* renderable, Region* region)
{
    if (!renderable || !region)
        return;
    const Coords* placement = FindRegionToSceneCoords(region);
    if (!placement) {
        LogPrintf(1, "Scene renderer: renderable %p added with region %s, which is not in the scene",
                  static_cast<const void*>(renderable),
                  SceneWorldServices::Current().GetRegionName(region).c_str());
        return;
    }
    const ABBox box = ABBox::FromOBBox(TransformABBox(*placement, renderable->GetRenderPassBoundingBox()));
    if (IsFiniteVec3(box.center) && IsFiniteVec3(box.extents)) {
        m_renderables.push_back(QueuedRenderable{renderable, region, placement, box});
        return;
    }
    LogPrintf(1, "=======================================");
    LogPrintf(1, "Invalid bounding box for renderable %p", static_cast<const void*>(renderable));
    LogPrintf(0, "Region to scene coords: (%f, %f, %f)", static_cast<double>(placement->origin.x),
              static_cast<double>(placement->origin.y), static_cast<double>(placement->origin.z));
    renderable->LogInfo();
    LogPrintf(1, "=======================================");
}

void GraphicsSceneRenderer::AddLight(const GraphicsLight& light)
{
    const Color& color = light.GetColor();
    if (color.r == 0.0f && color.g == 0.0f && color.b == 0.0f)
        return;
    m_lights.push_back(light);
}

int GraphicsSceneRenderer::GetNumPassesWithStyle(const Name& style) const
{
    int total = 0;
    for (const QueuedRenderable& entry : m_renderables)
        total += entry.renderable->GetNumRenderPasses(style, m_generationId);
    return total;
}

void GraphicsSceneRenderer::GetViewSpaceExtents(Vec3& min, Vec3& max) const
{
    min = Vec3(gInfinity, gInfinity, gInfinity);
    max = Vec3(-gInfinity, -gInfinity, -gInfinity);
    const Coords& w = m_worldToCamera;
    for (const QueuedRenderable& entry : m_renderables) {
        if (entry.renderable->GetNumRenderPasses(Name::noName, m_generationId) < 1)
            continue;
        ABBox box = entry.renderable->GetRenderPassBoundingBox();
        if (m_viewerRegion && entry.region) {
            const IntVec3 d = RegionServices::OffsetFromWorld(entry.region) -
                              RegionServices::OffsetFromWorld(m_viewerRegion);
            box.center += Vec3(static_cast<float>(d.x), static_cast<float>(d.y), static_cast<float>(d.z));
        }
        const Vec3 c = w.TransformPoint(box.center);
        const Vec3& e = box.extents;
        const Vec3 h(std::fabs(w.xAxis.x * e.x) + std::fabs(w.yAxis.x * e.y) + std::fabs(w.zAxis.x * e.z),
                     std::fabs(w.xAxis.y * e.x) + std::fabs(w.yAxis.y * e.y) + std::fabs(w.zAxis.y * e.z),
                     std::fabs(w.xAxis.z * e.x) + std::fabs(w.yAxis.z * e.y) + std::fabs(w.zAxis.z * e.z));
        min = Vec3::Min(min, c - h);
        max = Vec3::Max(max, c + h);
    }
}

bool GraphicsSceneRenderer::FillPass(RenderablePass& pass, const QueuedRenderable& entry, int index,
                                     const Name& style, int low, int high, const Sphere* lightSphere) const
{
    const GraphicsRenderable* renderable = entry.renderable;
    const int sortOrder = renderable->GetRenderPassSortOrder(index, style, m_generationId);
    if (sortOrder < low || sortOrder > high)
        return false;
    const GraphicsShader2* shader = renderable->GetShader2(index, style);
    if (!shader)
        return false;
    const int styleIndex = shader->FindStyleByName(renderable->GetShaderStyle(index, style, m_generationId));
    if (styleIndex < 0)
        return false;
    pass.texture = renderable->GetTexture(index, style);
    pass.renderable = renderable;
    pass.passIndex = index;
    pass.region = entry.region;
    pass.regionToScene = *entry.regionToScene;
    pass.bounds = entry.bounds;
    pass.shader = shader;
    pass.styleIndex = styleIndex;
    pass.sortOrder = sortOrder;
    pass.opacity = renderable->GetOpacity(index, style);
    if (lightSphere) {
        const Vec3 centre = lightSphere->center - entry.regionToScene->origin;
        pass.lightSphere[0] = centre.x;
        pass.lightSphere[1] = centre.y;
        pass.lightSphere[2] = centre.z;
        pass.lightSphere[3] = lightSphere->radius;
    } else {
        pass.lightSphere[0] = pass.lightSphere[1] = pass.lightSphere[2] = pass.lightSphere[3] = 0.0f;
    }
    return true;
}

void GraphicsSceneRenderer::GatherPasses(std::vector<RenderablePass>& list, const Name& style, int low,
                                         int high, const Sphere* lightSphere) const
{
    const float radiusSquared = lightSphere ? lightSphere->radius * lightSphere->radius : 0.0f;
    RenderablePass pass;
    for (const QueuedRenderable& entry : m_renderables) {
        if (lightSphere && BoxPointDistanceSquared(entry.bounds, lightSphere->center) > radiusSquared)
            continue;
        const int count = entry.renderable->GetNumRenderPasses(style, m_generationId);
        for (int i = 0; i < count; ++i)
            if (FillPass(pass, entry, i, style, low, high, lightSphere))
                list.push_back(pass);
    }
}

namespace {

// The sort key of one record with its position, so that an unstable sort of the keys gives the
// stable order of the records; the records themselves move once.
struct PassKey
{
    int32_t sortOrder;
    int32_t styleIndex;
    uintptr_t shader;
    uintptr_t texture;
    uint32_t position;

    bool operator<(const PassKey& o) const
    {
        if (sortOrder != o.sortOrder)
            return sortOrder < o.sortOrder;
        if (shader != o.shader)
            return shader < o.shader;
        if (styleIndex != o.styleIndex)
            return styleIndex < o.styleIndex;
        if (texture != o.texture)
            return texture < o.texture;
        return position < o.position;
    }
};

} // namespace

void GraphicsSceneRenderer::SortPasses(std::vector<RenderablePass>& list)
{
    const size_t count = list.size();
    if (count < 2)
        return;
    std::vector<PassKey> keys(count);
    bool sorted = true;
    for (size_t i = 0; i < count; ++i) {
        const RenderablePass& pass = list[i];
        keys[i] = PassKey{pass.sortOrder, pass.styleIndex, reinterpret_cast<uintptr_t>(pass.shader),
                          reinterpret_cast<uintptr_t>(pass.texture), static_cast<uint32_t>(i)};
        if (sorted && i > 0 && keys[i] < keys[i - 1])
            sorted = false;
    }
    if (sorted)
        return;
    std::sort(keys.begin(), keys.end());
    std::vector<RenderablePass> ordered;
    ordered.reserve(count);
    for (const PassKey& key : keys)
        ordered.push_back(list[key.position]);
    list.swap(ordered);
}

void GraphicsSceneRenderer::RenderPasses(GraphicsCanvas& canvas, std::vector<RenderablePass>& list,
                                         const Name& style, bool sort)
{
    if (sort)
        SortPasses(list);
    // The (shader, style) pair of the run being drawn, and the shader begun for it (null when it
    // would not begin: its run draws nothing).
    const GraphicsShader2* runShader = nullptr;
    int runStyle = -1;
    bool inRun = false;
    GraphicsShader2* begun = nullptr;
    for (const RenderablePass& pass : list) {
        if (!inRun || pass.shader != runShader || pass.styleIndex != runStyle) {
            if (begun)
                begun->End();
            begun = nullptr;
            if (pass.shader) {
                GraphicsShader2* shader = const_cast<GraphicsShader2*>(pass.shader);
                canvas.SetDefaultState();
                if (shader->Begin(pass.styleIndex)) {
                    begun = shader;
                    SetSceneShaderParameters(canvas, *shader);
                }
            }
            runShader = pass.shader;
            runStyle = pass.styleIndex;
            inRun = true;
        }
        if (begun)
            const_cast<GraphicsRenderable*>(pass.renderable)->RenderPass(pass, style, canvas, *this);
    }
    if (begun)
        begun->End();
}

void GraphicsSceneRenderer::RenderStyle(GraphicsCanvas& canvas, const Name& style, int low, int high,
                                        const Sphere* lightSphere)
{
    std::vector<RenderablePass> list;
    GatherPasses(list, style, low, high, lightSphere);
    RenderPasses(canvas, list, style);
}

void GraphicsSceneRenderer::RenderStyle(GraphicsCanvas& canvas, const Name& style)
{
    RenderStyle(canvas, style, lowestSortOrder, highestSortOrder, nullptr);
}

} // namespace GAME
