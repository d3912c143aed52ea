#include "data/ResourceLoader.h"

#include "core/Log.h"
#include "core/Thread.h"
#include "core/Time.h"
#include "data/EngineDataServices.h"
#include "data/FileSystem.h"
#include "data/Resource.h"
#include "data/ResourceLoaderThread.h"
#include "platform/Threading.h"

#include <string>
#include <vector>

namespace GAME {

namespace {
constexpr unsigned int kHighWorkLoadThreshold = 20; // more than this many queue-1 requests
constexpr int kMaxListedNames = 30;
} // namespace

ResourceLoader::ResourceLoader() : m_thread(new ResourceLoaderThread(this)) {}

ResourceLoader::~ResourceLoader()
{
    if (m_threadRunning.load())
        StopThread();
    delete m_thread;
    m_thread = nullptr;
    PurgeAllResources();
}

void ResourceLoader::EnableSingleProcessorMode(bool enable)
{
    m_singleProcessorMode.store(enable, std::memory_order_relaxed);
    CriticalSectionLock lock(m_queueLock);
    ApplyThreadPriority();
}

void ResourceLoader::EnableDebugging(bool enable)
{
    m_debugging.store(enable, std::memory_order_relaxed);
}

void ResourceLoader::StartThread()
{
    if (m_threadRunning.load())
        return;
    m_thread->ClearStop();
    if (!m_thread->Start()) {
        // Without the thread, requests are served by the callers' synchronous loads.
        LogPrintf(1, "Could not start the resource loader thread.");
        return;
    }
    m_threadRunning.store(true);
    CriticalSectionLock lock(m_queueLock);
    ApplyThreadPriority();
}

void ResourceLoader::StopThread()
{
    m_thread->RequestStop();
    m_thread->Wait();
    m_threadRunning.store(false);
}

// ---- queues ----

void ResourceLoader::Unlink(LoadRequest* entry)
{
    const int q = entry->queue;
    if (entry->previous)
        entry->previous->next = entry->next;
    else
        m_queueHead[q] = entry->next;
    if (entry->next)
        entry->next->previous = entry->previous;
    else
        m_queueTail[q] = entry->previous;
    entry->previous = entry->next = nullptr;
    --m_queueCounts[q];
    entry->resource->m_queueEntry.store(nullptr, std::memory_order_release);
}

void ResourceLoader::EnqueueResource(Resource* resource, ResourcePriority priority, bool preloadDependents)
{
    if (!resource)
        return;
    const int q = priority == RESOURCE_PRIORITY_HIGH ? 1 : 0;
    switch (resource->GetLoadedState()) {
    case Resource::LOAD_STATE_NOT_LOADED: {
        CriticalSectionLock lock(m_queueLock);
        // Checked again under the lock: a load may have finished since.
        if (resource->GetLoadedState() == Resource::LOAD_STATE_NOT_LOADED) {
            LoadRequest* entry = resource->m_queueEntry.load(std::memory_order_relaxed);
            if (!entry) {
                entry = new LoadRequest;
                entry->enqueueTime = GetMachineTime();
                entry->enqueueFrame = EngineDataServices::FrameCount();
                entry->preloadDependents = preloadDependents;
                entry->resource = resource;
                entry->queue = q;
                entry->sequence = q == 1 ? ++m_lastSequence : 0;
                entry->previous = m_queueTail[q];
                if (m_queueTail[q])
                    m_queueTail[q]->next = entry;
                else
                    m_queueHead[q] = entry;
                m_queueTail[q] = entry;
                ++m_queueCounts[q];
                resource->m_queueEntry.store(entry, std::memory_order_release);
            } else if (preloadDependents) {
                entry->preloadDependents = true;
            }
        }
        m_wakeEvent.SetSignaled();
        UpdateWorkLoad();
        break;
    }
    case Resource::LOAD_STATE_LOADED:
        resource->MarkAsUsed();
        if (preloadDependents)
            resource->PreLoadDependentResources();
        break;
    case Resource::LOAD_STATE_LOADING:
        break;
    }
}

LoadRequest* ResourceLoader::TakeNextRequest()
{
    LoadRequest* entry = m_queueHead[1] ? m_queueHead[1] : m_queueHead[0];
    if (entry)
        Unlink(entry);
    return entry;
}

void ResourceLoader::PurgeResource(Resource* resource)
{
    if (!resource)
        return;
    CriticalSectionLock lock(m_queueLock);
    if (LoadRequest* entry = resource->m_queueEntry.load(std::memory_order_relaxed)) {
        Unlink(entry);
        delete entry;
        // Purging the last requests must not leave the main thread sleeping for a work load.
        UpdateWorkLoad();
    }
}

void ResourceLoader::PurgeAllResources()
{
    CriticalSectionLock lock(m_queueLock);
    for (int q = 0; q < 2; ++q)
        while (LoadRequest* entry = m_queueHead[q]) {
            Unlink(entry);
            delete entry;
        }
    UpdateWorkLoad();
}

bool ResourceLoader::DetachResource(Resource* resource, bool wait)
{
    if (!resource)
        return true;
    for (;;) {
        bool syncLoad = false;
        {
            CriticalSectionLock lock(m_queueLock);
            if (LoadRequest* entry = resource->m_queueEntry.load(std::memory_order_relaxed)) {
                Unlink(entry);
                delete entry;
            }
            const bool inFlight = m_inFlight.load(std::memory_order_acquire) == resource;
            syncLoad = !inFlight && resource->GetLoadedState() == Resource::LOAD_STATE_LOADING;
            if (!inFlight && !syncLoad)
                return true;
            if (!wait)
                return false;
        }
        if (syncLoad) {
            // Another thread loads it synchronously and holds its lock until done.
            resource->Lock();
            resource->Unlock();
            continue;
        }
        std::unique_lock<std::mutex> lock(m_inFlightMutex);
        m_inFlightDone.wait(lock, [&] { return m_inFlight.load(std::memory_order_acquire) != resource; });
    }
}

unsigned int ResourceLoader::GetQueueCount(ResourcePriority priority)
{
    CriticalSectionLock lock(m_queueLock);
    return m_queueCounts[priority == RESOURCE_PRIORITY_HIGH ? 1 : 0];
}

unsigned int ResourceLoader::GetLoadedCount()
{
    CriticalSectionLock lock(m_queueLock);
    return m_loadedCount;
}

unsigned int ResourceLoader::GetTotalLoadTime()
{
    CriticalSectionLock lock(m_queueLock);
    return m_totalLoadTime;
}

// ---- work load ----

void ResourceLoader::UpdateWorkLoad()
{
    int load = WORK_LOAD_NONE;
    if (m_queueCounts[1] > kHighWorkLoadThreshold)
        load = WORK_LOAD_HIGH;
    else if (m_queueCounts[0] || m_queueCounts[1])
        load = WORK_LOAD_LOW;
    if (load != m_workLoad.load(std::memory_order_relaxed)) {
        m_workLoad.store(load, std::memory_order_relaxed);
        ApplyThreadPriority();
    }
}

void ResourceLoader::ApplyThreadPriority()
{
    int level = Thread::PRIORITY_NORMAL;
    if (GetSingleProcessorMode()) {
        const int load = m_workLoad.load(std::memory_order_relaxed);
        level = load == WORK_LOAD_NONE   ? Thread::PRIORITY_LOWEST
                : load == WORK_LOAD_HIGH ? Thread::PRIORITY_ABOVE_NORMAL
                                         : Thread::PRIORITY_NORMAL;
    }
    m_priorityLevel.store(level, std::memory_order_relaxed);
    if (m_threadRunning.load())
        m_thread->SetPriority(level);
}

// ---- loading ----

bool ResourceLoader::ProcessNextRequest()
{
    Resource* resource = nullptr;
    int enqueueTime = 0;
    bool preloadDependents = false;
    {
        CriticalSectionLock lock(m_queueLock);
        if (LoadRequest* entry = TakeNextRequest()) {
            resource = entry->resource;
            enqueueTime = entry->enqueueTime;
            preloadDependents = entry->preloadDependents;
            m_inFlightSequence = entry->sequence;
            m_inFlight.store(resource, std::memory_order_release);
            delete entry;
        }
    }
    // The resource's lock is taken only after queueLock is left: a thread that loads the resource
    // synchronously may queue its dependents while it holds that lock.
    if (resource) {
        resource->Lock();
        if (resource->GetLoadedState() != Resource::LOAD_STATE_LOADED) {
            LoadAndInitialize(resource, enqueueTime);
            if (preloadDependents)
                resource->PreLoadDependentResources();
        }
        resource->Unlock();
        FinishInFlight();
    }
    PruneMarkers();
    return resource != nullptr;
}

void ResourceLoader::FinishInFlight()
{
    {
        CriticalSectionLock lock(m_queueLock);
        std::lock_guard<std::mutex> guard(m_inFlightMutex);
        m_inFlight.store(nullptr, std::memory_order_release);
        m_inFlightSequence = 0;
        UpdateWorkLoad();
    }
    m_inFlightDone.notify_all();
}

void ResourceLoader::LoadResource(Resource* resource)
{
    if (!resource || resource->GetIsLoaded())
        return;
    int enqueueTime = 0;
    if (GetDebugging() && IsMainThread()) {
        {
            CriticalSectionLock lock(m_queueLock);
            if (LoadRequest* entry = resource->m_queueEntry.load(std::memory_order_relaxed)) {
                LogPrintf(2, "Resource '%s' loaded in main thread while in queue %d", resource->GetFileName(),
                          entry->queue);
                enqueueTime = entry->enqueueTime;
            }
        }
        LogPrintf(1, "Resource '%s' loaded from the main thread", resource->GetFileName());
    }
    PurgeResource(resource);
    resource->Lock();
    LoadAndInitialize(resource, enqueueTime);
    resource->Unlock();
}

void ResourceLoader::UnloadResource(Resource* resource)
{
    if (!resource)
        return;
    if (GetDebugging())
        LogPrintf(0, "Unloading resource '%s'", resource->GetFileName());
    resource->Unload();
}

void ResourceLoader::LoadAndInitialize(Resource* resource, int enqueueTime)
{
    if (resource->GetLoadedState() == Resource::LOAD_STATE_LOADED)
        return;
    resource->SetLoadedState(Resource::LOAD_STATE_LOADING);
    const int t0 = GetMachineTime();
    const char* name = resource->GetFileName();

    FileSystem* files = EngineDataServices::Files();
    File* file = files ? files->OpenFile(name, FILE_MODE_READ) : nullptr;
    if (!file) {
        LogPrintf(1, "Couldn't load resource '%s' (file not found)", name);
        resource->InitializeDefault();
    } else {
        const int size = resource->GetLoadSize(file);
        const void* data = nullptr;
        if (size > 0)
            data = file->Lock(0, static_cast<unsigned int>(size));
        Resource::InitResult result;
        if (size < 0 || (size > 0 && !data)) {
            // The bytes could not be reached; worth another try later.
            LogPrintf(1, "Couldn't read resource '%s'", name);
            result = Resource::INIT_FAILED;
        } else {
            result = resource->Initialize(data, size);
        }
        resource->SetInitResult(result);
        switch (result) {
        case Resource::INIT_SUCCESS:
            break;
        case Resource::INIT_PARTIAL:
            LogPrintf(1, "Couldn't fully initialize resource '%s'", name);
            break;
        case Resource::INIT_OUT_OF_MEMORY:
            LogPrintf(1, "Couldn't initialize resource '%s'  (out of memory)", name);
            resource->InitializeDefault();
            break;
        case Resource::INIT_FAILED:
            resource->InitializeDefault();
            break;
        default:
            LogPrintf(1, "Couldn't initialize resource '%s'  (invalid data)", name);
            resource->InitializeDefault();
            break;
        }
        if (data)
            file->Unlock();
        files->CloseFile(file);
    }

    const int t1 = GetMachineTime();
    // A failed resource counts as loaded, with its default contents and its result kept.
    resource->SetLoadedState(Resource::LOAD_STATE_LOADED);
    if (GetDebugging()) {
        if (enqueueTime != 0)
            LogPrintf(0, "Resource '%s' took %d ms to load and initialize (%d ms since entering queue)", name,
                      t1 - t0, GetMachineTime() - enqueueTime);
        else
            LogPrintf(0, "Resource '%s' took %d ms to load and initialize", name, t1 - t0);
    }
    CriticalSectionLock lock(m_queueLock);
    ++m_loadedCount;
    m_totalLoadTime += static_cast<unsigned int>(t1 - t0);
}

// ---- markers ----

unsigned int ResourceLoader::CreateMarker()
{
    CriticalSectionLock markerLock(m_markerLock);
    CriticalSectionLock queueLock(m_queueLock);
    ++m_lastMarker;
    // The marker waits for every queue-1 request made so far; when none is left it is past at once.
    if (!IsMarkerThresholdPast(m_lastSequence))
        m_markers[m_lastMarker] = m_lastSequence;
    return m_lastMarker;
}

// Under queueLock. Queue 1 keeps its requests in sequence order, so its front is the oldest.
bool ResourceLoader::IsMarkerThresholdPast(uint64_t threshold) const
{
    if (m_queueHead[1] && m_queueHead[1]->sequence <= threshold)
        return false;
    return m_inFlightSequence == 0 || m_inFlightSequence > threshold;
}

bool ResourceLoader::GetHasMarkerPast(unsigned int marker)
{
    CriticalSectionLock markerLock(m_markerLock);
    auto it = m_markers.find(marker);
    if (it == m_markers.end())
        return true;
    CriticalSectionLock queueLock(m_queueLock);
    if (!IsMarkerThresholdPast(it->second))
        return false;
    m_markers.erase(it);
    return true;
}

void ResourceLoader::PruneMarkers()
{
    CriticalSectionLock markerLock(m_markerLock);
    CriticalSectionLock queueLock(m_queueLock);
    // Later markers wait for at least as much as earlier ones.
    while (!m_markers.empty() && IsMarkerThresholdPast(m_markers.begin()->second))
        m_markers.erase(m_markers.begin());
}

// ---- statistics ----

void ResourceLoader::Update()
{
    const bool debugging = GetDebugging();
    const int load = GetWorkLoad();
    if (debugging) {
        static const char* const kLoadTexts[3] = {"Resource loader no work load",
                                                  "Resource loader low work load",
                                                  "Resource loader high work load"};
        EngineDataServices::StatisticText(kLoadTexts[load]);
    }
    if (GetSingleProcessorMode() && m_threadRunning.load()) {
        if (load == WORK_LOAD_HIGH)
            Platform::SleepMilliseconds(20);
        else if (load == WORK_LOAD_LOW)
            Platform::SleepMilliseconds(10);
    }
    if (!debugging) {
        if (EngineDataServices::GraphicsStatsEnabled()) {
            unsigned int total;
            {
                CriticalSectionLock lock(m_queueLock);
                total = m_queueCounts[0] + m_queueCounts[1];
            }
            if (total != 0)
                EngineDataServices::StatisticText(
                    FormatString("%d resources in queue", static_cast<int>(total)).c_str());
        }
        return;
    }

    std::vector<std::string> lines;
    {
        CriticalSectionLock lock(m_queueLock);
        if (m_loadedCount != 0)
            lines.push_back(FormatString("%d ms average resource loading time (%d resources)",
                                         static_cast<int>(m_totalLoadTime / m_loadedCount),
                                         static_cast<int>(m_loadedCount)));
        const int now = GetMachineTime();
        int listed = 0;
        for (int q = 1; q >= 0; --q) {
            if (!m_queueHead[q])
                continue;
            lines.push_back(FormatString("%d resources in the loading queue %d (%d ms since entering queue)",
                                         static_cast<int>(m_queueCounts[q]), q,
                                         now - m_queueHead[q]->enqueueTime));
            for (LoadRequest* entry = m_queueHead[q]; entry && listed < kMaxListedNames;
                 entry = entry->next, ++listed)
                lines.push_back(FormatString(q == 1 ? "+%s" : "-%s", entry->resource->GetFileName()));
        }
    }
    // Handed on outside the lock: the statistics display belongs to the engine.
    for (const std::string& line : lines)
        EngineDataServices::StatisticText(line.c_str());
}

} // namespace GAME
