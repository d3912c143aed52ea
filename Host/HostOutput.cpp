#include "HostOutput.h"

#include "core/Log.h"
#include "platform/FileRoom.h"
#include "world/Engine.h"

#include <cstdarg>
#include <string_view>

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

void HostOutput::ShowFolderAs(const std::string& root, const std::string& shown)
{
    m_root = root;
    m_shown = shown;
}

void HostOutput::Emit(const std::string& text, Style style, std::FILE* stream)
{
    std::string lines = text;
    // "/proc/self/fd/7/log.html", but not "/proc/self/fd/71".
    for (size_t at = m_root.empty() ? std::string::npos : lines.find(m_root); at != std::string::npos;
         at = lines.find(m_root, at)) {
        const size_t end = at + m_root.size();
        if (end < lines.size() && lines[end] >= '0' && lines[end] <= '9') {
            at = end;
            continue;
        }
        lines.replace(at, m_root.size(), m_shown);
        at += m_shown.size();
    }
    if (!lines.empty() && lines.back() == '\n')
        lines.pop_back();
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t start = 0;
    for (;;) {
        const size_t end = lines.find('\n', start);
        std::string line = lines.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        // Into the file first: a process ended between the two (a second Ctrl-C) has printed
        // no line the file lacks.
        if (m_file.IsOpen())
            WriteRow(style, line);
        else if (m_keepLines)
            m_kept.emplace_back(style, line);
        if (stream) {
            std::fputs(line.c_str(), stream);
            std::fputc('\n', stream);
        }
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

namespace {

// The document's end, after the last row.
constexpr std::string_view documentEnd = "</pre>\n</font>\n</html>\n";
// Past the last row the disk holds room for the row that says why the file stops and the end
// (taken a step at a time as the rows come), so that a full disk cannot keep them out.
constexpr uint64_t stopRoom = 1024;
constexpr uint64_t roomStep = 16 * 1024;

} // namespace

bool HostOutput::OpenLogFile(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file.IsOpen())
        return true;
    m_keepLines = false;
    m_logPath = path;
    // Rows go in after what the engine wrote; the document's end follows each.
    const bool opened = m_file.Open(path, GAME::Platform::FileOpenMode::Update) && m_file.GetSize(m_end);
    if (!opened) {
        NoteNotWrittenLocked(path, m_file.GetError().empty() ? "it could not be opened" : m_file.GetError());
        m_file.Discard();
    } else {
        m_roomUntil = m_end;
        m_takingRoom = true;
        AppendToLogFile("<pre>\n");
        for (const auto& [style, line] : m_kept)
            WriteRow(style, line);
    }
    m_kept.clear();
    m_kept.shrink_to_fit();
    return opened;
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
    if (m_file.IsOpen()) {
        if (!m_file.Close())
            StopLogFile(m_file.GetError());
        GiveBackRoom();
    }
    return m_stop.empty();
}

bool HostOutput::CheckLogFileKept()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_file.IsOpen() || GAME::Platform::FileExists(m_logPath))
        return true;
    // Nothing goes to its name now: a file made there would be another.
    m_stop = "it was removed while the run wrote it";
    NoteNotWrittenLocked(m_logPath, m_stop);
    m_file.Discard();
    m_roomUntil = m_end;
    m_takingRoom = false;
    return false;
}

void HostOutput::GiveBackRoom()
{
    if (m_roomUntil > m_end)
        GAME::Platform::GiveBackFileRoom(m_logPath, m_end, m_roomUntil - m_end);
    m_roomUntil = m_end;
    m_takingRoom = false;
}

void HostOutput::NoteNotWritten(const std::string& path, const std::string& reason)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    NoteNotWrittenLocked(path, reason);
}

void HostOutput::NoteNotWrittenLocked(const std::string& path, const std::string& reason)
{
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

bool HostOutput::IsLogFileOpen() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_file.IsOpen();
}

std::string HostOutput::GetLogFileStop() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stop;
}

void HostOutput::WriteRow(Style style, const std::string& line)
{
    const GAME::LogPriority priority = style == STYLE_WARNING     ? GAME::LOG_PRIORITY_WARNING
                                       : style == STYLE_IMPORTANT ? GAME::LOG_PRIORITY_IMPORTANT
                                                                  : GAME::LOG_PRIORITY_INFO;
    AppendToLogFile(GAME::Engine::FormatLogFileRow(priority, line));
}

