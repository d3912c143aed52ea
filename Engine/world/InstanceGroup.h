// A named, typed set of the world's entities, kept by unique id, with links to other groups. Each
// member also remembers its region and position there, so the group knows where its members are
// while their levels are unloaded. Groups outlive levels; the InstanceGroupManager owns them.
// A plain value (copying copies every field). Main thread.
#pragma once

#include "core/UniqueId.h"
#include "core/Vec3.h"
#include "core/WorldVec3.h"
#include "data/RegionId.h"

#include <string>
#include <vector>

namespace GAME {

class BinaryReader;
class ChunkedBinaryWriter;
class Entity;
class Region;
class WorldPrimitiveDrawer;

class InstanceGroup
{
public:
    // Where a member was last placed: its region and its position in that region's space.
    struct EntityData
    {
        RegionId regionId;
        Vec3 position;
    };

    // The version Save writes.
    static constexpr uint32_t kVersion = 2;
    // A member's size in the groups block: its id, its region id and three floats.
    static constexpr unsigned kMemberSize = 16 + 16 + 12;

    // A fresh group id, empty name, no members, no children.
    explicit InstanceGroup(const std::string& type);
    virtual ~InstanceGroup() = default;
    InstanceGroup(const InstanceGroup&) = default;
    InstanceGroup& operator=(const InstanceGroup&) = default;

    const UniqueId& GetGroupID() const { return m_groupId; }
    const std::string& GetType() const { return m_type; }
    const char* GetTypeString() const { return m_type.c_str(); }
    // Also empties the members: they were chosen for the old type.
    void SetType(const std::string& type);
    const std::string& GetName() const { return m_name; }
    void SetName(const std::string& name) { m_name = name; }
    // No region until CalcCenter found a loaded member.
    const WorldVec3& GetCenter() const { return m_center; }
    // The centre loses its region (its region is about to be deleted).
    void ForgetCenter() { m_center = WorldVec3(); }

    // Adds the entity when its class suits the group's type and it is not a member yet; the centre
    // is computed again in every case.
    void AddEntity(Entity* entity);
    void RemoveEntity(Entity* entity);
    // Removes the member at the index (nothing outside the list); the centre stays.
    void RemoveEntity(int index);
    // Removes every member with the id and computes the centre again.
    void RemoveID(const UniqueId& id);
    bool ListContains(const UniqueId& id) const;
    void FillIdList(std::vector<UniqueId>& ids) const { ids = m_ids; }

    int GetNumID() const { return static_cast<int>(m_ids.size()); }
    // The null id outside the list.
    UniqueId GetID(int index) const;
    // Null when the id is not a member or the index is outside the list.
    EntityData* GetEntityData(const UniqueId& id);
    EntityData* GetEntityData(int index);

    // Swap the member with the one before (after) it; false at the ends of the list.
    bool MoveEntityUp(int index);
    bool MoveEntityDown(int index);

    // Links another group (once).
    void AddChild(const InstanceGroup* group);
    // Removes every link to the group.
    void RemoveChild(const InstanceGroup* group);
    int GetNumChildren() const { return static_cast<int>(m_children.size()); }
    // The null id outside the list.
    UniqueId GetChildId(int index) const;

    // When the entity is in a region, every member entry with its id takes its region and position.
    void UpdateEntityData(Entity* entity);
    // The average of the centres of the loaded members' own boxes, in the first one's region;
    // unchanged when no member is loaded.
    void CalcCenter();
    // Members' boxes, lines from them to the centre, a disc at the centre and arrows to the linked
    // groups, all relative to the region given.
    void Render(Region* region, WorldPrimitiveDrawer& drawer, bool selected);

    void Save(ChunkedBinaryWriter& writer) const;
    // Counts or strings past the end fail the reader (false); the group is then partly read and
    // the caller discards it.
    bool Load(BinaryReader& reader);

private:
    void AddMember(const UniqueId& id, const EntityData& data);

    UniqueId m_groupId;
    std::string m_type;
    std::string m_name;
    std::vector<UniqueId> m_ids;
    std::vector<EntityData> m_entityData;
    WorldVec3 m_center;
    std::vector<UniqueId> m_children;
};

} // namespace GAME
