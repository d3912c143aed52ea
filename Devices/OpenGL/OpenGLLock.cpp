#include "OpenGLLock.h"

#include <algorithm>
#include <chrono>
#include <ctime>

namespace GAME::OpenGL {

namespace {

uint64_t ThreadProcessorNs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return uint64_t(now.tv_sec) * 1000000000ull + uint64_t(now.tv_nsec);
}

// The lock whose resource uploads the calling thread is inside of (null: none).
thread_local const OpenGLLock* t_uploadingOn = nullptr;

} // namespace

void OpenGLLock::Lock(bool main)
{
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_owner == self) {
        ++m_depth;
        return;
    }
    if (main) {
        if (m_depth > 0) {
            const auto start = std::chrono::steady_clock::now();
            ++m_mainWaiting;
            ++m_waiters;
            m_released.wait(lock, [this] { return m_depth == 0; });
            --m_waiters;
            --m_mainWaiting;
            const auto waited = std::chrono::duration_cast<std::chrono::nanoseconds>(
                std::chrono::steady_clock::now() - start);
            m_figures.longestMainWaitNs = std::max(m_figures.longestMainWaitNs, uint64_t(waited.count()));
        }
        ++m_figures.mainHolds;
        if (m_uploading.load(std::memory_order_relaxed) > 0)
            ++m_figures.mainHoldsBesideUploads;
    } else {
        // After the main thread, which may be waiting already.
        if (m_depth > 0 || m_mainWaiting > 0) {
            ++m_waiters;
            m_released.wait(lock, [this] { return m_depth == 0 && m_mainWaiting == 0; });
            --m_waiters;
        }
        ++m_figures.workerHolds;
        m_holdStartNs = ThreadProcessorNs();
        m_holdStartWall = std::chrono::steady_clock::now();
    }
    m_owner = self;
    m_depth = 1;
    m_mainHold = main;
    m_uploadsThisHold = 0;
}

void OpenGLLock::Unlock()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_depth <= 0 || m_owner != std::this_thread::get_id())
        return;
    if (--m_depth > 0)
        return;
    if (!m_mainHold) {
        m_figures.longestWorkerHoldNs = std::max(m_figures.longestWorkerHoldNs, ThreadProcessorNs() - m_holdStartNs);
        const auto held = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                                               m_holdStartWall);
        m_figures.longestWorkerHoldWallNs = std::max(m_figures.longestWorkerHoldWallNs, uint64_t(held.count()));
    }
    m_figures.mostUploadsInOneHold = std::max(m_figures.mostUploadsInOneHold, m_uploadsThisHold);
    m_owner = std::thread::id();
    if (m_waiters > 0)
        m_released.notify_all();
}

void OpenGLLock::NoteUpload()
{
    // The holder alone changes its hold's count; Unlock reads it on the same thread. The main
    // thread's own uploads are no worker's.
    ++m_uploadsThisHold;
    if (!m_mainHold && t_uploadingOn != this) {
        t_uploadingOn = this;
        m_uploading.fetch_add(1, std::memory_order_relaxed);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_figures.uploadCalls;
}

void OpenGLLock::EndUploads()
{
    if (t_uploadingOn != this)
        return;
    t_uploadingOn = nullptr;
    m_uploading.fetch_sub(1, std::memory_order_relaxed);
}

OpenGLLock::Figures OpenGLLock::GetFigures() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_figures;
}

void OpenGLLock::ResetFigures()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_figures = Figures();
}

} // namespace GAME::OpenGL
