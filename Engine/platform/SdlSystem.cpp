#include "platform/SdlSystem.h"

#include "platform/FatalError.h"
#include "platform/QuietStandardError.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>

namespace GAME::Platform::Sdl {

namespace {

// SDL scancodes (USB usages) and the PC scan codes of the same keys.
struct ScanCodePair
{
    SDL_Scancode sdl;
    uint8_t code;
};

const ScanCodePair g_scanCodes[] = {
    {SDL_SCANCODE_ESCAPE, 1},
    {SDL_SCANCODE_1, 2},
    {SDL_SCANCODE_2, 3},
    {SDL_SCANCODE_3, 4},
    {SDL_SCANCODE_4, 5},
    {SDL_SCANCODE_5, 6},
    {SDL_SCANCODE_6, 7},
    {SDL_SCANCODE_7, 8},
    {SDL_SCANCODE_8, 9},
    {SDL_SCANCODE_9, 10},
    {SDL_SCANCODE_0, 11},
    {SDL_SCANCODE_MINUS, 12},
    {SDL_SCANCODE_EQUALS, 13},
    {SDL_SCANCODE_BACKSPACE, 14},
    {SDL_SCANCODE_TAB, 15},
    {SDL_SCANCODE_Q, 16},
    {SDL_SCANCODE_W, 17},
    {SDL_SCANCODE_E, 18},
    {SDL_SCANCODE_R, 19},
    {SDL_SCANCODE_T, 20},
    {SDL_SCANCODE_Y, 21},
    {SDL_SCANCODE_U, 22},
    {SDL_SCANCODE_I, 23},
    {SDL_SCANCODE_O, 24},
    {SDL_SCANCODE_P, 25},
    {SDL_SCANCODE_LEFTBRACKET, 26},
    {SDL_SCANCODE_RIGHTBRACKET, 27},
    {SDL_SCANCODE_RETURN, 28},
    {SDL_SCANCODE_LCTRL, 29},
    {SDL_SCANCODE_A, 30},
    {SDL_SCANCODE_S, 31},
    {SDL_SCANCODE_D, 32},
    {SDL_SCANCODE_F, 33},
    {SDL_SCANCODE_G, 34},
    {SDL_SCANCODE_H, 35},
    {SDL_SCANCODE_J, 36},
    {SDL_SCANCODE_K, 37},
    {SDL_SCANCODE_L, 38},
    {SDL_SCANCODE_SEMICOLON, 39},
    {SDL_SCANCODE_APOSTROPHE, 40},
    {SDL_SCANCODE_GRAVE, 41},
    {SDL_SCANCODE_LSHIFT, 42},
    {SDL_SCANCODE_BACKSLASH, 43},
    {SDL_SCANCODE_NONUSHASH, 43}, // the ISO key in the same place
    {SDL_SCANCODE_Z, 44},
    {SDL_SCANCODE_X, 45},
    {SDL_SCANCODE_C, 46},
    {SDL_SCANCODE_V, 47},
    {SDL_SCANCODE_B, 48},
    {SDL_SCANCODE_N, 49},
    {SDL_SCANCODE_M, 50},
    {SDL_SCANCODE_COMMA, 51},
    {SDL_SCANCODE_PERIOD, 52},
    {SDL_SCANCODE_SLASH, 53},
    {SDL_SCANCODE_RSHIFT, 54},
    {SDL_SCANCODE_KP_MULTIPLY, 55},
    {SDL_SCANCODE_LALT, 56},
    {SDL_SCANCODE_SPACE, 57},
    {SDL_SCANCODE_CAPSLOCK, 58},
    {SDL_SCANCODE_F1, 59},
    {SDL_SCANCODE_F2, 60},
    {SDL_SCANCODE_F3, 61},
    {SDL_SCANCODE_F4, 62},
    {SDL_SCANCODE_F5, 63},
    {SDL_SCANCODE_F6, 64},
    {SDL_SCANCODE_F7, 65},
    {SDL_SCANCODE_F8, 66},
    {SDL_SCANCODE_F9, 67},
    {SDL_SCANCODE_F10, 68},
    {SDL_SCANCODE_NUMLOCKCLEAR, 69},
    {SDL_SCANCODE_SCROLLLOCK, 70},
    {SDL_SCANCODE_KP_7, 71},
    {SDL_SCANCODE_KP_8, 72},
    {SDL_SCANCODE_KP_9, 73},
    {SDL_SCANCODE_KP_MINUS, 74},
    {SDL_SCANCODE_KP_4, 75},
    {SDL_SCANCODE_KP_5, 76},
    {SDL_SCANCODE_KP_6, 77},
    {SDL_SCANCODE_KP_PLUS, 78},
    {SDL_SCANCODE_KP_1, 79},
    {SDL_SCANCODE_KP_2, 80},
    {SDL_SCANCODE_KP_3, 81},
    {SDL_SCANCODE_KP_0, 82},
    {SDL_SCANCODE_KP_PERIOD, 83},
    {SDL_SCANCODE_NONUSBACKSLASH, 86},
    {SDL_SCANCODE_F11, 87},
    {SDL_SCANCODE_F12, 88},
    {SDL_SCANCODE_F13, 100},
    {SDL_SCANCODE_F14, 101},
    {SDL_SCANCODE_F15, 102},
    {SDL_SCANCODE_INTERNATIONAL2, 112}, // Kana
    {SDL_SCANCODE_INTERNATIONAL1, 115}, // Ro
    {SDL_SCANCODE_INTERNATIONAL4, 121}, // Convert
    {SDL_SCANCODE_INTERNATIONAL5, 123}, // No convert
    {SDL_SCANCODE_INTERNATIONAL3, 125}, // Yen
    {SDL_SCANCODE_KP_EQUALS, 141},
    {SDL_SCANCODE_AUDIOPREV, 144},
    {SDL_SCANCODE_AUDIONEXT, 153},
    {SDL_SCANCODE_KP_ENTER, 156},
    {SDL_SCANCODE_RCTRL, 157},
    {SDL_SCANCODE_AUDIOMUTE, 160},
    {SDL_SCANCODE_MUTE, 160},
    {SDL_SCANCODE_CALCULATOR, 161},
    {SDL_SCANCODE_AUDIOPLAY, 162},
    {SDL_SCANCODE_AUDIOSTOP, 164},
    {SDL_SCANCODE_VOLUMEDOWN, 174},
    {SDL_SCANCODE_VOLUMEUP, 176},
    {SDL_SCANCODE_AC_HOME, 178},
    {SDL_SCANCODE_KP_COMMA, 179},
    {SDL_SCANCODE_KP_DIVIDE, 181},
    {SDL_SCANCODE_PRINTSCREEN, 183},
    {SDL_SCANCODE_RALT, 184},
    {SDL_SCANCODE_PAUSE, 197},
    {SDL_SCANCODE_HOME, 199},
    {SDL_SCANCODE_UP, 200},
    {SDL_SCANCODE_PAGEUP, 201},
    {SDL_SCANCODE_LEFT, 203},
    {SDL_SCANCODE_RIGHT, 205},
    {SDL_SCANCODE_END, 207},
    {SDL_SCANCODE_DOWN, 208},
    {SDL_SCANCODE_PAGEDOWN, 209},
    {SDL_SCANCODE_INSERT, 210},
    {SDL_SCANCODE_DELETE, 211},
    {SDL_SCANCODE_LGUI, 219},
    {SDL_SCANCODE_RGUI, 220},
    {SDL_SCANCODE_APPLICATION, 221},
    {SDL_SCANCODE_POWER, 222},
    {SDL_SCANCODE_SLEEP, 223},
    {SDL_SCANCODE_AC_SEARCH, 229},
    {SDL_SCANCODE_AC_BOOKMARKS, 230},
    {SDL_SCANCODE_AC_REFRESH, 231},
    {SDL_SCANCODE_AC_STOP, 232},
    {SDL_SCANCODE_AC_FORWARD, 233},
    {SDL_SCANCODE_AC_BACK, 234},
    {SDL_SCANCODE_COMPUTER, 235},
    {SDL_SCANCODE_MAIL, 236},
    {SDL_SCANCODE_MEDIASELECT, 237},
};

struct Tables
{
    uint8_t fromSdl[SDL_NUM_SCANCODES] = {};
    int toSdl[keyStateSize] = {};

