// Re-entrant lock used throughout the engine, and its scope guard. The thread that holds a
// critical section may enter it again and must leave it as often. Any thread may use it.
#pragma once

#include <mutex>

namespace GAME {

class CriticalSection
{
public:
    CriticalSection() = default;
    virtual ~CriticalSection() = default;
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() { m_mutex.lock(); }
    void Exit() { m_mutex.unlock(); }
    bool TryEnter() { return m_mutex.try_lock(); }

private:
    std::recursive_mutex m_mutex;
};

// Enters the critical section for the span of a block; must be released on the thread that made it.
class CriticalSectionLock
{
public:
    explicit CriticalSectionLock(CriticalSection& section) : m_section(&section) { m_section->Enter(); }
    explicit CriticalSectionLock(CriticalSection* section) : m_section(section)
    {
        if (m_section)
            m_section->Enter();
    }
    ~CriticalSectionLock()
    {
        if (m_section)
            m_section->Exit();
    }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CriticalSection* m_section;
};

} // namespace GAME
