#include "graphics/Window.h"

#include "core/Log.h"
#include "graphics/WindowEventHandler.h"
#include "platform/WindowSystem.h"

namespace GAME {

namespace {

Platform::WindowStyle ToPlatformStyle(Window::Style style)
{
    switch (style) {
    case Window::STYLE_RESIZABLE:
        return Platform::WindowStyle::Resizable;
    case Window::STYLE_FULL_SCREEN:
        return Platform::WindowStyle::FullScreen;
    default:
        return Platform::WindowStyle::Fixed;
    }
}

} // namespace

Window::Window() : m_backend(nullptr) {}

Window::Window(Platform::WindowBackend* backend) : m_backend(backend) {}

Window::~Window()
{
    Destroy();
    delete m_backend;
}

bool Window::Initialize(const std::string& caption, int width, int height, const void* icon, Style style)
{
    Destroy();
    m_width = width;
    m_height = height;
    m_style = style;
    m_closed = false;
    if (!m_backend)
        m_backend = Platform::CreateSystemWindowBackend();
    if (!m_backend) {
        LogPrintf(1, "Window: no display to open a window on (%s)", Platform::GetWindowSystemError().c_str());
        return false;
    }
    if (width <= 0 || height <= 0) {
        LogPrintf(1, "Window: no window of %d x %d", width, height);
        return false;
    }
    if (!m_backend->Create(caption, width, height, static_cast<const Platform::WindowIcon*>(icon))) {
        LogPrintf(1, "Window: couldn't create the window '%s' (%s)", caption.c_str(),
                  Platform::GetWindowSystemError().c_str());
        return false;
    }
    SetSize(m_width, m_height, m_style);
    Center();
    Show(true);
    Activate();
    return true;
}

void Window::SetSize(int width, int height, Style style)
{
    if (style < STYLE_FIXED || style > STYLE_FULL_SCREEN)
        style = STYLE_FIXED;
    if (m_backend)
        m_backend->SetStyle(ToPlatformStyle(style), width, height);
    m_width = width;
    m_height = height;
    m_style = style;
}

void Window::Center()
{
    if (m_backend)
        m_backend->Center();
}

void Window::Maximize()
{
    if (m_backend)
        m_backend->Maximize();
}

void Window::Show(bool show)
{
    if (m_backend)
        m_backend->Show(show);
}

void Window::Activate()
{
    if (m_backend)
        m_backend->Activate();
}

void Window::SetCaption(const std::string& caption)
{
    if (m_backend)
        m_backend->SetCaption(caption);
}

bool Window::ProcessMessages()
{
    if (m_backend && m_backend->IsCreated()) {
        m_backend->PumpMessages();
        Platform::WindowMessage message;
        while (!m_closed && m_backend->TakeMessage(message))
            HandleMessage(message);
    }
    return !m_closed;
}

void Window::HandleMessage(const Platform::WindowMessage& message)
{
    switch (message.type) {
    case Platform::WindowMessage::CLOSE:
        m_closed = true;
        break;
    case Platform::WindowMessage::SYSTEM_KEY:
        // Once per press: the repeats of a held Enter are not new presses.
        if (message.virtualKey == Platform::virtualKeyReturn && message.altDown && !message.repeat &&
            m_handler)
            m_handler->OnAltEnter();
        break;
    case Platform::WindowMessage::SYSTEM_COMMAND:
        HandleCommand(message);
        break;
    }
}

void Window::HandleCommand(const Platform::WindowMessage& message)
{
    // Commands are matched by their exact values: the system's variants with low bits set (a
    // move by dragging the caption) take their normal course unheard.
    bool carryOut = true;
    switch (message.command) {
    case Platform::SYSTEM_COMMAND_MINIMIZE:
        if (m_handler)
            m_handler->OnMinimize();
        break;
    case Platform::SYSTEM_COMMAND_RESTORE:
        if (m_handler)
            m_handler->OnWindowChange();
        break;
    case Platform::SYSTEM_COMMAND_SIZE:
    case Platform::SYSTEM_COMMAND_MOVE:
    case Platform::SYSTEM_COMMAND_MAXIMIZE:
    case Platform::SYSTEM_COMMAND_SCREEN_SAVE:
    case Platform::SYSTEM_COMMAND_MONITOR_POWER:
        if (m_handler)
            m_handler->OnWindowChange();
        carryOut = m_style != STYLE_FULL_SCREEN;
        break;
    case Platform::SYSTEM_COMMAND_KEY_MENU:
        carryOut = false;
        break;
    default:
        break;
    }
    m_backend->FinishCommand(message, carryOut);
}

void Window::Close()
{
    m_closed = true;
}

void Window::Destroy()
{
    if (m_backend)
        m_backend->Destroy();
}

bool Window::IsActive() const
{
    return m_backend && m_backend->IsForeground() && m_backend->IsVisible() && !m_backend->IsMinimized();
}

int Window::GetClientWidth() const
{
    int width = 0, height = 0;
    if (m_backend)
        m_backend->GetClientSize(width, height);
    return width;
}

int Window::GetClientHeight() const
{
    int width = 0, height = 0;
    if (m_backend)
        m_backend->GetClientSize(width, height);
    return height;
}

void* Window::GetSystemWindow() const
{
    return m_backend ? m_backend->GetSystemWindow() : nullptr;
}

} // namespace GAME
