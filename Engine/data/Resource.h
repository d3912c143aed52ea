// One asset read from a file of the virtual file system (mesh, texture, shader, sound, effect...).
// The object exists as soon as somebody asks its manager for the name; its contents are loaded
// later, by the resource loader thread or synchronously by EnsureAvailable, and unloaded by the
// manager's sweep. Subclasses build their contents in Initialize and free them in Destroy.
//
// Threads: the loader thread and the main thread both load; the resource's own lock is held for
// the whole of a load and an unload. The load state is atomic, so any thread may read it; a
// reader that needs finished contents calls GetIsLoaded or EnsureAvailable, which wait for a
// running load. A resource must be deleted only when no thread can still reach it (its manager
// asks the loader first) and before its loader is deleted.
#pragma once

#include "core/CriticalSection.h"

#include <atomic>
#include <string>

namespace GAME {

class BaseResourceManager;
class File;
class ResourceLoader;
struct LoadRequest;

class Resource
{
public:
    enum LoadState : int
    {
        LOAD_STATE_NOT_LOADED = 0,
        LOAD_STATE_LOADING = 1,
        LOAD_STATE_LOADED = 2,
    };

    // What Initialize made of the file. Results 1 to 3 are tried again later by EnsureAvailable;
    // every value above 3 means invalid data and is final.
    enum InitResult : int
    {
        INIT_SUCCESS = 0,
        INIT_PARTIAL = 1,
        INIT_OUT_OF_MEMORY = 2,
        INIT_FAILED = 3,
        INIT_INVALID_DATA = 4,
    };

    Resource(BaseResourceManager* manager, const std::string& fileName);
    // Takes the resource out of its loader's queue (waiting for a load the loader thread runs).
    // Subclasses free their contents in their own destructor.
    virtual ~Resource();
    Resource(const Resource&) = delete;
    Resource& operator=(const Resource&) = delete;

    // Queues the resources this one depends on (a mesh its textures and shaders).
    virtual void PreLoadDependentResources() {}
    // How many bytes of the opened file Initialize receives.
    virtual int GetLoadSize(File* file);
    virtual InitResult Initialize(const void* data, int size) = 0;
    // Default contents after a failed load.
    virtual void InitializeDefault() {}
    virtual void Destroy() = 0;
    virtual unsigned int GetLastFrameUsed() const { return m_lastFrameUsed.load(std::memory_order_relaxed); }
    // Shown beside the name in the manager's lists.
    virtual std::string GetDebugInfo() const { return std::string(); }
    virtual void LogInfo() const;

    const char* GetFileName() const { return m_fileName.c_str(); }
    const std::string& GetFileNameString() const { return m_fileName; }
    BaseResourceManager* GetResourceManager() const { return m_manager; }
    ResourceLoader* GetResourceLoader() const { return m_loader.load(std::memory_order_acquire); }
    void SetResourceLoader(ResourceLoader* loader) { m_loader.store(loader, std::memory_order_release); }

    LoadState GetLoadedState() const { return m_loadedState.load(std::memory_order_acquire); }
    bool GetIsNotUnloaded() const { return GetLoadedState() != LOAD_STATE_NOT_LOADED; }
    bool GetInLoadingQueue() const { return m_queueEntry.load(std::memory_order_acquire) != nullptr; }
    bool GetIsTouched() const { return m_isTouched.load(std::memory_order_relaxed); }
    InitResult GetInitResult() const { return m_initResult.load(std::memory_order_acquire); }
    void SetInitResult(InitResult result) { m_initResult.store(result, std::memory_order_release); }
    unsigned int GetLastRetryFrame() const { return m_lastRetryFrame.load(std::memory_order_relaxed); }

    // Stamps the state change with the current frame.
    void SetLoadedState(LoadState state);
    void MarkAsUsed();
    void Lock() { m_lock.Enter(); }
    void Unlock() { m_lock.Exit(); }

    // Waits for a running load; then whether the contents are there.
    bool GetIsLoaded();
    // Called first by every accessor of the contents: loads them now when they are missing (the
    // caller blocks) and retries a failed initialisation at most once every 60 frames.
    void EnsureAvailable();
    // Frees the contents (waiting for a running load); the resource can be loaded again.
    void Unload();

private:
    friend class ResourceLoader;

    std::string m_fileName;
    BaseResourceManager* m_manager;
    std::atomic<ResourceLoader*> m_loader{nullptr};
    std::atomic<LoadState> m_loadedState{LOAD_STATE_NOT_LOADED};
    std::atomic<unsigned int> m_lastFrameUsed{0};
    CriticalSection m_lock;
    std::atomic<bool> m_isTouched{false};
    std::atomic<unsigned int> m_lastRetryFrame{0};
    std::atomic<InitResult> m_initResult{INIT_SUCCESS};
    // Written under the loader's queue lock.
    std::atomic<LoadRequest*> m_queueEntry{nullptr};
};

} // namespace GAME
