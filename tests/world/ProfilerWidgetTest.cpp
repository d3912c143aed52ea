#include "world/ProfilerWidget.h"
#include "core/Time.h"
#include "graphics/HeadlessInputDevice.h"
#include "platform/Clock.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>

namespace GAME {
namespace {

InputDevice::ButtonEvent Press(uint32_t key)
{
    InputDevice::ButtonEvent event;
    event.keyCode = key;
    return event;
}

class StepClock : public MachineClock
{
public:
    bool HasPerformanceCounter() const override { return true; }
    uint64_t GetPerformanceCounter() const override { return counter.load(); }
    uint64_t GetPerformanceFrequency() const override { return 1000; }
    uint32_t GetMilliseconds() const override { return static_cast<uint32_t>(counter.load()); }
    void Advance(int ms)
    {
        counter += static_cast<uint64_t>(ms);
        UpdateTime();
    }
    std::atomic<uint64_t> counter{100000};
};

TEST(ProfilerWidget, KeepsTwoHundredFramesPausesAndStepsBackwardsThroughTheRing)
{
    StepClock clock;
    SetMachineClock(&clock);
    InitializeTimeSystem();
    HeadlessInputDevice input;
    ASSERT_TRUE(input.Initialize(nullptr, 8, 8));
    ProfilerWidget widget(nullptr, &input);
    widget.UpdateFrame(1);
    EXPECT_EQ(widget.GetNewestIndex(), 0); // off: nothing recorded

    widget.Enable(true);
    for (unsigned int frame = 1; frame <= 200; ++frame) {
        clock.Advance(frame == 200 ? 7 : 1);
        widget.UpdateFrame(frame);
    }
    EXPECT_EQ(widget.GetSelectedIndex(), 0);
    EXPECT_EQ(widget.GetRecord(0).frame, 200u);
    EXPECT_EQ(widget.GetRecord(0).milliseconds, 7);
    EXPECT_EQ(widget.GetRecord(1).frame, 1u);
    widget.UpdateFrame(201);
    EXPECT_EQ(widget.GetRecord(1).frame, 201u); // the oldest record was overwritten

    EXPECT_FALSE(widget.HandleKeyEvent(Press(widget.keyPause)));
    ASSERT_TRUE(widget.IsPaused());
    widget.UpdateFrame(202);
    EXPECT_EQ(widget.GetNewestIndex(), 1);
    EXPECT_EQ(widget.GetRecord(1).frame, 201u);

    // The frame keys repeat every 80 ms: 1 -> 0 -> 199.
    input.SetKeyDown(widget.keyPreviousFrame, true);
    clock.Advance(81);
    widget.Update();
    EXPECT_EQ(widget.GetSelectedIndex(), 0);
    clock.Advance(40);
    widget.Update();
    EXPECT_EQ(widget.GetSelectedIndex(), 0);
    clock.Advance(41);
    widget.Update();
    EXPECT_EQ(widget.GetSelectedIndex(), 199);
    widget.Enable(false);
    SetMachineClock(nullptr);
    ResetTimeSystem();
}

TEST(ProfilerWidget, ListsBlocksAveragedOverFiveFramesSlowestFirstWhenSorted)
{
    ProfilerWidget widget(nullptr, nullptr);
    widget.Enable(true);
    // Blocks are timed in cycles: time them through Profile's own sums for each frame. The empty
    // block is timed from outside too: cycles count while a busy machine has the thread waiting.
    uint64_t fastCycles = 0;
    for (unsigned int frame = 1; frame <= 5; ++frame) {
        {
            Profile slow("slow block");
            const uint64_t until = Platform::CycleCounter() + Profile::GetCyclesPerSecond() / 200; // 5 ms
            while (Platform::CycleCounter() < until) {
            }
        }
        const uint64_t before = Platform::CycleCounter();
        {
            Profile fast("fast block");
        }
        fastCycles += Platform::CycleCounter() - before;
        widget.UpdateFrame(frame);
    }
    widget.Enable(false);
    std::vector<std::string> lines = widget.GetBlockLines();
    ASSERT_GE(lines.size(), 1u);
    // The empty block stays below 0.1 ms a frame and is not listed, unless the thread was kept
    // waiting inside it (then whether it is listed says nothing).
    const double fastMs = 1000.0 * static_cast<double>(fastCycles) / 5.0 /
                          static_cast<double>(Profile::GetCyclesPerSecond());
    if (fastMs < ProfilerWidget::minimumListedMilliseconds) {
        ASSERT_EQ(lines.size(), 1u) << "the empty block took " << fastMs << " ms a frame";
    }
    const auto slow = std::find_if(lines.begin(), lines.end(),
                                   [](const std::string& line) { return line.rfind("slow block (", 0) == 0; });
    ASSERT_NE(slow, lines.end());
    EXPECT_NE(slow->find("ms 1.0 calls)"), std::string::npos);
}

} // namespace
} // namespace GAME
