#include "core/Name.h"
#include "core/Object.h"
#include "core/Singleton.h"
#include "core/UniqueIdMap.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace GAME {
namespace {

constexpr int kThreads = 8;

// Runs fn(index) on kThreads threads released together.
template <class Fn> void RunTogether(Fn fn)
{
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            ready.fetch_add(1);
            while (!go.load())
                std::this_thread::yield();
            fn(i);
        });
    while (ready.load() < kThreads)
        std::this_thread::yield();
    go.store(true);
    for (auto& thread : threads)
        thread.join();
}

struct Racer : public Singleton<Racer>
{
    Racer() { made.fetch_add(1); }
    static inline std::atomic<int> made{0};
};

TEST(SingletonThreads, ConcurrentFirstGetMakesOneInstance)
{
    for (int round = 0; round < 20; ++round) {
        Racer* seen[kThreads] = {};
        RunTogether([&](int i) { seen[i] = Racer::Get(); });
        for (Racer* instance : seen)
            EXPECT_EQ(instance, seen[0]);
        EXPECT_NE(seen[0], nullptr);
        EXPECT_EQ(Racer::made.load(), round + 1);
        Racer::Destroy();
    }
}

TEST(UniqueIdMapThreads, AddLookUpAndRemoveFromManyThreads)
{
    constexpr int kIds = 500;
    static char entities[kThreads][kIds];
    std::vector<UniqueId> shared(kIds);
    for (auto& id : shared)
        id = UniqueId::CreateUnique();

    RunTogether([&](int t) {
        UniqueIdMap* map = UniqueIdMap::Get();
        std::vector<UniqueId> own;
        for (int i = 0; i < kIds; ++i) {
            own.push_back(UniqueId::CreateUnique());
            map->AddEntity(own.back(), reinterpret_cast<Entity*>(&entities[t][i]));
            map->AddEntity(shared[i], reinterpret_cast<Entity*>(&entities[t][i]));
        }
        for (int i = 0; i < kIds; ++i) {
            EXPECT_EQ(map->GetEntity(own[i]), reinterpret_cast<Entity*>(&entities[t][i]));
            EXPECT_NE(map->GetEntity(shared[i]), nullptr);
        }
        for (int i = 0; i < kIds; i += 2)
            map->RemoveEntity(own[i]);
    });
    // Each shared id kept whichever entity came first; half of every thread's own ids remain.
    EXPECT_EQ(UniqueIdMap::Get()->GetNumEntities(), static_cast<size_t>(kIds + kThreads * kIds / 2));
    UniqueIdMap::Destroy();
}

class ThreadedActor : public Object
{
    GAME_DECLARE_CLASS(ThreadedActor)
public:
    ~ThreadedActor() override = default;
};
GAME_REGISTER_CLASS(ThreadedActor, Object)

TEST(ObjectThreads, NamesAndInstancesFromLoaderThreads)
{
    const Name expected = Name::Create("Records/Creatures/Monster/Boar.dbr");
    std::atomic<int> wrong{0};
    RunTogether([&](int) {
        for (int i = 0; i < 2000; ++i) {
            if (Name::Create("Records/Creatures/Monster/Boar.dbr") != expected)
                wrong.fetch_add(1);
            auto* object = static_cast<Object*>(Object::classInfo.CreateInstance("ThreadedActor"));
            if (!object || !object->GetClassInfo().IsA(Object::classInfo))
                wrong.fetch_add(1);
            delete dynamic_cast<ThreadedActor*>(object);
        }
    });
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
} // namespace GAME