    Tables()
    {
        for (const ScanCodePair& pair : g_scanCodes) {
            fromSdl[pair.sdl] = pair.code;
            if (toSdl[pair.code] == 0) // the first key of a code names it
                toSdl[pair.code] = pair.sdl;
        }
    }
};

const Tables& GetTables()
{
    static const Tables tables;
    return tables;
}

struct Hub
{
    int videoUsers = 0;
    bool videoStarted = false;
    uint32_t nextSequence = 1;
    std::unordered_map<uint32_t, std::unique_ptr<WindowQueues>> windows;
};

Hub& GetHub()
{
    static Hub hub;
    return hub;
}

std::string& LastError()
{
    static std::string error;
    return error;
}

bool ShowMessageBox(const std::string& title, const std::string& text)
{
    return SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title.c_str(), text.c_str(), nullptr) == 0;
}

template <typename T> void PushBounded(std::deque<T>& queue, const T& item)
{
    if (queue.size() >= maxQueuedItems)
        queue.pop_front();
    queue.push_back(item);
}

void AppendUtf8(std::u16string& out, const char* text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        uint32_t c = *p++;
        int more = 0;
        if (c >= 0xF0) {
            c &= 0x07;
            more = 3;
        } else if (c >= 0xE0) {
            c &= 0x0F;
            more = 2;
        } else if (c >= 0xC0) {
            c &= 0x1F;
            more = 1;
        } else if (c >= 0x80) {
            continue; // a stray continuation byte
        }
        for (; more > 0 && (*p & 0xC0) == 0x80; --more)
            c = (c << 6) | (*p++ & 0x3F);
        if (more > 0)
            continue; // cut short
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
}

// The window an event of that id goes to: events pushed without a window go to the one with the
// keyboard, or to the only window there is.
WindowQueues* Route(uint32_t windowId)
{
    Hub& hub = GetHub();
    if (windowId == 0) {
        if (SDL_Window* focus = SDL_GetKeyboardFocus())
            windowId = SDL_GetWindowID(focus);
        else if (hub.windows.size() == 1)
            return hub.windows.begin()->second.get();
    }
    return FindQueues(windowId);
}

void SetCursor(WindowQueues& queues, int x, int y)
{
    queues.cursorX = static_cast<float>(x);
    queues.cursorY = static_cast<float>(y);
}

void HandleKey(const SDL_KeyboardEvent& key)
{
    WindowQueues* queues = Route(key.windowID);
    if (!queues)
        return;
    const bool pressed = key.state == SDL_PRESSED;
    const SDL_Scancode scancode = key.keysym.scancode;
    if (pressed && (scancode == SDL_SCANCODE_RETURN || scancode == SDL_SCANCODE_KP_ENTER)) {
        if (key.keysym.mod & KMOD_ALT) {
            WindowMessage message;
            message.type = WindowMessage::SYSTEM_KEY;
            message.virtualKey = virtualKeyReturn;
            message.altDown = true;
            message.repeat = key.repeat != 0;
            PushBounded(queues->messages, message);
        }
    }
    if (key.repeat) {
        // Held keys are items once; the text of their repeats has no press to go with.
        queues->textTarget = 0;
        return;
    }
    if (pressed)
        ++queues->keyPresses;
    const uint8_t code = scancode >= 0 && scancode < SDL_NUM_SCANCODES ? GetTables().fromSdl[scancode] : 0;
    if (code == 0) {
        queues->textTarget = 0;
        return;
    }
    queues->keyState[code] = pressed ? 0x80 : 0x00;
    KeyItem item;
    item.code = code;
    item.pressed = pressed;
    item.sequence = GetHub().nextSequence++;
    if (queues->keys.size() >= maxQueuedItems) {
        queues->texts.erase(queues->keys.front().sequence);
        queues->keys.pop_front();
    }
    queues->keys.push_back(item);
    queues->textTarget = pressed ? item.sequence : 0;
}

void HandleText(const SDL_TextInputEvent& text)
{
    WindowQueues* queues = Route(text.windowID);
    if (!queues || queues->textTarget == 0)
        return;
    AppendUtf8(queues->texts[queues->textTarget], text.text);
}

void HandleButton(const SDL_MouseButtonEvent& button)
{
    WindowQueues* queues = Route(button.windowID);
    if (!queues)
        return;
    SetCursor(*queues, button.x, button.y);
    int index = -1;
    switch (button.button) {
    case SDL_BUTTON_LEFT:
        index = 0;
        break;
    case SDL_BUTTON_RIGHT:
        index = 1;
        break;
    case SDL_BUTTON_MIDDLE:
        index = 2;
        break;
    default:
        return;
    }
    const bool pressed = button.state == SDL_PRESSED;
    queues->buttons[index] = pressed;
    MouseItem item;
    item.kind = MouseItem::BUTTON;
    item.button = static_cast<uint8_t>(index);
    item.pressed = pressed;
    PushBounded(queues->mouse, item);
}

void HandleWheel(const SDL_MouseWheelEvent& wheel)
{
    WindowQueues* queues = Route(wheel.windowID);
    if (!queues)
        return;
    int steps = wheel.y;
    if (wheel.direction == SDL_MOUSEWHEEL_FLIPPED)
        steps = -steps;
    if (steps == 0)
        return;
    MouseItem item;
    item.kind = MouseItem::WHEEL;
    item.wheel = steps * wheelDelta;
    queues->wheel += item.wheel;
    PushBounded(queues->mouse, item);
}

// A full-screen window takes the size of the display mode it is shown at as it goes full screen
// (whoever switched it: a render device does so itself, through SDL); nobody sizes a full-screen
// window by hand, so a resize to that size is the switch's own.
bool IsFullScreenSwitchResize(const SDL_WindowEvent& event)
{
    SDL_Window* window = SDL_GetWindowFromID(event.windowID);
    if (!window)
        return false;
    const uint32_t flags = SDL_GetWindowFlags(window);
    if ((flags & SDL_WINDOW_FULLSCREEN) == 0)
        return false;
    SDL_DisplayMode shown = {};
    SDL_DisplayMode current = {};
    const int display = std::max(SDL_GetWindowDisplayIndex(window), 0);
    const bool desktop = (flags & SDL_WINDOW_FULLSCREEN_DESKTOP) == SDL_WINDOW_FULLSCREEN_DESKTOP;
    const bool hasShown = desktop ? SDL_GetDesktopDisplayMode(display, &shown) == 0
                                  : SDL_GetWindowDisplayMode(window, &shown) == 0;
    const bool hasCurrent = SDL_GetCurrentDisplayMode(display, &current) == 0;
    return (hasShown && event.data1 == shown.w && event.data2 == shown.h) ||
           (hasCurrent && event.data1 == current.w && event.data2 == current.h);
}

void HandleWindowEvent(const SDL_WindowEvent& event)
{
    WindowQueues* queues = FindQueues(event.windowID);
    if (!queues)
        return;
    WindowMessage message;
    message.type = WindowMessage::SYSTEM_COMMAND;
    switch (event.event) {
    case SDL_WINDOWEVENT_CLOSE:
        message.type = WindowMessage::CLOSE;
        ++queues->closeRequests;
        break;
    case SDL_WINDOWEVENT_MOVED:
        if (queues->placed && event.data1 == queues->placedX && event.data2 == queues->placedY)
            return; // the window's own placing, centring or sizing
        // Any other move is the user's, through the window manager: a caption drag.
        message.command = SYSTEM_COMMAND_CAPTION_MOVE;
        message.x = event.data1;
        message.y = event.data2;
        break;
    case SDL_WINDOWEVENT_RESIZED:
        if (IsFullScreenSwitchResize(event))
            return;
        message.command = SYSTEM_COMMAND_SIZE;
        message.x = event.data1;
        message.y = event.data2;
        break;
    case SDL_WINDOWEVENT_MINIMIZED:
        message.command = SYSTEM_COMMAND_MINIMIZE;
        break;
    case SDL_WINDOWEVENT_MAXIMIZED:
        message.command = SYSTEM_COMMAND_MAXIMIZE;
        break;
    case SDL_WINDOWEVENT_RESTORED:
        message.command = SYSTEM_COMMAND_RESTORE;
        break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        // Keys released while another window has the keyboard are never heard of.
        std::fill(std::begin(queues->keyState), std::end(queues->keyState), uint8_t(0));
        queues->textTarget = 0;
        return;
    default:
        return;
    }
    PushBounded(queues->messages, message);
}

} // namespace

