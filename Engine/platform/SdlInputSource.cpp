// The system's input source, over SDL2: the event hub (SdlSystem.h) sorts SDL's keyboard and
// mouse events into the window's queues; this source reads them in the shape of the classic PC
// input API. SDL's devices are never taken away, so reads do not fail while the window lives.
// Text comes from the system's own composition (dead keys and input methods included) as the
// text events that follow a key press, so the translation of a key is the text that came with it
// and no key is ever reported dead. The system's accessibility shortcuts are the desktop's, not
// the game's, so they are left as they are.

#include "platform/SdlSystem.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace GAME::Platform {

namespace {

class SdlInputSource final : public InputSource
{
public:
    SdlInputSource(SDL_Window* window, uint32_t windowId) : m_window(window), m_windowId(windowId) {}

    InputResult ReadKeyboardState(uint8_t state[keyStateSize]) override
    {
        Sdl::Pump();
        const Sdl::WindowQueues* queues = Sdl::FindQueues(m_windowId);
        if (!queues)
            return InputResult::FAILED;
        std::memcpy(state, queues->keyState, keyStateSize);
        return InputResult::OK;
    }

    InputResult ReadKeyboardItems(std::vector<KeyItem>& items, size_t maxItems) override
    {
        Sdl::WindowQueues* queues = Sdl::FindQueues(m_windowId);
        if (!queues)
            return InputResult::FAILED;
        m_texts.clear();
        for (size_t i = 0; i < maxItems && !queues->keys.empty(); ++i) {
            const KeyItem item = queues->keys.front();
            queues->keys.pop_front();
            auto text = queues->texts.find(item.sequence);
            if (text != queues->texts.end()) {
                m_texts[item.sequence] = std::move(text->second);
                queues->texts.erase(text);
            }
            if (queues->textTarget == item.sequence)
                queues->textTarget = 0;
            items.push_back(item);
        }
        return InputResult::OK;
    }

    InputResult AcquireKeyboard() override { return Alive() ? InputResult::OK : InputResult::FAILED; }

    InputResult ReadMouseState(MouseState& state) override
    {
        Sdl::WindowQueues* queues = Sdl::FindQueues(m_windowId);
        if (!queues)
            return InputResult::FAILED;
        std::copy(std::begin(queues->buttons), std::end(queues->buttons), std::begin(state.buttons));
        state.wheel = queues->wheel;
        queues->wheel = 0;
        return InputResult::OK;
    }

    InputResult ReadMouseItems(std::vector<MouseItem>& items, size_t maxItems) override
    {
        Sdl::WindowQueues* queues = Sdl::FindQueues(m_windowId);
        if (!queues)
            return InputResult::FAILED;
        for (size_t i = 0; i < maxItems && !queues->mouse.empty(); ++i) {
            items.push_back(queues->mouse.front());
            queues->mouse.pop_front();
        }
        return InputResult::OK;
    }

    InputResult AcquireMouse() override { return Alive() ? InputResult::OK : InputResult::FAILED; }

    void GetToggleStates(bool& capsLock, bool& numLock, bool& scrollLock) override
    {
        const SDL_Keymod mod = SDL_GetModState();
        capsLock = (mod & KMOD_CAPS) != 0;
        numLock = (mod & KMOD_NUM) != 0;
        scrollLock = (mod & KMOD_SCROLL) != 0;
    }

    bool GetCursorPosition(float& x, float& y) override
    {
        const Sdl::WindowQueues* queues = Sdl::FindQueues(m_windowId);
        if (!queues)
            return false;
        x = queues->cursorX;
        y = queues->cursorY;
        return true;
    }

    bool IsWindowForeground() override { return Alive() && (Flags() & SDL_WINDOW_INPUT_FOCUS) != 0; }
    bool IsWindowVisible() override { return Alive() && (Flags() & SDL_WINDOW_SHOWN) != 0; }
    bool IsWindowMinimized() override { return Alive() && (Flags() & SDL_WINDOW_MINIMIZED) != 0; }
    // The display server applies the user's button mapping before SDL hears of a button.
    bool AreMouseButtonsSwapped() override { return false; }

    void RefreshKeyboardLayout() override {}

    int TranslateKey(const KeyItem& item, char16_t* text, int capacity) override
    {
        auto found = m_texts.find(item.sequence);
        if (found == m_texts.end() || !text || capacity <= 0)
            return 0;
        const int count = std::min(static_cast<int>(found->second.size()), capacity);
        std::copy(found->second.begin(), found->second.begin() + count, text);
        return count;
    }

    void SaveAccessibilitySettings() override {}
    void DisableAccessibilityShortcuts() override {}
    void RestoreAccessibilitySettings() override {}

private:
    bool Alive() const { return Sdl::FindQueues(m_windowId) != nullptr; }
    uint32_t Flags() const { return SDL_GetWindowFlags(m_window); }

    SDL_Window* m_window;
    uint32_t m_windowId;
    // The text of the items of the last read, by sequence.
    std::unordered_map<uint32_t, std::u16string> m_texts;
};

} // namespace

InputSource* CreateSystemInputSource(void* systemWindow)
{
    const uint32_t id = Sdl::GetWindowId(systemWindow);
    if (id == 0 || !Sdl::FindQueues(id)) {
        Sdl::SetError(systemWindow ? "the window is not a window of the window layer" : "no window");
        return nullptr;
    }
    return new SdlInputSource(static_cast<SDL_Window*>(systemWindow), id);
}

} // namespace GAME::Platform
