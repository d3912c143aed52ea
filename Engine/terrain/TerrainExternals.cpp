#include "terrain/TerrainExternals.h"

#include "core/ABBox.h"
#include "core/Intersection.h"
#include "core/Mat4.h"
#include "core/MathUtil.h"
#include "core/OBBox.h"
#include "core/TriangleBoxSeparation.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/RenderDevice.h"
#include "navigation/CollisionContact.h"
#include "world/Engine.h"

#include <algorithm>
#include <cmath>

namespace GAME::TerrainExternals {

RenderTexture* GetDeviceTexture(GraphicsTexture*)
{
    // TODO(stand-in): texture->GetTexture() once GraphicsTexture lands.
    return nullptr;
}

void PreLoadTexture(GraphicsTexture*)
{
    // TODO(stand-in): the resource loader's EnqueueResource(texture, RESOURCE_PRIORITY_HIGH, false)
    // once GraphicsTexture (a Resource) lands; until then no texture resource can be loaded.
}

int GetPixelShaderVersion()
{
    GraphicsEngine* graphics = gEngine ? gEngine->GetGraphicsEngine() : nullptr;
    RenderDevice* device = graphics ? graphics->GetRenderDevice() : nullptr;
    if (!device)
        return 0;
    switch (device->GetGenerationId()) {
    case RENDER_GENERATION_GEFORCE3:
        return 1;
    case RENDER_GENERATION_GEFORCE4:
        return 3;
    case RENDER_GENERATION_GEFORCE5:
    case RENDER_GENERATION_RADEON9000:
        return 5;
    case RENDER_GENERATION_GEFORCE6:
        return 6;
    case RENDER_GENERATION_R200:
        return 4;
    default:
        return 0;
    }
}

// TODO(stand-in): each of the shader calls becomes the GraphicsShader2 operation of its name
// (Begin, End, Render, SetTexture, SetFloat, SetFloat2, SetFloat3, SetFloat4x4 with element 0)
// once GraphicsShader2 lands; until then no shader resource can be loaded, so there is none to
// call.
void ShaderBegin(const GraphicsShader2*) {}
void ShaderEnd(const GraphicsShader2*) {}
void ShaderRender(const GraphicsShader2*, const char*) {}
void ShaderSetTexture(const GraphicsShader2*, const Name&, const RenderTexture*) {}
void ShaderSetFloat(const GraphicsShader2*, const Name&, float) {}
void ShaderSetFloat2(const GraphicsShader2*, const Name&, const Vec2&) {}
void ShaderSetFloat3(const GraphicsShader2*, const Name&, const Vec3&) {}
void ShaderSetMatrix(const GraphicsShader2*, const Name&, const Mat4&) {}

// TODO(stand-in): GraphicsMesh::GetBoundingBox, GetPhysicsMesh()->GetIntersection, GetNumContours,
// GetContour, RenderBlendedFaces and LogInfo, and the resource loader's queue for PreLoadMesh,
// once GraphicsMesh lands; until then no mesh can be loaded, so a tile has none.
bool GetMeshBoundingBox(const GraphicsMesh*, ABBox&)
{
    return false;
}

bool GetMeshIntersection(const GraphicsMesh*, const Ray&, Intersection& intersection)
{
    intersection.distance = gInfinity;
    return false;
}

unsigned GetMeshNumContours(const GraphicsMesh*)
{
    return 0;
}

void GetMeshContour(const GraphicsMesh*, unsigned, std::vector<Vec3>& points, std::vector<Vec3>& normals)
{
    points.clear();
    normals.clear();
}

void RenderMeshBlendedFaces(GraphicsMesh*, const GraphicsShader2*) {}

bool LogMeshInfo(const GraphicsMesh*)
{
    return false;
}

void PreLoadMesh(GraphicsMesh*, bool) {}

// TODO(stand-in): GraphicsSceneRenderer::GetRenderFlags, GetWorldToScreenMatrix and AddRenderable
// once the scene renderer lands; until then none can be made, so nothing calls these.
uint32_t GetSceneRenderFlags(const GraphicsSceneRenderer&)
{
    return 0;
}

Mat4 GetSceneWorldToScreen(const GraphicsSceneRenderer&)
{
    return Mat4::Identity();
}

void AddRenderable(GraphicsSceneRenderer&, GraphicsRenderable*, Region*) {}

// TODO(stand-in): navigation's CollideOBBoxTriangle replaces this once it lands; the contacts
// here follow the same rules (the triangle's part inside the box, pushed out along the axis of
// least penetration).
int CollideOBBoxTriangle(const Vec3 triangle[3], const OBBox& box, CollisionContact* contacts, int capacity)
{
    if (!contacts || capacity <= 0)
        return 0;
    float depth = 0.0f;
    Vec3 axis;
    if (!TestTriangleOBBoxSeparation(triangle, box, depth, axis))
        return 0;

    // The part of the triangle inside the box.
    ClipPolygon polygon;
    polygon.count = 3;
    for (int i = 0; i < 3; ++i)
        polygon.points[i] = triangle[i];
    const Vec3 axes[3] = {box.coords.xAxis, box.coords.yAxis, box.coords.zAxis};
    const float extents[3] = {box.extents.x, box.extents.y, box.extents.z};
    for (int k = 0; k < 3 && polygon.count > 0; ++k) {
        const float c = Vec3::Dot(axes[k], box.coords.origin);
        ClipConvexPolygonByPlane(Plane(-axes[k], c + extents[k]), polygon);
        if (polygon.count > 0)
            ClipConvexPolygonByPlane(Plane(axes[k], extents[k] - c), polygon);
    }

    // How deep each point lies in the box along the push axis.
    float reach = 0.0f;
    for (int k = 0; k < 3; ++k)
        reach += std::fabs(Vec3::Dot(axis, axes[k])) * extents[k];
    const float boxLow = Vec3::Dot(axis, box.coords.origin) - reach;
    struct Candidate
    {
        Vec3 position;
        float depth;
    };
    Candidate candidates[ClipPolygon::kMaxPoints];
    int found = 0;
    for (int i = 0; i < polygon.count; ++i) {
        const float d = std::min(Vec3::Dot(axis, polygon.points[i]) - boxLow, depth);
        if (IsFinite(d) && IsFiniteVec3(polygon.points[i]))
            candidates[found++] = {polygon.points[i], std::max(d, 0.0f)};
    }
    if (found == 0) {
        // Touching within the clipping tolerance: the box's corner deepest along the axis.
        Vec3 corner = box.coords.origin;
        for (int k = 0; k < 3; ++k)
            corner -= axes[k] * (Vec3::Dot(axis, axes[k]) >= 0.0f ? extents[k] : -extents[k]);
        candidates[found++] = {corner, depth};
    }
    std::stable_sort(candidates, candidates + found,
                     [](const Candidate& a, const Candidate& b) { return a.depth > b.depth; });
    const int count = std::min(found, capacity);
    for (int i = 0; i < count; ++i) {
        contacts[i] = CollisionContact();
        contacts[i].position = candidates[i].position;
        contacts[i].normal = axis;
        contacts[i].depth = candidates[i].depth;
    }
    return count;
}

} // namespace GAME::TerrainExternals
