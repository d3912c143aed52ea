#include "core/Thread.h"

namespace GAME {

Thread::~Thread() { m_thread.Join(); }

void Thread::Entry(void* self) { static_cast<Thread*>(self)->Run(); }

bool Thread::Start()
{
    m_thread.Join();
    const bool started = m_thread.Start(&Thread::Entry, this);
    m_started = started || m_started;
    return started;
}

void Thread::SetPriority(int level)
{
    Platform::ThreadPriority priority = Platform::ThreadPriority::Normal;
    if (level == PRIORITY_LOWEST)
        priority = Platform::ThreadPriority::Lowest;
    else if (level == PRIORITY_ABOVE_NORMAL)
        priority = Platform::ThreadPriority::AboveNormal;
    m_thread.SetPriority(priority);
}

bool Thread::Wait()
{
    if (!m_started)
        return false;
    m_thread.Join();
    return true;
}

void SetThreadName(const char* name) { Platform::SetCurrentThreadName(name ? name : ""); }

std::string GetThreadName() { return Platform::GetCurrentThreadName(); }

bool IsMainThread() { return Platform::CurrentThreadId() == Platform::MainThreadId(); }

} // namespace GAME
