#include "DeviceLog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <dlfcn.h>
#include <string>

namespace GAME::DeviceCommon {

namespace {

// GAME::LogText(int priority, unsigned int category, const char* text) of libEngine.
using LogTextFunction = void (*)(int, unsigned int, const char*);
constexpr const char* logTextSymbol = "_ZN4GAME7LogTextEijPKc";

LogTextFunction FindEngineLog()
{
    // Looked up on every line while the engine is absent: a module loaded before libEngine (a
    // benchmark that opens the device by hand) still reaches the engine's log once it is there.
    static std::atomic<LogTextFunction> found{nullptr};
    LogTextFunction function = found.load(std::memory_order_acquire);
    if (!function) {
        function = reinterpret_cast<LogTextFunction>(dlsym(RTLD_DEFAULT, logTextSymbol));
        if (function)
            found.store(function, std::memory_order_release);
    }
    return function;
}

} // namespace

void DeviceLogPrintf(int priority, const char* format, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    std::string text;
    if (length >= int(sizeof(buffer))) {
        // Compiler logs can run long; they are kept whole.
        text.resize(size_t(length) + 1);
        va_start(args, format);
        std::vsnprintf(text.data(), text.size(), format, args);
        va_end(args);
        text.resize(size_t(length));
    } else {
        text = buffer;
    }
    if (LogTextFunction log = FindEngineLog())
        log(priority, 0, text.c_str());
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

} // namespace GAME::DeviceCommon
