#include "core/Profile.h"
#include "core/Thread.h"
#include "core/ThreadMonitor.h"
#include "core/Time.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace GAME {
namespace {

const Profile::TimeInfo* FindBlock(const std::vector<Profile::TimeInfo>& blocks, const char* name)
{
    for (const Profile::TimeInfo& block : blocks)
        if (std::strcmp(block.name, name) == 0)
            return &block;
    return nullptr;
}

TEST(Profile, SumsBlocksOfTheMainThreadOnlyWhileEnabled)
{
    Profile::Update();
    {
        Profile off("disabled block");
    }
    std::vector<Profile::TimeInfo> blocks;
    Profile::GetTimeInfo(blocks);
    EXPECT_TRUE(blocks.empty());

    Profile::Enable(true);
    for (int i = 0; i < 3; ++i) {
        Profile block("main block");
        volatile int sink = 0;
        for (int j = 0; j < 1000; ++j)
            sink = sink + j;
    }
    std::thread([] { Profile block("worker block"); }).join();
    Profile::GetTimeInfo(blocks);
    Profile::Enable(false);

    ASSERT_EQ(blocks.size(), 1u);
    const Profile::TimeInfo* main = FindBlock(blocks, "main block");
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main->calls, 3u);
    EXPECT_GT(main->milliseconds, 0.0f);
    Profile::Update();
    blocks.clear();
    Profile::GetTimeInfo(blocks);
    EXPECT_TRUE(blocks.empty());

    // A block made while profiling was off and ended once it is on has no start: not recorded.
    {
        Profile early("early block");
        Profile::Enable(true);
    }
    // A block longer than 2^32 cycles (a slow frame's render) keeps its length: counted in the
    // low half of the counter it came out as the time past the last wrap, well short of it.
    const double wrapMs = 4294967296.0 * 1000.0 / static_cast<double>(Profile::GetCyclesPerSecond());
    const auto slept = std::chrono::milliseconds(static_cast<long long>(wrapMs) + 50);
    {
        Profile block("long block");
        std::this_thread::sleep_for(slept);
    }
    Profile::GetTimeInfo(blocks);
    Profile::Enable(false);
    Profile::Update();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_STREQ(blocks[0].name, "long block");
    EXPECT_GE(blocks[0].milliseconds, static_cast<float>(slept.count()) * 0.99f);
}

class FedMonitor : public ThreadMonitor
{
public:
    using ThreadMonitor::ThreadMonitor;
    std::vector<Platform::ThreadTimes> next;

protected:
    bool TakeSnapshot(std::vector<Platform::ThreadTimes>& threads) override
    {
        threads = next;
        return true;
    }
};

class Lines : public StatisticGraphSink
{
public:
    void AddStatisticGraph(const char* name, float value, const Color&) override
    {
        lines.push_back(std::string(name) + " @" + std::to_string(static_cast<int>(value)));
    }
    std::vector<std::string> lines;
};

class StepClock : public MachineClock
{
public:
    bool HasPerformanceCounter() const override { return true; }
    uint64_t GetPerformanceCounter() const override { return counter.load(); }
    uint64_t GetPerformanceFrequency() const override { return 1000; }
    uint32_t GetMilliseconds() const override { return static_cast<uint32_t>(counter.load()); }
    std::atomic<uint64_t> counter{100000};
};

TEST(ThreadMonitor, SharesTheTimeSinceTheLastSampleAtMostEvery11Ms)
{
    StepClock clock;
    SetMachineClock(&clock);
    InitializeTimeSystem();
    Lines sink;
    FedMonitor monitor(&sink);
    using Priority = Platform::ThreadPriority;
    monitor.next = {{0x20, 100, 100, Priority::Normal, ""}, {0x10, 50, 50, Priority::Highest, ""}};
    ASSERT_TRUE(monitor.Update());
    ASSERT_EQ(monitor.GetThreads().size(), 2u);
    EXPECT_EQ(monitor.GetThreads()[0].id, 0x10u); // sorted by id

    // 10 ms later nothing is sampled; 11 ms later it is.
    monitor.next = {{0x10, 50, 350, Priority::Highest, ""},
                    {0x20, 150, 150, Priority::Normal, ""},
                    {0x30, 0, 0, Priority::Lowest, ""}};
    clock.counter += 10;
    UpdateTime();
    EXPECT_FALSE(monitor.Update());
    clock.counter += 1;
    UpdateTime();
    ASSERT_TRUE(monitor.Update());
    monitor.Display();
    EXPECT_EQ(sink.lines, (std::vector<std::string>{"Thread 0x0010: 75% (Highest priority) @75",
                                                    "Thread 0x0020: 25% (Normal priority) @25",
                                                    "Thread 0x0030: 0% (Lowest priority) @0"}));

    // No time used since the last sample: nothing shown.
    sink.lines.clear();
    clock.counter += 20;
    UpdateTime();
    ASSERT_TRUE(monitor.Update());
    monitor.Display();
    EXPECT_TRUE(sink.lines.empty());
    SetMachineClock(nullptr);
    ResetTimeSystem();
}

