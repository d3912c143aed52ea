#include "data/ResourceManager.h"
#include "ResourceFixtures.h"
#include "common/LogCapture.h"
#include "data/EffectResource.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace GAME {
namespace {

using GAME::Test::TestResource;

class ResourceManagerTest : public ::testing::Test
{
protected:
    GAME::Test::ManualClock clock;
    GAME::Test::LogCapture log;
    GAME::Test::TestServices services;
    ResourceLoader loader;
    ResourceManager<TestResource> manager{&loader};
};

TEST_F(ResourceManagerTest, SharesResourcesByNameAndCountsReferences)
{
    services.source->Put("a.msh", "mesh");
    TestResource* a = manager.LoadTypedResource("a.msh");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->GetResourceLoader(), &loader);
    EXPECT_FALSE(a->GetIsNotUnloaded()) << "the file is read later";
    EXPECT_EQ(manager.LoadResource("a.msh"), a);
    EXPECT_NE(manager.LoadResource("A.msh"), a) << "names compare exactly";
    EXPECT_EQ(manager.GetReferenceCount("a.msh"), 2);

    loader.EnqueueResource(a, RESOURCE_PRIORITY_HIGH, false);
    manager.UnloadResource(a);
    manager.UnloadResource(a);
    EXPECT_EQ(manager.GetReferenceCount("a.msh"), 0);
    EXPECT_EQ(manager.GetNumUnreferenced(), 1u);
    EXPECT_FALSE(a->GetInLoadingQueue()) << "an unreferenced resource leaves the queue";
    // Releasing once more, a null resource or one of another manager changes nothing.
    manager.UnloadResource(a);
    manager.UnloadResource(nullptr);
    ResourceManager<TestResource> other(&loader);
    manager.UnloadResource(other.LoadResource("a.msh"));
    EXPECT_EQ(manager.GetReferenceCount("a.msh"), 0);
    EXPECT_EQ(manager.GetNumUnreferenced(), 1u);

    EXPECT_EQ(manager.LoadResource("a.msh"), a);
    EXPECT_EQ(manager.GetReferenceCount("a.msh"), 1);
    EXPECT_EQ(manager.GetNumUnreferenced(), 0u);

    // Preloading queues a resource that is not loaded yet, with its dependents; unless disabled.
    manager.PreLoadResource(a);
    EXPECT_TRUE(a->GetInLoadingQueue());
    loader.PurgeResource(a);
    manager.EnablePreLoading(false);
    manager.PreLoadResource(a);
    EXPECT_FALSE(a->GetInLoadingQueue());
}

TEST_F(ResourceManagerTest, DeletesResourcesUnreferencedForMoreThanTheDelay)
{
    TestResource* early = manager.LoadTypedResource("early");
    TestResource* late = manager.LoadTypedResource("late");
    const int before = TestResource::live.load();
    manager.UnloadResource(early);
    clock.Advance(10);
    manager.UnloadResource(late);

    clock.Advance(4990); // early released exactly 5000 ms ago
    manager.UnloadUnreferencedResources();
    EXPECT_EQ(manager.GetNumResources(), 2u);
    clock.Advance(1);
    manager.UnloadUnreferencedResources();
    EXPECT_EQ(manager.GetReferenceCount("early"), -1);
    EXPECT_EQ(manager.GetReferenceCount("late"), 0);
    EXPECT_EQ(TestResource::live.load(), before - 1);

    // A resource that a thread is loading is left for a later sweep, without waiting for it.
    late->SetLoadedState(Resource::LOAD_STATE_LOADING);
    clock.Advance(100);
    manager.UnloadUnreferencedResources();
    EXPECT_EQ(manager.GetReferenceCount("late"), 0);
    late->SetLoadedState(Resource::LOAD_STATE_NOT_LOADED);
    manager.UnloadUnreferencedResources();
    EXPECT_EQ(manager.GetNumResources(), 0u);
    EXPECT_EQ(TestResource::live.load(), before - 2);
}

