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
    void Render(GraphicsCanvas&) const override
    {
        m_trace.push_back("render " + m_name);
        if (onRender)
            onRender();
    }
    bool HandleKeyEvent(const InputDevice::ButtonEvent& event) override
    {
        m_trace.push_back("key " + m_name + " " + std::to_string(event.keyCode));
        if (onKey)
            onKey();
        return consumeKey == event.keyCode;
    }
    bool HandleMouseEvent(const InputDevice::MouseEvent&) override
    {
        m_trace.push_back("mouse " + m_name);
        return consumeMouse;
    }

    std::function<void()> onUpdate;
    std::function<void()> onRender;
    std::function<void()> onKey;
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

TEST(DisplayTest, WidgetsRemovingWidgetsWhileDrawnOrOfferedEventsSkipNobodyAndCallNobodyTwice)
{
    std::vector<std::string> trace;
    TraceWidget a("a", trace), b("b", trace), c("c", trace), d("d", trace);
    Display display;
    for (TraceWidget* widget : {&a, &b, &c, &d})
        display.AddWidget(widget);
    EXPECT_EQ(display.GetWidget(3), &d);
    EXPECT_EQ(display.GetWidget(4), nullptr);
    EXPECT_EQ(display.GetWidget(-1), nullptr);

    // An event: b removes the widget before it and itself; c and d still hear it, once each.
    b.onKey = [&] {
        display.RemoveWidget(&a);
        display.RemoveWidget(&b);
    };
    display.HandleKeyEvent(Key(5));
    EXPECT_EQ(trace, (std::vector<std::string>{"key a 5", "key b 5", "key c 5", "key d 5"}));
    b.onKey = nullptr;

    // Drawing goes last to first: d removes c (not drawn yet) and a widget already drawn is
    // not drawn again when an earlier entry goes.
    trace.clear();
    display.AddWidget(&a);
    display.AddWidget(&b); // c, d, a, b
    a.onRender = [&] {
        display.RemoveWidget(&c);
        display.RemoveWidget(&b);
    };
    GraphicsCanvas canvas(nullptr, nullptr);
    display.Render(canvas);
    EXPECT_EQ(trace, (std::vector<std::string>{"render b", "render a", "render d"}));
    EXPECT_EQ(display.GetNumWidgets(), 2);
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
