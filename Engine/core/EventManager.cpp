#include "core/EventManager.h"

#include "core/Log.h"

#include <algorithm>
#include <utility>

namespace GAME {

void EventManager::Register(const std::string& eventName, EventHandlerInterface* handler)
{
    if (!handler) {
        LogPrintf(1, "EventManager: ignored a null handler for '%s'", eventName.c_str());
        return;
    }
    CriticalSectionLock lock(m_lock);
    m_handlers[eventName].push_back(handler);
}

void EventManager::UnRegister(const std::string& eventName, EventHandlerInterface* handler)
{
    CriticalSectionLock lock(m_lock);
    auto found = m_handlers.find(eventName);
    if (found == m_handlers.end())
        return;
    HandlerList& list = found->second;
    auto entry = std::find(list.begin(), list.end(), handler);
    if (entry == list.end())
        return;
    size_t position = static_cast<size_t>(entry - list.begin());
    list.erase(entry);
    // Sends walking this list would otherwise step over the handler that moved into the gap.
    for (SendCursor& cursor : m_sends)
        if (cursor.list == &list && position < *cursor.next)
            --*cursor.next;
}

void EventManager::Send(const GameEvent* event, const std::string& eventName)
{
    CriticalSectionLock lock(m_lock);
    auto found = m_handlers.find(eventName);
    if (found == m_handlers.end())
        return;
    const HandlerList& list = found->second;
    if (m_debugging)
        LogReceivers(eventName, list);

    size_t next = 0;
    m_sends.push_back(SendCursor{&list, &next});
    while (next < list.size()) {
        EventHandlerInterface* handler = list[next++];
        handler->HandleEvent(event);
    }
    m_sends.pop_back();
}

void EventManager::LogReceivers(const std::string& eventName, const HandlerList& list) const
{
    LogPrintf(0, "Event '%s' sent to %d receivers", eventName.c_str(), static_cast<int>(list.size()));
    // Types in the order they first appear in the list.
    std::vector<std::pair<std::string, int>> types;
    for (const EventHandlerInterface* handler : list) {
        const char* typeName = handler->GetHandlerTypeName();
        std::string type = typeName ? typeName : "";
        auto entry = std::find_if(types.begin(), types.end(), [&](const auto& t) { return t.first == type; });
        if (entry == types.end())
            types.emplace_back(std::move(type), 1);
        else
            ++entry->second;
    }
    for (const auto& [type, count] : types)
        LogPrintf(0, " * %d receivers of type %s", count, type.c_str());
}

void EventManager::EnableDebugging(bool enable)
{
    CriticalSectionLock lock(m_lock);
    m_debugging = enable;
}

int EventManager::GetNumHandlers(const std::string& eventName) const
{
    CriticalSectionLock lock(m_lock);
    auto found = m_handlers.find(eventName);
    return found == m_handlers.end() ? 0 : static_cast<int>(found->second.size());
}

} // namespace GAME
