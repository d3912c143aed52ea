// Captures the lines logged while it lives (when no engine routes them), for assertions.
#pragma once

#include "core/Log.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace GAME::Test {

struct LogLine
{
    int priority;
    unsigned int category;
    std::string text;
};

class LogCapture : public LogSink
{
public:
    LogCapture();
    ~LogCapture() override;
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    void Write(int priority, unsigned int category, const char* text) override;

    std::vector<LogLine> Lines() const;
    std::vector<std::string> Texts() const;
    // Whether some line contains the fragment (at the priority, when one is given).
    bool Contains(const std::string& fragment, int priority = -1) const;
    size_t Count() const;
    void Clear();

private:
    LogSink* m_previous;
    // On the heap: a std::mutex's destructor does nothing here, so ThreadSanitizer, which never
    // hears that a capture on the stack has gone, would take a lock a later test builds at the
    // same stack address for this one and report a lock-order cycle of two unrelated locks (the
    // process sink's lock is taken before this one). Freed memory it does forget.
    const std::unique_ptr<std::mutex> m_mutex = std::make_unique<std::mutex>();
    std::vector<LogLine> m_lines;
};

} // namespace GAME::Test
