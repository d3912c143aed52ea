// Manual-reset event: once signalled it stays signalled, releasing every waiter, until Reset.
// Any thread may signal, reset or wait.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace GAME {

class Event
{
public:
    Event() = default;
    virtual ~Event() = default;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void SetSignaled();
    void Reset();
    bool GetSignaled() const;
    void Wait();
    // Waits up to the given milliseconds; true when signalled.
    bool WaitFor(unsigned int milliseconds);

    // Waits until any one of the events is signalled; the caller then tests its events.
    static void WaitForAny(Event** events, int count);

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_condition;
    std::atomic<bool> m_signaled{false};
};

} // namespace GAME
