// Owns the resources of one kind: one Resource per file name, handed out with a reference
// count. Contents are loaded by the ResourceLoader; the manager unloads contents that have not
// been used for a while or when its memory budget is exceeded, and deletes resources that
// nobody has referenced for unreferencedDelay milliseconds. Subclasses create the resources
// (ResourceManager<T> does so for a kind T).
//
// Threads: every operation holds the manager's lock. Resources are deleted and unloaded by the
// manager only on the main thread (the sweeps, reloads and UnloadAllResources); LoadResource,
// UnloadResource and the memory figures may be used from any thread. The manager never waits
// for a resource while it holds its lock: a resource that is being loaded is left for a later
// sweep, and contents are unloaded and resources deleted after the lock is left, so a loading
// thread may ask the manager for other resources while it holds a resource's lock.
#pragma once

#include "core/CriticalSection.h"

#include <atomic>
#include <cstdio>
#include <list>
#include <string>
#include <unordered_map>

namespace GAME {

class Resource;
class ResourceLoader;

class BaseResourceManager
{
public:
    explicit BaseResourceManager(ResourceLoader* loader);
    // Deletes every resource (UnloadAllResources).
    virtual ~BaseResourceManager();
    BaseResourceManager(const BaseResourceManager&) = delete;
    BaseResourceManager& operator=(const BaseResourceManager&) = delete;

    virtual Resource* CreateResource(const std::string& fileName) = 0;
    // The resource of the name (made on the first call, not yet loaded), with one more reference.
    // Names are compared exactly. Null only when the resource could not be made.
    virtual Resource* LoadResource(const std::string& fileName);
    // Unloads every loaded resource not used in the last frames when usage exceeds the budget.
    virtual void MaintainBudget();

    // Gives back one reference; at 0 the resource leaves the loader's queue and starts its wait
    // for deletion.
    void UnloadResource(const Resource* resource);
    // Queues a resource that is not loaded yet, at priority 1 with its dependents.
    void PreLoadResource(Resource* resource);
    void EnablePreLoading(bool enable);
    void SetMemoryBudget(unsigned int bytes) { m_memoryBudget.store(bytes, std::memory_order_relaxed); }
    unsigned int GetMemoryBudget() const { return m_memoryBudget.load(std::memory_order_relaxed); }
    unsigned int GetMemoryUsage() const { return m_memoryUsage.load(std::memory_order_relaxed); }
    // Kept by the resource kinds as they make and free contents; never below 0.
    void IncrementMemoryUsage(unsigned int bytes);
    void DecrementMemoryUsage(unsigned int bytes);
    void SetUnreferencedDelay(int milliseconds) { m_unreferencedDelay.store(milliseconds); }
    int GetUnreferencedDelay() const { return m_unreferencedDelay.load(); }
    ResourceLoader* GetResourceLoader() const { return m_loader; }

    // Unloads the contents so that the next use reads the file again; false for an unknown name.
    bool ReloadResource(const std::string& fileName);
    void ReloadAllResources();
    // Deletes resources unreferenced for more than unreferencedDelay ms (machine clock).
    void UnloadUnreferencedResources();
    // Unloads the contents of loaded resources unused for more than the given number of frames.
    void EvictOldResources(int frames);
    // Unloads, then deletes every resource; true when some were still referenced (each is
    // reported). For shut-down: nothing may queue or load this manager's resources meanwhile.
    bool UnloadAllResources();
    void ListLoadedResources();
    void WriteResourceLog(const char* title, FILE* file);

    // -1 for a name without an entry.
    int GetReferenceCount(const std::string& fileName);
    size_t GetNumResources();
    size_t GetNumUnreferenced();

private:
    struct Entry
    {
        int referenceCount = 0;
        int releaseTime = 0;
        Resource* resource = nullptr;
        bool unreferenced = false;
        std::list<Entry*>::iterator position;
    };

    std::atomic<unsigned int> m_memoryBudget{52428800};
    std::atomic<unsigned int> m_memoryUsage{0};
    std::atomic<int> m_unreferencedDelay{5000};
    ResourceLoader* m_loader;
    std::unordered_map<std::string, Entry> m_entries;
    // Entries whose count dropped to 0, oldest first.
    std::list<Entry*> m_unreferenced;
    std::atomic<bool> m_preLoadingEnabled{true};
    CriticalSection m_lock;
};

} // namespace GAME
