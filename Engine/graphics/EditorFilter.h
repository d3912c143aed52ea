// The editor's visibility filter: objects placed in the editor register with a filter type (1 to
// 7), each type can be switched on (hide its objects) or off, and Sync applies the switches to the
// objects at most once every 501 ms. A lazily made singleton (Get, Destroy); the engine destroys
// it at shut-down. Main thread only.
//
// Applying a switch looks the object up by id in the object manager and, when it is an entity,
// sets its visibility; ids of objects that are gone, or that are not entities, only have their
// applied state recorded.
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
        // The editor's categories of placed objects.
        FILTER_TYPE_ACTOR = 1,
        FILTER_TYPE_ITEM = 2,
        FILTER_TYPE_PROP = 3,
        FILTER_TYPE_LIGHT = 4, // lights register with this type in editor mode
        FILTER_TYPE_EFFECT = 5,
        FILTER_TYPE_SOUND = 6,
        FILTER_TYPE_TRIGGER = 7,

        FILTER_TYPE_FIRST = FILTER_TYPE_ACTOR,
        FILTER_TYPE_LAST = FILTER_TYPE_TRIGGER,
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

    // Id 0 is ignored; registering an id again replaces its entry (type, nothing applied). The
    // type is kept as given: one outside 1 to 7 is never filtered.
    void AddFilterObject(unsigned int objectId, int type);
    void RemoveFilterObject(unsigned int objectId);
    // Whether the object was hidden by the last applying Sync.
    bool IsObjectFiltered(unsigned int objectId) const;
    // At most once every syncIntervalMs (by the system clock): each registered object whose type's
    // switch differs from what was last applied to it is hidden or shown, in id order.
    void Sync();

private:
    struct Entry
    {
        bool applied = false;
        int type = 0;
    };

    // The entity of the id made invisible (hide) or visible; anything else is left alone.
    void HideShowObject(unsigned int objectId, bool hide);

    std::map<int, bool> m_filters;
    std::map<unsigned int, Entry> m_objects;
    SystemTimer m_syncTimer;
};

} // namespace GAME
