#include "core/Singleton.h"
#include "common/LogCapture.h"
#include "core/SingletonManager.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace GAME {
namespace {

struct Counted : public Singleton<Counted>
{
    Counted() { ++made; }
    ~Counted() override { ++destroyed; }
    static inline int made = 0;
    static inline int destroyed = 0;
};

TEST(Singleton, MadeOnFirstGetAndAgainAfterDestroy)
{
    EXPECT_FALSE(Counted::HasInstantiated());
    Counted* first = Counted::Get();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Counted::Get(), first);
    EXPECT_TRUE(Counted::HasInstantiated());
    Counted::Destroy();
    Counted::Destroy(); // nothing left to delete
    EXPECT_FALSE(Counted::HasInstantiated());
    EXPECT_EQ(Counted::destroyed, 1);
    ASSERT_NE(Counted::Get(), nullptr);
    EXPECT_EQ(Counted::made, 2);
    Counted::Destroy();
}

struct Unallocatable : public Singleton<Unallocatable>
{
    static void* operator new(size_t, const std::nothrow_t&) noexcept { return nullptr; }
};

TEST(Singleton, FailedAllocationLeavesTheInstanceNull)
{
    EXPECT_EQ(Unallocatable::Get(), nullptr);
    EXPECT_FALSE(Unallocatable::HasInstantiated());
}

class Recorder : public SingletonInterface
{
public:
    Recorder(std::vector<std::string>& calls, std::string name) : m_calls(calls), m_name(std::move(name)) {}
    void Update(int elapsedTime) override
    {
        m_calls.push_back(m_name + ":" + std::to_string(elapsedTime));
        if (onUpdate)
            onUpdate();
    }
    std::function<void()> onUpdate;

private:
    std::vector<std::string>& m_calls;
    std::string m_name;
};

TEST(SingletonManager, CallsInRegistrationOrderWithDuplicates)
{
    std::vector<std::string> calls;
    Recorder a(calls, "a"), b(calls, "b"), stranger(calls, "x");
    SingletonManager manager;
    manager.Register(&a);
    manager.Register(&b);
    manager.Register(&a);
    manager.Update(33);
    EXPECT_EQ(calls, (std::vector<std::string>{"a:33", "b:33", "a:33"}));

    calls.clear();
    manager.UnRegister(&stranger);
    manager.UnRegister(&a); // the first occurrence only
    GAME::Test::LogCapture log;
    manager.Register(nullptr);
    EXPECT_EQ(log.Count(), 1u);
    manager.Update(5);
    EXPECT_EQ(calls, (std::vector<std::string>{"b:5", "a:5"}));
}

TEST(SingletonManager, ChangesDuringUpdateSkipNobody)
{
    std::vector<std::string> calls;
    Recorder a(calls, "a"), b(calls, "b"), c(calls, "c"), late(calls, "late");
    SingletonManager manager;
    for (Recorder* r : {&a, &b, &c})
        manager.Register(r);
    // b leaves during its own update and brings in a newcomer; c is still called.
    b.onUpdate = [&] {
        manager.UnRegister(&b);
        manager.Register(&late);
    };
    manager.Update(1);
    EXPECT_EQ(calls, (std::vector<std::string>{"a:1", "b:1", "c:1", "late:1"}));
}

} // namespace
} // namespace GAME
