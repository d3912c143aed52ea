// Base class for work that runs on a thread of its own: derive, implement Run, Start it and
// Wait for it before starting it again or destroying it. Also thread names and the main-thread
// test. Start, SetPriority and Wait are called by the owning thread.
#pragma once

#include "platform/Threading.h"

#include <string>

namespace GAME {

class Thread
{
public:
    // Priority levels of SetPriority.
    enum
    {
        PRIORITY_LOWEST = 0,
        PRIORITY_NORMAL = 1,
        PRIORITY_ABOVE_NORMAL = 2,
    };

    Thread() = default;
    // Waits for a thread that is still running: the object must outlive its thread.
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    virtual void Run() = 0;

    // Starts Run on a new thread. A finished earlier run is joined first. False when no thread
    // could be made.
    bool Start();
    // 0 lowest, 2 above normal, anything else normal.
    void SetPriority(int level);
    // Waits for the thread to end; false when it was never started.
    bool Wait();
    bool WasStarted() const { return m_started; }

private:
    static void Entry(void* self);

    Platform::OsThread m_thread;
    bool m_started = false;
};

// Names the calling thread (the whole name is kept; the system shows 15 characters).
void SetThreadName(const char* name);
std::string GetThreadName();
// Whether the calling thread is the one that loaded the library.
bool IsMainThread();

} // namespace GAME
