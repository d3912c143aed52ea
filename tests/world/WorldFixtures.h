// Shared helpers of the world tests: the engine's part (file system over a temporary folder, the
// sector data manager, the map chunk callback table), installed while it lives; and stand-in
// entities that instance groups can read through WorldEntityAccess.
#pragma once

#include "common/TempDir.h"
#include "core/EventManager.h"
#include "core/RTTI_ClassInfo.h"
#include "data/EngineDataServices.h"
#include "data/FileSystem.h"
#include "world/InstanceGroupManager.h"
#include "world/MapChunkCallback.h"
#include "world/Region.h"
#include "world/SectorDataManager.h"
#include "world/WorldEntityAccess.h"
#include "world/WorldServices.h"

#include <list>
#include <string>
#include <vector>

namespace GAME::Test {

class WorldTestServices : public EngineDataServices, public WorldServices
{
public:
    WorldTestServices()
    {
        files.AddSource(FileSystem::PARTITION_0, dir.Path().c_str(), true, false, false);
        EngineDataServices::Install(this);
        WorldServices::Install(this);
    }
    ~WorldTestServices() override
    {
        WorldServices::Install(nullptr);
        EngineDataServices::Install(nullptr);
        InstanceGroupManager::Destroy();
    }

    unsigned int GetFrameCount() override { return 1; }
    FileSystem* GetFileSystem() override { return &files; }
    void AddStatisticText(const char* text) override { stats.push_back(text); }
    unsigned int GetEngineLogCategory() override { return 0; }
    bool AreGraphicsStatsEnabled() override { return false; }

    SectorDataManager* GetSectorDataManager() override { return &sectorData; }
    bool IsEditorMode() override { return editor; }
    bool InstallMapChunkCallback(MapChunkCallback* callback) override { return callbacks.Install(callback); }
    const MapChunkCallbackMap& GetChunkCallbackMap() override { return callbacks; }

    std::string Bytes(const std::string& name) const { return dir.Read(name); }
    bool Put(const std::string& name, const std::vector<uint8_t>& bytes) const
    {
        return dir.Write(name, std::string(bytes.begin(), bytes.end()));
    }

    TempDir dir;
    FileSystem files;
    SectorDataManager sectorData;
    MapChunkCallbackMap callbacks;
    std::vector<std::string> stats;
    bool editor = false;
};

// An entity as instance groups see it; the pointer handed around is this object's address.
struct FakeEntity
{
    UniqueId id;
    Region* region = nullptr;
    Vec3 position;
    ABBox box; // in the region's space
    const RTTI_ClassInfo* classInfo = nullptr;

    Entity* AsEntity() { return reinterpret_cast<Entity*>(this); }
};

class FakeEntityAccess : public WorldEntityAccess
{
public:
    FakeEntityAccess() { Install(this); }
    ~FakeEntityAccess() override { Install(nullptr); }

    UniqueId GetUniqueId(const Entity* e) override { return Fake(e)->id; }
    Region* GetRegion(const Entity* e) override { return Fake(e)->region; }
    Vec3 GetRegionPosition(const Entity* e) override { return Fake(e)->position; }
    ABBox GetRegionBoundingBox(const Entity* e) override { return Fake(e)->box; }
    const RTTI_ClassInfo* GetClassInfo(const Entity* e) override { return Fake(e)->classInfo; }

private:
    static const FakeEntity* Fake(const Entity* e) { return reinterpret_cast<const FakeEntity*>(e); }
};

} // namespace GAME::Test

namespace GAME::Test {

// Records the names of the events it receives while registered.
class EventRecorder
{
public:
    explicit EventRecorder(std::vector<std::string> names) : m_names(std::move(names))
    {
        for (const std::string& name : m_names)
            EventManager::Get()->Register(name, &m_handlers.emplace_back(this, name));
    }
    ~EventRecorder()
    {
        for (Handler& handler : m_handlers)
            EventManager::Get()->UnRegister(handler.name, &handler);
    }
    EventRecorder(const EventRecorder&) = delete;
    EventRecorder& operator=(const EventRecorder&) = delete;

    std::vector<std::string> received;

private:
    struct Handler : EventHandlerInterface
    {
        Handler(EventRecorder* owner_, std::string name_) : owner(owner_), name(std::move(name_)) {}
        void HandleEvent(const GameEvent*) override { owner->received.push_back(name); }
        EventRecorder* owner;
        std::string name;
    };
    std::vector<std::string> m_names;
    std::list<Handler> m_handlers;
};

} // namespace GAME::Test
