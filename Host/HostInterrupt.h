// Ctrl-C and SIGTERM for the sample host. Once CatchInterrupts has run, the first SIGINT or SIGTERM
// only records which came (the handler sets a flag and nothing else, as a signal handler must):
// the host's frame loops look at it (HostWindow::Frame), end the run as Escape does, and the
// run still shuts the engine down, prints its summary and ends log.html. A second one ends the
// process at once, with the first one's exit code, 128 + its signal, as a shell reports a process
// that signal ended. log.html is then as its last row left it: a whole document (HostOutput.h),
// which the host opens before anything else of the run, so that it holds every line printed.
//
// Any thread may read; CatchInterrupts is for the main thread, once, at start-up.
#pragma once

#include <string>

namespace SampleHost {

void CatchInterrupts();
// The signal that asked the run to end, 0 while none came.
int GetInterrupt();
// "interrupted (Ctrl-C, SIGINT)", "interrupted (SIGTERM)"; empty while none came.
std::string DescribeInterrupt();
// The exit code of a run the signal ended: 128 + the signal.
int InterruptExitCode(int signal);

} // namespace SampleHost
