#include "network/SmartObjectId.h"

#include "core/Log.h"
#include "core/ObjectManager.h"
#include "navigation/PhysicsEngine.h"
#include "network/NetworkControllerBase.h"
#include "network/NetworkEntityList.h"
#include "network/ObjectInteractionPacket.h"
#include "world/Entity.h"
#include "world/World.h"
#include "world/WorldServices.h"

namespace GAME {

namespace {

// A pending entity that does not join the world goes back to the object manager, unless the
// world already queued it (an entity that asks to be deleted on entering an unloaded level).
void DiscardPending(Entity* entity)
{
    ObjectManager* manager = ObjectManager::Get();
    if (entity && !entity->IsInWorld() && !manager->IsObjectOnDeletedList(entity))
        manager->DestroyObjectEx(entity, __FILE__, __LINE__);
}

} // namespace

SmartObjectId::SmartObjectId(ObjectInteractionPacket* packet)
{
    if (packet)
        packet->RegisterId(this);
}

void SmartObjectId::FinishReplication()
{
    if (!m_marked || !m_pending) {
        m_result = false;
        m_pending = nullptr;
        return;
    }
    Entity* entity = m_pending;
    m_pending = nullptr;
    if (!m_result) {
        if (NetworkControllerBase* controller = WorldServices::NetworkController())
            controller->OnReplicationFailed(m_id);
        LogPrintf(1, "SmartObjectId Spawn failed, unable to add actor to world.");
        DiscardPending(entity);
        return;
    }
    ObjectManager* manager = ObjectManager::Get();
    if (Object* existing = manager->GetObject(m_id)) {
        LogPrintf(1, "SmartObjectId Spawn failed, actor with this ID already exists");
        LogPrintf(2, "Id: %d (0x%x).", static_cast<int>(m_id), m_id);
        LogPrintf(1, "    Entity attempting to be spawned: %s", entity->GetObjectName().c_str());
        LogPrintf(1, "    Existing actor: %s", existing->GetObjectName().c_str());
        manager->DestroyObjectEx(entity, __FILE__, __LINE__);
        m_result = false;
        return;
    }
    manager->FinishCreateObjectFromFilePartial(entity, m_id);
    entity->ApplyReplicationData();
    World* world = World::GetCurrent();
    const bool added = world && world->AddEntity(entity, m_coords, false);
    if (added) {
        m_result = true;
        if (m_hasVelocity) {
            entity->SetPhysicsType(PHYSICS_TYPE_ACTOR);
            if (PhysicsEngine* physics = WorldServices::Physics())
                physics->SetEntityLinearVelocity(entity, m_velocity);
        }
        if (NetworkEntityList* list = WorldServices::EntityList()) {
            const int host = static_cast<int>(m_id >> ObjectManager::kHostShift);
            list->AddClient(host); // false when it exists already
            if (NetworkEntityList::Client* client = list->GetClient(host))
                client->entities[entity->GetObjectId()] = NetworkEntityList::entityPresent;
        }
    } else {
        m_result = false;
        LogPrintf(1, "SmartObjectId: Unable to add spawned object (%s, id: %d) to the world.",
                  entity->GetObjectName().c_str(), static_cast<int>(m_id));
    }
    LogPrintf(0, "*** Creating entity %d (%s) in SmartObjectId deserializer.", static_cast<int>(m_id),
              entity->GetObjectName().c_str());
    if (!added)
        DiscardPending(entity);
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
