// The keyboard and mouse as the input device reads them: device states and buffered items in
// the shape of the classic PC input API. Keys are numbered by their PC scan codes (set 1, the
// extended keys with the high bit: 1 Escape, 28 Enter, 156 keypad Enter, 200 cursor up...);
// mouse buttons are 0 primary, 1 secondary, 2 middle; wheel movement is 120 a notch.
//
// Two sources stand behind the interface: the system's (SDL2, bound to a window of the window
// layer; see WindowSystem.h) and a scriptable one for unit tests (HeadlessInputSource).
// Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace GAME::Platform {

constexpr int keyStateSize = 256;
constexpr int wheelDelta = 120;

struct KeyItem
{
    uint8_t code = 0; // scan code
    bool pressed = false;
    // Increasing number of the item, so that a translation can find what came with it.
    uint32_t sequence = 0;
};

struct MouseItem
{
    enum Kind : uint8_t
    {
        BUTTON = 0,
        WHEEL = 1,
        MOTION = 2, // movement only; the cursor position is read separately
    };
    Kind kind = MOTION;
    uint8_t button = 0; // BUTTON: 0, 1 or 2
    bool pressed = false;
    int wheel = 0; // WHEEL: positive away from the user
};

struct MouseState
{
    bool buttons[3] = {};
    // Wheel movement since the last read of the state.
    int wheel = 0;
};

// Answers of the reads and of acquisition.
enum class InputResult
{
    OK,
    INPUT_LOST, // the device was taken away (acquire it again)
    FAILED,
};

class InputSource
{
public:
    InputSource() = default;
    InputSource(const InputSource&) = delete;
    InputSource& operator=(const InputSource&) = delete;
    virtual ~InputSource() = default;

    // One byte per scan code, bit 7 set while the key is down.
    virtual InputResult ReadKeyboardState(uint8_t state[keyStateSize]) = 0;
    // Appends at most maxItems of the items that arrived since the last read, oldest first.
    virtual InputResult ReadKeyboardItems(std::vector<KeyItem>& items, size_t maxItems) = 0;
    virtual InputResult AcquireKeyboard() = 0;
    virtual InputResult ReadMouseState(MouseState& state) = 0;
    virtual InputResult ReadMouseItems(std::vector<MouseItem>& items, size_t maxItems) = 0;
    virtual InputResult AcquireMouse() = 0;

    // The lock keys' toggles.
    virtual void GetToggleStates(bool& capsLock, bool& numLock, bool& scrollLock) = 0;
    // The cursor in the window's client coordinates; false when it cannot be told.
    virtual bool GetCursorPosition(float& x, float& y) = 0;
    virtual bool IsWindowForeground() = 0;
    virtual bool IsWindowVisible() = 0;
    virtual bool IsWindowMinimized() = 0;
    // The user's setting that makes the secondary button the primary one.
    virtual bool AreMouseButtonsSwapped() = 0;

    // Takes the system's keyboard state (lock keys, layout) for the translations that follow.
    virtual void RefreshKeyboardLayout() = 0;
    // The characters the key item types (up to capacity): their count, or -1 for a dead key, which
    // types nothing now but changes the character of the next key. A key translated after a dead
    // key yields the composed character, or both characters when they do not compose.
    virtual int TranslateKey(const KeyItem& item, char16_t* text, int capacity) = 0;

    // The system's accessibility shortcut keys (sticky, toggle and filter keys): keep the user's
    // settings, switch the shortcuts off while the game runs, put the settings back.
    virtual void SaveAccessibilitySettings() = 0;
    virtual void DisableAccessibilityShortcuts() = 0;
    virtual void RestoreAccessibilitySettings() = 0;
};

// The system's source for a window of the window layer (WindowBackend::GetSystemWindow); null,
// logged, for a null or unknown window.
InputSource* CreateSystemInputSource(void* systemWindow);

// The name of the key of a scan code ("Escape", "Left Shift", "Keypad Enter"); empty for a code no
// key has.
std::string GetScanCodeName(uint8_t code);

} // namespace GAME::Platform
