// The ordered list of on-screen widgets the engine holds (not owned: whoever adds a widget removes
// and deletes it). The first widget has the first claim on events and is drawn last, on top.
//
// Widgets may add or remove widgets, themselves included, from inside their Update, their
// Render and their event handling: every walk over the list keeps its place when an entry
// before it goes, so no widget is skipped or called twice, and a removed widget is not called
// again by the walk in progress. Widgets added during a walk are reached by an Update walk and by
// an event walk, not by a Render walk. Main thread only.
#pragma once

#include "graphics/InputDevice.h"

#include <vector>

namespace GAME {

class DisplayWidget;
class GraphicsCanvas;

class Display
{
public:
    Display() = default;
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    // Appends; a widget added twice is called twice.
    void AddWidget(DisplayWidget* widget);
    // Removes the first entry of the widget; an absent widget changes nothing.
    void RemoveWidget(DisplayWidget* widget);
    // Every widget's Update, first to last.
    void Update();
    // Offered first to last until a widget consumes it; answers whether one did.
    bool HandleKeyEvent(const InputDevice::ButtonEvent& event);
    bool HandleMouseEvent(const InputDevice::MouseEvent& event);
    // Every widget's Render, last to first.
    void Render(GraphicsCanvas& canvas) const;

    int GetNumWidgets() const { return static_cast<int>(m_widgets.size()); }
    // Null for an index outside the list.
    DisplayWidget* GetWidget(int index) const;

private:
    // The place of a walk over the widgets: the index of the widget being called. RemoveWidget
    // moves the cursors of the walks in progress.
    struct Cursor
    {
        int index = 0;
        bool forward = true;
    };
    class CursorScope;

    template <typename Call> bool OfferEvent(Call call);

    std::vector<DisplayWidget*> m_widgets;
    // Index of the widget whose Update runs; kept right when widgets are removed meanwhile.
    int m_updateCursor = 0;
    // The other walks in progress (events and drawing may nest inside a widget's call).
    mutable std::vector<Cursor*> m_walks;
};

} // namespace GAME
