#include "graphics/InputDevice.h"

#include "graphics/HeadlessInputDevice.h"

#include <new>

namespace GAME {

void InputDevice::ButtonEvent::SetText(const std::u16string& characters)
{
    size_t i = 0;
    for (; i < characters.size() && i + 1 < maxTextLength; ++i)
        text[i] = characters[i];
    for (; i < maxTextLength; ++i)
        text[i] = 0;
}

void InputDevice::MouseEvent::ConvertToButtonEvent(ButtonEvent& event) const
{
    event.capsLock = capsLock;
    event.shift = shift;
    event.alt = alt;
    event.control = control;
    switch (type) {
    case MOUSE_MIDDLE_DOWN:
        event.keyCode = KEY_MIDDLE_MOUSE;
        event.state = BUTTON_PRESSED;
        break;
    case MOUSE_MIDDLE_UP:
        event.keyCode = KEY_MIDDLE_MOUSE;
        event.state = BUTTON_RELEASED;
        break;
    case MOUSE_WHEEL_UP:
        event.keyCode = KEY_WHEEL_UP;
        event.state = BUTTON_PRESSED;
        break;
    case MOUSE_WHEEL_DOWN:
        event.keyCode = KEY_WHEEL_DOWN;
        event.state = BUTTON_PRESSED;
        break;
    default:
        break;
    }
}

InputDevice* InputDevice::Create()
{
    return new (std::nothrow) HeadlessInputDevice;
}

void InputDevice::Destroy(InputDevice*& device)
{
    delete device;
    device = nullptr;
}

} // namespace GAME
