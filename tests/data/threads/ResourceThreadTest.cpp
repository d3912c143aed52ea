#include "../ResourceFixtures.h"
#include "common/LogCapture.h"
#include "common/WaitUntil.h"
#include "data/ResourceManager.h"

#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace GAME {
namespace {

using GAME::Test::TestResource;
using GAME::Test::WaitUntil;

class ResourceThreadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Keeps the test process at normal priority.
        loader.EnableSingleProcessorMode(false);
    }
    void TearDown() override { loader.StopThread(); }

    TestResource* Make(const std::string& name)
    {
        services.source->Put(name, "bytes of " + name);
        return manager.LoadTypedResource(name);
    }

    GAME::Test::LogCapture log;
    GAME::Test::TestServices services;
    ResourceLoader loader;
    ResourceManager<TestResource> manager{&loader};
};

TEST_F(ResourceThreadTest, LoaderThreadServesTheQueuesAndMarkers)
{
    std::vector<TestResource*> resources;
    loader.StartThread();
    for (int i = 0; i < 30; ++i) {
        resources.push_back(Make(std::string(1, 'r').append(std::to_string(i))));
        loader.EnqueueResource(resources.back(), i % 3 ? RESOURCE_PRIORITY_HIGH : RESOURCE_PRIORITY_LOW,
                               false);
    }
    const unsigned marker = loader.CreateMarker();
    ASSERT_TRUE(WaitUntil([&] { return loader.GetHasMarkerPast(marker); }));
    for (int i = 0; i < 30; ++i) {
        if (i % 3) {
            EXPECT_EQ(resources[i]->GetLoadedState(), Resource::LOAD_STATE_LOADED)
                << "queue 1 before the marker";
        }
    }
    ASSERT_TRUE(WaitUntil([&] { return loader.GetLoadedCount() == 30; }));
    for (TestResource* resource : resources) {
        EXPECT_EQ(resource->loadedOn, "Resource Loader Thread");
        EXPECT_EQ(resource->contents, std::string("bytes of ") + resource->GetFileName());
    }
    EXPECT_TRUE(WaitUntil([&] { return loader.GetWorkLoad() == ResourceLoader::WORK_LOAD_NONE; }));

    // Stopped and started again, the thread serves new requests.
    loader.StopThread();
    TestResource* late = Make("late");
    loader.EnqueueResource(late, RESOURCE_PRIORITY_HIGH, false);
    loader.StartThread();
    EXPECT_TRUE(WaitUntil([&] { return late->GetLoadedState() == Resource::LOAD_STATE_LOADED; }));
}

TEST_F(ResourceThreadTest, ALoadInProgressBlocksNeitherTheQueuesNorTheSweep)
{
    Event gate;
    TestResource* slow = Make("slow");
    slow->gate = &gate;
    loader.EnqueueResource(slow, RESOURCE_PRIORITY_HIGH, false);
    loader.StartThread();
    slow->entered.Wait(); // the loader thread is inside Initialize, holding the resource's lock

    // Asked for from another thread at the same time: waits for the running load.
    std::thread other([&] { loader.LoadResource(slow); });
    // The queues stay usable, and the sweep skips the resource instead of waiting for it.
    TestResource* queued = Make("queued");
    loader.EnqueueResource(queued, RESOURCE_PRIORITY_HIGH, false);
    const unsigned marker = loader.CreateMarker();
    EXPECT_FALSE(loader.GetHasMarkerPast(marker));
    loader.PurgeResource(queued);
    EXPECT_FALSE(loader.GetHasMarkerPast(marker)) << "the request being loaded came before the marker";
    manager.SetUnreferencedDelay(-1);
    manager.UnloadResource(slow);
    manager.UnloadUnreferencedResources();
    EXPECT_EQ(manager.GetReferenceCount("slow"), 0) << "still there: it is being loaded";

    gate.SetSignaled();
    other.join();
    EXPECT_EQ(slow->initializes.load(), 1) << "loaded once";
    EXPECT_TRUE(slow->GetIsLoaded());
    EXPECT_TRUE(WaitUntil([&] { return loader.GetHasMarkerPast(marker); }));
    manager.UnloadUnreferencedResources();
    EXPECT_EQ(manager.GetReferenceCount("slow"), -1);
}

