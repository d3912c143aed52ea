#include "graphics/Display.h"

#include "graphics/DisplayWidget.h"

#include <algorithm>

namespace GAME {

// Registers a walk's cursor for the walk's lifetime.
class Display::CursorScope
{
public:
    CursorScope(std::vector<Cursor*>& walks, Cursor& cursor) : m_walks(walks), m_cursor(cursor)
    {
        m_walks.push_back(&m_cursor);
    }
    ~CursorScope() { m_walks.erase(std::find(m_walks.begin(), m_walks.end(), &m_cursor)); }
    CursorScope(const CursorScope&) = delete;
    CursorScope& operator=(const CursorScope&) = delete;

private:
    std::vector<Cursor*>& m_walks;
    Cursor& m_cursor;
};

void Display::AddWidget(DisplayWidget* widget)
{
    m_widgets.push_back(widget);
}

void Display::RemoveWidget(DisplayWidget* widget)
{
    auto it = std::find(m_widgets.begin(), m_widgets.end(), widget);
    if (it == m_widgets.end())
        return;
    const int index = static_cast<int>(it - m_widgets.begin());
    m_widgets.erase(it);
    // A widget at or before the running one went away: the update goes on with the widget that
    // followed the running one, which has moved down by one.
    if (index <= m_updateCursor)
        --m_updateCursor;
    for (Cursor* cursor : m_walks) {
        if (cursor->forward ? index <= cursor->index : index < cursor->index)
            --cursor->index;
    }
}

DisplayWidget* Display::GetWidget(int index) const
{
    return index >= 0 && static_cast<size_t>(index) < m_widgets.size() ? m_widgets[static_cast<size_t>(index)]
                                                                       : nullptr;
}

void Display::Update()
{
    for (m_updateCursor = 0; m_updateCursor < static_cast<int>(m_widgets.size()); ++m_updateCursor)
        if (m_updateCursor >= 0)
            m_widgets[static_cast<size_t>(m_updateCursor)]->Update();
    m_updateCursor = 0;
}

template <typename Call> bool Display::OfferEvent(Call call)
{
    Cursor cursor;
    CursorScope scope(m_walks, cursor);
    for (cursor.index = 0; cursor.index < static_cast<int>(m_widgets.size()); ++cursor.index)
        if (cursor.index >= 0 && call(m_widgets[static_cast<size_t>(cursor.index)]))
            return true;
    return false;
}

bool Display::HandleKeyEvent(const InputDevice::ButtonEvent& event)
{
    return OfferEvent([&](DisplayWidget* widget) { return widget->HandleKeyEvent(event); });
}

bool Display::HandleMouseEvent(const InputDevice::MouseEvent& event)
{
    return OfferEvent([&](DisplayWidget* widget) { return widget->HandleMouseEvent(event); });
}

void Display::Render(GraphicsCanvas& canvas) const
{
    Cursor cursor;
    cursor.forward = false;
    CursorScope scope(m_walks, cursor);
    for (cursor.index = static_cast<int>(m_widgets.size()) - 1; cursor.index >= 0; --cursor.index)
        if (static_cast<size_t>(cursor.index) < m_widgets.size())
            m_widgets[static_cast<size_t>(cursor.index)]->Render(canvas);
}

} // namespace GAME
