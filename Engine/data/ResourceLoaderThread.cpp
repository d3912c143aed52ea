#include "data/ResourceLoaderThread.h"

#include "data/ResourceLoader.h"

namespace GAME {

ResourceLoaderThread::ResourceLoaderThread(ResourceLoader* loader) : m_loader(loader) {}

void ResourceLoaderThread::Run()
{
    SetThreadName("Resource Loader Thread");
    Event& wake = m_loader->GetWakeEvent();
    while (!IsStopRequested()) {
        wake.Wait();
        // Reset before serving: a request queued from here on signals again and is not missed.
        wake.Reset();
        while (!IsStopRequested() && m_loader->ProcessNextRequest()) {
        }
    }
}

void ResourceLoaderThread::RequestStop()
{
    m_stop.store(true, std::memory_order_release);
    m_loader->GetWakeEvent().SetSignaled();
}

} // namespace GAME
