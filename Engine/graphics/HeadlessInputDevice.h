// The input device of runs without a window (tests, the sample host): nothing is read from the
// system; events are queued by the caller (QueueButtonEvent, QueueMouseEvent) and delivered by the
// next Update, at most the buffer size of each kind per frame, the rest in later frames. A
// delivered key event also moves the key's down state; SetKeyDown sets it directly. Main thread
// only, like every input device.
#pragma once

#include "graphics/InputDevice.h"

#include <bitset>
#include <deque>
#include <vector>

namespace GAME {

class HeadlessInputDevice : public InputDevice
{
public:
    HeadlessInputDevice() = default;
    ~HeadlessInputDevice() override = default;

    bool Initialize(void* window, int keyboardBufferSize, int mouseBufferSize) override;
    void Update() override;
    bool IsKeyDown(uint32_t keyCode) const override;
    int GetNumButtonEvents() const override { return static_cast<int>(m_buttonEvents.size()); }
    ButtonEvent GetButtonEvent(int index) const override;
    int GetNumMouseEvents() const override { return static_cast<int>(m_mouseEvents.size()); }
    MouseEvent GetMouseEvent(int index) const override;
    void GetButtonName(uint32_t keyCode, std::u16string& name) const override;
    void SetAccessibilityKeys(bool) override {} // no system shortcut keys without a window
    void SetMouseSpeed(float x, float y) override;

    void QueueButtonEvent(const ButtonEvent& event) { m_pendingButtons.push_back(event); }
    void QueueMouseEvent(const MouseEvent& event) { m_pendingMouse.push_back(event); }
    void SetKeyDown(uint32_t keyCode, bool down);
    float GetMouseSpeedX() const { return m_mouseSpeedX; }
    float GetMouseSpeedY() const { return m_mouseSpeedY; }

private:
    bool m_initialized = false;
    size_t m_keyboardBufferSize = 0;
    size_t m_mouseBufferSize = 0;
    std::deque<ButtonEvent> m_pendingButtons;
    std::deque<MouseEvent> m_pendingMouse;
    std::vector<ButtonEvent> m_buttonEvents;
    std::vector<MouseEvent> m_mouseEvents;
    std::bitset<KEY_MIDDLE_MOUSE + 1> m_keysDown;
    float m_mouseSpeedX = 1.0f;
    float m_mouseSpeedY = 1.0f;
};

} // namespace GAME
