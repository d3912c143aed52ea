#include "common/RecordServices.h"
#include "core/ObjectManager.h"
#include "datakit/ArzWriter.h"

#include <atomic>
#include <climits>
#include <gtest/gtest.h>
#include <set>
#include <thread>
#include <vector>

namespace GAME {
namespace {

class OmRacer : public Object
{
    GAME_DECLARE_CLASS(OmRacer)

public:
    ~OmRacer() override { s_deleted.fetch_add(1); }
    static inline std::atomic<int> s_deleted{0};
};

GAME_REGISTER_CLASS(OmRacer, Object)

// Threads create, find and destroy objects while one of them deletes pending objects; the id
// counter runs through its wrap on the way, so the id search reads the table as others change it.
TEST(ObjectManagerThreads, CreateFindAndDestroyFromManyThreads)
{
    GAME::Test::RecordServices services;
    DataKit::ArzWriter writer(true);
    writer.AddRecord("records\\racer.dbr").String("Class", "OmRacer");
    writer.AddRecord("records\\other.dbr").String("Class", "OmRacer");
    ASSERT_TRUE(services.Load(writer.Build()));
    ObjectManager::Destroy();
    ObjectManager* manager = ObjectManager::Get();
    manager->SetIdCounter(ObjectManager::kCounterMask - 300);
    OmRacer::s_deleted = 0;

    constexpr int kThreads = 8;
    constexpr int kObjects = 250;
    std::vector<std::vector<unsigned int>> ids(kThreads);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::vector<Object*> mine;
            for (int i = 0; i < kObjects; ++i) {
                const char* record = (i & 1) ? "records\\racer.dbr" : "records\\other.dbr";
                Object* object = manager->CreateObjectFromFile(record);
                if (!object || manager->GetObject(object->GetObjectId()) != object ||
                    !manager->GetObjectByName(record)) {
                    failures.fetch_add(1);
                    continue;
                }
                ids[t].push_back(object->GetObjectId());
                mine.push_back(object);
                if (i % 3 == 2) {
                    manager->DestroyObjectEx(mine.front(), __FILE__, __LINE__);
                    mine.erase(mine.begin());
                }
                if (t == 0)
                    manager->DestroyPendingObjects(ObjectManager::kDestroyPerFrame);
            }
            for (Object* object : mine)
                manager->DestroyObjectEx(object, __FILE__, __LINE__);
        });
    }
    for (auto& thread : threads)
        thread.join();

    EXPECT_EQ(failures.load(), 0);
    std::set<unsigned int> distinct;
    for (const auto& list : ids)
        distinct.insert(list.begin(), list.end());
    EXPECT_EQ(distinct.size(), size_t(kThreads) * kObjects);
    EXPECT_EQ(distinct.count(0u), 0u);
    EXPECT_EQ(manager->GetNumObjects(), 0u);
    manager->DestroyPendingObjects(UINT_MAX);
    EXPECT_EQ(OmRacer::s_deleted.load(), kThreads * kObjects);
    ObjectManager::Destroy();
}

} // namespace
} // namespace GAME
