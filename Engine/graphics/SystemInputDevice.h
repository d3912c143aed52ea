// The input device of the system's keyboard and mouse (InputDevice::Create): each Update reads
// the keyboard and mouse states and their buffered items from a platform input source
// (Platform::InputSource: SDL2 for a window of the window layer, or a scripted source in tests)
// and turns them into the frame's button and mouse events.
//
// Per frame: the keyboard state (the lock keys' toggles from the system), the key items with
// their text (dead keys are held back until the key they change arrives), the mouse state and
// items: one move event first, then a press of each button once until its release, left and
// right as the user's swap setting says, the wheel; the cursor follows the system cursor while
// the window is shown and in front (or the primary button is held). A device the system took
// away is acquired again a few times a frame at most; until it comes back its keys read as up
// and it has no items.
//
// The system-key hook is shared by all devices: the first device's Initialize takes it, the
// last one's destruction gives it back; its swallow flag (SetAccessibilityKeys) starts set.
// Main thread only.
#pragma once

#include "graphics/InputDevice.h"

#include <vector>

namespace GAME {

namespace Platform {
class InputSource;
struct KeyItem;
} // namespace Platform

class SystemInputDevice : public InputDevice
{
public:
    // Acquisitions of a lost device tried in one frame before the frame goes on without it.
    static constexpr int maxAcquireAttempts = 3;

    // The source is the system's, made by Initialize for its window.
    SystemInputDevice();
    // Reads the given source (owned) instead; Initialize then does not ask for a window.
    explicit SystemInputDevice(Platform::InputSource* source);
    ~SystemInputDevice() override;

    bool Initialize(void* window, int keyboardBufferSize, int mouseBufferSize) override;
    void Update() override;
    bool IsKeyDown(uint32_t keyCode) const override;
    int GetNumButtonEvents() const override { return static_cast<int>(m_buttonEvents.size()); }
    ButtonEvent GetButtonEvent(int index) const override;
    int GetNumMouseEvents() const override { return static_cast<int>(m_mouseEvents.size()); }
    MouseEvent GetMouseEvent(int index) const override;
    void GetButtonName(uint32_t keyCode, std::u16string& name) const override;
    void SetAccessibilityKeys(bool enable) override;
    void SetMouseSpeed(float x, float y) override;

    // Whether the window was in front, shown and not minimised at the last Update.
    bool IsWindowActive() const { return m_windowActive; }
    float GetMouseSpeedX() const { return m_mouseSpeedX; }
    float GetMouseSpeedY() const { return m_mouseSpeedY; }
    // The shared hook: whether it swallows the system keys, and how many devices use it.
    static bool AreSystemKeysSwallowed();
    static int GetHookUserCount();

private:
    void ReadKeyboard(std::vector<Platform::KeyItem>& items);
    void ReadMouse();
    void MakeButtonEvents(const std::vector<Platform::KeyItem>& items);
    // Translates a key press with the dead-key rules; false when it is held back as a dead key.
    bool TranslateKey(const Platform::KeyItem& item, ButtonEvent& event);
    bool AcquireKeyboard();
    bool AcquireMouse();
    bool IsScanCodeDown(uint32_t scanCode) const;
    void SetModifiers(ButtonEvent& event) const;
    MouseEvent MakeMouseEvent(uint32_t type) const;
    void PressButton(int button, uint32_t downType);
    void ReleaseButton(int button, uint32_t upType);

    Platform::InputSource* m_source = nullptr;
    bool m_initialized = false;
    bool m_hooked = false;
    bool m_accessibilitySaved = false;
    size_t m_keyboardBufferSize = 0;
    size_t m_mouseBufferSize = 0;
    bool m_windowActive = false;

    uint8_t m_keyState[256] = {};
    std::vector<ButtonEvent> m_buttonEvents;
    std::vector<MouseEvent> m_mouseEvents;
    std::vector<Platform::KeyItem> m_pendingDeadKeys;

    bool m_capsLock = false;
    bool m_shift = false;
    bool m_alt = false;
    bool m_control = false;
    // Left, right and middle as reported: down bytes of the events, and whether a press was
    // reported that its release has not followed yet.
    bool m_buttonDown[3] = {};
    bool m_pressReported[3] = {};
    int m_wheelTotal = 0;
    float m_cursorX = 0.0f;
    float m_cursorY = 0.0f;
    float m_mouseSpeedX = 1.0f;
    float m_mouseSpeedY = 1.0f;
};

} // namespace GAME
