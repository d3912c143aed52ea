#include "platform/FatalError.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace GAME::Platform {

namespace {
std::atomic<FatalErrorHook> g_hook{nullptr};
std::atomic<MessageBoxPresenter> g_presenter{nullptr};
} // namespace

void SetFatalErrorHook(FatalErrorHook hook) { g_hook.store(hook); }

FatalErrorHook GetFatalErrorHook() { return g_hook.load(); }

void SetMessageBoxPresenter(MessageBoxPresenter presenter) { g_presenter.store(presenter); }

void FatalError(const std::string& title, const std::string& text)
{
    if (FatalErrorHook hook = g_hook.load()) {
        hook(title, text);
        return;
    }
    MessageBoxPresenter presenter = g_presenter.load();
    if (!presenter || !presenter(title, text))
        std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    std::fflush(nullptr);
    std::exit(-1);
}

} // namespace GAME::Platform
