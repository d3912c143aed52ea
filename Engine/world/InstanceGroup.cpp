#include "world/InstanceGroup.h"

#include "core/ABBox.h"
#include "core/Color.h"
#include "core/UniqueIdMap.h"
#include "data/BinaryReader.h"
#include "data/ChunkedBinaryWriter.h"
#include "graphics/WorldPrimitiveDrawer.h"
#include "world/InstanceGroupManager.h"
#include "world/Region.h"
#include "world/WorldEntityAccess.h"

#include <algorithm>
#include <utility>

namespace GAME {

namespace {

// The member's entity when its level is loaded and it stands in a region.
Region* LoadedRegion(const UniqueId& id, Entity*& entity)
{
    entity = nullptr;
    WorldEntityAccess* access = WorldEntityAccess::Get();
    if (!access || !UniqueIdMap::HasInstantiated())
        return nullptr;
    entity = UniqueIdMap::Get()->GetEntity(id);
    return entity ? access->GetRegion(entity) : nullptr;
}

} // namespace

InstanceGroup::InstanceGroup(const std::string& type) : m_groupId(UniqueId::CreateUnique()), m_type(type) {}

void InstanceGroup::SetType(const std::string& type)
{
    m_type = type;
    m_ids.clear();
    m_entityData.clear();
}

void InstanceGroup::AddMember(const UniqueId& id, const EntityData& data)
{
    m_ids.push_back(id);
    m_entityData.push_back(data);
}

void InstanceGroup::AddEntity(Entity* entity)
{
    WorldEntityAccess* access = WorldEntityAccess::Get();
    if (entity && access) {
        const UniqueId id = access->GetUniqueId(entity);
        InstanceGroupManager* manager = InstanceGroupManager::Get();
        if (manager && manager->FilterEntity(m_type, entity) && !ListContains(id)) {
            EntityData data;
            if (Region* region = access->GetRegion(entity))
                data.regionId = region->GetId();
            data.position = access->GetRegionPosition(entity);
            AddMember(id, data);
        }
    }
    CalcCenter();
}

void InstanceGroup::RemoveEntity(Entity* entity)
{
    WorldEntityAccess* access = WorldEntityAccess::Get();
    if (entity && access)
        RemoveID(access->GetUniqueId(entity));
}

void InstanceGroup::RemoveEntity(int index)
{
    if (index < 0 || index >= GetNumID())
        return;
    m_ids.erase(m_ids.begin() + index);
    m_entityData.erase(m_entityData.begin() + index);
}

void InstanceGroup::RemoveID(const UniqueId& id)
{
    size_t kept = 0;
    for (size_t i = 0; i < m_ids.size(); ++i) {
        if (m_ids[i] == id)
            continue;
        m_ids[kept] = m_ids[i];
        m_entityData[kept] = m_entityData[i];
        ++kept;
    }
    m_ids.resize(kept);
    m_entityData.resize(kept);
    CalcCenter();
}

bool InstanceGroup::ListContains(const UniqueId& id) const
{
    return std::find(m_ids.begin(), m_ids.end(), id) != m_ids.end();
}

UniqueId InstanceGroup::GetID(int index) const
{
    return index >= 0 && index < GetNumID() ? m_ids[static_cast<size_t>(index)] : UniqueId();
}

InstanceGroup::EntityData* InstanceGroup::GetEntityData(const UniqueId& id)
{
    for (size_t i = 0; i < m_ids.size(); ++i)
        if (m_ids[i] == id)
            return &m_entityData[i];
    return nullptr;
}

InstanceGroup::EntityData* InstanceGroup::GetEntityData(int index)
{
    return index >= 0 && index < GetNumID() ? &m_entityData[static_cast<size_t>(index)] : nullptr;
}

bool InstanceGroup::MoveEntityUp(int index)
{
    if (index < 1 || index >= GetNumID())
        return false;
    std::swap(m_ids[index], m_ids[index - 1]);
    std::swap(m_entityData[index], m_entityData[index - 1]);
    return true;
}

bool InstanceGroup::MoveEntityDown(int index)
{
    if (index < 0 || index >= GetNumID() - 1)
        return false;
    std::swap(m_ids[index], m_ids[index + 1]);
    std::swap(m_entityData[index], m_entityData[index + 1]);
    return true;
}

void InstanceGroup::AddChild(const InstanceGroup* group)
{
    if (group && std::find(m_children.begin(), m_children.end(), group->m_groupId) == m_children.end())
        m_children.push_back(group->m_groupId);
}

void InstanceGroup::RemoveChild(const InstanceGroup* group)
{
    if (group)
        m_children.erase(std::remove(m_children.begin(), m_children.end(), group->m_groupId),
                         m_children.end());
}

UniqueId InstanceGroup::GetChildId(int index) const
{
    return index >= 0 && index < GetNumChildren() ? m_children[static_cast<size_t>(index)] : UniqueId();
}

void InstanceGroup::UpdateEntityData(Entity* entity)
{
    WorldEntityAccess* access = WorldEntityAccess::Get();
    Region* region = entity && access ? access->GetRegion(entity) : nullptr;
    if (!region)
        return;
    const UniqueId id = access->GetUniqueId(entity);
    const Vec3 position = access->GetRegionPosition(entity);
    for (size_t i = 0; i < m_ids.size(); ++i) {
        if (m_ids[i] == id) {
            m_entityData[i].regionId = region->GetId();
            m_entityData[i].position = position;
        }
    }
}

void InstanceGroup::CalcCenter()
{
    Region* reference = nullptr;
    Vec3 sum;
    int contributions = 0;
    for (const UniqueId& id : m_ids) {
        Entity* entity;
        Region* region = LoadedRegion(id, entity);
        if (!region)
            continue;
        if (!reference)
            reference = region;
        const Vec3 center = WorldEntityAccess::Get()->GetRegionBoundingBox(entity).center;
        sum += reference->GetRelativePosition(WorldVec3(region, center));
        ++contributions;
    }
    if (contributions > 0)
        m_center = WorldVec3(reference, sum / static_cast<float>(contributions));
}

void InstanceGroup::Render(Region* region, WorldPrimitiveDrawer& drawer, bool selected)
{
    CalcCenter();
    const Color color = selected ? Color(0.85f, 0.0f, 0.0f, 1.0f) : Color(0.0f, 0.0f, 0.0f, 1.0f);
    drawer.SetOverlayShader();
    drawer.SetRegion(region);
    const Vec3 center = region ? region->GetRelativePosition(m_center) : m_center.GetRegionPosition();
    for (const UniqueId& id : m_ids) {
        Entity* entity;
        Region* memberRegion = LoadedRegion(id, entity);
        if (!memberRegion)
            continue;
        UpdateEntityData(entity);
        const ABBox box = WorldEntityAccess::Get()->GetRegionBoundingBox(entity);
        drawer.RenderDebugBox(memberRegion, box, color);
        if (!m_center.GetRegion())
            continue;
        drawer.Begin(WorldPrimitiveDrawer::PRIMITIVE_LINE_LIST);
        drawer.SetColor(color);
        drawer.SetVertex(region ? region->GetRelativePosition(WorldVec3(memberRegion, box.center))
                                : box.center);
        drawer.SetVertex(center);
        drawer.End();
    }
    if (!m_ids.empty() && m_center.GetRegion()) {
        drawer.SetColor(color);
        drawer.DrawSolidCircle(center, 0.5f, 24);
    }
    if (!m_center.GetRegion())
        return;
    InstanceGroupManager* manager = InstanceGroupManager::Get();
    for (const UniqueId& childId : m_children) {
        const InstanceGroup* child = manager ? manager->GetGroup(childId) : nullptr;
        if (!child || !child->m_center.GetRegion())
            continue;
        const Vec3 to =
            region ? region->GetRelativePosition(child->m_center) : child->m_center.GetRegionPosition();
        drawer.SetColor(color);
        drawer.DrawArrow(center, to);
    }
}

void InstanceGroup::Save(ChunkedBinaryWriter& writer) const
{
    writer.WriteUInt32(kVersion);
    writer.WriteString(m_name);
    writer.WriteString(m_type);
    writer.WriteUInt32(static_cast<uint32_t>(m_ids.size()));
    for (size_t i = 0; i < m_ids.size(); ++i) {
        writer.WriteUniqueId(m_ids[i]);
        m_entityData[i].regionId.Write(writer);
        writer.WriteVec3(m_entityData[i].position);
    }
    writer.WriteUniqueId(m_groupId);
    writer.WriteUInt32(static_cast<uint32_t>(m_children.size()));
    for (const UniqueId& child : m_children)
        writer.WriteUniqueId(child);
}

bool InstanceGroup::Load(BinaryReader& reader)
{
    const uint32_t version = reader.ReadUInt32();
    if (version >= 1) {
        m_ids.clear();
        m_entityData.clear();
        if (!reader.ReadString(m_name) || !reader.ReadString(m_type))
            return false;
        const uint32_t count = reader.ReadUInt32();
        if (!reader.CheckCount(count, kMemberSize, "instance group members"))
            return false;
        m_ids.resize(count);
        m_entityData.resize(count);
        for (uint32_t i = 0; i < count; ++i) {
            m_ids[i] = reader.ReadUniqueId();
            m_entityData[i].regionId.Read(reader);
            m_entityData[i].position = reader.ReadVec3();
        }
    }
    if (version >= 2) {
        m_groupId = reader.ReadUniqueId();
        const uint32_t count = reader.ReadUInt32();
        if (!reader.CheckCount(count, 16, "instance group links"))
            return false;
        m_children.resize(count);
        for (UniqueId& child : m_children)
            child = reader.ReadUniqueId();
    }
    return !reader.Failed();
}

} // namespace GAME
