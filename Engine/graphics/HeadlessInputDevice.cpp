#include "graphics/HeadlessInputDevice.h"

#include "core/Log.h"

namespace GAME {

bool HeadlessInputDevice::Initialize(void*, int keyboardBufferSize, int mouseBufferSize)
{
    if (keyboardBufferSize <= 0 || mouseBufferSize <= 0) {
        LogPrintf(1, "HeadlessInputDevice: buffer sizes must be positive (%d, %d)", keyboardBufferSize,
                  mouseBufferSize);
        return false;
    }
    m_keyboardBufferSize = static_cast<size_t>(keyboardBufferSize);
    m_mouseBufferSize = static_cast<size_t>(mouseBufferSize);
    m_initialized = true;
    return true;
}

void HeadlessInputDevice::Update()
{
    m_buttonEvents.clear();
    m_mouseEvents.clear();
    if (!m_initialized)
        return;
    while (!m_pendingButtons.empty() && m_buttonEvents.size() < m_keyboardBufferSize) {
        const ButtonEvent& event = m_pendingButtons.front();
        if (event.keyCode <= KEY_LAST_KEYBOARD && event.keyCode != KEY_NONE)
            m_keysDown[event.keyCode] = event.state == BUTTON_PRESSED;
        m_buttonEvents.push_back(event);
        m_pendingButtons.pop_front();
    }
    while (!m_pendingMouse.empty() && m_mouseEvents.size() < m_mouseBufferSize) {
        m_mouseEvents.push_back(m_pendingMouse.front());
        m_pendingMouse.pop_front();
    }
}

bool HeadlessInputDevice::IsKeyDown(uint32_t keyCode) const
{
    return keyCode < m_keysDown.size() && m_keysDown[keyCode];
}

InputDevice::ButtonEvent HeadlessInputDevice::GetButtonEvent(int index) const
{
    if (index < 0 || static_cast<size_t>(index) >= m_buttonEvents.size())
        return ButtonEvent();
    return m_buttonEvents[static_cast<size_t>(index)];
}

InputDevice::MouseEvent HeadlessInputDevice::GetMouseEvent(int index) const
{
    if (index < 0 || static_cast<size_t>(index) >= m_mouseEvents.size())
        return MouseEvent();
    return m_mouseEvents[static_cast<size_t>(index)];
}

void HeadlessInputDevice::GetButtonName(uint32_t keyCode, std::u16string& name) const
{
    GetKeyName(keyCode, name);
}

void HeadlessInputDevice::SetMouseSpeed(float x, float y)
{
    m_mouseSpeedX = x;
    m_mouseSpeedY = y;
}

void HeadlessInputDevice::SetKeyDown(uint32_t keyCode, bool down)
{
    if (keyCode < m_keysDown.size())
        m_keysDown[keyCode] = down;
}

} // namespace GAME
