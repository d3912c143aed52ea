#include "core/Log.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

namespace GAME {

namespace {

class StandardErrorSink : public LogSink
{
public:
    void Write(int priority, unsigned int category, const char* text) override
    {
        if (category)
            std::fprintf(stderr, "[%d:%u] %s\n", priority, category, text);
        else
            std::fprintf(stderr, "[%d] %s\n", priority, text);
    }
};

StandardErrorSink g_standardErrorSink;
std::atomic<EngineLogRouter> g_router{nullptr};
std::atomic<LogSink*> g_sink{nullptr};
thread_local LogGate* t_gate = nullptr;

std::recursive_mutex& SinkMutex()
{
    static std::recursive_mutex mutex;
    return mutex;
}

} // namespace

void SetEngineLogRouter(EngineLogRouter router) { g_router.store(router); }

LogSink* SetProcessLogSink(LogSink* sink)
{
    std::lock_guard<std::recursive_mutex> lock(SinkMutex());
    return g_sink.exchange(sink);
}

LogGate* SetThreadLogGate(LogGate* gate)
{
    LogGate* previous = t_gate;
    t_gate = gate;
    return previous;
}

void LogText(int priority, unsigned int category, const char* text)
{
    if (!text)
        text = "";
    if (LogGate* gate = t_gate) {
        t_gate = nullptr; // what the gate logs itself is not gated again
        const bool admitted = gate->Admit(priority, category, text);
        t_gate = gate;
        if (!admitted)
            return;
    }
    if (EngineLogRouter router = g_router.load())
        if (router(priority, category, text))
            return;
    std::lock_guard<std::recursive_mutex> lock(SinkMutex());
    LogSink* sink = g_sink.load();
    (sink ? sink : &g_standardErrorSink)->Write(priority, category, text);
}

std::string FormatStringV(const char* format, va_list args)
{
    char stackBuffer[512];
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(stackBuffer, sizeof(stackBuffer), format, copy);
    va_end(copy);
    if (needed < 0)
        return std::string();
    if (static_cast<size_t>(needed) < sizeof(stackBuffer))
        return std::string(stackBuffer, static_cast<size_t>(needed));
    std::string result(static_cast<size_t>(needed) + 1, '\0');
    std::vsnprintf(result.data(), result.size(), format, args);
    result.resize(static_cast<size_t>(needed));
    return result;
}

std::string FormatString(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string result = FormatStringV(format, args);
    va_end(args);
    return result;
}

void LogPrintf(int priority, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = FormatStringV(format, args);
    va_end(args);
    LogText(priority, 0, text.c_str());
}

void LogPrintfCategory(int priority, unsigned int category, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = FormatStringV(format, args);
    va_end(args);
    LogText(priority, category, text.c_str());
}

} // namespace GAME
