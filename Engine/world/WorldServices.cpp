#include "world/WorldServices.h"

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

} // namespace GAME
