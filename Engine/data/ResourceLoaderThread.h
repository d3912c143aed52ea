// The resource loader's background thread ("Resource Loader Thread"): sleeps on the loader's
// wake event and serves its queues until told to stop. Owned by its ResourceLoader; started and
// stopped by the loader's owner on the main thread.
#pragma once

#include "core/Thread.h"

#include <atomic>

namespace GAME {

class ResourceLoader;

class ResourceLoaderThread : public Thread
{
public:
    explicit ResourceLoaderThread(ResourceLoader* loader);

    void Run() override;
    // Sets the stop flag and wakes the thread; it ends after the request it is serving.
    void RequestStop();
    // Clears the stop flag so that the thread can be started again.
    void ClearStop() { m_stop.store(false, std::memory_order_release); }
    bool IsStopRequested() const { return m_stop.load(std::memory_order_acquire); }

private:
    ResourceLoader* m_loader;
    std::atomic<bool> m_stop{false};
};

} // namespace GAME
