// While one lives, what is written to the process's standard error goes nowhere: for calls into
// third-party libraries that report on standard error what the engine reports better itself (the
// sound libraries' lines about a machine without a sound card, for one). Standard error is
// process-wide: keep the scope to the one call, on a thread that owns it for that long (start-up).
// Not nested; one at a time.
#pragma once

namespace GAME::Platform {

class QuietStandardError
{
public:
    QuietStandardError();
    ~QuietStandardError();
    QuietStandardError(const QuietStandardError&) = delete;
    QuietStandardError& operator=(const QuietStandardError&) = delete;

private:
    int m_saved = -1; // standard error's own descriptor while it is quieted
};

} // namespace GAME::Platform
