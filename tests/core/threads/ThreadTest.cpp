#include "core/CriticalSection.h"
#include "core/Event.h"
#include "core/Thread.h"
#include "platform/SystemInfo.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace GAME {
namespace {

class CountingThread : public Thread
{
public:
    void Run() override
    {
        runs.fetch_add(1);
        name = GetThreadName();
        onMainThread = IsMainThread();
    }
    std::atomic<int> runs{0};
    std::string name;
    bool onMainThread = true;
};

TEST(Thread, WaitWithoutStartReturnsFalse)
{
    CountingThread thread;
    EXPECT_FALSE(thread.Wait());
    EXPECT_EQ(thread.runs.load(), 0);
}

TEST(Thread, RestartsAfterAFinishedRun)
{
    CountingThread thread;
    thread.Start();
    EXPECT_TRUE(thread.Wait());
    thread.Start();
    thread.Start(); // the second run is joined before the third starts
    EXPECT_TRUE(thread.Wait());
    EXPECT_EQ(thread.runs.load(), 3);
    EXPECT_FALSE(thread.onMainThread);
    EXPECT_TRUE(IsMainThread());
}

TEST(Thread, StartAnswersFalseWhenNoThreadCanBeMade)
{
    CountingThread thread;
    Platform::RefuseThreadStartsForTesting(true);
    const bool started = thread.Start();
    Platform::RefuseThreadStartsForTesting(false);
    EXPECT_FALSE(started);
    EXPECT_FALSE(thread.WasStarted());
    EXPECT_FALSE(thread.Wait());
    EXPECT_EQ(thread.runs.load(), 0);

    // The refusal leaves nothing behind: the next start runs.
    ASSERT_TRUE(thread.Start());
    EXPECT_TRUE(thread.Wait());
    EXPECT_EQ(thread.runs.load(), 1);
}

class NamedThread : public Thread
{
public:
    void Run() override
    {
        SetThreadName("Resource Loader Thread");
        name = GetThreadName();
        SetPriority(PRIORITY_LOWEST);
    }
    std::string name;
};

TEST(Thread, KeepsTheWholeNameBeyondTheSystemLimit)
{
    NamedThread thread;
    thread.Start();
    thread.SetPriority(Thread::PRIORITY_NORMAL);
    thread.SetPriority(7); // any other level means normal
    ASSERT_TRUE(thread.Wait());
    EXPECT_EQ(thread.name, "Resource Loader Thread");
}

class AffinityThread : public Thread
{
public:
    void Run() override
    {
        mask = Platform::GetCurrentThreadAffinity();
        priority = Platform::GetThreadPriority(Platform::CurrentThreadId());
    }
    uint64_t mask = 0;
    Platform::ThreadPriority priority = Platform::ThreadPriority::Idle;
};

TEST(Thread, StartsOnAllProcessorsAtNormalPriorityWhateverItsCreatorRunsAt)
{
    if (Platform::GetLogicalProcessorCount() < 2)
        GTEST_SKIP() << "one processor";
    std::thread creator([] {
        // The engine's main thread pins itself to the first processor.
        ASSERT_TRUE(Platform::SetCurrentThreadAffinity(1));
        ASSERT_EQ(Platform::GetCurrentThreadAffinity(), 1u);
        AffinityThread thread;
        thread.Start();
        thread.SetPriority(Thread::PRIORITY_LOWEST); // may come before the thread runs
        ASSERT_TRUE(thread.Wait());
        EXPECT_NE(thread.mask & ~uint64_t{1}, 0u);
        EXPECT_NE(thread.priority, Platform::ThreadPriority::Highest);
    });
    creator.join();
}

TEST(CriticalSection, ReentersAndGuardsAcrossThreads)
{
    CriticalSection section;
    {
        CriticalSectionLock outer(section);
        CriticalSectionLock inner(section);
        section.Enter();
        section.Exit();
    }
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                CriticalSectionLock lock(section);
                CriticalSectionLock again(section);
                ++counter;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 40000);
}

TEST(Event, ManualResetReleasesEveryWaiterAndStaysSignalled)
{
    Event event;
    EXPECT_FALSE(event.GetSignaled());
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 8; ++i)
        waiters.emplace_back([&] {
            event.Wait();
            released.fetch_add(1);
        });
    event.SetSignaled();
    for (auto& w : waiters)
        w.join();
    EXPECT_EQ(released.load(), 8);
    EXPECT_TRUE(event.GetSignaled());
    event.Wait(); // still signalled: returns at once
    event.Reset();
    EXPECT_FALSE(event.GetSignaled());
    EXPECT_FALSE(event.WaitFor(1));
}

TEST(Event, WaitForAnyWakesOnTheOneSignalled)
{
    Event a, b, c;
    Event* events[] = {&a, &b, &c};
    std::thread signaller([&] { b.SetSignaled(); });
    Event::WaitForAny(events, 3);
    signaller.join();
    EXPECT_FALSE(a.GetSignaled());
    EXPECT_TRUE(b.GetSignaled());
    EXPECT_FALSE(c.GetSignaled());
}

} // namespace
} // namespace GAME
