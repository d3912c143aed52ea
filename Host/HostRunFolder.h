// The sample host's run folder: made when missing (with a .gitignore that keeps the run out of
// `git status`), and held for the whole run, so that two runs never write into one folder. The
// hold is an exclusive lock on the file ".EngineHost.lock" in the folder (Platform::FileLock),
// which names the process holding it; the system lets the lock go when that process ends, however
// it ends, so a folder a killed run left is free for the next. A folder another live run holds is
// refused at once, nothing in it touched. On a file system that has no locks the run goes on
// unheld, and says so. Main thread.
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
    // when the run cannot have it ("another run is using it (EngineHost, process 4711)", "it is a
    // link to nothing (/gone)", the system's reason); nothing is made then.
    bool Take(const std::string& folder, HostOutput& out, std::string& why);
    // The folder, absolute, once taken.
    const std::filesystem::path& GetPath() const { return m_path; }
    // Let go (the destructor does too): another run may have the folder.
    void Release() { m_lock.Unlock(); }

private:
    GAME::Platform::FileLock m_lock;
    std::filesystem::path m_path;
};

} // namespace SampleHost
