#include "platform/FileLock.h"

#include "platform/FileCalls.h"
#include "platform/PathResolve.h"
#include "platform/PlatformFile.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace GAME::Platform {

namespace {

void CloseFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// The errors of a file system that keeps no locks (flock(2): ENOLCK; some say they cannot).
bool IsNoLocksError(int error)
{
    return error == ENOLCK || error == EINVAL || error == EOPNOTSUPP || error == ENOSYS;
}

// A file system whose files other machines share: there a folder's lock is this machine's alone
// (the network's locks are for files), and an exclusive lock on a file needs it open to write.
bool IsNetworkFileSystem(int fd)
{
    struct statfs info = {};
    if (::fstatfs(fd, &info) != 0)
        return false;
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0x6969UL:     // NFS
    case 0x517BUL:     // SMB
    case 0xFF534D42UL: // CIFS
    case 0xFE534D42UL: // SMB2
    case 0x00C36400UL: // Ceph
    case 0x5346414FUL: // AFS
    case 0x01021997UL: // 9P
    case 0x0BD00BD0UL: // Lustre
    case 0x01161970UL: // GFS2
    case 0x7461636FUL: // OCFS2
        return true;
    default:
        return false;
    }
}

// Opens the lock file at path to write (made when missing), else, where it may not be written,
// to read. Never through a link, never a FIFO's wait: only a plain file is a lock file. -1 with
// errno when neither open works. writable says which it is.
int OpenLockFile(const std::string& path, bool& writable)
{
    constexpr int common = O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK;
    writable = true;
    int fd = OpenRetrying(path, O_RDWR | O_CREAT | common, 0666);
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        writable = false;
        fd = OpenRetrying(path, O_RDONLY | common);
    }
    if (fd < 0)
        return -1;
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// Whether the process with the id still runs (one of another user's too).
bool ProcessRuns(long id)
{
    return id > 0 && (::kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM);
}

} // namespace

int LockOpenFile(int fd, int waitMilliseconds)
{
    // flock has no timeout of its own: a short sleep between tries, growing to 20 ms, keeps the
    // wait bounded and cheap.
    const int64_t deadline = NowMilliseconds() + std::max(waitMilliseconds, 0);
    long sleepMicroseconds = 500;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return errno;
        const int64_t left = deadline - NowMilliseconds();
        if (left <= 0)
            return EWOULDBLOCK;
        const long pause = std::min<long>(sleepMicroseconds, static_cast<long>(left) * 1000);
        const timespec nap = {0, pause * 1000};
        ::nanosleep(&nap, nullptr);
        sleepMicroseconds = std::min<long>(sleepMicroseconds * 2, 20000);
    }
}

FileLock::~FileLock()
{
    Unlock();
}

