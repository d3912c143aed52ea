#include "HostRunFolder.h"

#include "HostOutput.h"

#include "platform/PlatformFile.h"

#include <system_error>

namespace SampleHost {

bool RunFolder::Take(const std::string& folder, HostOutput& out, std::string& why)
{
    std::filesystem::path path = folder;
    std::error_code error;
    // A link whose folder is gone, the run folder or one above it: the system would only say that
    // a file of the name exists.
    std::filesystem::path above;
    for (const std::filesystem::path& part : path) {
        above /= part;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(above, error)) ||
            std::filesystem::exists(above, error))
            continue;
        const std::filesystem::path target = std::filesystem::read_symlink(above, error);
        const std::string to = error ? std::string("its target cannot be read") : target.string();
        why = above == path ? "it is a link to nothing (" + to + ")"
                            : "it is below a link to nothing (" + above.string() + " to " + to + ")";
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

    // A folder nothing can be made in fails the run anyway: said now, whatever an earlier run left.
    std::string reason;
    if (!GAME::Platform::CanWriteInto(path.string(), reason)) {
        why = "nothing can be written into it (" + reason + ")";
        return false;
    }
    if (!m_lock.Lock(path.string(), lockName, "EngineHost")) {
        switch (m_lock.GetFailure()) {
        case GAME::Platform::LockFailure::Held: {
            const std::string holder = m_lock.ReadHolder(path.string(), lockName);
            why = "another run is using it" + (holder.empty() ? std::string() : " (" + holder + ")") +
                  "; a run needs a folder of its own";
            return false;
        }
        case GAME::Platform::LockFailure::NoLocks:
            // The one case a run goes on unheld: nothing could hold the folder for any run.
            out.Errorf("EngineHost: the run folder cannot be held for this run: %s; a second run started "
                       "in it would not be refused",
                       m_lock.GetError().c_str());
            break;
        default:
            why = "it cannot be held for this run: " + m_lock.GetError();
            return false;
        }
    } else {
        if (!m_lock.GetThisMachineOnly().empty())
            out.Errorf("EngineHost: the run folder is held against this machine's runs only: its network "
                       "file system keeps no locks between machines (%s)",
                       m_lock.GetThisMachineOnly().c_str());
        // Only the holder's name is missing then, for a run that is refused.
        if (!m_lock.GetNameError().empty())
            out.Detailf("EngineHost: the run folder is held; its lock file could not be given this run's "
                        "name (%s)",
                        m_lock.GetNameError().c_str());
    }
    m_path = path;
    m_root = m_lock.GetHeldPath();
    if (m_root.empty()) {
        m_root = path;
        if (m_lock.IsLocked())
            out.Errorf("EngineHost: the run folder is written by its name: the system shows no path to the "
                       "folder held (no /proc); renamed while the run goes on, its later files would go "
                       "elsewhere");
    }
    if (made) {
        // A folder the host made is the run's alone: a git checkout it was made in leaves its
        // files (some 37 MB of data and pictures) out of `git status`. A folder that was there is
        // left as it is.
        const std::string text =
            "# Made by EngineHost with its run folder: git leaves the run's files alone.\n*\n";
        if (!GAME::Platform::WriteWholeFile((m_root / ".gitignore").string(), text.data(), text.size(),
                                            &reason))
            out.NoteNotWritten((path / ".gitignore").string(), reason);
    }
    return true;
}

} // namespace SampleHost
