// Delivers named events (GameEvent) to the handlers registered under the event's name, in
// registration order. Handlers are not owned; a handler registered twice receives each event twice.
//
// Threads: every operation holds the manager's re-entrant lock, also while handlers run. A handler
// may send, register or unregister on the same thread; another thread waits until the send ends.
#pragma once

#include "core/CriticalSection.h"
#include "core/GameEvent.h"
#include "core/Singleton.h"

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace GAME {

class EventManager : public Singleton<EventManager>
{
public:
    EventManager() = default;
    ~EventManager() override = default;

    void Register(const std::string& eventName, EventHandlerInterface* handler);
    // Removes the first registration of the handler under the name; nothing if there is none.
    void UnRegister(const std::string& eventName, EventHandlerInterface* handler);
    // Hands the event to every handler of the name. Handlers added by a handler during the send
    // receive it too; handlers removed during the send no longer do, and none is skipped.
    void Send(const GameEvent* event, const std::string& eventName);

    // With debugging on, each send logs how many handlers of which types receive it.
    void EnableDebugging(bool enable);

    int GetNumHandlers(const std::string& eventName) const;

private:
    using HandlerList = std::vector<EventHandlerInterface*>;

    // A send in progress: the position of its next handler in its list.
    struct SendCursor
    {
        const HandlerList* list;
        size_t* next;
    };

    void LogReceivers(const std::string& eventName, const HandlerList& list) const;

    mutable CriticalSection m_lock;
    // std::map keeps each list at a stable address while other names are added during a send.
    std::map<std::string, HandlerList> m_handlers;
    std::vector<SendCursor> m_sends;
    bool m_debugging = false;
};

} // namespace GAME