// Lines name threads as they named themselves (beyond the system's 15 characters), group a
// driver's numbered threads, and stay within the panel however many threads there are.
TEST(ThreadMonitor, NamesThreadsGroupsNumberedOnesAndFitsThePanel)
{
    // A real snapshot: a thread of the engine's long name is listed by its whole name, and a thread
    // it started that never named itself (it inherits the system's 15 characters) as started by it.
    std::atomic<int> ready{0};
    std::atomic<bool> release{false};
    auto wait = [&] {
        while (!release)
            std::this_thread::yield();
    };
    std::thread worker([&] {
        SetThreadName("Level Loading Thread");
        std::thread child([&] {
            ++ready;
            wait();
        });
        ++ready;
        wait();
        child.join();
    });
    while (ready < 2)
        std::this_thread::yield();
    std::vector<Platform::ThreadTimes> live;
    ASSERT_TRUE(Platform::GetProcessThreadTimes(live));
    release = true;
    worker.join();
    auto named = [&live](const std::string& name) {
        return std::count_if(live.begin(), live.end(), [&](const Platform::ThreadTimes& t) { return t.name == name; });
    };
    EXPECT_EQ(named("Level Loading Thread"), 1);
    EXPECT_EQ(named("started by Level Loading Thread"), 1);

    StepClock clock;
    SetMachineClock(&clock);
    InitializeTimeSystem();
    Lines sink;
    FedMonitor monitor(&sink);
    using Priority = Platform::ThreadPriority;
    auto feed = [&](uint64_t step) {
        monitor.next = {{1, 0, 50 * step, Priority::Highest, "Main Thread"},
                        {2, 0, 10 * step, Priority::Normal, "Level Loading Thread"},
                        {3, 0, 10 * step, Priority::Normal, "Level Loading Thread"}};
        for (uint64_t i = 0; i < 16; ++i)
            monitor.next.push_back({10 + i, 0, step, Priority::Normal, "llvmpipe-" + std::to_string(i)});
        for (uint64_t i = 0; i < 14; ++i)
            monitor.next.push_back({40 + i, 0, i == 0 ? 0 : step / 10, Priority::Normal, "worker " + std::string(1, char('a' + i))});
        clock.counter += 20;
        UpdateTime();
        ASSERT_TRUE(monitor.Update());
    };
    feed(0);
    feed(100);
    monitor.Display();
    // 5000 + 2000 + 1600 + 13 * 10 = 8730 units: the main thread 57 %, the loaders 22 %, the
    // driver's 16 threads 18 %; of the 14 workers the 6 that used least share the last line.
    ASSERT_EQ(sink.lines.size(), static_cast<size_t>(ThreadMonitor::maximumLines));
    EXPECT_EQ(sink.lines[0], "Thread Main Thread: 57% (Highest priority) @57");
    EXPECT_EQ(sink.lines[1], "Thread Level Loading Thread (2 threads): 22% (Normal priority) @22");
    EXPECT_EQ(sink.lines[2], "Thread llvmpipe-* (16 threads): 18% (Normal priority) @18");
    EXPECT_EQ(sink.lines[3], "Thread worker b: 0% (Normal priority) @0");
    EXPECT_EQ(sink.lines.back(), "Thread others (6 threads): 0% @0");
    SetMachineClock(nullptr);
    ResetTimeSystem();
}

} // namespace
} // namespace GAME
