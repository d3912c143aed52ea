// The library's single logging entry point. Lines go to the engine's virtual Log once an engine
// exists (the engine installs a router), and otherwise to a process-wide sink that tests can
// replace. Priorities: 0 information, 1 warning or survivable failure, 2 what the host must see.
// Any thread may log; sinks are called under the logging lock, one line at a time.
#pragma once

#include <cstdarg>
#include <string>

namespace GAME {

class LogSink
{
public:
    virtual ~LogSink() = default;
    // category 0 means no category.
    virtual void Write(int priority, unsigned int category, const char* text) = 0;
};

// Receives each line while an engine exists; answers false when no engine took the line.
using EngineLogRouter = bool (*)(int priority, unsigned int category, const char* text);
void SetEngineLogRouter(EngineLogRouter router);

// Replaces the sink used without an engine and returns the previous one; null restores the
// default sink, which writes to standard error.
LogSink* SetProcessLogSink(LogSink* sink);

// Decides, for each line logged on the thread it is installed on, whether the line is written at
// all (before the engine or any sink sees it): the network's server installs one while it handles
// what a client sent, so that every line a client makes it log counts against one limit, and the
// world installs the server's while it writes about levels that only clients' views brought in.
// Lines the gate itself logs pass unchecked.
class LogGate
{
public:
    virtual ~LogGate() = default;
    virtual bool Admit(int priority, unsigned int category, const char* text) = 0;
};

// Installs the gate for lines logged on the calling thread (null: none) and returns the one it
// replaces, which the caller puts back when done.
LogGate* SetThreadLogGate(LogGate* gate);

void LogText(int priority, unsigned int category, const char* text);
void LogPrintf(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));
void LogPrintfCategory(int priority, unsigned int category, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// printf into a std::string of any length.
std::string FormatString(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatStringV(const char* format, va_list args);

} // namespace GAME