void SetError(const std::string& text)
{
    LastError() = text;
}

bool AcquireVideo()
{
    Hub& hub = GetHub();
    if (!hub.videoStarted) {
        // The process keeps its own handling of SIGINT and SIGTERM.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        // SDL tries each of its video drivers in turn, and the system libraries of those that find
        // nothing say so on standard error (Wayland's, without XDG_RUNTIME_DIR): the caller hears
        // of a missing display from us, with SDL's reason.
        int started = 0;
        {
            QuietStandardError quiet;
            started = SDL_InitSubSystem(SDL_INIT_VIDEO);
        }
        if (started != 0) {
            SetError(std::string("SDL's video start-up failed: ") + SDL_GetError());
            return false;
        }
        // Without a display SDL falls back to drivers that show nothing (its off-screen one
        // where there is no X server): a window there is no window, and OpenGL cannot draw on it.
        const char* driver = SDL_GetCurrentVideoDriver();
        if (!driver || std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0 ||
            std::strcmp(driver, "evdev") == 0) {
            SetError(std::string("SDL's video driver \"") + (driver ? driver : "") + "\" shows nothing");
            SDL_QuitSubSystem(SDL_INIT_VIDEO);
            return false;
        }
        hub.videoStarted = true;
        SetMessageBoxPresenter(ShowMessageBox);
    }
    ++hub.videoUsers;
    return true;
}

