// The one way out of the process for errors the engine cannot run on after (the caller logs the
// line at priority 2 first): an SDL message box when a display exists (otherwise the title and
// text on standard error), then exit code -1 (255). Tests install a hook that receives the error
// instead.
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

// Replaces the SDL message box (a window layer with a box of its own); false from the presenter
// sends the error to standard error. Null restores the SDL box.
using MessageBoxPresenter = bool (*)(const std::string& title, const std::string& text);
void SetMessageBoxPresenter(MessageBoxPresenter presenter);

// An error the engine runs on after (a file the editor could not write): shown in a message box
// while the window layer has a display open (it installs the presenter then); without one the
// caller's log line is all there is. A hook, when installed, receives the error instead.
using ErrorMessageHook = void (*)(const std::string& title, const std::string& text);
void SetErrorMessageHook(ErrorMessageHook hook);
void ShowErrorMessage(const std::string& title, const std::string& text);

} // namespace GAME::Platform
