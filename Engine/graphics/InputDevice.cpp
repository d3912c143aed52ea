#include "graphics/InputDevice.h"

#include "graphics/SystemInputDevice.h"
#include "platform/InputSource.h"

#include <array>
#include <new>

namespace GAME {

namespace {

// The scan codes that have keys, in increasing order: key code i + 1 is entry i.
constexpr uint8_t g_keyScanCodes[InputDevice::KEY_LAST_KEYBOARD] = {
    1,   2,   3,   4,   5,   6,   7,   8,   9,   10,  11,  12,  13,  14,  15,  16,  17,  18,  19,  20,  21,
    22,  23,  24,  25,  26,  27,  28,  29,  30,  31,  32,  33,  34,  35,  36,  37,  38,  39,  40,  41,  42,
    43,  44,  45,  46,  47,  48,  49,  50,  51,  52,  53,  54,  55,  56,  57,  58,  59,  60,  61,  62,  63,
    64,  65,  66,  67,  68,  69,  70,  71,  72,  73,  74,  75,  76,  77,  78,  79,  80,  81,  82,  83,  86,
    87,  88,  100, 101, 102, 112, 115, 121, 123, 125, 126, 141, 144, 145, 146, 147, 148, 149, 150, 151, 153,
    156, 157, 160, 161, 162, 164, 174, 176, 178, 179, 181, 183, 184, 197, 199, 200, 201, 203, 205, 207, 208,
    209, 210, 211, 219, 220, 221, 222, 223, 227, 229, 230, 231, 232, 233, 234, 235, 236, 237};

struct KeyCodeTable
{
    std::array<uint8_t, 256> fromScanCode{};
    constexpr KeyCodeTable()
    {
        for (uint32_t i = 0; i < InputDevice::KEY_LAST_KEYBOARD; ++i)
            fromScanCode[g_keyScanCodes[i]] = static_cast<uint8_t>(i + 1);
    }
};

constexpr KeyCodeTable g_keyCodeTable;

} // namespace

uint32_t InputDevice::KeyCodeFromScanCode(uint32_t scanCode)
{
    return scanCode < g_keyCodeTable.fromScanCode.size() ? g_keyCodeTable.fromScanCode[scanCode] : 0;
}

uint32_t InputDevice::ScanCodeFromKeyCode(uint32_t keyCode)
{
    return keyCode >= 1 && keyCode <= KEY_LAST_KEYBOARD ? g_keyScanCodes[keyCode - 1] : 0;
}

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

void InputDevice::GetKeyName(uint32_t keyCode, std::u16string& name)
{
    switch (keyCode) {
    case KEY_WHEEL_UP:
        name = u"Wheel Up";
        return;
    case KEY_WHEEL_DOWN:
        name = u"Wheel Down";
        return;
    case KEY_MIDDLE_MOUSE:
        name = u"Middle Mouse";
        return;
    default:
        break;
    }
    name.clear();
    const uint32_t scanCode = ScanCodeFromKeyCode(keyCode);
    if (scanCode == 0)
        return;
    for (char c : Platform::GetScanCodeName(static_cast<uint8_t>(scanCode)))
        name.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
}

InputDevice* InputDevice::Create()
{
    return new (std::nothrow) SystemInputDevice;
}

void InputDevice::Destroy(InputDevice*& device)
{
    delete device;
    device = nullptr;
}

} // namespace GAME
