#include "world/WorldServices.h"

#include "network/NetworkEntityList.h"
#include "world/Entity.h"

#include <atomic>

namespace GAME {

namespace {

std::atomic<WorldServices*> s_services{nullptr};

} // namespace

void WorldServices::Install(WorldServices* services)
{
    s_services.store(services, std::memory_order_release);
}

WorldServices* WorldServices::Get()
{
    return s_services.load(std::memory_order_acquire);
}

bool WorldServices::EditorMode()
{
    WorldServices* s = Get();
    return s && s->IsEditorMode();
}

bool WorldServices::NetworkServer()
{
    WorldServices* s = Get();
    return s && s->IsNetworkServer();
}

bool WorldServices::NetworkClient()
{
    WorldServices* s = Get();
    return s && s->IsNetworkClient();
}

float WorldServices::EntityUpdateInflation()
{
    WorldServices* s = Get();
    return s ? s->GetEntityUpdateInflation() : defaultEntityUpdateInflation;
}

const FilterFunction<Entity>* WorldServices::EntityRenderFilter()
{
    WorldServices* s = Get();
    return s ? s->GetEntityRenderFilter() : nullptr;
}

PhysicsEngine* WorldServices::Physics()
{
    WorldServices* s = Get();
    return s ? s->GetPhysicsEngine() : nullptr;
}

NetworkControllerBase* WorldServices::NetworkController()
{
    WorldServices* s = Get();
    return s ? s->GetNetworkController() : nullptr;
}

NetworkEntityList* WorldServices::EntityList()
{
    WorldServices* s = Get();
    return s ? s->GetNetworkEntityList() : nullptr;
}

namespace {

// Client hosts are the top four bits of object ids.
constexpr int kMaxHosts = 16;

} // namespace

bool WorldServices::IsEntityOnClients(const Entity* entity)
{
    NetworkEntityList* list = EntityList();
    if (!list || !entity)
        return false;
    for (int host = 0; host < kMaxHosts; ++host)
        if (NetworkEntityList::Client* client = list->GetClient(host))
            if (client->entities.count(entity->GetObjectId()))
                return true;
    return false;
}

void WorldServices::RemoveEntityFromAllClients(const Entity* entity)
{
    NetworkEntityList* list = EntityList();
    if (!list || !entity)
        return;
    for (int host = 0; host < kMaxHosts; ++host)
        if (NetworkEntityList::Client* client = list->GetClient(host))
            client->entities.erase(entity->GetObjectId());
}

} // namespace GAME