TEST_F(ResourceManagerTest, BudgetEvictsResourcesNotUsedLately)
{
    services.source->Put("old", std::string(600, 'o'));
    services.source->Put("recent", std::string(300, 'r'));
    services.source->Put("current", std::string(200, 'c'));
    TestResource* old = manager.LoadTypedResource("old");
    TestResource* recent = manager.LoadTypedResource("recent");
    TestResource* current = manager.LoadTypedResource("current");
    services.frame = 10;
    old->EnsureAvailable();
    services.frame = 11;
    recent->EnsureAvailable();
    services.frame = 12;
    current->EnsureAvailable();
    EXPECT_EQ(manager.GetMemoryUsage(), 1100u);

    manager.SetMemoryBudget(1100);
    manager.MaintainBudget();
    EXPECT_TRUE(old->GetIsNotUnloaded()) << "at the budget nothing is unloaded";
    manager.SetMemoryBudget(1000);
    manager.MaintainBudget();
    EXPECT_FALSE(old->GetIsNotUnloaded()) << "last used two frames ago";
    EXPECT_TRUE(recent->GetIsNotUnloaded());
    EXPECT_TRUE(current->GetIsNotUnloaded());
    EXPECT_EQ(manager.GetMemoryUsage(), 500u);
    EXPECT_EQ(manager.GetNumResources(), 3u) << "eviction keeps the resources";

    // Reloading unloads the contents so that the next use reads the file again.
    EXPECT_FALSE(manager.ReloadResource("unknown"));
    services.source->Put("current", "new");
    EXPECT_TRUE(manager.ReloadResource("current"));
    EXPECT_FALSE(current->GetIsNotUnloaded());
    current->EnsureAvailable();
    EXPECT_EQ(current->contents, "new");
    loader.EnqueueResource(old, RESOURCE_PRIORITY_HIGH, false);
    manager.ReloadAllResources();
    EXPECT_FALSE(old->GetInLoadingQueue());
    EXPECT_FALSE(recent->GetIsNotUnloaded());
    EXPECT_EQ(manager.GetMemoryUsage(), 0u);
    manager.DecrementMemoryUsage(5);
    EXPECT_EQ(manager.GetMemoryUsage(), 0u) << "usage never drops below 0";
}

TEST_F(ResourceManagerTest, ReportsAndLogsItsResources)
{
    TestResource* b = manager.LoadTypedResource("b.tex");
    b->debugInfo = "256x256";
    manager.LoadResource("b.tex");
    manager.UnloadResource(manager.LoadResource("a.tex"));

    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    manager.WriteResourceLog("Textures", file);
    std::rewind(file);
    std::string written;
    for (int c; (c = std::fgetc(file)) != EOF;)
        written.push_back(static_cast<char>(c));
    std::fclose(file);
    const std::string rule(59, '=');
    EXPECT_EQ(written, rule + "\r\nTextures - 2 \r\n" + rule + "\r\n" + " 0 references - 'a.tex'  \r\n" +
                           " 2 references - 'b.tex'  256x256\r\n\r\n\r\n");

    manager.ListLoadedResources();
    EXPECT_TRUE(log.Contains("Resource 'b.tex' 256x256", 0));

    log.Clear();
    const int before = TestResource::live.load();
    EXPECT_TRUE(manager.UnloadAllResources());
    ASSERT_EQ(log.Count(), 1u);
    EXPECT_EQ(log.Lines()[0].text, "Resource not unloaded 'b.tex' (2 references)");
    EXPECT_EQ(log.Lines()[0].priority, 2);
    EXPECT_EQ(log.Lines()[0].category, 7u);
    EXPECT_EQ(TestResource::live.load(), before - 2);
    EXPECT_FALSE(manager.UnloadAllResources());
}

class CountingEffectFactory : public EffectResource::EffectDataFactory
{
public:
    EffectData* CreateEffectData(const void* data, int size) override
    {
        ++made;
        // The definition's type belongs to the effect classes; a string stands in for it here.
        return reinterpret_cast<EffectData*>(
            new std::string(static_cast<const char*>(data), static_cast<size_t>(size)));
    }
    void DeleteEffectData(EffectData* effectData) override
    {
        ++deleted;
        delete reinterpret_cast<std::string*>(effectData);
    }
    int made = 0;
    int deleted = 0;
};

TEST_F(ResourceManagerTest, EffectResourcesHoldTheirDefinition)
{
    CountingEffectFactory factory;
    EffectResource::SetEffectDataFactory(&factory);
    services.source->Put("fx/fire.pfx", "PFX1");
    {
        EffectResourceManager effects(&loader);
        EffectResource* fire = effects.LoadTypedResource("fx/fire.pfx");
        EXPECT_FALSE(fire->GetIsReadyToUse());
        const EffectData* data = fire->GetEffectData();
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(*reinterpret_cast<const std::string*>(data), "PFX1");
        EXPECT_TRUE(fire->GetIsReadyToUse());

        EffectResource* missing = effects.LoadTypedResource("fx/none.pfx");
        EXPECT_EQ(missing->GetEffectData(), nullptr);
        EXPECT_TRUE(missing->GetIsReadyToUse()) << "a missing effect counts as loaded, without data";
        effects.UnloadResource(fire);
        effects.UnloadResource(missing);
    }
    EXPECT_EQ(factory.made, 1);
    EXPECT_EQ(factory.deleted, 1);
    EffectResource::SetEffectDataFactory(nullptr);
}

} // namespace
} // namespace GAME
