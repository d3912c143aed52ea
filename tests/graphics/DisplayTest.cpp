#include "graphics/Display.h"
#include "graphics/DisplayWidget.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/HeadlessInputDevice.h"
#include "graphics/OverlayActivity.h"
#include "graphics/OverlayActivityManager.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace GAME {
namespace {

class TraceWidget : public DisplayWidget
{
public:
    TraceWidget(std::string name, std::vector<std::string>& trace) : m_name(std::move(name)), m_trace(trace)
    {
    }

    void Update() override
    {
        m_trace.push_back("update " + m_name);
        if (onUpdate)
            onUpdate();
    }
    void Render(GraphicsCanvas&) const override { m_trace.push_back("render " + m_name); }
    bool HandleKeyEvent(const InputDevice::ButtonEvent& event) override
    {
        m_trace.push_back("key " + m_name + " " + std::to_string(event.keyCode));
        return consumeKey == event.keyCode;
    }
    bool HandleMouseEvent(const InputDevice::MouseEvent&) override
    {
        m_trace.push_back("mouse " + m_name);
        return consumeMouse;
    }

    std::function<void()> onUpdate;
    uint32_t consumeKey = 0;
    bool consumeMouse = false;

private:
    std::string m_name;
    std::vector<std::string>& m_trace;
};

InputDevice::ButtonEvent Key(uint32_t code, uint32_t state = InputDevice::BUTTON_PRESSED)
{
    InputDevice::ButtonEvent event;
    event.keyCode = code;
    event.state = state;
    return event;
}

TEST(DisplayTest, EventsGoFirstToLastUntilConsumedAndDrawingGoesLastToFirst)
{
    std::vector<std::string> trace;
    TraceWidget a("a", trace), b("b", trace), c("c", trace);
    b.consumeKey = 30;
    c.consumeMouse = true;
    Display display;
    display.AddWidget(&a);
    display.AddWidget(&b);
    display.AddWidget(&c);

    EXPECT_TRUE(display.HandleKeyEvent(Key(30)));
    EXPECT_FALSE(display.HandleKeyEvent(Key(31)));
    EXPECT_TRUE(display.HandleMouseEvent(InputDevice::MouseEvent()));
    GraphicsCanvas canvas(nullptr, nullptr);
    display.Render(canvas);
    display.RemoveWidget(&a);
    display.RemoveWidget(&a); // absent now: nothing changes
    display.Update();

    const std::vector<std::string> expected = {
        "key a 30", "key b 30",             // b consumes: c never sees it
        "key a 31", "key b 31", "key c 31", // nobody consumes
        "mouse a",  "mouse b",  "mouse c",  // c consumes the last
        "render c", "render b", "render a", // the first widget is drawn on top
        "update b", "update c"};
    EXPECT_EQ(trace, expected);
}

TEST(DisplayTest, WidgetsChangingTheListDuringUpdateSkipNobody)
{
    std::vector<std::string> trace;
    TraceWidget a("a", trace), b("b", trace), c("c", trace), d("d", trace), e("e", trace);
    Display display;
    for (TraceWidget* widget : {&a, &b, &c, &d})
        display.AddWidget(widget);
    b.onUpdate = [&] { display.RemoveWidget(&b); }; // itself
    c.onUpdate = [&] {
        display.RemoveWidget(&a);
        display.AddWidget(&e);
    }; // an earlier one, and adds
    display.Update();
    EXPECT_EQ(trace, (std::vector<std::string>{"update a", "update b", "update c", "update d", "update e"}));

    trace.clear();
    b.onUpdate = nullptr;
    c.onUpdate = nullptr;
    display.Update();
    EXPECT_EQ(trace, (std::vector<std::string>{"update c", "update d", "update e"}));
}

TEST(InputDeviceTest, HeadlessDeviceDeliversQueuedEventsFrameByFrame)
{
    InputDevice* created = InputDevice::Create();
    ASSERT_NE(created, nullptr);
    InputDevice::Destroy(created);
    EXPECT_EQ(created, nullptr);

    HeadlessInputDevice device;
    device.QueueButtonEvent(Key(30));
    device.Update(); // not initialised: nothing is read
    EXPECT_EQ(device.GetNumButtonEvents(), 0);

    ASSERT_TRUE(device.Initialize(nullptr, 2, 256));
    device.QueueButtonEvent(Key(31));
    device.QueueButtonEvent(Key(30, InputDevice::BUTTON_RELEASED));
    InputDevice::MouseEvent wheel;
    wheel.type = InputDevice::MOUSE_WHEEL_DOWN;
    wheel.shift = true;
    device.QueueMouseEvent(wheel);

    device.Update(); // at most two key events a frame
    ASSERT_EQ(device.GetNumButtonEvents(), 2);
    EXPECT_EQ(device.GetButtonEvent(0).keyCode, 30u);
    EXPECT_EQ(device.GetButtonEvent(1).keyCode, 31u);
    EXPECT_EQ(device.GetButtonEvent(2).keyCode, 0u); // out of range
    EXPECT_TRUE(device.IsKeyDown(30));
    ASSERT_EQ(device.GetNumMouseEvents(), 1);
    InputDevice::ButtonEvent converted = Key(7, InputDevice::BUTTON_RELEASED);
    device.GetMouseEvent(0).ConvertToButtonEvent(converted);
    EXPECT_EQ(converted.keyCode, uint32_t(InputDevice::KEY_WHEEL_DOWN));
    EXPECT_EQ(converted.state, uint32_t(InputDevice::BUTTON_PRESSED));
    EXPECT_TRUE(converted.shift);

    device.Update(); // the rest, and the lists restart
    ASSERT_EQ(device.GetNumButtonEvents(), 1);
    EXPECT_EQ(device.GetButtonEvent(0).state, uint32_t(InputDevice::BUTTON_RELEASED));
    EXPECT_FALSE(device.IsKeyDown(30));
    EXPECT_TRUE(device.IsKeyDown(31));
    EXPECT_EQ(device.GetNumMouseEvents(), 0);

    InputDevice::ButtonEvent typed;
    typed.SetText(u"0123456789abc");
    EXPECT_EQ(std::u16string(typed.GetText()), u"012345678");
}

class CountedActivity : public OverlayActivity
{
public:
    CountedActivity(int& deleted, int lifetime) : m_deleted(deleted), m_lifetime(lifetime) {}
    ~CountedActivity() override { ++m_deleted; }
    void Update(int elapsedMs) override
    {
        m_elapsed += elapsedMs;
        if (m_elapsed > m_lifetime)
            SetFinished();
    }
    void Render(GraphicsCanvas&) const override {}
    int m_elapsed = 0;

private:
    int& m_deleted;
    int m_lifetime;
};

TEST(OverlayActivityTest, FinishedActivitiesStopUpdatingAndClearDeletesEachOnce)
{
    int deleted = 0;
    auto* shortOne = new CountedActivity(deleted, 100);
    auto* kept = new CountedActivity(deleted, 1000000);
    auto* removed = new CountedActivity(deleted, 1000000);
    OverlayActivityManager manager;
    manager.AddActivity(shortOne);
    manager.AddActivity(kept);
    manager.AddActivity(kept); // twice: still deleted once
    manager.AddActivity(removed);
    manager.RemoveActivity(removed);
    manager.Update(101);
    manager.Update(50);
    EXPECT_EQ(shortOne->m_elapsed, 101);        // finished after the first update
    EXPECT_EQ(kept->m_elapsed, 2 * (101 + 50)); // listed twice: updated twice a frame
    EXPECT_EQ(removed->m_elapsed, 0);
    manager.Clear();
    EXPECT_EQ(deleted, 2);
    EXPECT_EQ(manager.GetNumActivities(), 0);
    delete removed;
}

} // namespace
} // namespace GAME
