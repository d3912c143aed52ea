// Exclusive locks on files, for what several processes (or several opens in one process) must not
// do at once: two saves of one file, two runs in one folder. A lock belongs to one open of the file
// and is released by Unlock, by the destructor, or by the end of the process that holds it, however
// it ends: a killed process leaves no lock behind. Advisory: only those who ask for the lock wait.
// A FileLock is used by one owner; the free function may be called from any thread.
#pragma once

#include <string>

namespace GAME::Platform {

class FileLock
{
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Opens the file at path (made, empty, when missing; a held lock is released first) and locks
    // it, waiting at most waitMilliseconds while another holds it (0: not at all). False with the
    // reason in GetError: "another process holds it" when the wait ran out, else the system's.
    bool Lock(const std::string& path, int waitMilliseconds);
    void Unlock();
    bool IsLocked() const { return m_fd >= 0; }
    const std::string& GetError() const { return m_error; }

private:
    int m_fd = -1;
    std::string m_error;
};

// For the platform layer: locks the open file behind the descriptor, waiting at most
// waitMilliseconds while another open of it holds the lock. 0 when locked, EWOULDBLOCK when the
// wait ran out, else the system's error (a file system without locks says ENOLCK or EINVAL).
int LockOpenFile(int fd, int waitMilliseconds);

} // namespace GAME::Platform
