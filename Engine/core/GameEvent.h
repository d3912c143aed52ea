// A named event sent through the event manager, and the interface of its receivers. The base event
// carries nothing; senders with a payload derive from it and receivers, which know the event name
// they registered for, cast back. The manager passes events on untouched.
#pragma once

namespace GAME {

class GameEvent
{
public:
    GameEvent() = default;
    virtual ~GameEvent() = default;
};

class EventHandlerInterface
{
public:
    // Receives an event sent under a name this handler registered for, on the sender's thread.
    virtual void HandleEvent(const GameEvent* event) = 0;
    virtual ~EventHandlerInterface() = default;
    // The receiver's type, for the event manager's debugging summary only.
    virtual const char* GetHandlerTypeName() const { return "EventHandlerInterface"; }
};

} // namespace GAME
