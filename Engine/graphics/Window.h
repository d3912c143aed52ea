// The game's one top-level window. The host makes it, pumps its messages once a frame and hands
// its system window (GetSystemWindow: the SDL_Window, null without a display) to the engine, whose
// render device draws into it and whose input device reads its keyboard and mouse.
//
// The window sizes itself for a client area in one of three styles (fixed, resizable, full
// screen: no frame) and reports what happens to it to the host's handler: Alt+Enter once per
// press, minimising, and the other changes of place and state. In full-screen style it keeps its
// place and size: moves, sizes and maximising are undone (the handler still hears of them).
// Commands count by their exact values: a move by dragging the caption (over SDL, every move the
// user makes) takes its course unheard, in every style, and the moves the window makes itself
// (placing, centring, sizing) are not reported at all, nor is the resize of a switch to full
// screen (a render device's own, which its owner asked for).
// A close request ends it: the next ProcessMessages answers false.
//
// The window works over a platform backend (Platform::WindowBackend): the system's by default,
// or the one given to the constructor (tests give a headless one). Main thread only.
#pragma once

#include <string>

namespace GAME {

namespace Platform {
class WindowBackend;
struct WindowMessage;
} // namespace Platform

class WindowEventHandler;

class Window
{
public:
    enum Style
    {
        STYLE_FIXED = 0,
        STYLE_RESIZABLE = 1,
        STYLE_FULL_SCREEN = 2,
    };

    // Over the system's window backend (made by Initialize).
    Window();
    // Over the given backend (owned).
    explicit Window(Platform::WindowBackend* backend);
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // Destroys an existing window, makes a new one with a client area of width x height in the
    // style (outside 0 to 2: fixed), centres, shows and activates it. icon is null or a
    // Platform::WindowIcon. False, logged, when no window can be made.
    bool Initialize(const std::string& caption, int width, int height, const void* icon, Style style);
    // Frame of the style around a client area of width x height.
    void SetSize(int width, int height, Style style);
    void Center();
    void Maximize();
    void Show(bool show);
    void Activate();
    void SetCaption(const std::string& caption);

    // Handles every waiting message; false once the window was closed (the application ends).
    bool ProcessMessages();
    // As a close request: the next ProcessMessages answers false.
    void Close();
    // Minimises and destroys the system window.
    void Destroy();

    // In front, shown and not minimised.
    bool IsActive() const;
    // Of the current client area (0 without a window).
    int GetClientWidth() const;
    int GetClientHeight() const;
    // The SDL_Window for the engine and its devices; null without one.
    void* GetSystemWindow() const;
    void SetEventHandler(WindowEventHandler* handler) { m_handler = handler; }
    Style GetStyle() const { return m_style; }
    bool IsClosed() const { return m_closed; }

private:
    void HandleMessage(const Platform::WindowMessage& message);
    void HandleCommand(const Platform::WindowMessage& message);

    Platform::WindowBackend* m_backend;
    WindowEventHandler* m_handler = nullptr;
    int m_width = 0;
    int m_height = 0;
    Style m_style = STYLE_FIXED;
    bool m_closed = false;
};

} // namespace GAME