// Many resources queued, purged, loaded synchronously, evicted, reloaded and released on this
// thread while the loader thread serves them; parents take references to children while they
// load. Everything must come apart again: no reference, byte of usage or resource left over.
TEST_F(ResourceThreadTest, StressQueueingPurgingAndReleasingWhileTheLoaderRuns)
{
    const int names = 48;
    auto nameOf = [](int i) { return (i % 2 ? "child/" : "parent/") + std::to_string(i / 2); };
    for (int i = 0; i < names; ++i)
        services.source->Put(nameOf(i), "contents of " + nameOf(i));
    manager.SetUnreferencedDelay(-1);
    const int liveBefore = TestResource::live.load();
    const int initializesBefore = TestResource::totalInitializes.load();
    const int destroysBefore = TestResource::totalDestroys.load();

    std::mt19937 random(12345);
    std::vector<TestResource*> held;
    std::vector<unsigned> markers;
    loader.StartThread();
    for (int step = 0; step < 30000; ++step) {
        TestResource* some = held.empty() ? nullptr : held[random() % held.size()];
        switch (random() % 12) {
        case 0:
        case 1: {
            int i = static_cast<int>(random() % names);
            const bool fresh = manager.GetReferenceCount(nameOf(i)) == -1;
            TestResource* resource = manager.LoadTypedResource(nameOf(i));
            if (fresh && i % 2 == 0)
                resource->childName = nameOf(i + 1); // no thread can reach it before it is queued
            held.push_back(resource);
            break;
        }
        case 2:
            if (some)
                loader.EnqueueResource(some, random() % 2 ? RESOURCE_PRIORITY_HIGH : RESOURCE_PRIORITY_LOW,
                                       random() % 2);
            break;
        case 3:
            manager.PreLoadResource(some);
            break;
        case 4:
            if (some)
                loader.PurgeResource(some);
            break;
        case 5:
            if (some) {
                some->EnsureAvailable();
                ASSERT_EQ(some->GetLoadedState(), Resource::LOAD_STATE_LOADED);
                ASSERT_EQ(some->contents, std::string("contents of ") + some->GetFileName());
            }
            break;
        case 6:
            if (some) {
                manager.UnloadResource(some);
                held.erase(std::find(held.begin(), held.end(), some));
            }
            break;
        case 7:
            manager.UnloadUnreferencedResources();
            break;
        case 8:
            services.frame++;
            manager.EvictOldResources(static_cast<int>(random() % 3));
            loader.Update();
            break;
        case 9:
            manager.ReloadResource(nameOf(static_cast<int>(random() % names)));
            break;
        case 10:
            markers.push_back(loader.CreateMarker());
            break;
        case 11: {
            // Markers complete in the order they were made. Asked newest first: once one is past,
            // every earlier one must be, however the loader moved on meanwhile.
            bool laterPast = false;
            for (auto it = markers.rbegin(); it != markers.rend(); ++it) {
                const bool past = loader.GetHasMarkerPast(*it);
                ASSERT_TRUE(past || !laterPast) << "marker " << *it << " is behind a later one";
                laterPast = laterPast || past;
            }
            break;
        }
        }
    }
    for (TestResource* resource : held)
        manager.UnloadResource(resource);
    held.clear();
    ASSERT_TRUE(WaitUntil([&] { return loader.GetHasMarkerPast(loader.CreateMarker()); }));
    for (unsigned marker : markers)
        EXPECT_TRUE(loader.GetHasMarkerPast(marker));
    loader.StopThread();

    // Deleting parents gives back their children, which the next sweep deletes.
    for (int sweep = 0; sweep < 3 && manager.GetNumResources() != 0; ++sweep)
        manager.UnloadUnreferencedResources();
    EXPECT_EQ(manager.GetNumResources(), 0u);
    EXPECT_EQ(TestResource::live.load(), liveBefore);
    EXPECT_EQ(manager.GetMemoryUsage(), 0u);
    EXPECT_EQ(TestResource::totalInitializes.load() - initializesBefore,
              TestResource::totalDestroys.load() - destroysBefore)
        << "every load freed exactly once";
    EXPECT_EQ(loader.GetQueueCount(RESOURCE_PRIORITY_HIGH) + loader.GetQueueCount(RESOURCE_PRIORITY_LOW), 0u);
}

} // namespace
} // namespace GAME
