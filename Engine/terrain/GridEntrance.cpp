#include "terrain/GridEntrance.h"

#include "core/Log.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/LoadTable.h"
#include "scene/GraphicsMesh.h"
#include "scene/GraphicsMeshInstance.h"
#include "world/Portal.h"
#include "world/Region.h"
#include "world/Triangle.h"

namespace GAME {

GAME_REGISTER_CLASS(GridEntrance, Tile)

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
    Tile::Load(constTable);
    GraphicsMeshInstance* instance = GetMeshInstance();
    if (instance->GetMesh())
        return;
    // No graphics engine gave the actor its mesh (levels built by a tool): the record tables'
    // resources do; the instance takes the reference.
    LoadTable& table = const_cast<LoadTable&>(constTable);
    if (GraphicsMesh* mesh = table.LoadMesh("mesh", 0))
        instance->SetMesh(mesh);
}

void GridEntrance::Read(BinaryReader& reader)
{
    Tile::Read(reader);
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
    Tile::Write(writer);
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

void GridEntrance::OnAddToLevel(Level* level)
{
    Tile::OnAddToLevel(level);
    OpenPortal();
}

void GridEntrance::OnRemoveFromLevel(Level* level)
{
    Tile::OnRemoveFromLevel(level);
    ClosePortal();
}

void GridEntrance::OnMoveInLevel(Level* level)
{
    Tile::OnMoveInLevel(level);
    if (m_portal)
        m_portal->SetCoords(GetCoords().GetRegionCoords());
}

void GridEntrance::OpenPortal()
{
    Region* region = GetRegion();
    const GraphicsMesh* mesh = GetMeshInstance()->GetMesh();
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

} // namespace GAME