bool FileLock::Lock(const std::string& path, int waitMilliseconds)
{
    Unlock();
    m_error.clear();
    m_failure = LockFailure::None;
    const std::string real = ResolvePathForCreate(path);
    int fd = OpenRetrying(real, O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    // A lock needs no write permission: another user's read-only file is locked all the same.
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS))
        fd = OpenRetrying(real, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        m_error = SystemErrorText(errno);
        m_failure = LockFailure::Other;
        return false;
    }
    const int result = LockOpenFile(fd, waitMilliseconds);
    if (result != 0) {
        m_error = result == EWOULDBLOCK ? "another process holds it" : SystemErrorText(result);
        m_failure = result == EWOULDBLOCK    ? LockFailure::Held
                    : IsNoLocksError(result) ? LockFailure::NoLocks
                                             : LockFailure::Other;
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void FileLock::Unlock()
{
    CloseFd(m_fd);
}

FolderLock::~FolderLock()
{
    Unlock();
}

void FolderLock::Unlock()
{
    CloseFd(m_fileFd);
    CloseFd(m_folderFd);
}

bool FolderLock::Lock(const std::string& folder, const std::string& lockName, const std::string& holder)
{
    Unlock();
    m_failure = LockFailure::None;
    m_error.clear();
    m_thisMachineOnly.clear();
    m_nameError.clear();
    auto fail = [this](LockFailure failure, const std::string& error) {
        Unlock();
        m_failure = failure;
        m_error = error;
        return false;
    };

    int folderFd = OpenRetrying(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return fail(LockFailure::Other, "it cannot be opened to read (" + SystemErrorText(errno) + ")");
    m_folderFd = folderFd;
    const bool network = IsNetworkFileSystem(m_folderFd);
    int result = LockOpenFile(m_folderFd, 0);
    if (result == EWOULDBLOCK)
        return fail(LockFailure::Held, "another process holds it");
    const bool folderLocked = result == 0;
    if (!folderLocked && !IsNoLocksError(result))
        return fail(LockFailure::Other, SystemErrorText(result));

    // The lock file: on a local file system a second lock beside the folder's, on a network one
    // the lock the other machines see.
    const std::string path = folder + "/" + lockName;
    bool writable = false;
    m_fileFd = OpenLockFile(path, writable);
    result = m_fileFd < 0 ? errno : LockOpenFile(m_fileFd, 0);
    if (result == EWOULDBLOCK)
        return fail(LockFailure::Held, "another process holds it");
    const std::string fileWhy = result ? SystemErrorText(result) : std::string();
    if (result != 0) {
        const bool fileNoLocks = m_fileFd >= 0 && IsNoLocksError(result);
        const char* what = m_fileFd < 0 ? "opened" : "locked";
        CloseFd(m_fileFd);
        if (!folderLocked && fileNoLocks)
            return fail(LockFailure::NoLocks, "the file system keeps no locks (" + fileWhy + ")");
        if (!folderLocked)
            return fail(LockFailure::Other, "the file system keeps no locks on folders, and its lock file " +
                                                lockName + " cannot be " + what + " (" + fileWhy + ")");
        if (network && !fileNoLocks)
            // The folder's lock keeps this machine's processes out; without the file's, another
            // machine's could come in unseen.
            return fail(LockFailure::Other, "its lock file " + lockName + " cannot be " + what + " (" +
                                                fileWhy +
                                                "), and on a network file system its lock alone keeps "
                                                "other machines' runs out");
        if (network)
            m_thisMachineOnly = fileWhy;
    }

    // The holder's name, for those refused.
    const std::string name = holder + ", process " + std::to_string(::getpid()) + "\n";
    if (m_fileFd >= 0 && writable) {
        if (::ftruncate(m_fileFd, 0) != 0 ||
            ::pwrite(m_fileFd, name.data(), name.size(), 0) != static_cast<ssize_t>(name.size()))
            m_nameError = SystemErrorText(errno);
    } else {
        m_nameError = fileWhy.empty() ? SystemErrorText(EACCES) : fileWhy;
    }
    return true;
}

std::string FolderLock::ReadHolder(const std::string& folder, const std::string& lockName) const
{
    const int fd = OpenRetrying(folder + "/" + lockName,
                                O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return std::string();
    char text[128] = {};
    struct stat info = {};
    const ssize_t read =
        ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? ::pread(fd, text, sizeof(text) - 1, 0) : -1;
    ::close(fd);
    std::string name(text, read > 0 ? static_cast<size_t>(read) : 0);
    name = name.substr(0, name.find('\n'));
    // "<holder>, process <id>": named only while that process runs.
    const size_t at = name.rfind(", process ");
    if (at == std::string::npos)
        return std::string();
    char* end = nullptr;
    const long id = std::strtol(name.c_str() + at + 10, &end, 10);
    if (!end || *end != '\0' || !ProcessRuns(id))
        return std::string();
    return name;
}

bool CanWriteInto(const std::string& folder, std::string& why)
{
    // The effective ids, as a file's making would use them.
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0)
        return true;
    why = SystemErrorText(errno);
    return false;
}

} // namespace GAME::Platform
