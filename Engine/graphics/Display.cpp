#include "graphics/Display.h"

#include "graphics/DisplayWidget.h"

#include <algorithm>

namespace GAME {

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
}

void Display::Update()
{
    for (m_updateCursor = 0; m_updateCursor >= 0 && m_updateCursor < static_cast<int>(m_widgets.size());
         ++m_updateCursor)
        m_widgets[static_cast<size_t>(m_updateCursor)]->Update();
    m_updateCursor = 0;
}

bool Display::HandleKeyEvent(const InputDevice::ButtonEvent& event)
{
    for (size_t i = 0; i < m_widgets.size(); ++i)
        if (m_widgets[i]->HandleKeyEvent(event))
            return true;
    return false;
}

bool Display::HandleMouseEvent(const InputDevice::MouseEvent& event)
{
    for (size_t i = 0; i < m_widgets.size(); ++i)
        if (m_widgets[i]->HandleMouseEvent(event))
            return true;
    return false;
}

void Display::Render(GraphicsCanvas& canvas) const
{
    for (size_t i = m_widgets.size(); i-- > 0;)
        m_widgets[i]->Render(canvas);
}

} // namespace GAME
