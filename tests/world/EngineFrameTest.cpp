#include "EngineFixture.h"

#include "core/ObjectManager.h"
#include "core/SingletonManager.h"
#include "graphics/DisplayWidget.h"
#include "graphics/HeadlessInputDevice.h"
#include "graphics/OverlayActivity.h"
#include "network/NetworkEntityList.h"
#include "platform/Threading.h"

namespace GAME {
namespace {

using Test::EngineTest;

class Counted : public Object
{
public:
    ~Counted() override { ++deleted; }
    static inline int deleted = 0;
};

// Each probe writes what it sees into one shared trace.
struct Trace
{
    std::vector<std::string> steps;
    std::vector<int> elapsed;
};

class SingletonProbe : public SingletonInterface
{
public:
    explicit SingletonProbe(Trace& trace) : m_trace(trace) {}
    void Update(int elapsedTime) override
    {
        m_trace.steps.push_back("singletons frame " + std::to_string(gEngine->GetFrameCount()) + " pending " +
                                std::to_string(ObjectManager::Get()->GetNumDeletedObjects()));
        m_trace.elapsed.push_back(elapsedTime);
    }

private:
    Trace& m_trace;
};

class OverlayProbe : public OverlayActivity
{
public:
    explicit OverlayProbe(Trace& trace) : m_trace(trace) {}
    void Update(int) override { m_trace.steps.push_back("overlay"); }
    void Render(GraphicsCanvas&) const override {}

private:
    Trace& m_trace;
};

class WidgetProbe : public DisplayWidget
{
public:
    explicit WidgetProbe(Trace& trace) : m_trace(trace) {}
    void Render(GraphicsCanvas&) const override { ++renders; }
    bool HandleKeyEvent(const InputDevice::ButtonEvent& event) override
    {
        m_trace.steps.push_back("key " + std::to_string(event.keyCode));
        return false;
    }
    mutable int renders = 0;

private:
    Trace& m_trace;
};

TEST_F(EngineTest, FrameRunsItsStepsInOrderAndDestroysAtMostTwentyPendingObjectsAFrame)
{
    GAME::Test::TestEngine& e = Start();
    Trace trace;
    SingletonProbe singleton(trace);
    WidgetProbe widget(trace);
    e.GetSingletonManager()->Register(&singleton);
    e.GetOverlayActivityManager().AddActivity(new OverlayProbe(trace));
    e.AddWidget(&widget);
    auto* input = dynamic_cast<HeadlessInputDevice*>(e.GetInputDevice());
    ASSERT_NE(input, nullptr);

    Counted::deleted = 0;
    for (int i = 0; i < 50; ++i)
        ObjectManager::Get()->DestroyObjectEx(new Counted, __FILE__, __LINE__);
    InputDevice::ButtonEvent key;
    key.keyCode = 44;
    input->QueueButtonEvent(key);

    Frame();
    EXPECT_EQ(Counted::deleted, 20);
    // The frame count grew and 20 objects went before the singletons ran; the overlays follow
    // them and the input comes last.
    EXPECT_EQ(trace.steps, (std::vector<std::string>{"singletons frame 1 pending 30", "overlay", "key 44"}));
    EXPECT_EQ(widget.renders, 1);
    Frame();
    Frame();
    EXPECT_EQ(Counted::deleted, 50);
    EXPECT_EQ(e.GetFrameCount(), 3u);
    e.RemoveWidget(&widget);
    e.GetSingletonManager()->UnRegister(&singleton);
}

TEST_F(EngineTest, PausedGameTimeGivesTheFrameNoTimeAndTheResumedFrameSkipsThePause)
{
    GAME::Test::TestEngine& e = Start();
    Trace trace;
    SingletonProbe singleton(trace);
    e.GetSingletonManager()->Register(&singleton);
    e.EnableTimeSmoothing(false);
    Frame(16);
    EXPECT_EQ(e.GetUpdateTime(), 16);
    PauseGameTime();
    Frame(40);
    EXPECT_EQ(e.GetUpdateTime(), 0);
    Frame(500);
    UnpauseGameTime();
    Frame(20);
    EXPECT_EQ(e.GetUpdateTime(), 20);
    EXPECT_EQ(trace.elapsed, (std::vector<int>{16, 0, 0, 20}));
    e.GetSingletonManager()->UnRegister(&singleton);
}

TEST_F(EngineTest, IdleStopsDrawingAndLowersTheMainThreadButAServerNeverIdles)
{
    GAME::Test::TestEngine& e = Start();
    Trace trace;
    WidgetProbe widget(trace);
    e.AddWidget(&widget);
    const Platform::ThreadPriority active = Platform::GetThreadPriority(Platform::CurrentThreadId());

    e.SetIdle(true);
    EXPECT_TRUE(e.GetIdle());
    EXPECT_EQ(Platform::GetThreadPriority(Platform::CurrentThreadId()), Platform::ThreadPriority::Normal);
    Frame();
    EXPECT_EQ(widget.renders, 0);
    e.SetIdle(false);
    EXPECT_EQ(Platform::GetThreadPriority(Platform::CurrentThreadId()), active);
    Frame();
    EXPECT_EQ(widget.renders, 1);

    e.SetAsNetworkServer();
    e.SetIdle(true);
    EXPECT_FALSE(e.GetIdle());
    e.RemoveWidget(&widget);
}

TEST_F(EngineTest, ForcedUpdatesKeepEachIdOnceAndViewsAreStoredOnlyOnAServer)
{
    GAME::Test::TestEngine& e = Start();
    e.RegisterForForcedUpdates(7);
    e.RegisterForForcedUpdates(9);
    e.RegisterForForcedUpdates(7);
    e.UnregisterForForcedUpdates(42);
    EXPECT_EQ(e.GetForcedUpdateIds(), (std::vector<unsigned int>{7, 9}));
    e.UnregisterForForcedUpdates(7);
    EXPECT_EQ(e.GetForcedUpdateIds(), (std::vector<unsigned int>{9}));

    Region* region = nullptr;
    WorldFrustum view(region, Frustum());
    e.SetAsNetworkServer();
    NetworkEntityList* list = e.GetNetworkEntityList();
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(list->AddClient(3));
    e.SetAsNetworkClient();
    e.UpdateFrustum(3, view);
    e.SetAsNetworkServer();
    EXPECT_FALSE(list->GetClient(3)->frustumKnown);
    e.UpdateFrustum(3, view);
    EXPECT_TRUE(list->GetClient(3)->frustumKnown);
    // A view without a region updates neither physics nor the world, and the frame goes on.
    Frame(16, &view);
    EXPECT_EQ(e.GetFrameCount(), 1u);
}

} // namespace
} // namespace GAME
