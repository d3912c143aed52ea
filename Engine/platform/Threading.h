// Operating-system threads for the engine: start, join, names, priorities and affinity.
// Owns one native thread per OsThread object. Any thread may call these functions; an OsThread
// itself is driven by one owner thread (start, set priority, join).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace GAME::Platform {

// Scheduling priorities in the engine's terms. Lowering always works; raising above normal
// may be refused by the operating system, which is logged once and otherwise ignored.
enum class ThreadPriority
{
    Idle,
    Lowest,
    BelowNormal,
    Normal,
    AboveNormal,
    Highest,
    TimeCritical,
};

using ThreadId = uint64_t;

class OsThread
{
public:
    using Entry = void (*)(void* argument);

    OsThread();
    ~OsThread(); // joins a thread that is still running
    OsThread(const OsThread&) = delete;
    OsThread& operator=(const OsThread&) = delete;

    // Starts the entry on a new thread. Fails (false) while an earlier thread is still joinable
    // (join it first) and when the system cannot make a thread; never throws.
    bool Start(Entry entry, void* argument);
    // Waits for the thread to end. False when no thread was started.
    bool Join();
    bool IsJoinable() const;
    // The started thread's id; 0 until the new thread runs its first instruction. A thread starts
    // at normal priority on any of the process's processors, whatever its creator runs at.
    ThreadId GetId() const;
    bool SetPriority(ThreadPriority priority);

private:
    struct Impl;
    // The body of every thread an OsThread starts.
    static void* Main(void* impl);
    std::unique_ptr<Impl> m_impl;
};

// Tests: while set, every OsThread::Start fails as it does when the system cannot make a thread.
void RefuseThreadStartsForTesting(bool refuse);

ThreadId CurrentThreadId();
// The thread that initialised the library's static data.
ThreadId MainThreadId();

// Names the calling thread. The operating system keeps 15 characters; the whole name is kept here.
void SetCurrentThreadName(const std::string& name);
std::string GetCurrentThreadName();

bool SetCurrentThreadPriority(ThreadPriority priority);
ThreadPriority GetThreadPriority(ThreadId thread);
// Best effort: bit n of the mask allows processor n.
bool SetCurrentThreadAffinity(uint64_t mask);
// The processors the calling thread may run on (the first 64).
uint64_t GetCurrentThreadAffinity();
// The processors the process could use when the library was loaded (the first 64; 0 when it may
// use none of them): the main thread pins itself to the lowest of them.
uint64_t GetProcessAffinity();
// Gives the calling thread every processor the process could use when the library was loaded
// (before the main thread pinned itself). The render device module looks this up by name to make
// its contexts, whose driver threads inherit the creating thread's processors.
bool SetCurrentThreadProcessAffinity();

void SleepMilliseconds(uint32_t milliseconds);
void YieldThread();

// One live thread of this process, its name and its CPU times in 100-nanosecond units.
struct ThreadTimes
{
    ThreadId id = 0;
    uint64_t kernelTime = 0;
    uint64_t userTime = 0;
    ThreadPriority priority = ThreadPriority::Normal;
    // The whole name the thread gave itself through SetCurrentThreadName; for a thread started by
    // one so named that never named itself, "started by " and that name; else the system's (a
    // library's own name such as "llvmpipe-3", or the program's name); empty when unknown.
    std::string name;
};
// Snapshot of every thread of the process; false when it cannot be read.
bool GetProcessThreadTimes(std::vector<ThreadTimes>& out);

} // namespace GAME::Platform