void HostOutput::AppendToLogFile(const std::string& text)
{
    // Straight to the file, row by row: the log is read most when a run ended badly.
    std::string bytes = text;
    bytes += documentEnd;
    if (const uint64_t need = m_end + bytes.size() + stopRoom; m_takingRoom && need > m_roomUntil) {
        // The room for the row, and past it for the stop, before the row goes in. No room left:
        // the file stops here, in the room taken before.
        std::string why;
        switch (GAME::Platform::TakeFileRoom(m_logPath, m_end, need + roomStep - m_end, &why)) {
        case GAME::Platform::FileRoom::Taken:
            m_roomUntil = need + roomStep;
            break;
        case GAME::Platform::FileRoom::NoRoom:
            StopLogFile(why);
            return;
        case GAME::Platform::FileRoom::CannotBeTaken:
            m_takingRoom = false; // a file system without it: the stop row goes in where it fits
            break;
        }
    }
    if (m_file.WriteAt(m_end, bytes.data(), bytes.size())) {
        m_end += text.size();
        return;
    }
    StopLogFile(m_file.GetError().empty() ? "a write failed" : m_file.GetError());
}

void HostOutput::StopLogFile(const std::string& reason)
{
    // The log is one file: counted once, with its first reason.
    if (!m_stop.empty())
        return;
    m_stop = reason;
    NoteNotWrittenLocked(m_logPath, reason);
    m_file.Discard();
    // A row saying why, when it fits (or a shorter one), then the end over the bytes the last end
    // had (they are the file's already, so a full disk takes them); whatever the failed row left
    // past it is cut off.
    const std::string why = GAME::Engine::FormatLogFileRow(GAME::LOG_PRIORITY_WARNING,
                                                           "EngineHost: log.html stops here: " + reason +
                                                               "; the run's later lines were printed only");
    const std::string shortWhy =
        GAME::Engine::FormatLogFileRow(GAME::LOG_PRIORITY_WARNING, "stops: " + reason);
    for (const std::string& tail :
         {why + std::string(documentEnd), shortWhy + std::string(documentEnd), std::string(documentEnd)}) {
        GAME::Platform::PlatformFile file;
        if (file.Open(m_logPath, GAME::Platform::FileOpenMode::Update) &&
            file.WriteAt(m_end, tail.data(), tail.size()) && file.Truncate(m_end + tail.size()) &&
            file.Close())
            break;
    }
    GiveBackRoom();
}

std::string Counted(long long count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string DescribeRunEnd(const HostOutput& output, long long lines, long long warnings, long long notices,
                           bool verbose)
{
    const bool logFile = output.IsLogFileOpen();
    const std::string stop = output.GetLogFileStop();
    const char* infoLines = verbose   ? ""
                            : logFile ? "; the info lines among them are in log.html (--verbose prints them)"
                            : !stop.empty()
                                ? "; the info lines among them are in log.html as far as it goes (--verbose "
                                  "prints them)"
                                : "; the info lines among them were not printed (--verbose prints them)";
    return "EngineHost: done; " + Counted(lines, "log line", "log lines") + " (" +
           Counted(warnings, "warning", "warnings") + ", " + Counted(notices, "notice", "notices") + ")" +
           infoLines + "\n  log file            " +
           (logFile ? std::string("log.html")
            : !stop.empty()
                ? "log.html, cut short (" + stop + "): the lines after its last row were printed only"
                : std::string("none: log.html could not be written"));
}

std::string WhyNotWritable(const std::string& folder, const std::string& otherwise, size_t size)
{
    const std::string probe = folder + "/.EngineHost-write-test";
    const std::string bytes(size, '\n');
    std::string reason;
    if (!GAME::Platform::WriteWholeFile(probe, bytes.data(), bytes.size(), &reason))
        return reason.empty() ? "a file could not be made there" : reason;
    GAME::Platform::DeleteFile(probe);
    return otherwise;
}

std::string WhyFileNotWritten(const std::string& path, const std::string& otherwise, size_t size)
{
    GAME::Platform::PlatformFile probe;
    if (!probe.Open(path, GAME::Platform::FileOpenMode::Write))
        return probe.GetError().empty() ? "it could not be opened" : probe.GetError();
    probe.Discard();
    const size_t slash = path.find_last_of('/');
    return WhyNotWritable(slash == std::string::npos ? "." : path.substr(0, slash), otherwise, size);
}

int FinishRun(HostOutput& output, int result)
{
    // Said before the log file closes, so that it holds the line too; said again in the rare case
    // that the close itself failed.
    output.CheckLogFileKept();
    const std::string notWritten = output.DescribeNotWritten();
    if (!notWritten.empty())
        output.Errorf("EngineHost: %s", notWritten.c_str());
    if (!output.CloseLogFile() && output.DescribeNotWritten() != notWritten)
        output.Errorf("EngineHost: %s", output.DescribeNotWritten().c_str());
    if (output.DescribeNotWritten().empty())
        return result;
    return result == 0 || result == exitCodeRanAlone ? 1 : result;
}

} // namespace SampleHost
