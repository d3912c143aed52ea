#include "platform/FatalError.h"

#include <SDL.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace GAME::Platform {

namespace {
std::atomic<FatalErrorHook> g_hook{nullptr};
std::atomic<MessageBoxPresenter> g_presenter{nullptr};
std::atomic<ErrorMessageHook> g_errorHook{nullptr};

// An error box through SDL when a display exists: SDL's video layer must start on a real
// display driver (not the dummy or off-screen ones) and find a display. False when no box could
// be shown.
bool ShowSdlMessageBox(const std::string& title, const std::string& text)
{
    const bool wasRunning = SDL_WasInit(SDL_INIT_VIDEO) != 0;
    if (!wasRunning && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
        return false;
    const char* driver = SDL_GetCurrentVideoDriver();
    const bool display = driver && std::strcmp(driver, "dummy") != 0 &&
                         std::strcmp(driver, "offscreen") != 0 && std::strcmp(driver, "evdev") != 0 &&
                         SDL_GetNumVideoDisplays() > 0;
    const bool shown =
        display && SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title.c_str(), text.c_str(), nullptr) == 0;
    if (!wasRunning)
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return shown;
}

} // namespace

void SetFatalErrorHook(FatalErrorHook hook)
{
    g_hook.store(hook);
}

FatalErrorHook GetFatalErrorHook()
{
    return g_hook.load();
}

void SetMessageBoxPresenter(MessageBoxPresenter presenter)
{
    g_presenter.store(presenter);
}

void FatalError(const std::string& title, const std::string& text)
{
    if (FatalErrorHook hook = g_hook.load()) {
        hook(title, text);
        return;
    }
    MessageBoxPresenter presenter = g_presenter.load();
    const bool shown = presenter ? presenter(title, text) : ShowSdlMessageBox(title, text);
    if (!shown)
        std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    std::fflush(nullptr);
    std::exit(-1);
}

void SetErrorMessageHook(ErrorMessageHook hook)
{
    g_errorHook.store(hook);
}

void ShowErrorMessage(const std::string& title, const std::string& text)
{
    if (ErrorMessageHook hook = g_errorHook.load()) {
        hook(title, text);
        return;
    }
    if (MessageBoxPresenter presenter = g_presenter.load())
        presenter(title, text);
}

} // namespace GAME::Platform
