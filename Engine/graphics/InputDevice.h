// Keyboard and mouse, read once per frame. The engine creates one device at start-up (unless the
// host asked for no input), initialises it with the game window and buffer sizes of 256, calls
// Update every frame and hands the frame's buffered events, in order, to the display.
//
// Key codes are the engine's own numbering 1 to 144 of the keyboard's scan codes that exist, in
// increasing order (1 to 83 equal the scan codes; 84 is scan code 86, 144 is 237; see
// KeyCodeFromScanCode), then 145 wheel up, 146 wheel down and 147 middle mouse button. Events
// are plain values. Main thread only.
#pragma once

#include <cstdint>
#include <string>

namespace GAME {

class InputDevice
{
public:
    enum : uint32_t
    {
        KEY_NONE = 0,
        KEY_LAST_KEYBOARD = 144,
        KEY_WHEEL_UP = 145,
        KEY_WHEEL_DOWN = 146,
        KEY_MIDDLE_MOUSE = 147,
    };

    enum ButtonState : uint32_t
    {
        BUTTON_PRESSED = 0,
        BUTTON_RELEASED = 1,
    };

    enum MouseEventType : uint32_t
    {
        MOUSE_MOVE = 0,
        MOUSE_LEFT_DOWN = 1,
        MOUSE_RIGHT_DOWN = 2,
        MOUSE_MIDDLE_DOWN = 3,
        MOUSE_LEFT_UP = 4,
        MOUSE_RIGHT_UP = 5,
        MOUSE_MIDDLE_UP = 6,
        MOUSE_WHEEL_UP = 7,
        MOUSE_WHEEL_DOWN = 8,
    };

    static constexpr int maxTextLength = 10;

    // A key (or the middle button or wheel, see MouseEvent::ConvertToButtonEvent) going down or up.
    class ButtonEvent
    {
    public:
        virtual ~ButtonEvent() = default;

        // The characters the key types, zero-terminated; empty when it types none.
        const char16_t* GetText() const { return text; }
        // Keeps at most maxTextLength - 1 characters.
        void SetText(const std::u16string& characters);

        uint32_t keyCode = KEY_NONE;
        uint32_t state = BUTTON_PRESSED;
        bool capsLock = false;
        bool shift = false;
        bool alt = false;
        bool control = false;
        char16_t text[maxTextLength] = {};
    };

    class MouseEvent
    {
    public:
        // The middle button and the wheel as key events: middle down/up become key 147 pressed
        // or released, wheel up and down keys 145 and 146 pressed. The modifiers are copied;
        // other types leave the key and state unchanged.
        void ConvertToButtonEvent(ButtonEvent& event) const;

        uint32_t type = MOUSE_MOVE;
        float x = 0.0f; // client coordinates
        float y = 0.0f;
        int wheel = 0; // sum of all wheel movement since Initialize
        bool leftDown = false;
        bool rightDown = false;
        bool middleDown = false;
        bool capsLock = false;
        bool shift = false;
        bool alt = false;
        bool control = false;
    };

    // The engine's key code of a scan code (0 for scan codes no key has) and back (0 for key
    // code 0 and codes above 144).
    static uint32_t KeyCodeFromScanCode(uint32_t scanCode);
    static uint32_t ScanCodeFromKeyCode(uint32_t keyCode);

    // The device of the system's keyboard and mouse (SystemInputDevice), reading the window that
    // Initialize names.
    static InputDevice* Create();
    // Deletes the device and nulls the pointer; null is allowed.
    static void Destroy(InputDevice*& device);

    InputDevice() = default;
    InputDevice(const InputDevice&) = delete;
    InputDevice& operator=(const InputDevice&) = delete;

    // window is the host's system window (opaque); the sizes bound the events kept per frame.
    virtual bool Initialize(void* window, int keyboardBufferSize, int mouseBufferSize) = 0;
    // Reads the devices: the event lists restart with this frame's events.
    virtual void Update() = 0;
    virtual bool IsKeyDown(uint32_t keyCode) const = 0;
    virtual int GetNumButtonEvents() const = 0;
    // Out of range: an event of key 0.
    virtual ButtonEvent GetButtonEvent(int index) const = 0;
    virtual int GetNumMouseEvents() const = 0;
    virtual MouseEvent GetMouseEvent(int index) const = 0;
    virtual void GetButtonName(uint32_t keyCode, std::u16string& name) const = 0;
    // false turns the system's accessibility shortcut keys off while the game runs.
    virtual void SetAccessibilityKeys(bool enable) = 0;
    virtual void SetMouseSpeed(float x, float y) = 0;
    virtual ~InputDevice() = default;

protected:
    // "Wheel Up", "Wheel Down", "Middle Mouse", else the key's name from the system ("Escape",
    // "Left Shift"); empty for codes no key has.
    static void GetKeyName(uint32_t keyCode, std::u16string& name);
};

} // namespace GAME
