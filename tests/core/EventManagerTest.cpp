#include "core/EventManager.h"
#include "common/LogCapture.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace GAME {
namespace {

class Receiver : public EventHandlerInterface
{
public:
    Receiver(std::vector<std::string>& calls, std::string name, const char* type = "Receiver")
        : m_calls(calls), m_name(std::move(name)), m_type(type)
    {
    }
    void HandleEvent(const GameEvent* event) override
    {
        lastEvent = event;
        m_calls.push_back(m_name);
        if (onEvent)
            onEvent();
    }
    const char* GetHandlerTypeName() const override { return m_type; }

    const GameEvent* lastEvent = nullptr;
    std::function<void()> onEvent;

private:
    std::vector<std::string>& m_calls;
    std::string m_name;
    const char* m_type;
};

TEST(EventManager, DeliversInOrderOncePerRegistration)
{
    std::vector<std::string> calls;
    Receiver a(calls, "a"), b(calls, "b");
    EventManager events;
    events.Register("GameEvent_LevelLoad", &a);
    events.Register("GameEvent_LevelLoad", &b);
    events.Register("GameEvent_LevelLoad", &a);
    events.Register("GameEvent_ExitGame", &b);

    GameEvent event;
    events.Send(&event, "GameEvent_LevelLoad");
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "b", "a"}));
    EXPECT_EQ(a.lastEvent, &event);

    calls.clear();
    events.UnRegister("GameEvent_LevelLoad", &a);
    events.UnRegister("GameEvent_LevelLoad", &a);
    events.UnRegister("GameEvent_LevelLoad", &a); // none left: nothing happens
    events.UnRegister("NoSuchEvent", &a);
    events.Send(&event, "GameEvent_LevelLoad");
    events.Send(&event, "gameevent_exitgame"); // names compare as exact text
    EXPECT_EQ(calls, (std::vector<std::string>{"b"}));
}

TEST(EventManager, DebuggingSummarisesReceiversByType)
{
    std::vector<std::string> calls;
    Receiver a(calls, "a", "World"), b(calls, "b", "Trigger"), c(calls, "c", "World");
    EventManager events;
    events.EnableDebugging(true);
    events.Register("GameEvent_LevelLoad", &a);
    events.Register("GameEvent_LevelLoad", &b);
    events.Register("GameEvent_LevelLoad", &c);

    GAME::Test::LogCapture log;
    events.Register("GameEvent_Nobody", nullptr); // refused with a log line
    EXPECT_EQ(log.Count(), 1u);
    log.Clear();
    events.Send(nullptr, "GameEvent_Nobody");
    EXPECT_EQ(log.Count(), 0u);

    events.Send(nullptr, "GameEvent_LevelLoad");
    EXPECT_EQ(log.Texts(),
              (std::vector<std::string>{"Event 'GameEvent_LevelLoad' sent to 3 receivers",
                                        " * 2 receivers of type World", " * 1 receivers of type Trigger"}));
    for (const auto& line : log.Lines())
        EXPECT_EQ(line.priority, 0);
    EXPECT_EQ(calls.size(), 3u);

    log.Clear();
    events.EnableDebugging(false);
    events.Send(nullptr, "GameEvent_LevelLoad");
    EXPECT_EQ(log.Count(), 0u);
}

TEST(EventManager, HandlersMayChangeTheListWhileItIsSent)
{
    std::vector<std::string> calls;
    Receiver a(calls, "a"), b(calls, "b"), c(calls, "c"), late(calls, "late"), nested(calls, "nested");
    EventManager events;
    events.Register("Tick", &a);
    events.Register("Tick", &b);
    events.Register("Tick", &c);
    events.Register("Nested", &nested);

    // b removes itself, adds a newcomer and sends another event; c must not be skipped.
    b.onEvent = [&] {
        events.UnRegister("Tick", &b);
        events.Register("Tick", &late);
        events.Register("Other", &late); // a new list must not disturb the one being sent
        events.Send(nullptr, "Nested");
    };
    events.Send(nullptr, "Tick");
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "b", "nested", "c", "late"}));

    // A handler removing one that has not run yet keeps it from running.
    calls.clear();
    a.onEvent = [&] { events.UnRegister("Tick", &c); };
    events.Send(nullptr, "Tick");
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "late"}));
    EXPECT_EQ(events.GetNumHandlers("Tick"), 2);
}

} // namespace
} // namespace GAME
