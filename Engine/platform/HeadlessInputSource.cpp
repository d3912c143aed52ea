#include "platform/HeadlessInputSource.h"

#include <algorithm>
#include <cstring>

namespace GAME::Platform {

InputResult HeadlessInputSource::Failures::Next()
{
    if (count == 0)
        return InputResult::OK;
    if (count > 0)
        --count;
    return result;
}

InputResult HeadlessInputSource::ReadKeyboardState(uint8_t state[keyStateSize])
{
    const InputResult result = m_keyboardStateFailures.Next();
    if (result == InputResult::OK)
        std::memcpy(state, m_keyState, keyStateSize);
    return result;
}

InputResult HeadlessInputSource::ReadKeyboardItems(std::vector<KeyItem>& items, size_t maxItems)
{
    const InputResult result = m_keyboardItemFailures.Next();
    if (result != InputResult::OK)
        return result;
    for (size_t i = 0; i < maxItems && !m_keyItems.empty(); ++i) {
        items.push_back(m_keyItems.front());
        m_keyItems.pop_front();
    }
    return result;
}

InputResult HeadlessInputSource::AcquireKeyboard()
{
    ++m_keyboardAcquires;
    return m_keyboardAcquireAnswers.Next();
}

InputResult HeadlessInputSource::ReadMouseState(MouseState& state)
{
    const InputResult result = m_mouseStateFailures.Next();
    if (result == InputResult::OK) {
        state = m_mouseState;
        m_mouseState.wheel = 0;
    }
    return result;
}

InputResult HeadlessInputSource::ReadMouseItems(std::vector<MouseItem>& items, size_t maxItems)
{
    const InputResult result = m_mouseItemFailures.Next();
    if (result != InputResult::OK)
        return result;
    for (size_t i = 0; i < maxItems && !m_mouseItems.empty(); ++i) {
        items.push_back(m_mouseItems.front());
        m_mouseItems.pop_front();
    }
    return result;
}

InputResult HeadlessInputSource::AcquireMouse()
{
    ++m_mouseAcquires;
    return m_mouseAcquireAnswers.Next();
}

void HeadlessInputSource::GetToggleStates(bool& capsLock, bool& numLock, bool& scrollLock)
{
    capsLock = m_capsLock;
    numLock = m_numLock;
    scrollLock = m_scrollLock;
}

bool HeadlessInputSource::GetCursorPosition(float& x, float& y)
{
    if (!m_cursorKnown)
        return false;
    x = m_cursorX;
    y = m_cursorY;
    return true;
}

int HeadlessInputSource::TranslateKey(const KeyItem& item, char16_t* text, int capacity)
{
    ++m_translations;
    if (!text || capacity <= 0)
        return 0;
    auto dead = m_deadKeys.find(item.code);
    std::u16string typed;
    if (dead != m_deadKeys.end()) {
        if (m_deadAccent == 0) {
            m_deadAccent = dead->second;
            return -1;
        }
        // Two accents in a row type both.
        typed = std::u16string(1, m_deadAccent) + dead->second;
    } else {
        auto key = m_keyTexts.find(item.code);
        if (key == m_keyTexts.end() || key->second.empty())
            return 0; // a key without a character leaves a dead key waiting
        typed = key->second;
        if (m_deadAccent != 0) {
            auto composed = m_compositions.find({m_deadAccent, typed[0]});
            if (composed != m_compositions.end())
                typed = std::u16string(1, composed->second) + typed.substr(1);
            else
                typed = std::u16string(1, m_deadAccent) + typed;
        }
    }
    m_deadAccent = 0;
    const int count = std::min(static_cast<int>(typed.size()), capacity);
    std::copy(typed.begin(), typed.begin() + count, text);
    return count;
}

void HeadlessInputSource::QueueKey(uint8_t code, bool pressed)
{
    KeyItem item;
    item.code = code;
    item.pressed = pressed;
    item.sequence = m_nextSequence++;
    m_keyItems.push_back(item);
}

void HeadlessInputSource::PressKey(uint8_t code)
{
    m_keyState[code] = 0x80;
    QueueKey(code, true);
}

void HeadlessInputSource::ReleaseKey(uint8_t code)
{
    m_keyState[code] = 0;
    QueueKey(code, false);
}

void HeadlessInputSource::SetKeyState(uint8_t code, bool down)
{
    m_keyState[code] = down ? 0x80 : 0;
}

void HeadlessInputSource::PressButton(uint8_t button)
{
    if (button > 2)
        return;
    m_mouseState.buttons[button] = true;
    MouseItem item;
    item.kind = MouseItem::BUTTON;
    item.button = button;
    item.pressed = true;
    m_mouseItems.push_back(item);
}

void HeadlessInputSource::ReleaseButton(uint8_t button)
{
    if (button > 2)
        return;
    m_mouseState.buttons[button] = false;
    MouseItem item;
    item.kind = MouseItem::BUTTON;
    item.button = button;
    item.pressed = false;
    m_mouseItems.push_back(item);
}

void HeadlessInputSource::TurnWheel(int amount)
{
    m_mouseState.wheel += amount;
    MouseItem item;
    item.kind = MouseItem::WHEEL;
    item.wheel = amount;
    m_mouseItems.push_back(item);
}

void HeadlessInputSource::Move()
{
    MouseItem item;
    item.kind = MouseItem::MOTION;
    m_mouseItems.push_back(item);
}

void HeadlessInputSource::SetToggles(bool capsLock, bool numLock, bool scrollLock)
{
    m_capsLock = capsLock;
    m_numLock = numLock;
    m_scrollLock = scrollLock;
}

void HeadlessInputSource::SetWindowState(bool foreground, bool visible, bool minimized)
{
    m_foreground = foreground;
    m_visible = visible;
    m_minimized = minimized;
}

void HeadlessInputSource::FailKeyboardStateReads(int count, InputResult result)
{
    m_keyboardStateFailures = {count, result};
}

void HeadlessInputSource::FailKeyboardItemReads(int count, InputResult result)
{
    m_keyboardItemFailures = {count, result};
}

void HeadlessInputSource::FailMouseStateReads(int count, InputResult result)
{
    m_mouseStateFailures = {count, result};
}

void HeadlessInputSource::FailMouseItemReads(int count, InputResult result)
{
    m_mouseItemFailures = {count, result};
}

void HeadlessInputSource::AnswerKeyboardAcquire(int count, InputResult result)
{
    m_keyboardAcquireAnswers = {count, result};
}

void HeadlessInputSource::AnswerMouseAcquire(int count, InputResult result)
{
    m_mouseAcquireAnswers = {count, result};
}

void HeadlessInputSource::SetComposition(char16_t accent, char16_t letter, char16_t composed)
{
    m_compositions[{accent, letter}] = composed;
}

} // namespace GAME::Platform
