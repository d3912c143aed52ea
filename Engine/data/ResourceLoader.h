// Loads resources: a background thread serving two request queues (queue 1 always before
// queue 0), synchronous loads on the calling thread, load statistics, and markers with which a
// caller learns when every queue-1 request made before the marker has been served.
// Owns its thread, the queue entries and the wake event. One loader per engine.
//
// Threads: the main thread queues, purges, loads synchronously, makes and tests markers and
// calls Update; the loader thread serves the queues; a resource being loaded may queue others
// (PreLoadDependentResources) from either thread. Locks: markerLock before queueLock. No thread
// waits for a resource's lock while it holds queueLock, so a resource's lock may be held while
// queueing (a load queueing its dependents).
#pragma once

#include "core/CriticalSection.h"
#include "core/Event.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>

namespace GAME {

class Resource;
class ResourceLoaderThread;

enum ResourcePriority
{
    RESOURCE_PRIORITY_LOW = 0,
    RESOURCE_PRIORITY_HIGH = 1,
};

// A queue entry. Small fixed-size node of an intrusive doubly linked list.
struct LoadRequest
{
    int enqueueTime = 0; // machine milliseconds
    unsigned int enqueueFrame = 0;
    bool preloadDependents = false;
    Resource* resource = nullptr;
    int queue = 0;         // the ResourcePriority of the queue that holds it
    uint64_t sequence = 0; // order of queue-1 requests, for the markers; 0 in queue 0
    LoadRequest* previous = nullptr;
    LoadRequest* next = nullptr;
};

class ResourceLoader
{
public:
    enum WorkLoad
    {
        WORK_LOAD_NONE = 0,
        WORK_LOAD_LOW = 1,
        WORK_LOAD_HIGH = 2,
    };

    ResourceLoader();
    // Stops a thread that still runs, then frees the queues. Resources still queued must exist;
    // every resource must be deleted before its loader (managers go first).
    virtual ~ResourceLoader();
    ResourceLoader(const ResourceLoader&) = delete;
    ResourceLoader& operator=(const ResourceLoader&) = delete;

    void EnableSingleProcessorMode(bool enable);
    void EnableDebugging(bool enable);
    bool GetSingleProcessorMode() const { return m_singleProcessorMode.load(std::memory_order_relaxed); }
    bool GetDebugging() const { return m_debugging.load(std::memory_order_relaxed); }

    // Starts the loader thread; a thread the system refuses is logged and the loader stays
    // without one.
    void StartThread();
    bool IsThreadRunning() const { return m_threadRunning.load(); }
    // Waits, without time-out, for the thread to finish the request it serves and end.
    void StopThread();

    void EnqueueResource(Resource* resource, ResourcePriority priority, bool preloadDependents);
    // Loads on the calling thread; waits instead when another thread is loading the resource.
    void LoadResource(Resource* resource);
    void UnloadResource(Resource* resource);
    void PurgeResource(Resource* resource);
    void PurgeAllResources();

    unsigned int CreateMarker();
    // True once every queue-1 request made before the marker has left the queue, whether it was
    // loaded, purged or loaded synchronously.
    bool GetHasMarkerPast(unsigned int marker);

    // Once per frame on the main thread: statistics lines and, in single-processor mode, a short
    // sleep that lets the loader thread work.
    void Update();

    // One step of the loader thread: takes the next request and loads it. True when a request
    // was taken. A host without the thread (and the tests) may drive the loader with it.
    bool ProcessNextRequest();

    // Before a resource is deleted: removes its queue entry. A resource that a thread is loading
    // cannot be released yet: with wait, the call waits for that load, otherwise it answers false.
    bool DetachResource(Resource* resource, bool wait);

    int GetWorkLoad() const { return m_workLoad.load(std::memory_order_relaxed); }
    // The priority level last asked of the thread (Thread::PRIORITY_*).
    int GetThreadPriorityLevel() const { return m_priorityLevel.load(std::memory_order_relaxed); }
    unsigned int GetQueueCount(ResourcePriority priority);
    unsigned int GetLoadedCount();
    unsigned int GetTotalLoadTime();
    Event& GetWakeEvent() { return m_wakeEvent; }

private:
    LoadRequest* TakeNextRequest();
    void Unlink(LoadRequest* entry);
    void LoadAndInitialize(Resource* resource, int enqueueTime);
    // Under queueLock.
    void UpdateWorkLoad();
    void ApplyThreadPriority();
    bool IsMarkerThresholdPast(uint64_t threshold) const;
    void PruneMarkers();
    void FinishInFlight();

    std::atomic<bool> m_singleProcessorMode{true};
    std::atomic<bool> m_debugging{false};
    std::atomic<bool> m_threadRunning{false};
    LoadRequest* m_queueHead[2] = {nullptr, nullptr};
    LoadRequest* m_queueTail[2] = {nullptr, nullptr};
    unsigned int m_queueCounts[2] = {0, 0};
    CriticalSection m_markerLock;
    CriticalSection m_queueLock;
    ResourceLoaderThread* m_thread;
    unsigned int m_loadedCount = 0;
    unsigned int m_totalLoadTime = 0;
    unsigned int m_lastMarker = 0;
    // Live markers and the last queue-1 sequence number that each waits for.
    std::map<unsigned int, uint64_t> m_markers;
    uint64_t m_lastSequence = 0;
    Event m_wakeEvent;
    std::atomic<int> m_workLoad{WORK_LOAD_NONE};
    std::atomic<int> m_priorityLevel{1};

    // The request the loader thread is serving (its resource and queue-1 sequence number).
    // Changed under queueLock; the in-flight mutex and condition let DetachResource wait for it.
    std::atomic<Resource*> m_inFlight{nullptr};
    uint64_t m_inFlightSequence = 0;
    std::mutex m_inFlightMutex;
    std::condition_variable m_inFlightDone;
};

} // namespace GAME
