// The sample host's run folder: made when missing (with a .gitignore that keeps the run out of
// `git status`), and held for the whole run, so that two runs never write into one folder, whoever
// runs them. The hold is a lock on the folder itself, and on the file ".EngineHost.lock" in it for
// the runs of other machines on a network folder (Platform::FolderLock); neither needs write
// permission, so no file an earlier run of any user left can keep a run from holding the folder.
// The lock file names the process holding it where it can be written. The system lets the locks
// go when that process ends, however it ends, so a folder a killed run left is free for the next.
// A folder another live run holds is refused at once, nothing in it touched, as is one nothing can
// be written into, and one that cannot be held for any other reason. Only on a file system that
// keeps no locks does the run go on unheld, and say so on standard error. Main thread.
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
    // is a link to nothing (/gone)", "nothing can be written into it (Read-only file system)", "it
    // cannot be held for this run (...)"); nothing is made in it then.
    bool Take(const std::string& folder, HostOutput& out, std::string& why);
    // The folder, absolute, once taken.
    const std::filesystem::path& GetPath() const { return m_path; }
    // Let go (the destructor does too): another run may have the folder.
    void Release() { m_lock.Unlock(); }

private:
    GAME::Platform::FolderLock m_lock;
    std::filesystem::path m_path;
};

} // namespace SampleHost
