// Shared helpers of the resource and localization tests: the engine services the data layer asks
// for over files in memory, a machine clock the test moves by hand (common/MemoryFiles.h), and a
// resource kind that records what the loader does to it.
#pragma once

#include "common/MemoryFiles.h"
#include "core/Event.h"
#include "core/Thread.h"
#include "data/BaseResourceManager.h"
#include "data/Resource.h"
#include "data/ResourceLoader.h"

#include <atomic>
#include <string>

namespace GAME::Test {

// The data layer's services of the resource tests (engine log category 7), installed for their
// lifetime over one memory source.
class TestServices : public MemoryDataServices
{
public:
    TestServices() : MemoryDataServices(7) {}
};

// Counts what happens to it. Its contents are the file's bytes; Initialize answers `result`.
class TestResource : public Resource
{
public:
    static inline std::atomic<int> live{0};
    static inline std::atomic<int> totalInitializes{0};
    static inline std::atomic<int> totalDestroys{0};

    TestResource(BaseResourceManager* manager, const std::string& name) : Resource(manager, name) { ++live; }
    ~TestResource() override
    {
        Unload();
        --live;
    }

    InitResult Initialize(const void* data, int size) override
    {
        ++initializes;
        ++totalInitializes;
        loadedOn = GetThreadName();
        if (gate) {
            entered.SetSignaled();
            gate->Wait();
        }
        contents.assign(static_cast<const char*>(data), static_cast<size_t>(size));
        if (GetResourceManager())
            GetResourceManager()->IncrementMemoryUsage(static_cast<unsigned int>(size));
        if (childName.size() && GetResourceManager())
            child = GetResourceManager()->LoadResource(childName);
        return static_cast<InitResult>(result.load());
    }
    void InitializeDefault() override { ++defaults; }
    void Destroy() override
    {
        ++destroys;
        ++totalDestroys;
        if (GetResourceManager()) {
            GetResourceManager()->DecrementMemoryUsage(static_cast<unsigned int>(contents.size()));
            GetResourceManager()->UnloadResource(child);
        }
        child = nullptr;
        contents.clear();
    }
    void PreLoadDependentResources() override
    {
        ++preloads;
        if (child && GetResourceLoader())
            GetResourceLoader()->EnqueueResource(child, RESOURCE_PRIORITY_HIGH, false);
    }
    std::string GetDebugInfo() const override { return debugInfo; }

    std::atomic<int> result{INIT_SUCCESS};
    std::atomic<int> initializes{0};
    std::atomic<int> defaults{0};
    std::atomic<int> destroys{0};
    std::atomic<int> preloads{0};
    Event* gate = nullptr;
    Event entered;
    std::string loadedOn;
    std::string contents;
    std::string debugInfo;
    // Taken as a reference while loaded, given back when the contents are freed.
    std::string childName;
    Resource* child = nullptr;
};

} // namespace GAME::Test
