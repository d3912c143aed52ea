// What threads of this process spent, as the system counts it, for the network's benchmarks and
// thread tests: the calling thread's processor time and how often it went to sleep (waiting for a
// lock or in a blocking call; being pushed off a processor does not count), and the processor time
// of the threads of this process that bear a name (the sockets' receive threads). Other threads
// and processes on a busy machine do not add to these as they do to wall time, but the machine can
// charge a thread for work not its own: on a shared virtual machine a thread whose page fault or
// unmapping waits for other processors to flush their address caches is charged the wait, up to
// tens of milliseconds when those processors are the host's to give (and the sanitizers' allocator
// does much unmapping), and a ratio of two such measures went over a fixed line by chance. So a
// test's verdict never rests on a processor time: the tests use it to make a pretend game's work,
// and count sleeps; the benchmarks measure times side by side, as ratios.
#pragma once

#include <sys/resource.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

namespace GAME::Test {

// The calling thread's processor time in milliseconds.
inline double ThreadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return 1000.0 * static_cast<double>(now.tv_sec) + 1e-6 * static_cast<double>(now.tv_nsec);
}

// How often the calling thread gave up its processor of its own accord so far.
inline long ThreadSleeps()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

// The processor time in milliseconds of this process's threads named `name`, as far as they have
// run (those that ended are not counted).
inline double NamedThreadsCpuMs(const std::string& name)
{
    double total = 0.0;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream comm(task.path() / "comm");
        std::string taskName;
        std::getline(comm, taskName);
        if (taskName != name)
            continue;
        // Nanoseconds on a processor, time waiting for one, time slices.
        std::ifstream schedstat(task.path() / "schedstat");
        double onCpuNs = 0.0;
        if (schedstat >> onCpuNs)
            total += onCpuNs * 1e-6;
    }
    return total;
}

} // namespace GAME::Test
