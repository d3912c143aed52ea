// Where the sample host's lines go: every line, the library's log lines and the host's own report
// alike, is printed to standard output (a failure that ends the run to standard error) and written
// to the engine's HTML log file, so that log.html holds the whole run as it was printed. Lines
// given to LogOnly (the library's info lines, unless the user asks for them) go to the file alone,
// as do the host's lines for the engine's developers (Detailf) unless they are asked for.
//
// The engine owns the log file's start: it opens the log path (Engine::OpenLogFile, which the host
// calls before anything else of the run), writes the HTML header, flushes it and writes nothing
// more; its Shutdown closes its stream. The host appends the lines through a file of its own,
// opened right after (OpenLogFile): the few lines printed before then are kept and go in first,
// below the header, and the lines printed after the
// engine's Shutdown go in too (the engine's own WriteLogFileLine, which ends the file at Shutdown,
// is for hosts whose log ends with their engine). Each line is one row of a preformatted block, as
// the engine formats its rows (Engine::FormatLogFileRow), warnings and notices marked. A line that
// ends in a line feed of its own is one row, never an empty one.
//
// The file is a whole document after every row: each row is written together with the document's
// end, which the next row then writes over, so that a run that stops anywhere (killed, a second
// Ctrl-C) leaves log.html ended. A row that cannot be written whole (a full disk) stops the file:
// what it wrote of that row is cut off, a last row saying why goes in, then the document's end,
// and later lines are printed only. The room for that last row is the file's on the disk before
// the rows ahead of it go in (Platform::TakeFileRoom, some KiB ahead), so a disk that fills keeps
// it; on a file system that cannot hold room, the row goes in only where it fits.
//
// The run's files that could not be written (screenshots, pictures, the user's settings, the log
// file itself) are counted, the first kept with its reason, for the one line on standard error
// that says why a run failed (DescribeNotWritten, FinishRun).
//
// Threads: any thread may print (the library logs from its loader threads); one lock keeps the
// order of standard output and of the file the same. Opening and closing are main-thread calls.
#pragma once

#include "platform/PlatformFile.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace SampleHost {

class HostOutput
{
public:
    enum Style
    {
        STYLE_PLAIN,
        STYLE_WARNING,   // log priority 1
        STYLE_IMPORTANT, // log priority 2
    };

    HostOutput() = default;
    // Closes the log file if it is still open.
    ~HostOutput();
    HostOutput(const HostOutput&) = delete;
    HostOutput& operator=(const HostOutput&) = delete;

    // text may hold several lines; each is printed and logged on its own ("\nX" is an empty line,
    // then X). One line feed at the end ends the last line and adds none.
    void Print(const std::string& text, Style style = STYLE_PLAIN);
    // Like Print, but into the log file alone: nothing is printed.
    void LogOnly(const std::string& text, Style style = STYLE_PLAIN);
    void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // A failure that ends the run: on standard error, and in the log as a warning.
    void Errorf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // A line for the engine's developers rather than its users (a path's corners, each screenshot's
    // name): printed once SetShowingDetails(true) (--verbose), otherwise into the log file alone.
    void Detailf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void SetShowingDetails(bool show) { m_showDetails = show; }
    // The run's files are written through root, a path that leads to the run folder held
    // ("/proc/self/fd/7", RunFolder::GetRoot); every line, the library's too, names them under
    // shown instead, the folder as the user finds it. Before any thread prints.
    void ShowFolderAs(const std::string& root, const std::string& shown);

    // Appends to the log file at path, which the engine has opened and given its header: the
    // lines kept so far first. False when it cannot be opened (counted as not written); from then
    // on, as after GoWithoutLogFile, lines are printed only and none is kept.
    bool OpenLogFile(const std::string& path);
    void GoWithoutLogFile();
    // Closes the file (its document is ended already); false when a write failed. Later lines are
    // printed only.
    bool CloseLogFile();
    // Rows still go into the log file.
    bool IsLogFileOpen() const;
    // Whether the open log file still has its name: one removed while the run wrote it (its
    // folder with it) took its rows in vain, and stops now, counted as not written. Main thread.
    bool CheckLogFileKept();
    // The log file stopped at a row it could not write: it holds the rows before it. The reason
    // is the system's ("No space left on device"); empty while it has not stopped.
    std::string GetLogFileStop() const;

    // A file of the run that could not be written, with the system's reason. Any thread.
    void NoteNotWritten(const std::string& path, const std::string& reason);
    // "2 files could not be written (the first, <path>: <reason>)"; empty when none was noted.
    std::string DescribeNotWritten() const;

private:
    // Each line of the text to the stream and the log.
    void Emit(const std::string& text, Style style, std::FILE* stream); // stream null: the log alone
    // Under m_mutex.
    void WriteRow(Style style, const std::string& line);
    void AppendToLogFile(const std::string& text);
    void StopLogFile(const std::string& reason);
    // The disk's room past the last row, taken for the stop row, given back.
    void GiveBackRoom();
    void NoteNotWrittenLocked(const std::string& path, const std::string& reason);

    mutable std::mutex m_mutex;
    GAME::Platform::PlatformFile m_file;
    uint64_t m_end = 0;        // the end of the last whole row, where the document's end starts
    uint64_t m_roomUntil = 0;  // the disk's room for the file is taken up to here
    bool m_takingRoom = false; // while the file system takes room for it
    std::string m_stop;        // why the log file stopped
    bool m_keepLines = true;   // until the log file opens or the host goes without one
    std::vector<std::pair<Style, std::string>> m_kept;
    std::string m_logPath;
    bool m_showDetails = false; // set before any thread prints
    std::string m_root, m_shown; // likewise
    size_t m_notWritten = 0;
    std::string m_firstNotWritten; // "<path>: <reason>"
};

// "1 frame", "2 frames": a count with its noun, as the host prints counts.
std::string Counted(long long count, const char* one, const char* many);

// The run's closing lines: "done", the library's log lines counted by priority, and where the lines
// the console left out are kept: log.html, or nowhere once the output went without it (it could
// not be written).
std::string DescribeRunEnd(const HostOutput& output, long long lines, long long warnings, long long notices,
                           bool verbose);

// Why files cannot be written in the folder: the system's answer to a file of the size written
// there ("No space left on device"), or, when one can be, that something else failed (otherwise).
std::string WhyNotWritable(const std::string& folder,
                           const std::string& otherwise = "a file of it could not be written, though the "
                                                          "folder takes new files",
                           size_t size = 4096);

// Why the file at path could not be written, asked after the fact: the file's own refusal (it is
// read-only, a folder stands at its path), else the folder's answer to a file of the size
// (WhyNotWritable). Nothing is left of the asking.
std::string WhyFileNotWritten(const std::string& path, const std::string& otherwise, size_t size);

// The exit code of a run that went through, but not in the whole network session it asked for: a
// client that never joined, or whose session ended before the run did, and ran alone.
constexpr int exitCodeRanAlone = 3;

// The end of main: when any of the run's files could not be written, says so in the one line on
// standard error (the log file's last row too), then closes the log file. The exit code: result,
// or 1 for a run that would have ended well, or alone (exitCodeRanAlone), but could not write a
// file: a failure of the run itself says more than a session that did not last.
int FinishRun(HostOutput& output, int result);

} // namespace SampleHost
