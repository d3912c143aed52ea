#include "data/BaseResourceManager.h"

#include "core/Log.h"
#include "core/Time.h"
#include "data/EngineDataServices.h"
#include "data/Resource.h"
#include "data/ResourceLoader.h"

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <vector>

namespace GAME {

BaseResourceManager::BaseResourceManager(ResourceLoader* loader) : m_loader(loader)
{
    m_entries.reserve(100);
}

BaseResourceManager::~BaseResourceManager()
{
    UnloadAllResources();
}

Resource* BaseResourceManager::LoadResource(const std::string& fileName)
{
    CriticalSectionLock lock(m_lock);
    auto it = m_entries.find(fileName);
    if (it == m_entries.end()) {
        Resource* resource = CreateResource(fileName);
        if (!resource) {
            LogPrintf(1, "Couldn't create resource '%s'", fileName.c_str());
            return nullptr;
        }
        resource->SetResourceLoader(m_loader);
        Entry& entry = m_entries[fileName];
        entry.referenceCount = 1;
        entry.releaseTime = 0;
        entry.resource = resource;
        return resource;
    }
    Entry& entry = it->second;
    if (entry.unreferenced) {
        m_unreferenced.erase(entry.position);
        entry.unreferenced = false;
    }
    ++entry.referenceCount;
    return entry.resource;
}

void BaseResourceManager::UnloadResource(const Resource* resource)
{
    if (!resource)
        return;
    CriticalSectionLock lock(m_lock);
    auto it = m_entries.find(resource->GetFileNameString());
    if (it == m_entries.end() || it->second.resource != resource)
        return;
    Entry& entry = it->second;
    if (entry.referenceCount <= 0)
        return;
    if (--entry.referenceCount == 0) {
        entry.releaseTime = GetSystemTime();
        if (m_loader)
            m_loader->PurgeResource(entry.resource);
        entry.unreferenced = true;
        entry.position = m_unreferenced.insert(m_unreferenced.end(), &entry);
    }
}

void BaseResourceManager::PreLoadResource(Resource* resource)
{
    if (!m_preLoadingEnabled.load() || !resource || !m_loader || resource->GetIsNotUnloaded())
        return;
    m_loader->EnqueueResource(resource, RESOURCE_PRIORITY_HIGH, true);
}

void BaseResourceManager::EnablePreLoading(bool enable)
{
    m_preLoadingEnabled.store(enable);
}

void BaseResourceManager::IncrementMemoryUsage(unsigned int bytes)
{
    m_memoryUsage.fetch_add(bytes, std::memory_order_relaxed);
}

void BaseResourceManager::DecrementMemoryUsage(unsigned int bytes)
{
    unsigned int usage = m_memoryUsage.load(std::memory_order_relaxed);
    while (!m_memoryUsage.compare_exchange_weak(usage, usage > bytes ? usage - bytes : 0,
                                                std::memory_order_relaxed)) {
    }
}

bool BaseResourceManager::ReloadResource(const std::string& fileName)
{
    Resource* resource;
    {
        CriticalSectionLock lock(m_lock);
        auto it = m_entries.find(fileName);
        if (it == m_entries.end())
            return false;
        resource = it->second.resource;
    }
    if (m_loader)
        m_loader->UnloadResource(resource);
    return true;
}

void BaseResourceManager::ReloadAllResources()
{
    if (!m_loader)
        return;
    m_loader->PurgeAllResources();
    std::vector<Resource*> resources;
    {
        CriticalSectionLock lock(m_lock);
        for (auto& [name, entry] : m_entries)
            resources.push_back(entry.resource);
    }
    for (Resource* resource : resources)
        m_loader->UnloadResource(resource);
}

void BaseResourceManager::UnloadUnreferencedResources()
{
    std::vector<Resource*> expired;
    {
        CriticalSectionLock lock(m_lock);
        const int64_t now = GetMachineTime();
        const int64_t delay = m_unreferencedDelay.load();
        for (auto it = m_unreferenced.begin(); it != m_unreferenced.end();) {
            Entry* entry = *it;
            if (now - entry->releaseTime <= delay)
                break; // the rest were released later still
            // A resource that a thread is loading stays for a later sweep; nobody waits here.
            if (m_loader && !m_loader->DetachResource(entry->resource, false)) {
                ++it;
                continue;
            }
            it = m_unreferenced.erase(it);
            expired.push_back(entry->resource);
            m_entries.erase(entry->resource->GetFileNameString());
        }
    }
    // Deleted outside the lock: freeing contents may give back references to other resources of
    // this manager, and a loading thread may hold a resource's lock while it asks the manager.
    for (Resource* resource : expired)
        delete resource;
}

void BaseResourceManager::EvictOldResources(int frames)
{
    std::vector<Resource*> old;
    {
        CriticalSectionLock lock(m_lock);
        const unsigned int frame = EngineDataServices::FrameCount();
        for (auto& [name, entry] : m_entries) {
            Resource* resource = entry.resource;
            if (resource->GetLoadedState() != Resource::LOAD_STATE_LOADED)
                continue;
            if (static_cast<int64_t>(frame - resource->GetLastFrameUsed()) > frames)
                old.push_back(resource);
        }
    }
    // Unloading waits for the resource's lock, so it happens outside the manager's lock.
    for (Resource* resource : old)
        if (m_loader)
            m_loader->UnloadResource(resource);
        else
            resource->Unload();
}

void BaseResourceManager::MaintainBudget()
{
    const unsigned int usage = GetMemoryUsage();
    const unsigned int budget = GetMemoryBudget();
    if (usage <= budget)
        return;
    const double ratio = budget ? static_cast<double>(usage) / budget : 2.0;
    const int frames = std::max(1, static_cast<int>(1.0 - ratio * 95.0 + 5.0));
    EvictOldResources(frames);
}

bool BaseResourceManager::UnloadAllResources()
{
    bool referenced = false;
    std::vector<Resource*> resources;
    {
        CriticalSectionLock lock(m_lock);
        for (auto& [name, entry] : m_entries) {
            if (entry.referenceCount > 0) {
                LogPrintfCategory(2, EngineDataServices::EngineLogCategory(),
                                  "Resource not unloaded '%s' (%d references)", name.c_str(),
                                  entry.referenceCount);
                referenced = true;
            }
            resources.push_back(entry.resource);
        }
    }
    // Contents first, while every resource still exists: freeing one may give back references to
    // others of this manager. A load the loader thread runs is waited for without the lock.
    for (Resource* resource : resources) {
        if (m_loader)
            m_loader->DetachResource(resource, true);
        resource->Unload();
    }
    {
        CriticalSectionLock lock(m_lock);
        resources.clear();
        for (auto& [name, entry] : m_entries)
            resources.push_back(entry.resource);
        m_unreferenced.clear();
        m_entries.clear();
    }
    for (Resource* resource : resources) {
        if (m_loader)
            m_loader->DetachResource(resource, true);
        delete resource;
    }
    return referenced;
}

void BaseResourceManager::ListLoadedResources()
{
    CriticalSectionLock lock(m_lock);
    for (auto& [name, entry] : m_entries)
        LogPrintf(0, "Resource '%s' %s", name.c_str(), entry.resource->GetDebugInfo().c_str());
}

void BaseResourceManager::WriteResourceLog(const char* title, FILE* file)
{
    if (!file)
        return;
    CriticalSectionLock lock(m_lock);
    std::vector<std::tuple<std::string, int, std::string>> rows;
    rows.reserve(m_entries.size());
    for (auto& [name, entry] : m_entries)
        rows.emplace_back(name, entry.referenceCount, entry.resource->GetDebugInfo());
    std::sort(rows.begin(), rows.end());
    const std::string rule(59, '=');
    std::fprintf(file, "%s\r\n", rule.c_str());
    std::fprintf(file, "%s - %u \r\n", title ? title : "", static_cast<unsigned int>(rows.size()));
    std::fprintf(file, "%s\r\n", rule.c_str());
    for (const auto& [name, count, info] : rows)
        std::fprintf(file, "%2u references - '%s'  %s\r\n", static_cast<unsigned int>(count), name.c_str(),
                     info.c_str());
    std::fprintf(file, "\r\n\r\n");
}

int BaseResourceManager::GetReferenceCount(const std::string& fileName)
{
    CriticalSectionLock lock(m_lock);
    auto it = m_entries.find(fileName);
    return it == m_entries.end() ? -1 : it->second.referenceCount;
}

size_t BaseResourceManager::GetNumResources()
{
    CriticalSectionLock lock(m_lock);
    return m_entries.size();
}

size_t BaseResourceManager::GetNumUnreferenced()
{
    CriticalSectionLock lock(m_lock);
    return m_unreferenced.size();
}

} // namespace GAME
