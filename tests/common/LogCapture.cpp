#include "common/LogCapture.h"

namespace GAME::Test {

LogCapture::LogCapture() { m_previous = SetProcessLogSink(this); }

LogCapture::~LogCapture() { SetProcessLogSink(m_previous); }

void LogCapture::Write(int priority, unsigned int category, const char* text)
{
    std::lock_guard<std::mutex> lock(*m_mutex);
    m_lines.push_back({priority, category, text});
}

std::vector<LogLine> LogCapture::Lines() const
{
    std::lock_guard<std::mutex> lock(*m_mutex);
    return m_lines;
}

std::vector<std::string> LogCapture::Texts() const
{
    std::lock_guard<std::mutex> lock(*m_mutex);
    std::vector<std::string> texts;
    for (const auto& line : m_lines)
        texts.push_back(line.text);
    return texts;
}

bool LogCapture::Contains(const std::string& fragment, int priority) const
{
    std::lock_guard<std::mutex> lock(*m_mutex);
    for (const auto& line : m_lines)
        if ((priority < 0 || line.priority == priority) && line.text.find(fragment) != std::string::npos)
            return true;
    return false;
}

size_t LogCapture::Count() const
{
    std::lock_guard<std::mutex> lock(*m_mutex);
    return m_lines.size();
}

void LogCapture::Clear()
{
    std::lock_guard<std::mutex> lock(*m_mutex);
    m_lines.clear();
}

} // namespace GAME::Test
