#include "world/WorldServices.h"

#include "core/Log.h"
#include "network/NetworkEntityList.h"
#include "world/Entity.h"

#include <atomic>

namespace GAME {

namespace {
std::atomic<WorldServices*> g_services{nullptr};
std::atomic<bool> g_noSectorDataLogged{false};
} // namespace

void WorldServices::Install(WorldServices* services)
{
    g_services.store(services, std::memory_order_release);
    g_noSectorDataLogged.store(false, std::memory_order_relaxed);
}

WorldServices* WorldServices::Get()
{
    return g_services.load(std::memory_order_acquire);
}

SectorDataManager* WorldServices::SectorData()
{
    WorldServices* services = Get();
    SectorDataManager* manager = services ? services->GetSectorDataManager() : nullptr;
    if (!manager && !g_noSectorDataLogged.exchange(true))
        LogPrintf(1, "No engine sector data manager: sector data is neither read nor saved");
    return manager;
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

std::string WorldServices::SavePath()
{
    WorldServices* s = Get();
    return s ? s->GetSavePath() : std::string();
}

bool WorldServices::SingleProcessorMode()
{
    WorldServices* s = Get();
    return s && s->IsSingleProcessorMode();
}

RenderDevice* WorldServices::Device()
{
    WorldServices* s = Get();
    return s ? s->GetRenderDevice() : nullptr;
}

ResourceLoader* WorldServices::Loader()
{
    WorldServices* s = Get();
    return s ? s->GetResourceLoader() : nullptr;
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
