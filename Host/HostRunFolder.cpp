#include "HostRunFolder.h"

#include "HostOutput.h"

#include "platform/PlatformFile.h"
#include "platform/SystemInfo.h"

#include <system_error>

namespace SampleHost {

namespace {

// The first line of the lock file: who holds the folder ("EngineHost, process 4711"), empty
// when it cannot be read or says nothing yet.
std::string ReadHolder(const std::string& path)
{
    GAME::Platform::PlatformFile file;
    char text[128] = {};
    if (!file.Open(path, GAME::Platform::FileOpenMode::Read))
        return std::string();
    const int64_t read = file.ReadAt(0, text, sizeof(text) - 1);
    std::string holder(text, read > 0 ? static_cast<size_t>(read) : 0);
    const size_t end = holder.find('\n');
    return end == std::string::npos ? holder : holder.substr(0, end);
}

} // namespace

bool RunFolder::Take(const std::string& folder, HostOutput& out, std::string& why)
{
    std::filesystem::path path = folder;
    std::error_code error;
    // A link whose folder is gone: the system would only say that a file of the name exists.
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(path, error)) &&
        !std::filesystem::exists(path, error)) {
        const std::filesystem::path target = std::filesystem::read_symlink(path, error);
        why = "it is a link to nothing (" +
              (error ? std::string("its target cannot be read") : target.string()) + ")";
        return false;
    }
    error.clear();
    const bool made = std::filesystem::create_directories(path, error);
    if (!error)
        path = std::filesystem::absolute(path, error).lexically_normal();
    if (error) {
        why = error.message();
        return false;
    }

    const std::string lockPath = (path / lockName).string();
    if (!m_lock.Lock(lockPath, 0)) {
        if (m_lock.GetError() == "another process holds it") {
            const std::string holder = ReadHolder(lockPath);
            why = "another run is using it" + (holder.empty() ? std::string() : " (" + holder + ")") +
                  "; a run needs a folder of its own";
            return false;
        }
        if (!GAME::Platform::FileExists(lockPath)) {
            // Not even an empty file can be made there: the run could write nothing either.
            why = "nothing can be written into it (" + m_lock.GetError() + ")";
            return false;
        }
        out.Printf("EngineHost: the run folder cannot be held for this run (%s): a second run started "
                   "in it would not be refused",
                   m_lock.GetError().c_str());
    } else {
        // Who holds it, for the run that is refused; written in place, the locked file kept.
        const std::string holder =
            "EngineHost, process " + std::to_string(GAME::Platform::GetCurrentProcessId()) + "\n";
        GAME::Platform::PlatformFile file;
        if (!file.Open(lockPath, GAME::Platform::FileOpenMode::Update) || !file.Truncate(0) ||
            !file.WriteAt(0, holder.data(), holder.size()) || !file.Close())
            out.NoteNotWritten(lockPath,
                               file.GetError().empty() ? "it could not be written" : file.GetError());
    }
    m_path = path;
    if (made) {
        // A folder the host made is the run's alone: a git checkout it was made in leaves its
        // files (some 37 MB of data and pictures) out of `git status`. A folder that was there is
        // left as it is.
        const std::string text =
            "# Made by EngineHost with its run folder: git leaves the run's files alone.\n*\n";
        const std::string ignore = (path / ".gitignore").string();
        std::string reason;
        if (!GAME::Platform::WriteWholeFile(ignore, text.data(), text.size(), &reason))
            out.NoteNotWritten(ignore, reason);
    }
    return true;
}

} // namespace SampleHost
