// The sample host's run folder: made when missing (with a .gitignore that keeps the run out of
// `git status`), and held for the whole run, so that two runs never write into one folder, whoever
// runs them. The hold is a lock on the folder itself, and on the file ".EngineHost.lock" in it for
// the runs of other machines on a network folder (Platform::FolderLock); neither needs write
// permission, so no file an earlier run of any user left can keep a run from holding the folder.
// The lock file names the process holding it where it can be written. The system lets the locks
// go when that process ends, however it ends, so a folder a killed run left is free for the next.
// A folder another live run holds is refused at once, nothing in it touched, as is one nothing can
// be written into, and one that cannot be held for any other reason. Only on a file system that
// keeps no locks does the run go on unheld, and say so on standard error. Every file the run
// writes after the hold goes into the folder held, through a path that leads to the folder itself
// (GetRoot): renamed while the run goes on, the folder keeps the run's files, and nothing is made
// at its old name, whatever is there now; removed, it takes no more, and the writes fail. Main
// thread.
#pragma once

#include "platform/FileLock.h"

#include <filesystem>
#include <string>

namespace SampleHost {

class HostOutput;

class RunFolder
{
public:
    static constexpr const char* lockName = ".EngineHost.lock";

    // Makes the folder (and the folders above it) when missing and holds it. False with the reason
    // when the run cannot have it ("another run is using it (EngineHost, process 4711); ...", "it
    // is a link to nothing (/gone)" or "below a link to nothing (...)", "nothing can be written into
    // it (Read-only file system)", "it cannot be held for this run (...)"); nothing is made in it
    // then.
    bool Take(const std::string& folder, HostOutput& out, std::string& why);
    // The folder as the user finds it, absolute, once taken: for the lines the user reads.
    const std::filesystem::path& GetPath() const { return m_path; }
    // Where the run's files go once it is taken: the held folder itself ("/proc/self/fd/7"); its
    // name (GetPath) only where the system shows no such path or the folder is not held.
    const std::filesystem::path& GetRoot() const { return m_root; }
    // Let go (the destructor does too): another run may have the folder, and GetRoot leads nowhere.
    void Release()
    {
        m_lock.Unlock();
        m_root.clear();
    }

private:
    GAME::Platform::FolderLock m_lock;
    std::filesystem::path m_path;
    std::filesystem::path m_root;
};

} // namespace SampleHost
