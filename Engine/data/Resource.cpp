#include "data/Resource.h"

#include "core/Log.h"
#include "data/EngineDataServices.h"
#include "data/File.h"
#include "data/ResourceLoader.h"

namespace GAME {

Resource::Resource(BaseResourceManager* manager, const std::string& fileName)
    : m_fileName(fileName), m_manager(manager)
{
}

Resource::~Resource()
{
    if (ResourceLoader* loader = GetResourceLoader())
        loader->DetachResource(this, true);
}

int Resource::GetLoadSize(File* file)
{
    return file ? static_cast<int>(file->GetLength()) : 0;
}

void Resource::LogInfo() const
{
    LogPrintf(0, "   fileName: %s", GetFileName());
    LogPrintf(0, "   loaded: %u", static_cast<unsigned int>(GetLoadedState()));
    LogPrintf(0, "   lastFrameUsed: %u", GetLastFrameUsed());
}

void Resource::SetLoadedState(LoadState state)
{
    m_loadedState.exchange(state, std::memory_order_acq_rel);
    MarkAsUsed();
}

void Resource::MarkAsUsed()
{
    m_lastFrameUsed.store(EngineDataServices::FrameCount(), std::memory_order_relaxed);
}

bool Resource::GetIsLoaded()
{
    if (GetLoadedState() == LOAD_STATE_LOADING) {
        // The loading thread holds the lock until the load has finished.
        Lock();
        Unlock();
    }
    return GetLoadedState() == LOAD_STATE_LOADED;
}

void Resource::EnsureAvailable()
{
    const unsigned int frame = EngineDataServices::FrameCount();
    m_lastFrameUsed.store(frame, std::memory_order_relaxed);
    ResourceLoader* loader = GetResourceLoader();
    if (GetLoadedState() == LOAD_STATE_LOADED) {
        InitResult result = GetInitResult();
        bool retry = result == INIT_PARTIAL || result == INIT_OUT_OF_MEMORY || result == INIT_FAILED;
        if (retry && frame - GetLastRetryFrame() > 60 && loader) {
            Unload();
            loader->LoadResource(this);
            m_lastRetryFrame.store(frame, std::memory_order_relaxed);
        }
    } else if (loader) {
        loader->LoadResource(this);
    } else {
        LogPrintf(1, "Resource '%s' has no loader", GetFileName());
    }
    m_isTouched.store(true, std::memory_order_relaxed);
}

void Resource::Unload()
{
    // Holding the lock waits for a running load and keeps a new one from starting meanwhile.
    CriticalSectionLock lock(m_lock);
    if (GetLoadedState() != LOAD_STATE_LOADED)
        return;
    Destroy();
    m_loadedState.store(LOAD_STATE_NOT_LOADED, std::memory_order_release);
    m_isTouched.store(false, std::memory_order_relaxed);
    SetInitResult(INIT_SUCCESS);
}

} // namespace GAME
