#include "world/Region.h"

#include "core/Intersect.h"
#include "core/Log.h"
#include "core/MathUtil.h"
#include "core/ObjectManager.h"
#include "core/Ray.h"
#include "core/UniqueId.h"
#include "core/WorldVec3.h"
#include "data/BinaryReader.h"
#include "data/ChunkedBinaryWriter.h"
#include "data/FileSystem.h"
#include "navigation/PhysicsEngine.h"
#include "network/NetworkControllerBase.h"
#include "world/Entity.h"
#include "world/Level.h"
#include "world/Portal.h"
#include "world/WorldServices.h"

#include <algorithm>
#include <cstdint>

namespace GAME {

Region::Region(World* world, int index, const std::string& name, const ABBox& box, const IntVec3& offset,
               const RegionId& id, unsigned levelOffset, unsigned levelSize)
    : m_world(world), m_index(index), m_id(id), m_offset(offset), m_name(name), m_box(box),
      m_levelOffset(levelOffset), m_levelSize(levelSize)
{
    if (m_id.IsInvalid())
        m_id.CreateUnique();
}

Region::~Region()
{
    SetLevel(nullptr);
    for (Portal* portal : m_portals)
        delete portal;
}

void Region::SetZoneRecord(const std::string& record)
{
    m_zoneRecord = record;
    FileSystem::ConvertFileName(m_zoneRecord);
}

void Region::SetMinimapData(unsigned offset, unsigned size)
{
    m_minimapOffset = offset;
    m_minimapSize = size;
}

bool Region::LoadRegionIcon(BinaryReader& reader)
{
    m_iconData.clear();
    m_iconValue = reader.ReadUInt32();
    m_iconWidth = reader.ReadUInt32();
    m_iconHeight = reader.ReadUInt32();
    const int32_t size = reader.ReadInt32();
    if (size > 0 && reader.CheckCount(static_cast<uint32_t>(size), 1, "icon bytes")) {
        m_iconData.resize(static_cast<size_t>(size));
        reader.ReadBytes(m_iconData.data(), static_cast<unsigned>(size));
    }
    if (reader.Failed()) {
        m_iconData.clear();
        LogPrintf(1, "Region %s: its icon record is truncated", m_name.c_str());
        return false;
    }
    return true;
}

void Region::SaveRegionIcon(ChunkedBinaryWriter& writer) const
{
    writer.WriteUInt32(m_iconValue);
    writer.WriteUInt32(m_iconWidth);
    writer.WriteUInt32(m_iconHeight);
    writer.WriteInt32(static_cast<int32_t>(m_iconData.size()));
    if (!m_iconData.empty())
        writer.WriteBytes(m_iconData.data(), static_cast<unsigned>(m_iconData.size()));
}

void Region::SetIcon(unsigned value, unsigned width, unsigned height, const std::vector<uint8_t>& data)
{
    m_iconValue = value;
    m_iconWidth = width;
    m_iconHeight = height;
    m_iconData = data;
}

void Region::Save(ChunkedBinaryWriter& writer) const
{
    writer.WriteString(m_name);
    writer.WriteVec3(m_box.center);
    writer.WriteVec3(m_box.extents);
    writer.WriteInt32(m_offset.x);
    writer.WriteInt32(m_offset.y);
    writer.WriteInt32(m_offset.z);
    m_id.Write(writer);
    writer.WriteString(m_zoneRecord);
}

void Region::BuildRegionConnectivity(const std::vector<Region*>& regions)
{
    const ABBox grown(m_box.center, m_box.extents + Vec3(2.0f, 2.0f, 2.0f));
    for (Region* other : regions) {
        if (!other || other == this)
            continue;
        const ABBox moved(other->m_box.center + GetOffsetDifference(other, this), other->m_box.extents);
        if (ABBoxesOverlap(grown, moved))
            m_connectedRegions.push_back(other);
    }
}

Vec3 Region::GetOffsetDifference(const Region* from, const Region* to)
{
    const IntVec3 a = from ? from->m_offset : IntVec3();
    const IntVec3 b = to ? to->m_offset : IntVec3();
    // 64-bit: offsets of opposite sign near the 32-bit limits must not wrap.
    return Vec3(static_cast<float>(static_cast<int64_t>(a.x) - b.x),
                static_cast<float>(static_cast<int64_t>(a.y) - b.y),
                static_cast<float>(static_cast<int64_t>(a.z) - b.z));
}

Coords Region::GetRelativeTransformation(const Region* other) const
{
    if (!other)
        return Coords();
    return Coords::Translation(GetOffsetDifference(this, other));
}

Vec3 Region::GetRelativePosition(const WorldVec3& position) const
{
    if (!position.GetRegion())
        return Vec3();
    return position.GetRegionPosition() + GetOffsetDifference(position.GetRegion(), this);
}

Level* Region::GuaranteedGetLevel(bool) const
{
    return m_level;
}

void Region::SetLevel(Level* level)
{
    if (m_level == level)
        return;
    if (m_level) {
        m_level->Unload(false);
        delete m_level;
    }
    m_level = level;
    UpdateBoundingBox();
}

void Region::UpdateBoundingBox()
{
    if (m_level)
        m_box = m_level->GetBoundingBox();
}

bool Region::AddEntity(Entity* entity, const WorldCoords& coords, bool quiet)
{
    if (!entity || coords.GetRegion() != this)
        return false;
    const bool ready = m_level && m_level->GetPostLoadCalled();
    if (!ready && entity->DeleteOnEnteringUnloadedLevel()) {
        LogPrintf(1, "Entity (%s, id: %d) could not be added to the world because it's level is not loaded.",
                  entity->GetObjectName().c_str(), static_cast<int>(entity->GetObjectId()));
        ObjectManager::Get()->DestroyObjectEx(entity, __FILE__, __LINE__);
        return false;
    }
    bool added = false;
    if (Level* level = GuaranteedGetLevel(false)) {
        added = level->AddEntity(entity, coords.GetRegionCoords());
        entity->Update(0);
    }
    if (!entity->IsInWorld()) {
        LogPrintf(2, "Entity (%s, id: %d) not in world after World::AddEntity() processing.",
                  entity->GetObjectName().c_str(), static_cast<int>(entity->GetObjectId()));
        return false;
    }
    if (!quiet)
        if (NetworkControllerBase* controller = WorldServices::NetworkController())
            controller->OnEntityAdded(entity, added);
    return added;
}

void Region::RemoveEntity(Entity* entity)
{
    if (!entity)
        return;
    WorldServices::RemoveEntityFromAllClients(entity);
    if (m_level && m_level->GetPostLoadCalled())
        m_level->RemoveEntity(entity);
    else
        entity->SetCoords(WorldCoords());
    if (PhysicsEngine* physics = WorldServices::Physics())
        physics->RemoveEntityFromSimulation(entity);
}

Portal* Region::CreatePortal()
{
    Portal* portal = new Portal();
    portal->SetRegion(this);
    m_portals.push_back(portal);
    return portal;
}

void Region::DestroyPortal(Portal* portal)
{
    auto it = std::find(m_portals.begin(), m_portals.end(), portal);
    if (it == m_portals.end())
        return;
    m_portals.erase(it);
    delete portal;
}

Portal* Region::GetPortal(const UniqueId& id) const
{
    for (Portal* portal : m_portals)
        if (portal->GetId() == id)
            return portal;
    return nullptr;
}

Portal* Region::GetPortal(int index) const
{
    if (index < 0 || index >= GetNumPortals())
        return nullptr;
    return m_portals[static_cast<size_t>(index)];
}

Portal* Region::TraceSegmentAgainstPortals(const Ray& ray, float& distance, bool bothSides) const
{
    Portal* nearest = nullptr;
    for (Portal* portal : m_portals) {
        const float t = portal->GetIntersection(ray, bothSides);
        if (t < distance) {
            distance = t;
            nearest = portal;
        }
    }
    return nearest;
}

} // namespace GAME
