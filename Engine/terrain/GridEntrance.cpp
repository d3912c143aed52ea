#include "terrain/GridEntrance.h"

#include "core/Intersection.h"
#include "core/Log.h"
#include "core/Ray.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/LoadTable.h"
#include "scene/GraphicsMesh.h"
#include "scene/GraphicsSceneRenderer.h"
#include "world/Portal.h"
#include "world/Region.h"
#include "world/Triangle.h"

namespace GAME {

GAME_REGISTER_CLASS(GridEntrance, Entity)

namespace {

const Name& ChokePointName()
{
    static const Name name = Name::Create("ChokePoint");
    return name;
}

} // namespace

GridEntrance::GridEntrance() = default;

GridEntrance::~GridEntrance()
{
    ClosePortal();
}

void GridEntrance::Load(const LoadTable& constTable)
{
    Entity::Load(constTable);
    LoadTable& table = const_cast<LoadTable&>(constTable);
    // Loaded through the table's resources: the instance takes the reference.
    m_instance.SetMesh(table.LoadMesh("mesh", 0));
    UpdateBoundingBox();
}

void GridEntrance::Read(BinaryReader& reader)
{
    Entity::Read(reader);
    m_portalId = reader.ReadUniqueId();
    m_connectedPortalId = reader.ReadUniqueId();
    m_connectedRegionId.Read(reader);
    if (reader.Failed()) {
        LogPrintf(1, "Grid entrance '%s': its portal ids are cut short", GetObjectName().c_str());
        m_portalId = m_connectedPortalId = UniqueId();
        m_connectedRegionId = RegionId();
    }
}

void GridEntrance::Write(BinaryWriter& writer) const
{
    Entity::Write(writer);
    if (m_portal) {
        writer.WriteUniqueId(m_portal->GetId());
        writer.WriteUniqueId(m_portal->GetConnectedPortalId());
        m_portal->GetConnectedRegionId().Write(writer);
        return;
    }
    writer.WriteUniqueId(m_portalId);
    writer.WriteUniqueId(m_connectedPortalId);
    m_connectedRegionId.Write(writer);
}

void GridEntrance::SetPortalId(const UniqueId& id)
{
    m_portalId = id;
    if (m_portal && !id.IsNull())
        m_portal->SetId(id);
}

void GridEntrance::SetConnectedPortalId(const UniqueId& id)
{
    m_connectedPortalId = id;
    if (m_portal)
        m_portal->SetConnectedPortalId(id);
}

void GridEntrance::SetConnectedRegionId(const RegionId& id)
{
    m_connectedRegionId = id;
    if (m_portal)
        m_portal->SetConnectedRegionId(id);
}

void GridEntrance::PreLoad(bool inFirstFrustum)
{
    Entity::PreLoad(inFirstFrustum);
    m_instance.PreLoad(inFirstFrustum);
}

void GridEntrance::OnAddToLevel(Level* level)
{
    Entity::OnAddToLevel(level);
    OpenPortal();
}

void GridEntrance::OnRemoveFromLevel(Level* level)
{
    Entity::OnRemoveFromLevel(level);
    ClosePortal();
}

void GridEntrance::OnMoveInLevel(Level* level)
{
    Entity::OnMoveInLevel(level);
    if (m_portal)
        m_portal->SetCoords(GetCoords().GetRegionCoords());
}

void GridEntrance::OpenPortal()
{
    Region* region = GetRegion();
    const GraphicsMesh* mesh = m_instance.GetMesh();
    if (m_portal || !region || !mesh || mesh->GetNumPortals() != 1)
        return;
    m_portal = region->CreatePortal();
    // New portals get no id from the region: one of their own, so that they can be linked.
    m_portal->SetId(m_portalId.IsNull() ? UniqueId::CreateUnique() : m_portalId);
    std::vector<Triangle> triangles;
    for (const GraphicsMesh::PortalPoint& point : mesh->GetPortal(0).points)
        triangles.emplace_back(point.values[0], point.values[1], point.values[2]);
    m_portal->SetTriangles(triangles);
    if (const AttachPoint* choke = mesh->GetAttachPoint(ChokePointName()))
        m_portal->SetLocalChokePoint(choke->coords);
    m_portal->SetConnectedPortalId(m_connectedPortalId);
    m_portal->SetConnectedRegionId(m_connectedRegionId);
    m_portal->SetCoords(GetCoords().GetRegionCoords());
}

void GridEntrance::ClosePortal()
{
    if (!m_portal)
        return;
    // The ids outlive the portal: the entrance writes them and opens its next portal with them.
    m_portalId = m_portal->GetId();
    m_connectedPortalId = m_portal->GetConnectedPortalId();
    m_connectedRegionId = m_portal->GetConnectedRegionId();
    if (Region* region = m_portal->GetRegion())
        region->DestroyPortal(m_portal);
    else
        delete m_portal;
    m_portal = nullptr;
}

void GridEntrance::AddToScene(GraphicsSceneRenderer& renderer, const Frustum* frustum)
{
    Region* region = GetRegion();
    if (region && m_instance.GetMesh() && renderer.IsRenderFlagSet(GraphicsSceneRenderer::RENDER_MESHES)) {
        m_instance.PrepareForRendering();
        renderer.AddRenderable(&m_instance, region);
    }
    Entity::AddToScene(renderer, frustum);
}

PhysicsMesh* GridEntrance::GetPhysicsMesh() const
{
    return m_instance.GetMesh() ? m_instance.GetMesh()->GetPhysicsMesh() : nullptr;
}

void GridEntrance::UpdateBoundingBox()
{
    const Coords frame = GetCoords().GetRegionCoords();
    m_instance.SetObjectToRegionCoords(frame);
    if (m_instance.GetMesh()) {
        m_instance.UpdateBoundingBox(true);
        SetRegionBoundingBox(ABBox::FromOBBox(m_instance.GetRegionSpaceBoundingBox()));
    } else {
        SetRegionBoundingBox(ABBox(frame.origin, Vec3()));
    }
    Entity::UpdateBoundingBox();
}

void GridEntrance::GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const
{
    intersection.distance = gInfinity;
    if (!m_instance.GetMesh())
        return;
    // Into the mesh's space and back; the frame is rigid, so distances stay as they are.
    const Coords frame = GetCoords().GetRegionCoords();
    const Coords inverse = frame.Inverse();
    Intersection hit;
    m_instance.GetIntersection(
        Ray(inverse.TransformPoint(ray.origin), inverse.TransformVector(ray.direction)), hit, surface);
    if (hit.IsHit())
        intersection = Intersection(hit.distance, ray.GetPoint(hit.distance), hit.surface);
}

} // namespace GAME
