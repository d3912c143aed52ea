// A scriptable input source for unit tests: a test presses and releases keys and buttons, turns
// the wheel, places the cursor, sets the window's state and the user's settings, makes reads and
// acquisitions fail, and scripts the keyboard layout (the text of each key, dead keys and what
// they compose). Translation keeps a dead-key state the way the system's keyboard layouts do: a
// dead key sets it, the next key with a character uses it up. Main thread only.
#pragma once

#include "platform/InputSource.h"

#include <deque>
#include <map>
#include <utility>

namespace GAME::Platform {

class HeadlessInputSource final : public InputSource
{
public:
    HeadlessInputSource() = default;
    ~HeadlessInputSource() override = default;

    InputResult ReadKeyboardState(uint8_t state[keyStateSize]) override;
    InputResult ReadKeyboardItems(std::vector<KeyItem>& items, size_t maxItems) override;
    InputResult AcquireKeyboard() override;
    InputResult ReadMouseState(MouseState& state) override;
    InputResult ReadMouseItems(std::vector<MouseItem>& items, size_t maxItems) override;
    InputResult AcquireMouse() override;
    void GetToggleStates(bool& capsLock, bool& numLock, bool& scrollLock) override;
    bool GetCursorPosition(float& x, float& y) override;
    bool IsWindowForeground() override { return m_foreground; }
    bool IsWindowVisible() override { return m_visible; }
    bool IsWindowMinimized() override { return m_minimized; }
    bool AreMouseButtonsSwapped() override { return m_swapped; }
    void RefreshKeyboardLayout() override { ++m_layoutRefreshes; }
    int TranslateKey(const KeyItem& item, char16_t* text, int capacity) override;
    void SaveAccessibilitySettings() override { ++m_accessibilitySaves; }
    void DisableAccessibilityShortcuts() override { ++m_accessibilityDisables; }
    void RestoreAccessibilitySettings() override { ++m_accessibilityRestores; }

    // Keyboard: the state byte changes and an item is queued.
    void PressKey(uint8_t code);
    void ReleaseKey(uint8_t code);
    // The state byte only (a key held since before the items were read).
    void SetKeyState(uint8_t code, bool down);

    // Mouse: button 0 primary, 1 secondary, 2 middle.
    void PressButton(uint8_t button);
    void ReleaseButton(uint8_t button);
    void TurnWheel(int amount);
    void Move();
    void SetCursor(float x, float y)
    {
        m_cursorX = x;
        m_cursorY = y;
    }
    void SetCursorKnown(bool known) { m_cursorKnown = known; }

    void SetToggles(bool capsLock, bool numLock, bool scrollLock);
    void SetWindowState(bool foreground, bool visible, bool minimized);
    void SetButtonsSwapped(bool swapped) { m_swapped = swapped; }

    // The next `count` reads of that kind answer `result` (and read nothing).
    void FailKeyboardStateReads(int count, InputResult result);
    void FailKeyboardItemReads(int count, InputResult result);
    void FailMouseStateReads(int count, InputResult result);
    void FailMouseItemReads(int count, InputResult result);
    // The next `count` acquisitions answer `result`; a negative count: every one from now on.
    void AnswerKeyboardAcquire(int count, InputResult result);
    void AnswerMouseAcquire(int count, InputResult result);
    int GetKeyboardAcquireCount() const { return m_keyboardAcquires; }
    int GetMouseAcquireCount() const { return m_mouseAcquires; }

    // The layout: what a key types, dead keys with their accent, and the characters an accent and
    // a letter compose to. Keys without text type nothing.
    void SetKeyText(uint8_t code, const std::u16string& text) { m_keyTexts[code] = text; }
    void SetDeadKey(uint8_t code, char16_t accent) { m_deadKeys[code] = accent; }
    void SetComposition(char16_t accent, char16_t letter, char16_t composed);
    // Forgets a dead key typed last, as another reader of the keyboard would.
    void ClearDeadKeyState() { m_deadAccent = 0; }
    int GetTranslationCount() const { return m_translations; }

    int GetLayoutRefreshCount() const { return m_layoutRefreshes; }
    int GetAccessibilitySaves() const { return m_accessibilitySaves; }
    int GetAccessibilityDisables() const { return m_accessibilityDisables; }
    int GetAccessibilityRestores() const { return m_accessibilityRestores; }

private:
    struct Failures
    {
        int count = 0;
        InputResult result = InputResult::OK;
        // The answer for this call (OK once the failures are used up).
        InputResult Next();
    };

    void QueueKey(uint8_t code, bool pressed);

    uint8_t m_keyState[keyStateSize] = {};
    std::deque<KeyItem> m_keyItems;
    uint32_t m_nextSequence = 1;
    MouseState m_mouseState;
    std::deque<MouseItem> m_mouseItems;
    float m_cursorX = 0.0f;
    float m_cursorY = 0.0f;
    bool m_cursorKnown = true;
    bool m_capsLock = false;
    bool m_numLock = false;
    bool m_scrollLock = false;
    bool m_foreground = true;
    bool m_visible = true;
    bool m_minimized = false;
    bool m_swapped = false;
    Failures m_keyboardStateFailures;
    Failures m_keyboardItemFailures;
    Failures m_mouseStateFailures;
    Failures m_mouseItemFailures;
    Failures m_keyboardAcquireAnswers;
    Failures m_mouseAcquireAnswers;
    int m_keyboardAcquires = 0;
    int m_mouseAcquires = 0;
    std::map<uint8_t, std::u16string> m_keyTexts;
    std::map<uint8_t, char16_t> m_deadKeys;
    std::map<std::pair<char16_t, char16_t>, char16_t> m_compositions;
    char16_t m_deadAccent = 0;
    int m_translations = 0;
    int m_layoutRefreshes = 0;
    int m_accessibilitySaves = 0;
    int m_accessibilityDisables = 0;
    int m_accessibilityRestores = 0;
};

} // namespace GAME::Platform
