#include "core/ThreadMonitor.h"

#include "core/Log.h"

#include <algorithm>

namespace GAME {

bool ThreadMonitor::TakeSnapshot(std::vector<Platform::ThreadTimes>& threads)
{
    return Platform::GetProcessThreadTimes(threads);
}

bool ThreadMonitor::Update()
{
    m_timer.Update(false);
    if (m_sampled && m_timer.GetTotalElapsedTime() < minimumSampleInterval)
        return false;
    m_timer.Reset();

    std::vector<Platform::ThreadTimes> snapshot;
    if (!TakeSnapshot(snapshot))
        return false;
    m_sampled = true;

    std::vector<ThreadInfo> threads;
    threads.reserve(snapshot.size());
    for (const Platform::ThreadTimes& times : snapshot) {
        ThreadInfo info;
        info.id = times.id;
        info.kernelTime = times.kernelTime;
        info.userTime = times.userTime;
        info.priority = times.priority;
        threads.push_back(info);
    }
    std::sort(threads.begin(), threads.end(),
              [](const ThreadInfo& a, const ThreadInfo& b) { return a.id < b.id; });

    // Both lists are sorted by id: one merge pass matches them.
    size_t previous = 0;
    for (ThreadInfo& info : threads) {
        while (previous < m_threads.size() && m_threads[previous].id < info.id)
            ++previous;
        if (previous < m_threads.size() && m_threads[previous].id == info.id) {
            const ThreadInfo& before = m_threads[previous];
            // A clock that went backwards (a reused id) counts as a new thread.
            info.kernelDelta =
                info.kernelTime >= before.kernelTime ? info.kernelTime - before.kernelTime : info.kernelTime;
            info.userDelta =
                info.userTime >= before.userTime ? info.userTime - before.userTime : info.userTime;
        } else {
            info.kernelDelta = info.kernelTime;
            info.userDelta = info.userTime;
        }
    }
    m_threads.swap(threads);
    return true;
}

void ThreadMonitor::Display()
{
    uint64_t total = 0;
    for (const ThreadInfo& info : m_threads)
        total += info.kernelDelta + info.userDelta;
    if (total == 0 || !m_sink)
        return;
    const Color color(0.2f, 0.8f, 0.2f, 0.8f);
    for (const ThreadInfo& info : m_threads) {
        const int share = static_cast<int>((info.kernelDelta + info.userDelta) * 100 / total);
        const std::string label = FormatString("Thread 0x%04x: %d%% %s", static_cast<unsigned int>(info.id),
                                               share, GetPriorityText(info.priority));
        m_sink->AddStatisticGraph(label.c_str(), static_cast<float>(share), color);
    }
}

const char* ThreadMonitor::GetPriorityText(Platform::ThreadPriority priority)
{
    switch (priority) {
    case Platform::ThreadPriority::Idle:
        return "(Idle priority)";
    case Platform::ThreadPriority::Lowest:
        return "(Lowest priority)";
    case Platform::ThreadPriority::BelowNormal:
        return "(Below normal priority)";
    case Platform::ThreadPriority::Normal:
        return "(Normal priority)";
    case Platform::ThreadPriority::AboveNormal:
        return "(Above normal priority)";
    case Platform::ThreadPriority::Highest:
        return "(Highest priority)";
    case Platform::ThreadPriority::TimeCritical:
        return "(Time critical priority)";
    }
    return "(Normal priority)";
}

} // namespace GAME
