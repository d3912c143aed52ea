#include "platform/FileLock.h"

#include "platform/FileCalls.h"
#include "platform/PathResolve.h"
#include "platform/PlatformFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>

namespace GAME::Platform {

namespace {

std::atomic<int> g_lockRefusal{0};

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

int OpenAtRetrying(int folderFd, const std::string& name, int flags, mode_t permissions = 0)
{
    int fd;
    do {
        fd = ::openat(folderFd, name.c_str(), flags | O_CLOEXEC, permissions);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Opens the lock file name in the open folder to write (made when missing), else, where it may
// not be written, to read. Never through a link, never a FIFO's wait: only a plain file is a lock
// file. -1 with errno when neither open works. writable says which it is.
int OpenLockFile(int folderFd, const std::string& name, bool& writable)
{
    constexpr int common = O_NOCTTY | O_NOFOLLOW | O_NONBLOCK;
    writable = true;
    int fd = OpenAtRetrying(folderFd, name, O_RDWR | O_CREAT | common, 0666);
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        writable = false;
        fd = OpenAtRetrying(folderFd, name, O_RDONLY | common);
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

// The processes the system's lock table lists as holding a whole-file lock (flock's) on the file:
// /proc/locks lines such as "1: FLOCK  ADVISORY  WRITE 4711 fe:00:10952966 0 EOF", the device's
// numbers in hex; a waiter's line has "->" before the kind, and a holder of another pid
// namespace is not listed.
void AddLockHolders(const struct stat& file, std::vector<long>& holders)
{
    std::FILE* table = std::fopen("/proc/locks", "re");
    if (!table)
        return;
    char line[256];
    while (std::fgets(line, sizeof line, table)) {
        char kind[16] = "";
        long pid = 0;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(line, "%*d: %15s %*s %*s %ld %x:%x:%llu", kind, &pid, &major, &minor, &inode) == 5 &&
            std::strcmp(kind, "FLOCK") == 0 && pid > 0 && makedev(major, minor) == file.st_dev &&
            inode == file.st_ino && std::find(holders.begin(), holders.end(), pid) == holders.end())
            holders.push_back(pid);
    }
    std::fclose(table);
}

// Whether the process has one of the files open still. The lock table names the process that took
// a lock, which a child it started may hold after it ended, and whose number may be an unrelated
// process's by now: only one with the file open may hold it. True where its descriptors may not
// be read (another user's process): the table's word stands then.
bool HasOpen(long pid, const std::vector<struct stat>& files)
{
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* descriptors = ::opendir(folder.c_str());
    if (!descriptors)
        return errno == EACCES || errno == EPERM;
    bool open = false;
    while (const dirent* entry = ::readdir(descriptors)) {
        struct stat st = {};
        if (entry->d_name[0] == '.' || ::fstatat(::dirfd(descriptors), entry->d_name, &st, 0) != 0)
            continue;
        for (const struct stat& file : files)
            open = open || (st.st_dev == file.st_dev && st.st_ino == file.st_ino);
    }
    ::closedir(descriptors);
    return open;
}

// The first line (or NUL-ended text) of a small file, read only where it is a plain file (a FIFO's
// open does not wait).
std::string FirstLine(const std::string& path, const struct stat* onlyIf = nullptr)
{
    const int fd = OpenRetrying(path, O_RDONLY | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return std::string();
    char text[4096] = {};
    struct stat info = {};
    const bool plain = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                       (!onlyIf || (info.st_dev == onlyIf->st_dev && info.st_ino == onlyIf->st_ino));
    const ssize_t read = plain ? ::pread(fd, text, sizeof(text) - 1, 0) : -1;
    ::close(fd);
    const std::string line(text, read > 0 ? static_cast<size_t>(read) : 0);
    return line.substr(0, std::min(line.find('\n'), line.find('\0')));
}

} // namespace

void SetFileLockRefusal(int error)
{
    g_lockRefusal.store(error, std::memory_order_relaxed);
}

int LockOpenFile(int fd, int waitMilliseconds)
{
    if (const int refused = g_lockRefusal.load(std::memory_order_relaxed))
        return refused;
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
    bool writable = false;
    m_fileFd = OpenLockFile(m_folderFd, lockName, writable);
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
    // Either lock keeps a run out: the folder's, or (from another machine's view) the file's.
    std::vector<long> holders;
    std::vector<struct stat> locked;
    struct stat folderStat = {}, fileStat = {};
    if (::stat(folder.c_str(), &folderStat) == 0) {
        AddLockHolders(folderStat, holders);
        locked.push_back(folderStat);
    }
    const std::string file = folder + "/" + lockName;
    const bool plainFile = ::lstat(file.c_str(), &fileStat) == 0 && S_ISREG(fileStat.st_mode);
    if (plainFile) {
        AddLockHolders(fileStat, holders);
        locked.push_back(fileStat);
    }
    holders.erase(
        std::remove_if(holders.begin(), holders.end(), [&](long pid) { return !HasOpen(pid, locked); }),
        holders.end());
    if (holders.empty())
        return std::string();
    // "<holder>, process <id>", when that process is one the table lists.
    const std::string written = plainFile ? FirstLine(file, &fileStat) : std::string();
    const size_t at = written.rfind(", process ");
    if (at != std::string::npos && at > 0) {
        char* end = nullptr;
        const long id = std::strtol(written.c_str() + at + 10, &end, 10);
        if (end && *end == '\0' && std::find(holders.begin(), holders.end(), id) != holders.end())
            return written;
    }
    // The program's name as the process was started (its main thread may have another by now).
    const std::string id = std::to_string(holders.front());
    std::string name = FirstLine("/proc/" + id + "/cmdline");
    name = name.substr(name.find_last_of('/') + 1);
    return (name.empty() ? std::string() : name + ", ") + "process " + id;
}

std::string FolderLock::GetHeldPath() const
{
    if (m_folderFd < 0)
        return std::string();
    const std::string path = "/proc/self/fd/" + std::to_string(m_folderFd);
    struct stat held = {}, through = {};
    if (::fstat(m_folderFd, &held) != 0 || ::stat(path.c_str(), &through) != 0 ||
        held.st_dev != through.st_dev || held.st_ino != through.st_ino)
        return std::string();
    return path;
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
