#include "platform/Threading.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <map>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace GAME::Platform {

namespace {

ThreadId g_mainThreadId = CurrentThreadId();

thread_local std::string t_threadName;

// The whole names the threads gave themselves, for other threads to read (the thread monitor); a
// thread started by an OsThread is forgotten when its entry returns.
std::mutex& ThreadNamesMutex()
{
    static std::mutex mutex;
    return mutex;
}
std::map<ThreadId, std::string>& ThreadNames()
{
    static std::map<ThreadId, std::string> names;
    return names;
}

std::atomic<bool> g_priorityRefusalLogged{false};

int NiceFor(ThreadPriority priority)
{
    switch (priority) {
    case ThreadPriority::Idle:         return 19;
    case ThreadPriority::Lowest:       return 10;
    case ThreadPriority::BelowNormal:  return 5;
    case ThreadPriority::Normal:       return 0;
    case ThreadPriority::AboveNormal:  return -5;
    case ThreadPriority::Highest:      return -10;
    case ThreadPriority::TimeCritical: return -20;
    }
    return 0;
}

ThreadPriority PriorityForNice(int nice)
{
    if (nice >= 15) return ThreadPriority::Idle;
    if (nice >= 8) return ThreadPriority::Lowest;
    if (nice >= 3) return ThreadPriority::BelowNormal;
    if (nice > -3) return ThreadPriority::Normal;
    if (nice > -8) return ThreadPriority::AboveNormal;
    if (nice > -15) return ThreadPriority::Highest;
    return ThreadPriority::TimeCritical;
}

// Linux keeps a nice value per thread; it is set through the thread's kernel id.
bool SetPriorityOf(ThreadId tid, ThreadPriority priority)
{
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceFor(priority)) == 0)
        return true;
    if ((errno == EPERM || errno == EACCES) && !g_priorityRefusalLogged.exchange(true))
        std::fprintf(stderr, "Thread priority change refused by the system (%s); running on at the current priority.\n",
                     std::strerror(errno));
    return false;
}

} // namespace

struct OsThread::Impl
{
    // The native thread; joinable from a successful start until it is joined. Owner thread only.
    pthread_t handle{};
    bool joinable = false;
    // What the new thread runs; set before it is made.
    Entry entry = nullptr;
    void* argument = nullptr;
    std::atomic<ThreadId> id{0};
    // A priority asked for before the new thread knew its id; it applies it itself.
    std::mutex mutex;
    bool hasPendingPriority = false;
    ThreadPriority pendingPriority = ThreadPriority::Normal;
};

namespace {

// The processors the process may use, as they were when the library was loaded: the main thread
// later pins itself to one processor, and threads it starts must not inherit that.
cpu_set_t CaptureProcessAffinity()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) != 0 || CPU_COUNT(&set) == 0) {
        long count = sysconf(_SC_NPROCESSORS_ONLN);
        for (long cpu = 0; cpu < count && cpu < CPU_SETSIZE; ++cpu)
            CPU_SET(static_cast<int>(cpu), &set);
    }
    return set;
}

const cpu_set_t g_processAffinity = CaptureProcessAffinity();

std::atomic<bool> g_refuseThreadStarts{false};

} // namespace

void* OsThread::Main(void* argument)
{
    Impl* impl = static_cast<Impl*>(argument);
    // A new thread starts like one the system makes fresh: normal priority on any of the
    // process's processors, not the creator's (the main thread runs pinned at highest).
    pthread_setaffinity_np(pthread_self(), sizeof(g_processAffinity), &g_processAffinity);
    setpriority(PRIO_PROCESS, static_cast<id_t>(CurrentThreadId()), NiceFor(ThreadPriority::Normal));
    {
        std::lock_guard<std::mutex> lock(impl->mutex);
        impl->id = CurrentThreadId();
        if (impl->hasPendingPriority) {
            impl->hasPendingPriority = false;
            SetPriorityOf(impl->id, impl->pendingPriority);
        }
    }
    impl->entry(impl->argument);
    {
        std::lock_guard<std::mutex> lock(ThreadNamesMutex());
        ThreadNames().erase(CurrentThreadId());
    }
    return nullptr;
}

void RefuseThreadStartsForTesting(bool refuse)
{
    g_refuseThreadStarts.store(refuse);
}

OsThread::OsThread() : m_impl(std::make_unique<Impl>()) {}

OsThread::~OsThread()
{
    Join();
}

bool OsThread::Start(Entry entry, void* argument)
{
    if (m_impl->joinable || !entry)
        return false;
    {
        std::lock_guard<std::mutex> lock(m_impl->mutex);
        m_impl->id = 0;
    }
    m_impl->entry = entry;
    m_impl->argument = argument;
    // pthread_create answers an error code where std::thread would throw: a refused thread is a
    // plain false for the caller.
    if (g_refuseThreadStarts.load() ||
        pthread_create(&m_impl->handle, nullptr, &OsThread::Main, m_impl.get()) != 0)
        return false;
    m_impl->joinable = true;
    return true;
}

bool OsThread::Join()
{
    if (!m_impl->joinable)
        return false;
    pthread_join(m_impl->handle, nullptr);
    m_impl->joinable = false;
    return true;
}

bool OsThread::IsJoinable() const
{
    return m_impl->joinable;
}

