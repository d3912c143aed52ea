// The world's instance groups and the group types the host defines (which entity classes each
// type admits). The world saves the groups in its source file and loads them from it or from a
// compiled map. One instance, made by Get on first use and deleted by Destroy. Owns its groups.
//
// Threads: creating, deleting and loading groups take the manager's lock; LockGroupList and
// UnlockGroupList let a caller hold it across several reads. Everything else is main thread.
#pragma once

#include "core/CriticalSection.h"
#include "core/Singleton.h"
#include "core/UniqueId.h"
#include "world/InstanceGroup.h"

#include <map>
#include <string>
#include <vector>

namespace GAME {

class BinaryReader;
class ChunkedBinaryWriter;
class Entity;
class RTTI_ClassInfo;
class WorldRay;

class InstanceGroupManager : public Singleton<InstanceGroupManager>
{
public:
    InstanceGroupManager() = default;
    ~InstanceGroupManager() override;

    void LockGroupList() { m_lock.Enter(); }
    void UnlockGroupList() { m_lock.Exit(); }

    // Lets groups of the type hold entities of the class or classes derived from it.
    void AddGroupAffiliation(const std::string& type, const RTTI_ClassInfo* classInfo);
    // Appends every type, in the manager's fixed (alphabetical) order.
    void GetGroupTypes(std::vector<std::string>& types) const;
    // The type's position in that order, or -1.
    int GetKeyIndex(const std::string& type) const;
    // True when the type is known and the entity's class is, or derives from, one of its classes.
    bool FilterEntity(const std::string& type, const Entity* entity) const;

    // A group named "New Group" of the first type (an empty type while none is registered).
    InstanceGroup* CreateNewGroup();
    // Deletes the group and every link to it; nothing outside the list.
    void DeleteGroup(int index);
    // Null outside the list.
    InstanceGroup* GetGroup(int index) const;
    InstanceGroup* GetGroup(const std::string& name) const;
    InstanceGroup* GetGroup(const UniqueId& groupId) const;
    int GetNumGroups() const { return static_cast<int>(m_groups.size()); }
    void GetGroupsOfType(const std::string& type, std::vector<int>& indices) const;
    void GetGroupsThatContain(const UniqueId& entityId, std::vector<int>& indices) const;

    // The member data of the entity in the first group that holds it, or null.
    InstanceGroup::EntityData* GetEntityData(const UniqueId& entityId) const;
    // Refreshes the entity's member data in every group that holds it (called whenever an entity
    // is placed).
    void UpdateEntityData(Entity* entity);
    // Takes the entity out of every group.
    void DisavowAllKnowledge(Entity* entity);
    // The first group whose centre has a region and whose 0.5-unit sphere about it the ray hits,
    // or -1.
    int WorldGroupSelection(const WorldRay& ray) const;
    // Every group's centre loses its region (the world calls it before deleting regions).
    void ForgetCenters();

    void Save(ChunkedBinaryWriter& writer) const;
    // Reads a groups block, replacing the groups (or appending to them). A corrupt block is refused
    // with a log line and the groups stay as they were.
    bool Load(BinaryReader& reader, bool append);

private:
    void DeleteAllGroups();

    std::map<std::string, std::vector<const RTTI_ClassInfo*>> m_affiliations;
    std::vector<InstanceGroup*> m_groups;
    CriticalSection m_lock;
};

} // namespace GAME
