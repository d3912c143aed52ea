// The OpenGL device's GL lock: the GL calls of the device's contexts never overlap (see the
// Threads paragraph of OpenGLDevice.h for why). Re-entrant on the thread that holds it.
//
// The main thread comes first: while it waits, a worker that lets the lock go does not take it
// again before the main thread has had it. Workers hold it for one GL call's worth at a time (one
// upload call of a band of texels or bytes, one creation, one compile), so the main thread waits
// for at most one such hold, never for a whole texture's upload. One hold makes several calls: a
// texture or a buffer of several bands that a worker fills again, which the main thread may be
// drawing, takes its new content from a second object by copies (or takes the second object's
// place), with its fence, under one hold (FillAgain in OpenGLResources.cpp), so that no draw finds
// it half new; on llvmpipe that hold is shorter than making the second texture's storage (3 ms
// against 6 to 8 ms for a chain of 2048 texels square).
//
// It keeps figures that tests and benchmarks read through the module's test hooks: the most
// upload calls made under one hold, the longest hold of a worker (in the worker's processor time,
// and in wall time, which a busy machine's preemption lengthens), the main thread's longest wait
// (wall time), and the main thread's holds that began while a worker was inside the uploads of a
// resource (between its first upload call and its fence).
//
// Threads: any. The figures' own state is kept under an inner mutex that is never held while
// waiting for anything else.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace GAME::OpenGL {

class OpenGLLock
{
public:
    struct Figures
    {
        uint64_t mainHolds = 0;              // outermost holds of the main thread
        uint64_t mainHoldsBesideUploads = 0; // of them, begun while a worker was inside a resource's uploads
        uint64_t workerHolds = 0;            // outermost holds of other threads
        uint64_t uploadCalls = 0;
        uint64_t mostUploadsInOneHold = 0;
        uint64_t longestWorkerHoldNs = 0;     // the worker's processor time
        uint64_t longestWorkerHoldWallNs = 0; // wall time (preemption included)
        uint64_t longestMainWaitNs = 0;       // wall time
    };

    OpenGLLock() = default;
    OpenGLLock(const OpenGLLock&) = delete;
    OpenGLLock& operator=(const OpenGLLock&) = delete;

    // main: the calling thread is the device's main thread, which comes first.
    void Lock(bool main);
    void Unlock();

    // By the holder: one upload call (a band of a texture level or of a buffer) is made under this
    // hold; a worker's first of a resource starts its uploads.
    void NoteUpload();
    // By the holder: the calling thread's uploads of a resource are over (its fence is set, or it
    // gave up).
    void EndUploads();

    Figures GetFigures() const;
    void ResetFigures();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    std::thread::id m_owner;
    int m_depth = 0;
    bool m_mainHold = false;
    int m_mainWaiting = 0;
    int m_waiters = 0;
    // The holder's: its uploads under this hold and where its processor time stood as it began.
    uint64_t m_uploadsThisHold = 0;
    uint64_t m_holdStartNs = 0;
    std::chrono::steady_clock::time_point m_holdStartWall;
    // Workers inside the uploads of a resource.
    std::atomic<int> m_uploading{0};
    Figures m_figures;
};

} // namespace GAME::OpenGL
