// Captures the lines logged while it lives (when no engine routes them), for assertions.
#pragma once

#include "core/Log.h"

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
    mutable std::mutex m_mutex;
    std::vector<LogLine> m_lines;
};

} // namespace GAME::Test
