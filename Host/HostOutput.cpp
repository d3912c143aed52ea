#include "HostOutput.h"

#include "core/Log.h"
#include "world/Engine.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace SampleHost {

HostOutput::~HostOutput()
{
    CloseLogFile();
}

void HostOutput::Print(const std::string& text, Style style)
{
    Emit(text, style, stdout);
}

void HostOutput::LogOnly(const std::string& text, Style style)
{
    Emit(text, style, nullptr);
}

void HostOutput::Emit(const std::string& text, Style style, std::FILE* stream)
{
    std::string lines = text;
    if (!lines.empty() && lines.back() == '\n')
        lines.pop_back();
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t start = 0;
    for (;;) {
        const size_t end = lines.find('\n', start);
        std::string line = lines.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (stream) {
            std::fputs(line.c_str(), stream);
            std::fputc('\n', stream);
        }
        if (m_file)
            WriteRow(style, line);
        else if (m_keepLines)
            m_kept.emplace_back(style, std::move(line));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    if (stream)
        std::fflush(stream);
}

void HostOutput::Printf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = GAME::FormatStringV(format, args);
    va_end(args);
    Print(text);
}

void HostOutput::Errorf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = GAME::FormatStringV(format, args);
    va_end(args);
    Emit(text, STYLE_WARNING, stderr);
}

void HostOutput::Detailf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = GAME::FormatStringV(format, args);
    va_end(args);
    Emit(text, STYLE_PLAIN, m_showDetails ? stdout : nullptr);
}

bool HostOutput::OpenLogFile(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file)
        return true;
    m_keepLines = false;
    m_logPath = path;
    m_file = std::fopen(path.c_str(), "a");
    if (m_file) {
        if (std::fputs("<pre>\n", m_file) < 0)
            LogFileFailed(errno);
        for (const auto& [style, line] : m_kept)
            WriteRow(style, line);
    }
    m_kept.clear();
    m_kept.shrink_to_fit();
    return m_file != nullptr;
}

void HostOutput::GoWithoutLogFile()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_keepLines = false;
    m_kept.clear();
    m_kept.shrink_to_fit();
}

bool HostOutput::CloseLogFile()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_file)
        return true;
    if (std::fputs("</pre>\n</font>\n</html>\n", m_file) < 0)
        LogFileFailed(errno);
    if (std::fclose(m_file) != 0)
        LogFileFailed(errno);
    m_file = nullptr;
    return !m_writeFailed;
}

void HostOutput::NoteNotWritten(const std::string& path, const std::string& reason)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_notWritten++ == 0)
        m_firstNotWritten = path + ": " + reason;
}

std::string HostOutput::DescribeNotWritten() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_notWritten == 0)
        return std::string();
    return Counted(static_cast<long long>(m_notWritten), "file", "files") +
           (m_notWritten == 1 ? " could not be written (" : " could not be written (the first, ") +
           m_firstNotWritten + ")";
}

void HostOutput::LogFileFailed(int error)
{
    // The log is one file: counted once, with its first reason.
    if (!m_writeFailed && m_notWritten++ == 0)
        m_firstNotWritten = m_logPath + ": " + std::strerror(error);
    m_writeFailed = true;
}

bool HostOutput::IsLogFileOpen() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_file != nullptr;
}

void HostOutput::WriteRow(Style style, const std::string& line)
{
    const GAME::LogPriority priority = style == STYLE_WARNING     ? GAME::LOG_PRIORITY_WARNING
                                       : style == STYLE_IMPORTANT ? GAME::LOG_PRIORITY_IMPORTANT
                                                                  : GAME::LOG_PRIORITY_INFO;
    // Flushed row by row: the log is read most when a run ended badly.
    if (std::fputs(GAME::Engine::FormatLogFileRow(priority, line).c_str(), m_file) < 0 ||
        std::fflush(m_file) != 0)
        LogFileFailed(errno);
}

std::string Counted(long long count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string DescribeRunEnd(const HostOutput& output, long long lines, long long warnings, long long notices,
                           bool verbose)
{
    const bool logFile = output.IsLogFileOpen();
    const char* infoLines = verbose ? ""
                            : logFile
                                ? "; the info lines among them are in log.html (--verbose prints them)"
                                : "; the info lines among them were not printed (--verbose prints them)";
    return "EngineHost: done; " + Counted(lines, "log line", "log lines") + " (" +
           Counted(warnings, "warning", "warnings") + ", " + Counted(notices, "notice", "notices") + ")" +
           infoLines + "\n  log file            " +
           (logFile ? "log.html" : "none: log.html could not be written");
}

} // namespace SampleHost
