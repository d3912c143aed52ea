// A window backend without a display, for unit tests: it keeps the window's state (size, style,
// position, shown, minimised, maximised, foreground) as the calls leave it, and hands out the
// messages a test posts as if a user had caused them. A system command the window lets through
// is carried out on that state (a move moves, a size sizes, minimise and maximise and restore
// change the window); a refused one is recorded and changes nothing. Main thread only.
#pragma once

#include "platform/WindowSystem.h"

#include <deque>
#include <vector>

namespace GAME::Platform {

class HeadlessWindowBackend final : public WindowBackend
{
public:
    HeadlessWindowBackend() = default;
    ~HeadlessWindowBackend() override = default;

    bool Create(const std::string& caption, int width, int height, const WindowIcon* icon) override;
    void Destroy() override;
    bool IsCreated() const override { return m_created; }
    void SetStyle(WindowStyle style, int width, int height) override;
    void GetClientSize(int& width, int& height) const override;
    void Center() override;
    void Maximize() override;
    void Minimize() override;
    void Show(bool show) override;
    void Activate() override;
    void SetCaption(const std::string& caption) override { m_caption = caption; }
    bool IsForeground() const override { return m_created && m_foreground; }
    bool IsVisible() const override { return m_created && m_visible; }
    bool IsMinimized() const override { return m_created && m_minimized; }
    // No system window: render devices and input stay headless.
    void* GetSystemWindow() const override { return nullptr; }
    void PumpMessages() override { ++m_pumps; }
    bool TakeMessage(WindowMessage& message) override;
    void FinishCommand(const WindowMessage& message, bool carryOut) override;

    // What a user would do.
    void Post(const WindowMessage& message) { m_messages.push_back(message); }
    void PostClose();
    void PostCommand(uint32_t command, int x = 0, int y = 0);
    void PostSystemKey(uint32_t virtualKey, bool altDown, bool repeat = false);
    void SetForeground(bool foreground) { m_foreground = foreground; }
    void SetScreenSize(int width, int height);
    // Fails the next Create.
    void FailNextCreate() { m_failNextCreate = true; }

    const std::string& GetCaption() const { return m_caption; }
    WindowStyle GetStyle() const { return m_style; }
    int GetX() const { return m_x; }
    int GetY() const { return m_y; }
    bool IsMaximized() const { return m_maximized; }
    int GetPumpCount() const { return m_pumps; }
    bool HadIcon() const { return m_hadIcon; }
    // Commands the window refused, in order.
    const std::vector<uint32_t>& GetRefusedCommands() const { return m_refused; }

private:
    bool m_created = false;
    bool m_failNextCreate = false;
    std::string m_caption;
    WindowStyle m_style = WindowStyle::Fixed;
    int m_width = 0;
    int m_height = 0;
    int m_x = 0;
    int m_y = 0;
    int m_screenWidth = 1920;
    int m_screenHeight = 1080;
    bool m_visible = false;
    bool m_minimized = false;
    bool m_maximized = false;
    bool m_foreground = false;
    bool m_hadIcon = false;
    int m_pumps = 0;
    std::deque<WindowMessage> m_messages;
    std::vector<uint32_t> m_refused;
};

} // namespace GAME::Platform
