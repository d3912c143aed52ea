#include "world/InstanceGroupManager.h"

#include "core/Intersect.h"
#include "core/Log.h"
#include "core/MathUtil.h"
#include "core/RTTI_ClassInfo.h"
#include "core/Sphere.h"
#include "core/WorldRay.h"
#include "data/BinaryReader.h"
#include "data/ChunkedBinaryWriter.h"
#include "world/Region.h"
#include "world/WorldEntityAccess.h"

#include <memory>

namespace GAME {

InstanceGroupManager::~InstanceGroupManager()
{
    DeleteAllGroups();
}

void InstanceGroupManager::DeleteAllGroups()
{
    for (InstanceGroup* group : m_groups)
        delete group;
    m_groups.clear();
}

void InstanceGroupManager::AddGroupAffiliation(const std::string& type, const RTTI_ClassInfo* classInfo)
{
    m_affiliations[type].push_back(classInfo);
}

void InstanceGroupManager::GetGroupTypes(std::vector<std::string>& types) const
{
    for (const auto& entry : m_affiliations)
        types.push_back(entry.first);
}

int InstanceGroupManager::GetKeyIndex(const std::string& type) const
{
    int index = 0;
    for (const auto& entry : m_affiliations) {
        if (entry.first == type)
            return index;
        ++index;
    }
    return -1;
}

bool InstanceGroupManager::FilterEntity(const std::string& type, const Entity* entity) const
{
    WorldEntityAccess* access = WorldEntityAccess::Get();
    auto it = m_affiliations.find(type);
    if (!entity || !access || it == m_affiliations.end())
        return false;
    const RTTI_ClassInfo* classInfo = access->GetClassInfo(entity);
    if (!classInfo)
        return false;
    for (const RTTI_ClassInfo* admitted : it->second)
        if (admitted && classInfo->IsA(*admitted))
            return true;
    return false;
}

InstanceGroup* InstanceGroupManager::CreateNewGroup()
{
    CriticalSectionLock lock(m_lock);
    InstanceGroup* group =
        new InstanceGroup(m_affiliations.empty() ? std::string() : m_affiliations.begin()->first);
    group->SetName("New Group");
    m_groups.push_back(group);
    return group;
}

void InstanceGroupManager::DeleteGroup(int index)
{
    CriticalSectionLock lock(m_lock);
    if (index < 0 || index >= GetNumGroups())
        return;
    InstanceGroup* group = m_groups[static_cast<size_t>(index)];
    m_groups.erase(m_groups.begin() + index);
    for (InstanceGroup* other : m_groups)
        other->RemoveChild(group);
    delete group;
}

InstanceGroup* InstanceGroupManager::GetGroup(int index) const
{
    return index >= 0 && index < GetNumGroups() ? m_groups[static_cast<size_t>(index)] : nullptr;
}

InstanceGroup* InstanceGroupManager::GetGroup(const std::string& name) const
{
    for (InstanceGroup* group : m_groups)
        if (group->GetName() == name)
            return group;
    return nullptr;
}

InstanceGroup* InstanceGroupManager::GetGroup(const UniqueId& groupId) const
{
    for (InstanceGroup* group : m_groups)
        if (group->GetGroupID() == groupId)
            return group;
    return nullptr;
}

void InstanceGroupManager::GetGroupsOfType(const std::string& type, std::vector<int>& indices) const
{
    for (size_t i = 0; i < m_groups.size(); ++i)
        if (m_groups[i]->GetType() == type)
            indices.push_back(static_cast<int>(i));
}

void InstanceGroupManager::GetGroupsThatContain(const UniqueId& entityId, std::vector<int>& indices) const
{
    for (size_t i = 0; i < m_groups.size(); ++i)
        if (m_groups[i]->ListContains(entityId))
            indices.push_back(static_cast<int>(i));
}

InstanceGroup::EntityData* InstanceGroupManager::GetEntityData(const UniqueId& entityId) const
{
    for (InstanceGroup* group : m_groups)
        if (InstanceGroup::EntityData* data = group->GetEntityData(entityId))
            return data;
    return nullptr;
}

void InstanceGroupManager::UpdateEntityData(Entity* entity)
{
    WorldEntityAccess* access = WorldEntityAccess::Get();
    if (!entity || !access)
        return;
    const UniqueId id = access->GetUniqueId(entity);
    for (InstanceGroup* group : m_groups)
        if (group->ListContains(id))
            group->UpdateEntityData(entity);
}

void InstanceGroupManager::DisavowAllKnowledge(Entity* entity)
{
    WorldEntityAccess* access = WorldEntityAccess::Get();
    if (!entity || !access)
        return;
    const UniqueId id = access->GetUniqueId(entity);
    if (id.IsNull())
        return;
    for (InstanceGroup* group : m_groups)
        group->RemoveID(id);
}

int InstanceGroupManager::WorldGroupSelection(const WorldRay& ray) const
{
    if (!ray.GetRegion())
        return -1;
    const float length = ray.direction.Length();
    if (!(length > 0.0f))
        return -1;
    const Vec3 direction = ray.direction / length;
    for (size_t i = 0; i < m_groups.size(); ++i) {
        const WorldVec3& center = m_groups[i]->GetCenter();
        Region* region = center.GetRegion();
        if (!region)
            continue;
        const Ray local(region->GetRelativePosition(ray.origin), direction);
        if (Sphere(center.GetRegionPosition(), 0.5f).IntersectRay(local) < gInfinity)
            return static_cast<int>(i);
    }
    return -1;
}

void InstanceGroupManager::ForgetCenters()
{
    for (InstanceGroup* group : m_groups)
        group->ForgetCenter();
}

void InstanceGroupManager::Save(ChunkedBinaryWriter& writer) const
{
    writer.WriteUInt32(0);
    writer.WriteUInt32(static_cast<uint32_t>(m_groups.size()));
    for (const InstanceGroup* group : m_groups)
        group->Save(writer);
}

bool InstanceGroupManager::Load(BinaryReader& reader, bool append)
{
    CriticalSectionLock lock(m_lock);
    reader.ReadUInt32(); // manager version: one layout so far
    const uint32_t count = reader.ReadUInt32();
    std::vector<std::unique_ptr<InstanceGroup>> read;
    if (reader.CheckCount(count, 4, "instance groups")) {
        read.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            auto group = std::make_unique<InstanceGroup>("Temporary");
            if (!group->Load(reader))
                break;
            read.push_back(std::move(group));
        }
    }
    if (reader.Failed()) {
        LogPrintf(1, "InstanceGroupManager: the groups block is truncated or corrupt and was not loaded");
        return false;
    }
    if (!append)
        DeleteAllGroups();
    for (auto& group : read)
        m_groups.push_back(group.release());
    return true;
}

} // namespace GAME