void ReleaseVideo()
{
    // The display stays open once opened: closing it unloads the system's OpenGL drivers, which
    // take their allocations with them, and a later window would open it again at once.
    Hub& hub = GetHub();
    if (hub.videoUsers > 0)
        --hub.videoUsers;
}

uint32_t GetWindowId(void* sdlWindow)
{
    if (!sdlWindow)
        return 0;
    for (const auto& [id, queues] : GetHub().windows)
        if (queues->window == sdlWindow)
            return id;
    return 0;
}

void RegisterWindow(uint32_t windowId, void* sdlWindow)
{
    if (windowId == 0)
        return;
    auto queues = std::make_unique<WindowQueues>();
    queues->window = sdlWindow;
    GetHub().windows[windowId] = std::move(queues);
}

void UnregisterWindow(uint32_t windowId)
{
    GetHub().windows.erase(windowId);
}

WindowQueues* FindQueues(uint32_t windowId)
{
    Hub& hub = GetHub();
    auto it = hub.windows.find(windowId);
    return it == hub.windows.end() ? nullptr : it->second.get();
}

void Pump()
{
    Hub& hub = GetHub();
    if (!hub.videoStarted)
        return;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        switch (event.type) {
        case SDL_QUIT:
            for (auto& [id, queues] : hub.windows) {
                WindowMessage message;
                message.type = WindowMessage::CLOSE;
                PushBounded(queues->messages, message);
                ++queues->closeRequests;
            }
            break;
        case SDL_WINDOWEVENT:
            HandleWindowEvent(event.window);
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            HandleKey(event.key);
            break;
        case SDL_TEXTINPUT:
            HandleText(event.text);
            break;
        case SDL_MOUSEMOTION:
            if (WindowQueues* queues = Route(event.motion.windowID)) {
                SetCursor(*queues, event.motion.x, event.motion.y);
                MouseItem item;
                item.kind = MouseItem::MOTION;
                PushBounded(queues->mouse, item);
            }
            break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
            HandleButton(event.button);
            break;
        case SDL_MOUSEWHEEL:
            HandleWheel(event.wheel);
            break;
        default:
            break;
        }
    }
}

uint8_t ScanCodeFromSdl(int sdlScancode)
{
    return sdlScancode > 0 && sdlScancode < SDL_NUM_SCANCODES ? GetTables().fromSdl[sdlScancode] : 0;
}

int SdlFromScanCode(uint8_t code)
{
    return GetTables().toSdl[code];
}

} // namespace GAME::Platform::Sdl

namespace GAME::Platform {

std::string GetWindowSystemError()
{
    return Sdl::LastError();
}

bool HasDisplay()
{
    static const bool answer = [] {
        if (!Sdl::AcquireVideo())
            return false;
        Sdl::ReleaseVideo();
        return true;
    }();
    return answer;
}

std::string GetScanCodeName(uint8_t code)
{
    const int sdl = Sdl::SdlFromScanCode(code);
    if (sdl == 0)
        return std::string();
    // A fixed table of SDL's: needs no display.
    const char* name = SDL_GetScancodeName(static_cast<SDL_Scancode>(sdl));
    return name ? std::string(name) : std::string();
}

} // namespace GAME::Platform
