#include "network/SmartObjectId.h"

#include "core/Log.h"
#include "core/ObjectManager.h"
#include "network/NetPacketBuffer.h"
#include "network/NetworkControllerBase.h"
#include "network/NetworkEntityList.h"
#include "network/NetworkWorldServices.h"
#include "network/ObjectInteractionPacket.h"

namespace GAME {

namespace {

// A pending entity that does not join the world goes back to the object manager, unless the
// world already queued it (an entity that asks to be deleted on entering an unloaded level).
void DiscardPending(Entity* entity)
{
    NetworkWorldServices& world = NetworkWorldServices::Current();
    ObjectManager* manager = ObjectManager::Get();
    if (entity && !world.IsInWorld(entity) && !manager->IsObjectOnDeletedList(world.AsObject(entity)))
        manager->DestroyObjectEx(world.AsObject(entity), __FILE__, __LINE__);
}

} // namespace

SmartObjectId::SmartObjectId(ObjectInteractionPacket* packet)
{
    if (packet)
        packet->RegisterId(this);
}

void SmartObjectId::FinishReplication()
{
    if (!m_marked || (!m_pending && m_result)) {
        m_result = false;
        m_pending = nullptr;
        return;
    }
    Entity* entity = m_pending;
    m_pending = nullptr;
    // A packet that failed to make the object (with or without an entity to throw away).
    if (!m_result) {
        if (NetworkControllerBase* controller = NetworkWorldServices::Current().GetNetworkController())
            controller->OnReplicationFailed(m_id);
        LogPrintf(1, "SmartObjectId Spawn failed, unable to add actor to world.");
        if (entity)
            DiscardPending(entity);
        return;
    }
    NetworkWorldServices& world = NetworkWorldServices::Current();
    Object* object = world.AsObject(entity);
    ObjectManager* manager = ObjectManager::Get();
    if (Object* existing = manager->GetObject(m_id)) {
        LogPrintf(1, "SmartObjectId Spawn failed, actor with this ID already exists");
        LogPrintf(2, "Id: %d (0x%x).", static_cast<int>(m_id), m_id);
        LogPrintf(1, "    Entity attempting to be spawned: %s", object->GetObjectName().c_str());
        LogPrintf(1, "    Existing actor: %s", existing->GetObjectName().c_str());
        manager->DestroyObjectEx(object, __FILE__, __LINE__);
        m_result = false;
        return;
    }
    manager->FinishCreateObjectFromFilePartial(object, m_id);
    world.ApplyReplicationData(entity);
    const bool added = world.AddToWorld(entity, m_coords);
    if (added) {
        m_result = true;
        if (m_hasVelocity)
            world.SetSpawnVelocity(entity, m_velocity);
        if (NetworkEntityList* list = world.GetNetworkEntityList()) {
            const int host = static_cast<int>(m_id >> ObjectManager::kHostShift);
            list->AddClient(host); // false when it exists already
            if (NetworkEntityList::Client* client = list->GetClient(host))
                client->entities[object->GetObjectId()] = NetworkEntityList::entityPresent;
        }
    } else {
        m_result = false;
        LogPrintf(1, "SmartObjectId: Unable to add spawned object (%s, id: %d) to the world.",
                  object->GetObjectName().c_str(), static_cast<int>(m_id));
    }
    LogPrintf(0, "*** Creating entity %d (%s) in SmartObjectId deserializer.", static_cast<int>(m_id),
              object->GetObjectName().c_str());
    if (!added)
        DiscardPending(entity);
}

void SmartObjectId::Write(NetPacketOutBuffer& buffer)
{
    uint32_t id = m_id;
    buffer.Add(&id);
    NetworkWorldServices& world = NetworkWorldServices::Current();
    Object* object = m_marked ? ObjectManager::Get()->GetObject(m_id) : nullptr;
    Entity* entity = object ? world.AsEntity(object) : nullptr;
    bool spawn = entity != nullptr;
    buffer.Add(&spawn);
    if (!spawn)
        return;
    std::string record = object->GetObjectName();
    buffer.Add(&record);
    const WorldCoords coords = m_coords.GetRegion() ? m_coords : world.GetCoords(entity);
    Vec3 axes[4] = {coords.GetXAxis(), coords.GetYAxis(), coords.GetZAxis(),
                    coords.GetOrigin().GetRegionPosition()};
    for (Vec3& axis : axes)
        buffer.Add(&axis);
    const RegionId region = coords.GetRegion() ? world.GetIdOfRegion(coords.GetRegion()) : RegionId();
    for (int i = 0; i < 4; ++i) {
        uint32_t word = region.GetWord(i);
        buffer.Add(&word);
    }
    bool hasVelocity = m_hasVelocity;
    buffer.Add(&hasVelocity);
    if (hasVelocity) {
        Vec3 velocity = m_velocity;
        buffer.Add(&velocity);
    }
    NetPacketOutBuffer data;
    world.WriteReplicationData(entity, data);
    buffer.AddBytes(data.GetData().data(), data.GetSize());
}

void SmartObjectId::Read(NetPacketInBuffer& buffer)
{
    uint32_t id = 0;
    bool spawn = false;
    buffer.Remove(&id);
    buffer.Remove(&spawn);
    m_id = id;
    m_marked = false;
    m_result = true;
    m_hasVelocity = false;
    m_recordName.clear();
    m_replicationData.clear();
    if (id == 0 && !IsNullAllowed())
        buffer.Fail();
    if (!spawn || buffer.Failed())
        return;
    buffer.Remove(&m_recordName, maxRecordNameLength);
    Vec3 axes[4];
    for (Vec3& axis : axes)
        buffer.Remove(&axis);
    RegionId regionId;
    for (int i = 0; i < 4; ++i) {
        uint32_t word = 0;
        buffer.Remove(&word);
        regionId.SetWord(i, word);
    }
    buffer.Remove(&m_hasVelocity);
    if (m_hasVelocity)
        buffer.Remove(&m_velocity);
    buffer.RemoveBytes(&m_replicationData, maxReplicationDataSize);
    bool finite = IsFiniteVec3(m_velocity);
    for (const Vec3& axis : axes)
        finite = finite && IsFiniteVec3(axis);
    if (!finite || m_recordName.empty())
        buffer.Fail();
    if (buffer.Failed())
        return;
    Region* region = nullptr;
    if (!regionId.IsInvalid())
        region = NetworkWorldServices::Current().FindRegion(regionId, false);
    m_coords = WorldCoords(WorldVec3(region, axes[3]), axes[0], axes[1], axes[2]);
    m_marked = true;
}

void SmartObjectId::PreparePendingEntity()
{
    if (!m_marked || m_pending || m_recordName.empty())
        return;
    ObjectManager* manager = ObjectManager::Get();
    if (manager->GetObject(m_id)) {
        m_marked = false; // already here: nothing to spawn
        return;
    }
    NetworkWorldServices& world = NetworkWorldServices::Current();
    Object* object = manager->CreateObjectFromFilePartial(m_recordName);
    Entity* entity = object ? world.AsEntity(object) : nullptr;
    if (!entity) {
        LogPrintf(1, "SmartObjectId: record '%s' (id %u) does not make an entity", m_recordName.c_str(),
                  m_id);
        if (object)
            manager->DestroyObjectEx(object, __FILE__, __LINE__);
        m_result = false;
        return;
    }
    NetPacketInBuffer data(m_replicationData);
    world.ReadReplicationData(entity, data);
    if (data.Failed()) {
        LogPrintf(1, "SmartObjectId: replication data of '%s' (id %u) is unreadable", m_recordName.c_str(),
                  m_id);
        m_result = false;
    }
    m_pending = entity;
}

SmartObjectIdList::~SmartObjectIdList()
{
    for (SmartObjectId* id : m_ids) {
        if (m_parent)
            m_parent->UnregisterId(id);
        delete id;
    }
}

SmartObjectId* SmartObjectIdList::CreateId()
{
    return new SmartObjectId(m_parent);
}

void SmartObjectIdList::AddId(unsigned id)
{
    SmartObjectId* smart = CreateId();
    *smart = id;
    m_ids.push_back(smart);
}

void SmartObjectIdList::AddId(SmartObjectId* id)
{
    if (id)
        m_ids.push_back(id);
}

void SmartObjectIdList::AddIdList(const std::vector<unsigned>& ids)
{
    for (unsigned id : ids)
        AddId(id);
}

std::vector<unsigned> SmartObjectIdList::GetIdList() const
{
    std::vector<unsigned> out;
    out.reserve(m_ids.size());
    for (const SmartObjectId* id : m_ids)
        out.push_back(id->GetId());
    return out;
}

SmartObjectId* SmartObjectIdListNullable::CreateId()
{
    return new SmartObjectIdNullable(GetParent());
}

} // namespace GAME