ThreadId OsThread::GetId() const { return m_impl->id.load(); }

bool OsThread::SetPriority(ThreadPriority priority)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    ThreadId id = m_impl->id.load();
    if (id == 0) {
        if (!m_impl->joinable)
            return false;
        // Not running its own code yet: it applies the priority when it starts.
        m_impl->hasPendingPriority = true;
        m_impl->pendingPriority = priority;
        return true;
    }
    return SetPriorityOf(id, priority);
}

ThreadId CurrentThreadId() { return static_cast<ThreadId>(syscall(SYS_gettid)); }

ThreadId MainThreadId() { return g_mainThreadId; }

void SetCurrentThreadName(const std::string& name)
{
    t_threadName = name;
    char shortName[16];
    std::snprintf(shortName, sizeof(shortName), "%s", name.c_str());
    pthread_setname_np(pthread_self(), shortName);
    std::lock_guard<std::mutex> lock(ThreadNamesMutex());
    ThreadNames()[CurrentThreadId()] = name;
}

std::string GetCurrentThreadName() { return t_threadName; }

bool SetCurrentThreadPriority(ThreadPriority priority) { return SetPriorityOf(CurrentThreadId(), priority); }

ThreadPriority GetThreadPriority(ThreadId thread)
{
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
    if (nice == -1 && errno != 0)
        return ThreadPriority::Normal;
    return PriorityForNice(nice);
}

bool SetCurrentThreadAffinity(uint64_t mask)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    long count = sysconf(_SC_NPROCESSORS_ONLN);
    for (int cpu = 0; cpu < 64 && cpu < count; ++cpu)
        if (mask & (uint64_t{1} << cpu))
            CPU_SET(cpu, &set);
    if (CPU_COUNT(&set) == 0)
        return false;
    return pthread_setaffinity_np(pthread_self(), sizeof(set), &set) == 0;
}

bool SetCurrentThreadProcessAffinity()
{
    return pthread_setaffinity_np(pthread_self(), sizeof(g_processAffinity), &g_processAffinity) == 0;
}

uint64_t GetProcessAffinity()
{
    uint64_t mask = 0;
    for (int cpu = 0; cpu < 64; ++cpu)
        if (CPU_ISSET(cpu, &g_processAffinity))
            mask |= uint64_t{1} << cpu;
    return mask;
}

uint64_t GetCurrentThreadAffinity()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (pthread_getaffinity_np(pthread_self(), sizeof(set), &set) != 0)
        return 0;
    uint64_t mask = 0;
    for (int cpu = 0; cpu < 64; ++cpu)
        if (CPU_ISSET(cpu, &set))
            mask |= uint64_t{1} << cpu;
    return mask;
}

void SleepMilliseconds(uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void YieldThread() { std::this_thread::yield(); }

bool GetProcessThreadTimes(std::vector<ThreadTimes>& out)
{
    out.clear();
    DIR* dir = opendir("/proc/self/task");
    if (!dir)
        return false;
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        ThreadTimes times;
        times.id = std::strtoull(entry->d_name, nullptr, 10);
        std::string path = std::string("/proc/self/task/") + entry->d_name + "/stat";
        std::ifstream stat(path);
        std::string line;
        if (!std::getline(stat, line))
            continue;
        // The command name may hold spaces; the fields follow its closing parenthesis.
        const size_t open = line.find('(');
        size_t close = line.rfind(')');
        if (close == std::string::npos || open == std::string::npos || open > close)
            continue;
        times.name = line.substr(open + 1, close - open - 1);
        const char* p = line.c_str() + close + 1;
        unsigned long long fields[20] = {};
        int field = 0;
        // Fields from 3 (state) on; utime is field 14, stime field 15, nice field 19.
        char* end = nullptr;
        while (*p && field < 17) {
            while (*p == ' ')
                ++p;
            if (field == 0) { // state character
                ++p;
                ++field;
                continue;
            }
            long long value = std::strtoll(p, &end, 10);
            if (end == p)
                break;
            fields[field] = static_cast<unsigned long long>(value);
            p = end;
            ++field;
        }
        if (field < 17)
            continue;
        const uint64_t toHundredNs = 10000000ull / static_cast<uint64_t>(ticksPerSecond > 0 ? ticksPerSecond : 100);
        times.userTime = fields[11] * toHundredNs;
        times.kernelTime = fields[12] * toHundredNs;
        times.priority = PriorityForNice(static_cast<int>(static_cast<long long>(fields[16])));
        out.push_back(times);
    }
    closedir(dir);
    // The system keeps 15 characters of a name: the whole one where the thread gave it here (and
    // the system's name still starts it, so that a reused id does not borrow a dead thread's name).
    // A thread that never named itself carries the name of the thread that started it.
    std::lock_guard<std::mutex> lock(ThreadNamesMutex());
    for (ThreadTimes& times : out) {
        if (times.name.empty())
            continue;
        const auto named = ThreadNames().find(times.id);
        if (named != ThreadNames().end() && named->second.rfind(times.name, 0) == 0) {
            times.name = named->second;
            continue;
        }
        for (const auto& [id, name] : ThreadNames())
            if (name.rfind(times.name, 0) == 0) {
                times.name = "started by " + name;
                break;
            }
    }
    return true;
}

} // namespace GAME::Platform
