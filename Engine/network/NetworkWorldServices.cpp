#include "network/NetworkWorldServices.h"

#include <atomic>

namespace GAME {

namespace {

std::atomic<NetworkWorldServices*> g_services{nullptr};

// The answers of a missing world.
class MissingWorld final : public NetworkWorldServices
{
public:
    RegionId GetIdOfRegion(const Region*) override { return RegionId(); }
    std::string GetRegionName(const Region*) override { return std::string(); }
    Region* FindRegion(const RegionId&, bool) override { return nullptr; }
    bool IsRegionLoaded(const Region*) override { return false; }
    bool FindEntityRecord(const std::string&, std::string&) override { return false; }
    Entity* AsEntity(Object*) override { return nullptr; }
    Object* AsObject(Entity*) override { return nullptr; }
    bool IsInWorld(const Entity*) override { return false; }
    WorldCoords GetCoords(const Entity*) override { return WorldCoords(); }
    void WriteReplicationData(Entity*, NetPacketOutBuffer&) override {}
    void ReadReplicationData(Entity*, NetPacketInBuffer&) override {}
    void ApplyReplicationData(Entity*) override {}
    bool AddToWorld(Entity*, const WorldCoords&) override { return false; }
    void SetSpawnVelocity(Entity*, const Vec3&) override {}
    NetworkControllerBase* GetNetworkController() override { return nullptr; }
    NetworkEntityList* GetNetworkEntityList() override { return nullptr; }
};

} // namespace

void NetworkWorldServices::Install(NetworkWorldServices* services)
{
    g_services.store(services, std::memory_order_release);
}

NetworkWorldServices* NetworkWorldServices::Get()
{
    return g_services.load(std::memory_order_acquire);
}

NetworkWorldServices& NetworkWorldServices::Current()
{
    // Never destroyed: packets may still be completed while the library's statics go.
    static MissingWorld* const missing = new MissingWorld;
    NetworkWorldServices* services = Get();
    return services ? *services : *missing;
}

} // namespace GAME
