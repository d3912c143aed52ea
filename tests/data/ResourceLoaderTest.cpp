#include "ResourceFixtures.h"
#include "common/LogCapture.h"
#include "core/Thread.h"
#include "data/ResourceManager.h"
#include "platform/Threading.h"

#include <gtest/gtest.h>

namespace GAME {
namespace {

using GAME::Test::TestResource;

class ResourceLoaderTest : public ::testing::Test
{
protected:
    TestResource* Make(const std::string& name, const std::string& bytes = "bytes")
    {
        services.source->Put(name, bytes);
        return manager.LoadTypedResource(name);
    }

    GAME::Test::ManualClock clock;
    GAME::Test::LogCapture log;
    GAME::Test::TestServices services;
    ResourceLoader loader;
    ResourceManager<TestResource> manager{&loader};
};

TEST_F(ResourceLoaderTest, QueueingSetsWorkLoadAndPriority)
{
    // Single-processor mode (the default): the thread's priority follows the work load.
    for (int i = 0; i < 20; ++i)
        loader.EnqueueResource(Make("q1/" + std::to_string(i)), RESOURCE_PRIORITY_HIGH, false);
    EXPECT_EQ(loader.GetWorkLoad(), ResourceLoader::WORK_LOAD_LOW);
    EXPECT_EQ(loader.GetThreadPriorityLevel(), Thread::PRIORITY_NORMAL);
    TestResource* twentyFirst = Make("q1/20");
    loader.EnqueueResource(twentyFirst, RESOURCE_PRIORITY_HIGH, false);
    EXPECT_EQ(loader.GetWorkLoad(), ResourceLoader::WORK_LOAD_HIGH);
    EXPECT_EQ(loader.GetThreadPriorityLevel(), Thread::PRIORITY_ABOVE_NORMAL);
    loader.PurgeResource(twentyFirst);
    EXPECT_EQ(loader.GetWorkLoad(), ResourceLoader::WORK_LOAD_LOW);

    loader.PurgeAllResources();
    EXPECT_EQ(loader.GetWorkLoad(), ResourceLoader::WORK_LOAD_NONE);
    EXPECT_EQ(loader.GetThreadPriorityLevel(), Thread::PRIORITY_LOWEST);
    for (int i = 0; i < 40; ++i)
        loader.EnqueueResource(Make("q0/" + std::to_string(i)), RESOURCE_PRIORITY_LOW, false);
    EXPECT_EQ(loader.GetWorkLoad(), ResourceLoader::WORK_LOAD_LOW) << "queue 0 never makes the load high";
    loader.EnableSingleProcessorMode(false);
    EXPECT_EQ(loader.GetThreadPriorityLevel(), Thread::PRIORITY_NORMAL);
    loader.PurgeAllResources();
    EXPECT_EQ(loader.GetQueueCount(RESOURCE_PRIORITY_LOW), 0u);
    EXPECT_FALSE(twentyFirst->GetInLoadingQueue());
}

TEST_F(ResourceLoaderTest, RequestsAreServedOnceInPriorityOrder)
{
    TestResource* low = Make("low");
    TestResource* high = Make("high");
    TestResource* twice = Make("twice");
    loader.EnqueueResource(low, RESOURCE_PRIORITY_LOW, false);
    loader.EnqueueResource(twice, RESOURCE_PRIORITY_HIGH, false);
    loader.EnqueueResource(high, RESOURCE_PRIORITY_HIGH, false);
    // Queued again: one entry stays where it is and only gains the dependents flag.
    loader.EnqueueResource(twice, RESOURCE_PRIORITY_LOW, true);
    loader.EnqueueResource(twice, RESOURCE_PRIORITY_HIGH, false);
    EXPECT_EQ(loader.GetQueueCount(RESOURCE_PRIORITY_HIGH), 2u);
    EXPECT_EQ(loader.GetQueueCount(RESOURCE_PRIORITY_LOW), 1u);

    ASSERT_TRUE(loader.ProcessNextRequest());
    EXPECT_EQ(twice->GetLoadedState(), Resource::LOAD_STATE_LOADED);
    EXPECT_EQ(twice->preloads.load(), 1);
    EXPECT_EQ(twice->contents, "bytes");
    ASSERT_TRUE(loader.ProcessNextRequest());
    EXPECT_TRUE(high->GetIsLoaded());
    EXPECT_FALSE(low->GetIsNotUnloaded());
    ASSERT_TRUE(loader.ProcessNextRequest());
    EXPECT_TRUE(low->GetIsLoaded());
    EXPECT_FALSE(loader.ProcessNextRequest());
    EXPECT_EQ(loader.GetLoadedCount(), 3u);

    // A loaded resource is only stamped as used, and preloads its dependents when asked.
    services.frame = 50;
    loader.EnqueueResource(high, RESOURCE_PRIORITY_HIGH, false);
    EXPECT_EQ(high->GetLastFrameUsed(), 50u);
    EXPECT_EQ(high->preloads.load(), 0);
    loader.EnqueueResource(high, RESOURCE_PRIORITY_HIGH, true);
    EXPECT_EQ(high->preloads.load(), 1);
    EXPECT_FALSE(high->GetInLoadingQueue());
    EXPECT_EQ(high->initializes.load(), 1);
}

TEST_F(ResourceLoaderTest, MarkersCompleteInOrderWhateverHappensToTheRequests)
{
    EXPECT_TRUE(loader.GetHasMarkerPast(loader.CreateMarker())) << "nothing queued: past at once";

    TestResource* a = Make("a");
    TestResource* b = Make("b");
    TestResource* c = Make("c");
    TestResource* d = Make("d");
    for (TestResource* r : {a, b, c})
        loader.EnqueueResource(r, RESOURCE_PRIORITY_HIGH, false);
    loader.EnqueueResource(Make("background"), RESOURCE_PRIORITY_LOW, false);
    const unsigned first = loader.CreateMarker();
    loader.EnqueueResource(d, RESOURCE_PRIORITY_HIGH, false);
    const unsigned second = loader.CreateMarker();
    EXPECT_GT(second, first);

    loader.PurgeResource(a);
    loader.LoadResource(b); // on this thread, out of the queue
    EXPECT_FALSE(loader.GetHasMarkerPast(first)) << "c is still waiting";
    ASSERT_TRUE(loader.ProcessNextRequest()); // c
    EXPECT_TRUE(loader.GetHasMarkerPast(first));
    EXPECT_FALSE(loader.GetHasMarkerPast(second));
    ASSERT_TRUE(loader.ProcessNextRequest()); // d
    EXPECT_TRUE(loader.GetHasMarkerPast(second));

    // Every request ahead of a marker purged: past without any step of the loader.
    TestResource* e = Make("e");
    loader.EnqueueResource(e, RESOURCE_PRIORITY_HIGH, false);
    const unsigned third = loader.CreateMarker();
    EXPECT_FALSE(loader.GetHasMarkerPast(third));
    loader.PurgeResource(e);
    EXPECT_TRUE(loader.GetHasMarkerPast(third));
}

TEST_F(ResourceLoaderTest, FailedInitialisationsAreLoggedDefaultedAndRetried)
{
    struct Case
    {
        int result;
        const char* message; // null: no line
        int defaults;
    };
    const Case cases[] = {
        {Resource::INIT_SUCCESS, nullptr, 0},
        {Resource::INIT_PARTIAL, "Couldn't fully initialize resource 'r1'", 0},
        {Resource::INIT_OUT_OF_MEMORY, "Couldn't initialize resource 'r2'  (out of memory)", 1},
        {Resource::INIT_FAILED, nullptr, 1},
        {Resource::INIT_INVALID_DATA, "Couldn't initialize resource 'r4'  (invalid data)", 1},
        {9, "Couldn't initialize resource 'r5'  (invalid data)", 1},
    };
    services.frame = 100;
    std::vector<TestResource*> resources;
    for (const Case& test : cases) {
        TestResource* resource = Make("r" + std::to_string(resources.size()));
        resource->result = test.result;
        log.Clear();
        resource->EnsureAvailable();
        EXPECT_EQ(resource->GetLoadedState(), Resource::LOAD_STATE_LOADED);
        EXPECT_EQ(resource->GetInitResult(), test.result);
        EXPECT_EQ(resource->defaults.load(), test.defaults) << test.result;
        if (test.message)
            EXPECT_TRUE(log.Contains(test.message, 1)) << test.message;
        else
            EXPECT_EQ(log.Count(), 0u) << test.result;
        EXPECT_TRUE(resource->GetIsTouched());
        resources.push_back(resource);
    }

    // Results 1 to 3 are loaded again once more than 60 frames have passed since the last retry
    // (the first retry counts from frame 0).
    for (TestResource* resource : resources)
        resource->EnsureAvailable();
    const int afterFirstRetry[] = {1, 2, 2, 2, 1, 1};
    for (size_t i = 0; i < resources.size(); ++i)
        EXPECT_EQ(resources[i]->initializes.load(), afterFirstRetry[i]) << i;
    services.frame = 160;
    resources[1]->EnsureAvailable();
    EXPECT_EQ(resources[1]->initializes.load(), 2);
    services.frame = 161;
    resources[1]->EnsureAvailable();
    EXPECT_EQ(resources[1]->initializes.load(), 3);
    EXPECT_EQ(resources[1]->GetLastRetryFrame(), 161u);

    // A missing file: loaded with default contents, result 0, never retried.
    TestResource* missing = manager.LoadTypedResource("missing.tex");
    log.Clear();
    missing->EnsureAvailable();
    EXPECT_TRUE(log.Contains("Couldn't load resource 'missing.tex' (file not found)", 1));
    EXPECT_EQ(missing->GetLoadedState(), Resource::LOAD_STATE_LOADED);
    EXPECT_EQ(missing->GetInitResult(), Resource::INIT_SUCCESS);
    EXPECT_EQ(missing->defaults.load(), 1);
    EXPECT_EQ(missing->initializes.load(), 0);

    // Unloading frees the contents and forgets the result; the next use loads again.
    resources[2]->Unload();
    EXPECT_EQ(resources[2]->GetLoadedState(), Resource::LOAD_STATE_NOT_LOADED);
    EXPECT_EQ(resources[2]->GetInitResult(), Resource::INIT_SUCCESS);
    EXPECT_FALSE(resources[2]->GetIsTouched());
    EXPECT_EQ(resources[2]->destroys.load(), 2);
}

TEST_F(ResourceLoaderTest, StatisticsAndDebugLines)
{
    // Debugging off: one count line, only while the graphics engine shows its statistics.
    loader.EnqueueResource(Make("one"), RESOURCE_PRIORITY_HIGH, false);
    loader.Update();
    EXPECT_TRUE(services.TakeStats().empty());
    services.graphicsStats = true;
    loader.Update();
    EXPECT_EQ(services.TakeStats(), std::vector<std::string>{"1 resources in queue"});

    loader.EnableDebugging(true);
    clock.Advance(5);
    log.Clear();
    TestResource* queued = Make("queued");
    loader.EnqueueResource(queued, RESOURCE_PRIORITY_LOW, false);
    queued->EnsureAvailable();
    EXPECT_TRUE(log.Contains("Resource 'queued' loaded in main thread while in queue 0", 2));
    EXPECT_TRUE(log.Contains("Resource 'queued' loaded from the main thread", 1));
    EXPECT_TRUE(
        log.Contains("Resource 'queued' took 0 ms to load and initialize (0 ms since entering queue)", 0));
    loader.UnloadResource(queued);
    EXPECT_TRUE(log.Contains("Unloading resource 'queued'", 0));

    for (int i = 0; i < 25; ++i)
        loader.EnqueueResource(Make(std::string(1, 'h').append(std::to_string(i))), RESOURCE_PRIORITY_HIGH,
                               false);
    for (int i = 0; i < 10; ++i)
        loader.EnqueueResource(Make(std::string(1, 'l').append(std::to_string(i))), RESOURCE_PRIORITY_LOW,
                               false);
    loader.EnableSingleProcessorMode(false);
    services.TakeStats();
    loader.Update();
    std::vector<std::string> lines = services.TakeStats();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Resource loader high work load");
    EXPECT_EQ(lines[1], "0 ms average resource loading time (1 resources)");
    EXPECT_EQ(lines[2], "26 resources in the loading queue 1 (5 ms since entering queue)");
    EXPECT_EQ(lines[3], "+one");
    int names = 0;
    for (const std::string& line : lines)
        names += line[0] == '+' || line[0] == '-';
    EXPECT_EQ(names, 30) << "at most 30 names over both queues";
    EXPECT_EQ(lines.back(), "-l3");
}

} // namespace
} // namespace GAME

namespace GAME {
namespace {

TEST(ResourceLoaderThreadStart, RefusedThreadIsLoggedAndNotCountedAsRunning)
{
    GAME::Test::LogCapture log;
    ResourceLoader loader;
    Platform::RefuseThreadStartsForTesting(true);
    loader.StartThread();
    Platform::RefuseThreadStartsForTesting(false);
    EXPECT_FALSE(loader.IsThreadRunning());
    EXPECT_TRUE(log.Contains("Could not start the resource loader thread.", 1));

    loader.StartThread();
    EXPECT_TRUE(loader.IsThreadRunning());
    loader.StopThread();
    EXPECT_FALSE(loader.IsThreadRunning());
}

} // namespace
} // namespace GAME
