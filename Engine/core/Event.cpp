#include "core/Event.h"

#include <chrono>

namespace GAME {

namespace {

// Waiters on several events at once sleep on one shared condition; every signal wakes them to
// look again. Signals are rare (loader and loading threads), so the shared wake-up costs little.
std::mutex& AnyMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::condition_variable& AnyCondition()
{
    static std::condition_variable condition;
    return condition;
}

} // namespace

void Event::SetSignaled()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_signaled.store(true);
    }
    m_condition.notify_all();
    {
        std::lock_guard<std::mutex> lock(AnyMutex());
    }
    AnyCondition().notify_all();
}

void Event::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signaled.store(false);
}

bool Event::GetSignaled() const { return m_signaled.load(); }

void Event::Wait()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_condition.wait(lock, [this] { return m_signaled.load(); });
}

bool Event::WaitFor(unsigned int milliseconds)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_condition.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_signaled.load(); });
}

void Event::WaitForAny(Event** events, int count)
{
    if (!events || count <= 0)
        return;
    auto anySignaled = [events, count] {
        for (int i = 0; i < count; ++i)
            if (events[i] && events[i]->m_signaled.load())
                return true;
        return false;
    };
    std::unique_lock<std::mutex> lock(AnyMutex());
    AnyCondition().wait(lock, anySignaled);
}

} // namespace GAME
