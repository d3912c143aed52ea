#include "graphics/SystemInputDevice.h"

#include "core/Log.h"
#include "platform/InputSource.h"
#include "platform/WindowSystem.h"

#include <atomic>
#include <cstring>

namespace GAME {

namespace {

constexpr uint32_t scanCapsLock = 58;
constexpr uint32_t scanNumLock = 69;
constexpr uint32_t scanScrollLock = 70;
constexpr uint32_t scanLeftShift = 42;
constexpr uint32_t scanRightShift = 54;
constexpr uint32_t scanLeftAlt = 56;
constexpr uint32_t scanRightAlt = 184;
constexpr uint32_t scanLeftControl = 29;
constexpr uint32_t scanRightControl = 157;

constexpr int leftButton = 0;
constexpr int rightButton = 1;
constexpr int middleButton = 2;

std::atomic<bool> g_swallowSystemKeys{true};
std::atomic<int> g_hookUsers{0};

void SetToggle(uint8_t& state, bool on)
{
    state = static_cast<uint8_t>((state & 0x80) | (on ? 1 : 0));
}

} // namespace

SystemInputDevice::SystemInputDevice() = default;

SystemInputDevice::SystemInputDevice(Platform::InputSource* source) : m_source(source)
{
    if (m_source) {
        m_source->SaveAccessibilitySettings();
        m_accessibilitySaved = true;
    }
}

SystemInputDevice::~SystemInputDevice()
{
    if (m_hooked)
        g_hookUsers.fetch_sub(1);
    if (m_source && m_accessibilitySaved)
        m_source->RestoreAccessibilitySettings();
    delete m_source;
}

bool SystemInputDevice::AreSystemKeysSwallowed()
{
    return g_swallowSystemKeys.load();
}

int SystemInputDevice::GetHookUserCount()
{
    return g_hookUsers.load();
}

bool SystemInputDevice::Initialize(void* window, int keyboardBufferSize, int mouseBufferSize)
{
    if (keyboardBufferSize <= 0 || mouseBufferSize <= 0) {
        LogPrintf(1, "InputDevice: buffer sizes must be positive (%d, %d)", keyboardBufferSize,
                  mouseBufferSize);
        return false;
    }
    if (!m_hooked) {
        g_hookUsers.fetch_add(1);
        m_hooked = true;
    }
    if (!m_source) {
        m_source = Platform::CreateSystemInputSource(window);
        if (!m_source) {
            LogPrintf(1, "InputDevice: no keyboard and mouse for the window (%s)",
                      Platform::GetWindowSystemError().c_str());
            return false;
        }
        m_source->SaveAccessibilitySettings();
        m_accessibilitySaved = true;
    }
    if (m_source->AcquireKeyboard() == Platform::InputResult::FAILED ||
        m_source->AcquireMouse() == Platform::InputResult::FAILED) {
        LogPrintf(1, "InputDevice: the keyboard or the mouse cannot be acquired");
        return false;
    }
    m_keyboardBufferSize = static_cast<size_t>(keyboardBufferSize);
    m_mouseBufferSize = static_cast<size_t>(mouseBufferSize);
    m_capsLock = m_shift = m_alt = m_control = false;
    std::memset(m_buttonDown, 0, sizeof(m_buttonDown));
    std::memset(m_pressReported, 0, sizeof(m_pressReported));
    m_mouseSpeedX = m_mouseSpeedY = 1.0f;
    m_source->RefreshKeyboardLayout();
    m_initialized = true;
    return true;
}

bool SystemInputDevice::AcquireKeyboard()
{
    // A device taken away may stay away (another program holds it): try a few times, then let
    // the frame go on without it and try again next frame.
    for (int attempt = 0; attempt < maxAcquireAttempts; ++attempt)
        if (m_source->AcquireKeyboard() != Platform::InputResult::INPUT_LOST)
            return true;
    return false;
}

bool SystemInputDevice::AcquireMouse()
{
    for (int attempt = 0; attempt < maxAcquireAttempts; ++attempt)
        if (m_source->AcquireMouse() != Platform::InputResult::INPUT_LOST)
            return true;
    return false;
}

bool SystemInputDevice::IsScanCodeDown(uint32_t scanCode) const
{
    return scanCode < 256 && (m_keyState[scanCode] & 0x80) != 0;
}

bool SystemInputDevice::IsKeyDown(uint32_t keyCode) const
{
    const uint32_t scanCode = ScanCodeFromKeyCode(keyCode);
    if (scanCode == 0)
        return false;
    if (scanCode == scanCapsLock)
        return (m_keyState[scanCode] & 0x01) != 0; // its toggle
    return IsScanCodeDown(scanCode);
}

void SystemInputDevice::Update()
{
    m_buttonEvents.clear();
    m_mouseEvents.clear();
    if (!m_initialized || !m_source)
        return;
    m_windowActive =
        m_source->IsWindowForeground() && m_source->IsWindowVisible() && !m_source->IsWindowMinimized();

    std::vector<Platform::KeyItem> keyItems;
    ReadKeyboard(keyItems);
    m_capsLock = IsKeyDown(KeyCodeFromScanCode(scanCapsLock));
    m_shift = IsScanCodeDown(scanLeftShift) || IsScanCodeDown(scanRightShift);
    m_alt = IsScanCodeDown(scanLeftAlt) || IsScanCodeDown(scanRightAlt);
    m_control = IsScanCodeDown(scanLeftControl) || IsScanCodeDown(scanRightControl);
    ReadMouse();
    MakeButtonEvents(keyItems);
}

void SystemInputDevice::ReadKeyboard(std::vector<Platform::KeyItem>& items)
{
    if (m_source->ReadKeyboardState(m_keyState) != Platform::InputResult::OK) {
        std::memset(m_keyState, 0, sizeof(m_keyState));
        AcquireKeyboard();
    }
    bool capsLock = false, numLock = false, scrollLock = false;
    m_source->GetToggleStates(capsLock, numLock, scrollLock);
    SetToggle(m_keyState[scanCapsLock], capsLock);
    SetToggle(m_keyState[scanNumLock], numLock);
    SetToggle(m_keyState[scanScrollLock], scrollLock);
    if (m_source->ReadKeyboardItems(items, m_keyboardBufferSize) != Platform::InputResult::OK) {
        items.clear();
        AcquireKeyboard();
    }
}

InputDevice::MouseEvent SystemInputDevice::MakeMouseEvent(uint32_t type) const
{
    MouseEvent event;
    event.type = type;
    event.x = m_cursorX;
    event.y = m_cursorY;
    event.wheel = m_wheelTotal;
    event.leftDown = m_buttonDown[leftButton];
    event.rightDown = m_buttonDown[rightButton];
    event.middleDown = m_buttonDown[middleButton];
    event.capsLock = m_capsLock;
    event.shift = m_shift;
    event.alt = m_alt;
    event.control = m_control;
    return event;
}

void SystemInputDevice::PressButton(int button, uint32_t downType)
{
    if (m_pressReported[button])
        return; // held since its last press: reported once until it is released
    m_pressReported[button] = true;
    m_buttonDown[button] = true;
    m_mouseEvents.push_back(MakeMouseEvent(downType));
}

void SystemInputDevice::ReleaseButton(int button, uint32_t upType)
{
    m_pressReported[button] = false;
    m_buttonDown[button] = false;
    m_mouseEvents.push_back(MakeMouseEvent(upType));
}

void SystemInputDevice::ReadMouse()
{
    const bool swapped = m_source->AreMouseButtonsSwapped();
    Platform::MouseState state;
    bool primaryDown = m_buttonDown[swapped ? rightButton : leftButton];
    if (m_source->ReadMouseState(state) == Platform::InputResult::OK) {
        m_wheelTotal += state.wheel;
        m_buttonDown[leftButton] = state.buttons[swapped ? 1 : 0];
        m_buttonDown[rightButton] = state.buttons[swapped ? 0 : 1];
        m_buttonDown[middleButton] = state.buttons[2];
        primaryDown = state.buttons[0];
    } else {
        AcquireMouse();
    }
    std::vector<Platform::MouseItem> items;
    if (m_source->ReadMouseItems(items, m_mouseBufferSize) != Platform::InputResult::OK) {
        items.clear();
        AcquireMouse();
    }
    if (m_source->IsWindowVisible() && !m_source->IsWindowMinimized() &&
        (m_source->IsWindowForeground() || primaryDown)) {
        float x = 0.0f, y = 0.0f;
        if (m_source->GetCursorPosition(x, y)) {
            m_cursorX = x;
            m_cursorY = y;
        }
    }

    m_mouseEvents.push_back(MakeMouseEvent(MOUSE_MOVE));
    for (const Platform::MouseItem& item : items) {
        if (item.kind == Platform::MouseItem::WHEEL) {
            if (item.wheel > 0)
                m_mouseEvents.push_back(MakeMouseEvent(MOUSE_WHEEL_UP));
            else if (item.wheel < 0)
                m_mouseEvents.push_back(MakeMouseEvent(MOUSE_WHEEL_DOWN));
            continue;
        }
        if (item.kind != Platform::MouseItem::BUTTON)
            continue;
        if (item.button == 0 || item.button == 1) {
            const bool left = (item.button == 0) != swapped;
            const int button = left ? leftButton : rightButton;
            if (item.pressed)
                PressButton(button, left ? MOUSE_LEFT_DOWN : MOUSE_RIGHT_DOWN);
            else
                ReleaseButton(button, left ? MOUSE_LEFT_UP : MOUSE_RIGHT_UP);
        } else if (item.button == 2) {
            if (item.pressed)
                PressButton(middleButton, MOUSE_MIDDLE_DOWN);
            else
                ReleaseButton(middleButton, MOUSE_MIDDLE_UP);
        }
    }
}

void SystemInputDevice::SetModifiers(ButtonEvent& event) const
{
    event.capsLock = m_capsLock;
    event.shift = m_shift;
    event.alt = m_alt;
    event.control = m_control;
}

bool SystemInputDevice::TranslateKey(const Platform::KeyItem& item, ButtonEvent& event)
{
    char16_t text[maxTextLength] = {};
    int count = m_source->TranslateKey(item, text, maxTextLength - 1);
    if (count < 0) {
        // A dead key types nothing yet: it changes the next key's character.
        m_pendingDeadKeys.push_back(item);
        return false;
    }
    if (count == 1 && !m_pendingDeadKeys.empty()) {
        // The layout may have forgotten the dead key meanwhile: type it again, then the key.
        char16_t ignored[maxTextLength] = {};
        m_source->TranslateKey(m_pendingDeadKeys.back(), ignored, maxTextLength - 1);
        m_pendingDeadKeys.clear();
        count = m_source->TranslateKey(item, text, maxTextLength - 1);
    } else if (count > 1) {
        // The dead key did not compose with this key: both characters are typed.
        m_pendingDeadKeys.clear();
    }
    event.SetText(std::u16string(text, static_cast<size_t>(count < 0 ? 0 : count)));
    return true;
}

void SystemInputDevice::MakeButtonEvents(const std::vector<Platform::KeyItem>& items)
{
    m_source->RefreshKeyboardLayout();
    for (const Platform::KeyItem& item : items) {
        const uint32_t keyCode = KeyCodeFromScanCode(item.code);
        if (keyCode == KEY_NONE)
            continue;
        ButtonEvent event;
        event.keyCode = keyCode;
        event.state = item.pressed ? BUTTON_PRESSED : BUTTON_RELEASED;
        SetModifiers(event);
        // Releases type nothing.
        if (item.pressed && !TranslateKey(item, event))
            continue;
        m_buttonEvents.push_back(event);
    }
}

InputDevice::ButtonEvent SystemInputDevice::GetButtonEvent(int index) const
{
    if (index < 0 || static_cast<size_t>(index) >= m_buttonEvents.size())
        return ButtonEvent();
    return m_buttonEvents[static_cast<size_t>(index)];
}

InputDevice::MouseEvent SystemInputDevice::GetMouseEvent(int index) const
{
    if (index < 0 || static_cast<size_t>(index) >= m_mouseEvents.size())
        return MouseEvent();
    return m_mouseEvents[static_cast<size_t>(index)];
}

void SystemInputDevice::GetButtonName(uint32_t keyCode, std::u16string& name) const
{
    GetKeyName(keyCode, name);
}

void SystemInputDevice::SetAccessibilityKeys(bool enable)
{
    g_swallowSystemKeys.store(enable);
    if (!m_source)
        return;
    if (enable)
        m_source->RestoreAccessibilitySettings();
    else
        m_source->DisableAccessibilityShortcuts();
}

void SystemInputDevice::SetMouseSpeed(float x, float y)
{
    m_mouseSpeedX = x;
    m_mouseSpeedY = y;
}

} // namespace GAME
