// The one way out of the process for errors the engine cannot run on after (the caller logs the
// line at priority 2 first): a message box when a display exists (otherwise standard error), then exit code -1.
// Tests install a hook that receives the error instead.
#pragma once

#include <string>

namespace GAME::Platform {

// A hook returns normally and the caller then goes on as if the process had ended (it returns
// its failure result); without a hook the process exits.
using FatalErrorHook = void (*)(const std::string& title, const std::string& text);

void SetFatalErrorHook(FatalErrorHook hook);
FatalErrorHook GetFatalErrorHook();

// Shows the error and exits with -1 unless a hook is installed.
void FatalError(const std::string& title, const std::string& text);

// Message-box presenter used when a display exists; installed by the window layer.
using MessageBoxPresenter = bool (*)(const std::string& title, const std::string& text);
void SetMessageBoxPresenter(MessageBoxPresenter presenter);

} // namespace GAME::Platform
