#include "platform/HeadlessWindowBackend.h"

namespace GAME::Platform {

bool HeadlessWindowBackend::Create(const std::string& caption, int width, int height, const WindowIcon* icon)
{
    Destroy();
    if (m_failNextCreate) {
        m_failNextCreate = false;
        return false;
    }
    m_created = true;
    m_caption = caption;
    m_width = width;
    m_height = height;
    m_x = m_y = 0;
    m_visible = m_minimized = m_maximized = m_foreground = false;
    m_hadIcon = icon != nullptr && icon->pixels != nullptr;
    return true;
}

void HeadlessWindowBackend::Destroy()
{
    if (!m_created)
        return;
    m_minimized = true;
    m_created = false;
    m_visible = false;
    m_foreground = false;
    m_messages.clear();
}

void HeadlessWindowBackend::SetStyle(WindowStyle style, int width, int height)
{
    if (!m_created)
        return;
    m_style = style;
    m_width = width;
    m_height = height;
}

void HeadlessWindowBackend::GetClientSize(int& width, int& height) const
{
    width = m_created ? m_width : 0;
    height = m_created ? m_height : 0;
}

void HeadlessWindowBackend::Center()
{
    if (!m_created)
        return;
    m_x = (m_screenWidth - m_width) / 2;
    m_y = (m_screenHeight - m_height) / 2;
}

void HeadlessWindowBackend::Maximize()
{
    if (!m_created)
        return;
    m_maximized = true;
    m_minimized = false;
}

void HeadlessWindowBackend::Minimize()
{
    if (m_created)
        m_minimized = true;
}

void HeadlessWindowBackend::Show(bool show)
{
    if (m_created)
        m_visible = show;
}

void HeadlessWindowBackend::Activate()
{
    if (m_created)
        m_foreground = true;
}

bool HeadlessWindowBackend::TakeMessage(WindowMessage& message)
{
    if (!m_created || m_messages.empty())
        return false;
    message = m_messages.front();
    m_messages.pop_front();
    return true;
}

void HeadlessWindowBackend::FinishCommand(const WindowMessage& message, bool carryOut)
{
    if (message.type != WindowMessage::SYSTEM_COMMAND)
        return;
    if (!carryOut) {
        m_refused.push_back(message.command);
        return;
    }
    // The system carries out its variants of a command (low bits set) like the command.
    switch (message.command & 0xFFF0u) {
    case SYSTEM_COMMAND_MOVE:
        m_x = message.x;
        m_y = message.y;
        break;
    case SYSTEM_COMMAND_SIZE:
        m_width = message.x;
        m_height = message.y;
        break;
    case SYSTEM_COMMAND_MINIMIZE:
        m_minimized = true;
        break;
    case SYSTEM_COMMAND_MAXIMIZE:
        m_maximized = true;
        m_minimized = false;
        break;
    case SYSTEM_COMMAND_RESTORE:
        m_maximized = false;
        m_minimized = false;
        break;
    default:
        break;
    }
}

void HeadlessWindowBackend::PostClose()
{
    WindowMessage message;
    message.type = WindowMessage::CLOSE;
    Post(message);
}

void HeadlessWindowBackend::PostCommand(uint32_t command, int x, int y)
{
    WindowMessage message;
    message.type = WindowMessage::SYSTEM_COMMAND;
    message.command = command;
    message.x = x;
    message.y = y;
    Post(message);
}

void HeadlessWindowBackend::PostSystemKey(uint32_t virtualKey, bool altDown, bool repeat)
{
    WindowMessage message;
    message.type = WindowMessage::SYSTEM_KEY;
    message.virtualKey = virtualKey;
    message.altDown = altDown;
    message.repeat = repeat;
    Post(message);
}

void HeadlessWindowBackend::SetScreenSize(int width, int height)
{
    m_screenWidth = width;
    m_screenHeight = height;
}

} // namespace GAME::Platform
