#include "terrain/TerrainTile.h"

#include "core/Intersection.h"
#include "core/Log.h"
#include "core/Mat4.h"
#include "core/OBBox.h"
#include "core/Ray.h"
#include "core/SimplePolygon.h"
#include "data/ResourceLoader.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/RenderDevice.h"
#include "navigation/PhysicsMesh.h"
#include "scene/GraphicsMesh.h"
#include "scene/GraphicsSceneRenderer.h"
#include "terrain/TerrainBase.h"
#include "terrain/TerrainRenderInterfaceBase.h"

#include <cstring>

namespace GAME {

GAME_REGISTER_CLASS(TerrainTile, TerrainObject)

TerrainTile::TerrainTile() : TerrainLayeredObject(false)
{
    UpdateBox();
}

TerrainTile::~TerrainTile() = default;

void TerrainTile::SetMesh(GraphicsMesh* mesh)
{
    m_mesh = mesh;
    UpdateBox();
}

void TerrainTile::SetCoords(const Coords& coords)
{
    m_coords = coords;
    UpdateBox();
}

void TerrainTile::UpdateBox()
{
    if (m_mesh)
        SetBoundingBox(ABBox::FromOBBox(TransformABBox(m_coords, m_mesh->GetBoundingBox())));
    else
        SetBoundingBox(ABBox(m_coords.origin, Vec3()));
}

unsigned TerrainTile::GetNumContours() const
{
    return m_mesh ? m_mesh->GetNumContours() : 0;
}

void TerrainTile::GetContour(unsigned index, SimplePolygon& polygon) const
{
    polygon.Clear();
    if (!m_mesh || index >= m_mesh->GetNumContours())
        return;
    for (const GraphicsMesh::ContourPoint& point : m_mesh->GetContour(index).points) {
        const Vec3 p = m_coords.TransformPoint(point.position);
        const Vec3 n = m_coords.TransformVector(point.normal);
        PolygonVertex vertex;
        vertex.x = p.x;
        vertex.y = p.z;
        vertex.height = p.y;
        const float values[3] = {n.x, n.y, n.z};
        std::memcpy(vertex.values, values, sizeof(values));
        polygon.AddVertex(vertex);
    }
}

void TerrainTile::GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface) const
{
    intersection.distance = gInfinity;
    const PhysicsMesh* physics = m_mesh ? m_mesh->GetPhysicsMesh() : nullptr;
    if (!physics)
        return;
    const Coords toLocal = m_coords.Inverse();
    const Ray local(toLocal.TransformPoint(ray.origin), toLocal.TransformVector(ray.direction));
    Intersection hit;
    hit.distance = gInfinity;
    if (physics->GetIntersection(local, hit) && hit.distance < gInfinity) {
        intersection.distance = hit.distance;
        intersection.point = ray.GetPoint(hit.distance);
    }
}

void TerrainTile::PreLoad(bool immediate)
{
    TerrainObject::PreLoad(immediate);
    if (ResourceLoader* loader = m_mesh ? m_mesh->GetResourceLoader() : nullptr)
        loader->EnqueueResource(m_mesh, RESOURCE_PRIORITY_HIGH, immediate);
}

void TerrainTile::RenderPass(const RenderablePass& pass, const Name& style, GraphicsCanvas&,
                             const TerrainRenderContext& context)
{
    RenderPass(pass, style, context);
}

void TerrainTile::RenderPass(const RenderablePass& pass, const Name& style,
                             const TerrainRenderContext& context)
{
    static const Name objectToRegion = Name::Create("objectToRegionMatrix");
    static const Name objectToScreen = Name::Create("objectToScreenMatrix");
    static const Name regionToSceneOffset = Name::Create("regionToSceneOffset");
    // The pass's shader is the terrain's layer shader, begun by the renderer in the pass's style.
    GraphicsShader2* shader = const_cast<GraphicsShader2*>(pass.shader);
    if (!m_terrain || !shader || !(context.renderFlags & GraphicsSceneRenderer::RENDER_TERRAIN))
        return;
    shader->Begin();
    shader->SetFloat4x4(objectToRegion, 0, Mat4(m_coords));
    shader->SetFloat4x4(objectToScreen, 0, context.worldToScreen * Mat4(pass.regionToScene * m_coords));
    shader->SetFloat3(regionToSceneOffset, 0, pass.regionToScene.origin);
    const int layer = GetPassLayer(pass.passIndex, style);
    if (layer >= 0)
        SetLayerParams(*shader, static_cast<unsigned>(layer));
    if (m_mesh)
        m_mesh->RenderBlendedFaces(TerrainBase::GetRenderDevice(), shader);
    shader->End();
}

void TerrainTile::LogInfo() const
{
    const ABBox& box = GetBoundingBox();
    LogPrintf(0, "TerrainTile:");
    if (m_mesh)
        m_mesh->LogInfo();
    else
        LogPrintf(0, "   mesh: NULL");
    LogPrintf(0, "   attached: %u", m_placed ? 1u : 0u);
    LogPrintf(0, "   maxDistance: %f", m_maxDistance);
    LogPrintf(0, "   coords origin: (%f, %f, %f)", m_coords.origin.x, m_coords.origin.y, m_coords.origin.z);
    LogPrintf(0, "   numLayers: %u", static_cast<unsigned>(m_layers.size()));
    LogPrintf(0, "   bounds origin: (%f, %f, %f)", box.center.x, box.center.y, box.center.z);
    LogPrintf(0, "   bounds extents: (%f, %f, %f)", box.extents.x, box.extents.y, box.extents.z);
    LogPrintf(0, "   lastFrameUsed: %u", GetLastFrameUsed());
    LogPrintf(0, "   preLoaded: %u", m_loadState);
}

} // namespace GAME
