// The window layer of the platform: one top-level window per backend, its message pump reduced to
// the few messages the game's window reacts to, and a presenter that shows video frames in a
// window outside the render device. Two backends stand behind the same interface: the system's
// (SDL2 over the machine's display) and a headless one for unit tests, into which a test posts
// the messages a user would cause (HeadlessWindowBackend).
//
// The system window handed to the engine and to render devices (GetSystemWindow) is the backend's
// SDL_Window, as an opaque pointer; it is created with OpenGL support so that a device can make its
// context on it. Null means no window (headless runs).
//
// Main thread only: SDL's video and event functions must run on the thread that started them.
#pragma once

#include <cstdint>
#include <string>

namespace GAME::Platform {

enum class WindowStyle : int
{
    Fixed = 0,      // caption, system menu, minimise box
    Resizable = 1,  // with a sizing frame and minimise and maximise boxes
    FullScreen = 2, // no caption or frame, the size of the client area
};

// The system commands a window hears, by the values the window's rules are written in.
enum : uint32_t
{
    SYSTEM_COMMAND_SIZE = 0xF000,
    SYSTEM_COMMAND_MOVE = 0xF010,
    // The move the system makes while the caption is dragged: the move command with low bits set,
    // which the window leaves to its normal course without telling its handler. Over SDL every
    // move the user makes is this one (the window manager drags the window); the moves the window
    // makes itself (placing, centring, sizing) are not reported at all.
    SYSTEM_COMMAND_CAPTION_MOVE = 0xF012,
    SYSTEM_COMMAND_MINIMIZE = 0xF020,
    SYSTEM_COMMAND_MAXIMIZE = 0xF030,
    SYSTEM_COMMAND_KEY_MENU = 0xF100,
    SYSTEM_COMMAND_RESTORE = 0xF120,
    SYSTEM_COMMAND_SCREEN_SAVE = 0xF140,
    SYSTEM_COMMAND_MONITOR_POWER = 0xF170,
};

// Virtual key of Enter in system key messages.
constexpr uint32_t virtualKeyReturn = 13;

struct WindowMessage
{
    enum Type : uint32_t
    {
        CLOSE = 0,      // the user (or the system) asks the window to close
        SYSTEM_KEY = 1, // a key went down while Alt was held
        SYSTEM_COMMAND = 2,
    };

    Type type = CLOSE;
    // SYSTEM_KEY: the virtual key, whether Alt was held and whether it is the auto-repeat of a
    // held key.
    uint32_t virtualKey = 0;
    bool altDown = false;
    bool repeat = false;
    // SYSTEM_COMMAND: the command; for a move the new position, for a size the new client size.
    uint32_t command = 0;
    int x = 0;
    int y = 0;
};

// An application icon: width x height pixels, 32 bits each (0xAARRGGBB), rows from the top.
struct WindowIcon
{
    int width = 0;
    int height = 0;
    const uint32_t* pixels = nullptr;
};

class WindowBackend
{
public:
    WindowBackend() = default;
    WindowBackend(const WindowBackend&) = delete;
    WindowBackend& operator=(const WindowBackend&) = delete;
    virtual ~WindowBackend() = default;

    // Makes the window, hidden, with a client area of width x height; false (logged) on failure.
    // icon may be null (the system's default icon).
    virtual bool Create(const std::string& caption, int width, int height, const WindowIcon* icon) = 0;
    // Minimises and destroys the window; nothing without one.
    virtual void Destroy() = 0;
    virtual bool IsCreated() const = 0;
    // Frame and decorations of the style around a client area of width x height.
    virtual void SetStyle(WindowStyle style, int width, int height) = 0;
    // The current client area.
    virtual void GetClientSize(int& width, int& height) const = 0;
    virtual void Center() = 0;
    virtual void Maximize() = 0;
    virtual void Minimize() = 0;
    virtual void Show(bool show) = 0;
    // Brings the window to the foreground.
    virtual void Activate() = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    // Foreground (has the keyboard), shown, minimised.
    virtual bool IsForeground() const = 0;
    virtual bool IsVisible() const = 0;
    virtual bool IsMinimized() const = 0;
    // The window for render devices and the input layer; null without one.
    virtual void* GetSystemWindow() const = 0;

    // Collects what the system has for this window; then TakeMessage hands the messages out
    // one by one, oldest first (false when none is left).
    virtual void PumpMessages() = 0;
    virtual bool TakeMessage(WindowMessage& message) = 0;
    // A system command the window let through (carryOut) or refused. Commands reach the window
    // after the system carried them out, so a refused move or size is undone here.
    virtual void FinishCommand(const WindowMessage& message, bool carryOut) = 0;
};

// The system's backend (SDL2); null, with one log line, when no display can be opened.
WindowBackend* CreateSystemWindowBackend();

// Whether a display can be opened (asks once and remembers the answer).
bool HasDisplay();

// Why the last operation of the window layer that failed did so (for the caller's log line).
std::string GetWindowSystemError();

// Shows decoded video frames in a system window, outside any render device: the window's own
// frame buffer is written and flipped. Frames are 32 bits a pixel, bytes blue, green, red, alpha.
class VideoPresenter
{
public:
    // Over the system window (from GetSystemWindow); full screen switches the display to width x
    // height first (the caller restores the display mode). Null, logged, when it cannot.
    static VideoPresenter* Create(void* systemWindow, bool fullScreen, int width, int height);

    VideoPresenter() = default;
    VideoPresenter(const VideoPresenter&) = delete;
    VideoPresenter& operator=(const VideoPresenter&) = delete;
    virtual ~VideoPresenter() = default;

    virtual void GetClientSize(int& width, int& height) const = 0;
    // Clears the window to black, draws the frame scaled into the destination rectangle (client
    // pixels) and shows it; false when the window cannot be drawn.
    virtual bool Present(const void* pixels, int width, int height, int pitch, int destX, int destY,
                         int destWidth, int destHeight) = 0;
    // True once a key went down or the window was asked to close since the presenter was made.
    virtual bool ShouldStop() = 0;
};

} // namespace GAME::Platform
