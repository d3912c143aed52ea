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
        info.name = times.name;
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

namespace {

// Threads that share a line: those of one name, or of one name but for the number at its end.
struct ThreadGroup
{
    std::string key;
    std::string name;
    int threads = 0;
    uint64_t time = 0;
    Platform::ThreadPriority priority = Platform::ThreadPriority::Normal;
};

std::string GroupKey(const ThreadMonitor::ThreadInfo& info)
{
    if (info.name.empty())
        return FormatString("0x%04x", static_cast<unsigned int>(info.id));
    const size_t end = info.name.find_last_not_of("0123456789");
    return end == std::string::npos || end + 1 == info.name.size() ? info.name : info.name.substr(0, end + 1) + "*";
}

} // namespace

void ThreadMonitor::Display()
{
    uint64_t total = 0;
    for (const ThreadInfo& info : m_threads)
        total += info.kernelDelta + info.userDelta;
    if (total == 0 || !m_sink)
        return;

    // Groups in the order of their first thread's id (the main thread's comes first).
    std::vector<ThreadGroup> groups;
    for (const ThreadInfo& info : m_threads) {
        const std::string key = GroupKey(info);
        auto group = std::find_if(groups.begin(), groups.end(), [&](const ThreadGroup& g) { return g.key == key; });
        if (group == groups.end()) {
            groups.push_back(ThreadGroup{key, info.name.empty() ? key : info.name, 0, 0, info.priority});
            group = groups.end() - 1;
        }
        ++group->threads;
        group->time += info.kernelDelta + info.userDelta;
        if (group->threads > 1)
            group->name = key;
    }
    // A full panel: the groups that used the least time share the last line.
    ThreadGroup others{"", "others", 0, 0, Platform::ThreadPriority::Normal};
    if (groups.size() > static_cast<size_t>(maximumLines)) {
        std::vector<size_t> order(groups.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return groups[a].time > groups[b].time; });
        std::vector<bool> shown(groups.size(), false);
        for (size_t i = 0; i + 1 < static_cast<size_t>(maximumLines); ++i)
            shown[order[i]] = true;
        std::vector<ThreadGroup> kept;
        for (size_t i = 0; i < groups.size(); ++i) {
            if (shown[i]) {
                kept.push_back(groups[i]);
            } else {
                others.threads += groups[i].threads;
                others.time += groups[i].time;
            }
        }
        groups.swap(kept);
    }

    const Color color(0.2f, 0.8f, 0.2f, 0.8f);
    auto show = [&](const ThreadGroup& group, bool withPriority) {
        const int share = static_cast<int>(group.time * 100 / total);
        std::string label = "Thread " + group.name;
        if (group.threads > 1)
            label += FormatString(" (%d threads)", group.threads);
        label += FormatString(": %d%%", share);
        if (withPriority)
            label += std::string(" ") + GetPriorityText(group.priority);
        m_sink->AddStatisticGraph(label.c_str(), static_cast<float>(share), color);
    };
    for (const ThreadGroup& group : groups)
        show(group, true);
    if (others.threads)
        show(others, false);
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
