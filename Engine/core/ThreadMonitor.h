// Samples the CPU time of every thread of the process and shows each thread's share of the time
// used since the sample before, with its priority, as a graph line of the engine's statistics.
// Threads are named as they named themselves ("Main Thread", "Level Loading Thread"; a library's
// threads by their system names, "llvmpipe-3"); threads of one name, or of one name but for a
// number at its end, share a line, and at most maximumLines lines are shown (the threads that used
// the least time then share the last), so that a driver's dozens of threads fit the panel.
// The engine holds one and drives it from its frame while the thread monitor is shown; the lines
// go to the sink it was made with (the engine, which lives above this folder).
// Main thread only; other threads' times are read through the operating system.
#pragma once

#include "core/Color.h"
#include "core/Timer.h"
#include "platform/Threading.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

// Where the monitor's graph lines go.
class StatisticGraphSink
{
public:
    virtual ~StatisticGraphSink() = default;
    virtual void AddStatisticGraph(const char* name, float value, const Color& color) = 0;
};

class ThreadMonitor
{
public:
    // Samples closer together than this are skipped.
    static constexpr int minimumSampleInterval = 11;
    // Graph lines at most.
    static constexpr int maximumLines = 12;

    struct ThreadInfo
    {
        Platform::ThreadId id = 0;
        uint64_t kernelTime = 0; // 100-nanosecond units
        uint64_t userTime = 0;
        uint64_t kernelDelta = 0;
        uint64_t userDelta = 0;
        Platform::ThreadPriority priority = Platform::ThreadPriority::Normal;
        std::string name; // empty when unknown: the line then shows the id
    };

    // sink may be null (Display then shows nothing); it is not owned.
    explicit ThreadMonitor(StatisticGraphSink* sink = nullptr) : m_sink(sink) {}
    virtual ~ThreadMonitor() = default;
    ThreadMonitor(const ThreadMonitor&) = delete;
    ThreadMonitor& operator=(const ThreadMonitor&) = delete;

    // Takes a new sample unless the last one is less than 11 ms old (system time of the last
    // UpdateTime); answers whether it sampled.
    bool Update();
    // One graph line per thread or group of threads, in the order of their ids: "Thread %s: %d%% %s"
    // with the name (the id as 0x%04x when there is none), the share of the time all threads used
    // between the last two samples and the priority; a group reads "Thread llvmpipe-* (16
    // threads): 40%", the last line of a full panel "Thread others (9 threads): 3%". Nothing when
    // the threads used no time.
    void Display();

    // The last sample, sorted by thread id.
    const std::vector<ThreadInfo>& GetThreads() const { return m_threads; }
    // "(Normal priority)" and the like.
    static const char* GetPriorityText(Platform::ThreadPriority priority);

protected:
    // The process's threads now; false when they cannot be read. Tests feed their own.
    virtual bool TakeSnapshot(std::vector<Platform::ThreadTimes>& threads);

private:
    StatisticGraphSink* m_sink;
    SystemTimer m_timer;
    bool m_sampled = false;
    std::vector<ThreadInfo> m_threads;
};

} // namespace GAME
