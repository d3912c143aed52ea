// The editor's visibility filter: objects placed in the editor register with a filter type (1 to
// 7), each type can be switched on (hide its objects) or off, and Sync applies the switches to the
// objects at most once every 501 ms. A lazily made singleton (Get, Destroy); the engine destroys
// it at shut-down. Main thread only.
//
// TODO(stand-in): showing and hiding the entity of an id (through the object manager and
// Entity::SetVisibility); until they exist Sync keeps the applied states without touching objects.
#pragma once

#include "core/Singleton.h"
#include "core/Timer.h"

#include <map>

namespace GAME {

class EditorFilter : public Singleton<EditorFilter>
{
public:
    enum EditorFilterType
    {
        FILTER_TYPE_FIRST = 1,
        FILTER_TYPE_LIGHT = 4, // lights register with this type in editor mode
        FILTER_TYPE_LAST = 7,
    };

    static constexpr int syncIntervalMs = 501;

    EditorFilter();
    ~EditorFilter() override = default;

    bool GetFilterAll() const;
    bool GetFilterNone() const;
    void SetFilterAll();
    void SetFilterNone();
    // False for a type outside 1 to 7.
    bool GetFilter(int type) const;
    // Types outside 1 to 7 are ignored.
    void SetFilter(int type, bool filtered);

    // Id 0 is ignored; registering an id again replaces its entry (type, nothing applied).
    void AddFilterObject(unsigned int objectId, int type);
    void RemoveFilterObject(unsigned int objectId);
    // Whether the object was hidden by the last applying Sync.
    bool IsObjectFiltered(unsigned int objectId) const;
    void Sync();

private:
    struct Entry
    {
        bool applied = false;
        int type = 0;
    };

    void HideShowObject(unsigned int objectId, bool hide);

    std::map<int, bool> m_filters;
    std::map<unsigned int, Entry> m_objects;
    SystemTimer m_syncTimer;
};

} // namespace GAME
