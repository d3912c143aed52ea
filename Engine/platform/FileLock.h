// Exclusive locks on files and folders, for what several processes (or several opens in one
// process) must not do at once: two saves of one file, two runs in one folder. A lock belongs to
// one open of what it locks and is released by Unlock, by the destructor, or by the end of the
// process that holds it, however it ends: a killed process leaves no lock behind. Advisory: only
// those who ask for the lock wait. A lock needs no write permission on what it locks: a file
// another user left read-only is locked through an open to read. A FileLock or FolderLock is used
// by one owner; the free function may be called from any thread.
#pragma once

#include <string>

namespace GAME::Platform {

// Why a lock was not taken.
enum class LockFailure
{
    None,
    Held,    // another open holds it (another process, or another lock of this one)
    NoLocks, // the file system keeps no locks
    Other,   // the system's reason is in the error text
};

class FileLock
{
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Opens the file at path (made, empty, when missing; opened to read when it may not be
    // written; a held lock is released first) and locks it, waiting at most waitMilliseconds while
    // another holds it (0: not at all). False with the reason in GetError: "another process holds
    // it" when the wait ran out, else the system's.
    bool Lock(const std::string& path, int waitMilliseconds);
    void Unlock();
    bool IsLocked() const { return m_fd >= 0; }
    const std::string& GetError() const { return m_error; }
    LockFailure GetFailure() const { return m_failure; }

private:
    int m_fd = -1;
    std::string m_error;
    LockFailure m_failure = LockFailure::None;
};

// Holds a folder for one owner at a time, across processes and users. The lock is on the folder
// itself, opened to read, so that no file anyone left in it stands in the way; and, for the
// processes of other machines on a network file system (where a folder's lock reaches this
// machine's alone), on the file lockName in it, opened to write where it may be, else to read, in
// the folder already opened (never a name looked up again) and never through a link.
// The holder's name goes into that file where it can be written, for the owner who is refused.
class FolderLock
{
public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Locks the folder (which must exist) without waiting; a held lock is released first. True
    // when held: the name "<holder>, process <id>" is then in the lock file, unless GetNameError
    // says why not. False with GetFailure and the reason in GetError: Held ("another process holds
    // it"), NoLocks (the file system keeps none), or Other: the folder cannot be opened to read,
    // or, on a network file system, its lock file cannot be locked (another user's, read-only),
    // which alone keeps the other machines' processes out.
    bool Lock(const std::string& folder, const std::string& lockName, const std::string& holder);
    void Unlock();
    bool IsLocked() const { return m_folderFd >= 0; }
    LockFailure GetFailure() const { return m_failure; }
    const std::string& GetError() const { return m_error; }
    // Held, but on a network file system that keeps no locks between machines: against this
    // machine's processes only (the reason why). Empty otherwise.
    const std::string& GetThisMachineOnly() const { return m_thisMachineOnly; }
    // Held, but the holder's name could not be written (the reason why); empty when it was.
    const std::string& GetNameError() const { return m_nameError; }
    // After a Held failure: who holds the folder, as the system's lock table says (/proc/locks):
    // a process it lists that has the folder or its lock file open still (where its descriptors
    // may be read: another user's may not), named as it wrote itself into the lock file, else by
    // its program ("EngineHost, process 4711"). Empty when there is none such (a name an earlier
    // run left in the file is no one's; a holder of another pid namespace or machine is not
    // listed, nor a child that holds the lock its ended parent took). Reads no file but a plain one.
    std::string ReadHolder(const std::string& folder, const std::string& lockName) const;
    // While held: a path that leads to the held folder itself whatever its name is now, for the
    // files the owner writes into it ("/proc/self/fd/7"; renamed, they follow it; removed, none can
    // be made). Empty when the system shows none (no /proc).
    std::string GetHeldPath() const;

private:
    int m_folderFd = -1;
    int m_fileFd = -1;
    LockFailure m_failure = LockFailure::None;
    std::string m_error;
    std::string m_thisMachineOnly;
    std::string m_nameError;
};

// Whether the folder takes new files: false with the system's reason ("Read-only file system",
// "Permission denied") when this process may not make one there. Makes nothing.
bool CanWriteInto(const std::string& folder, std::string& why);

// For tests, as a file system without locks does it: every lock asked for from now on fails with
// the error given (ENOLCK, EINVAL; EIO for another failure); 0 lifts it (the default). Process-wide.
void SetFileLockRefusal(int error);

// For the platform layer: locks the open file behind the descriptor, waiting at most
// waitMilliseconds while another open of it holds the lock. 0 when locked, EWOULDBLOCK when the
// wait ran out, else the system's error (a file system without locks says ENOLCK or EINVAL).
int LockOpenFile(int fd, int waitMilliseconds);

} // namespace GAME::Platform
