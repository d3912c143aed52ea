#include "platform/PlatformFile.h"

#include "platform/FileCalls.h"
#include "platform/FileLock.h"
#include "platform/OldBytesCopy.h"
#include "platform/PathResolve.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace GAME::Platform {

namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr uint64_t kEpochDifference = 11644473600ull;
// The largest old file a save in place copies into memory where no copy can be made beside it.
constexpr uint64_t kMemoryCopyLimit = 64ull << 20;
// How long a save waits, in all, for another save of its file or for a stream's reader.
constexpr int kSaveWaitMilliseconds = 30000;
// As the system's own limit on links followed in one lookup.
constexpr int kMaxLinkHops = 40;
// The part of a target's name that new files beside it repeat, so that theirs stay within NAME_MAX.
constexpr size_t kNameKept = 200;

uint64_t TicksFromTimespec(const timespec& ts)
{
    int64_t seconds = static_cast<int64_t>(ts.tv_sec) + static_cast<int64_t>(kEpochDifference);
    if (seconds < 0)
        return 0;
    return static_cast<uint64_t>(seconds) * 10000000ull + static_cast<uint64_t>(ts.tv_nsec) / 100u;
}

std::atomic<int> g_saveWaitLimit{kSaveWaitMilliseconds};
std::atomic<int> g_moveRefusal{0};

// The folder part with its slash ("" for a bare name).
std::string FolderPart(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FolderToOpen(const std::string& path)
{
    const std::string folder = FolderPart(path);
    return folder.empty() ? "." : folder.size() == 1 ? folder : folder.substr(0, folder.size() - 1);
}

void SyncFolderOf(const std::string& path)
{
    const int fd = ::open(FolderToOpen(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        SyncToDisk(fd);
        ::close(fd);
    }
}

bool StatPath(const std::string& path, struct stat& st)
{
    std::string real;
    if (!ResolveExistingPath(path, real))
        return false;
    return ::stat(real.c_str(), &st) == 0;
}

// What the names of the new files beside a target repeat of its name: the name itself, or for a
// long one its start and a hash of all of it, so that two long names with one start differ.
std::string NameKey(const std::string& path)
{
    const std::string name = path.substr(FolderPart(path).size());
    if (name.size() <= kNameKept)
        return name;
    uint64_t hash = 0xcbf29ce484222325ull; // FNV-1a
    for (const unsigned char c : name)
        hash = (hash ^ c) * 0x100000001b3ull;
    char tail[20];
    std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(hash));
    return name.substr(0, kNameKept - 17) + tail;
}

// Whether the path names an entry of a process's descriptor folder (/proc/<pid>/fd/N, through
// /proc/self, /dev/fd or a thread's folder): such an entry is that process's open file itself.
bool InDescriptorFolder(const std::string& path)
{
    char* real = ::realpath(FolderToOpen(path).c_str(), nullptr);
    if (!real)
        return false;
    const std::string folder = real;
    std::free(real);
    // /proc/<pid>/fd or /proc/<pid>/task/<tid>/fd
    std::string_view rest(folder);
    if (!rest.starts_with("/proc/") || !rest.ends_with("/fd"))
        return false;
    rest = rest.substr(6, rest.size() - 9);
    auto number = [&rest]() {
        size_t digits = 0;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9')
            ++digits;
        rest.remove_prefix(digits);
        return digits > 0;
    };
    if (!number())
        return false;
    if (rest.empty())
        return true;
    if (!rest.starts_with("/task/"))
        return false;
    rest.remove_prefix(6);
    return number() && rest.empty();
}

// Follows the links at path to the name they lead to, whether or not a file is there; stops at a
// process's descriptor link. False (errno set) on a loop or an unreadable link.
bool FollowLinks(std::string& path, bool& throughDescriptor)
{
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        if (InDescriptorFolder(path)) {
            throughDescriptor = true;
            return true;
        }
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return true;
        std::string linked(PATH_MAX, '\0');
        const ssize_t length = ::readlink(path.c_str(), linked.data(), linked.size());
        if (length < 0)
            return false;
        if (static_cast<size_t>(length) >= linked.size() || length == 0) {
            errno = ENAMETOOLONG;
            return false;
        }
        linked.resize(static_cast<size_t>(length));
        path = linked[0] == '/' ? linked : FolderPart(path) + linked;
    }
    errno = ELOOP;
    return false;
}

// The names of a file's extended attributes (its ACL among them); false when they cannot be
// listed (none, where the file system keeps none).
bool AttributeNames(int fd, std::vector<std::string>& names)
{
    names.clear();
    std::vector<char> list;
    for (;;) {
        const ssize_t size = ::flistxattr(fd, nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP;
        list.resize(static_cast<size_t>(size));
        const ssize_t got = size == 0 ? 0 : ::flistxattr(fd, list.data(), list.size());
        if (got >= 0) {
            list.resize(static_cast<size_t>(got));
            break;
        }
        if (errno != ERANGE) // grown since it was measured: measure again
            return false;
    }
    for (size_t at = 0; at < list.size();) {
        const size_t length = ::strnlen(list.data() + at, list.size() - at);
        // The mark of a save in place is the file's own while it is saved, never another's.
        if (std::string_view(list.data() + at, length) != kOldBytesMarkName)
            names.emplace_back(list.data() + at, length);
        at += length + 1;
    }
    return true;
}

bool AttributeValue(int fd, const std::string& name, std::vector<char>& value)
{
    for (;;) {
        const ssize_t size = ::fgetxattr(fd, name.c_str(), nullptr, 0);
        if (size < 0)
            return false;
        value.resize(static_cast<size_t>(size));
        const ssize_t got = size == 0 ? 0 : ::fgetxattr(fd, name.c_str(), value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<size_t>(got));
            return true;
        }
        if (errno != ERANGE)
            return false;
    }
}

// Gives the new file exactly the old file's extended attributes, its ACL among them: those it
// has (a folder's default ACL) that the old one has not go. False when any could not be given
// or taken away.
bool GiveAttributes(int from, int to)
{
    std::vector<std::string> old, made;
    if (!AttributeNames(from, old) || !AttributeNames(to, made))
        return false;
    for (const std::string& name : made)
        if (std::find(old.begin(), old.end(), name) == old.end() && ::fremovexattr(to, name.c_str()) != 0)
            return false;
    std::vector<char> value, present;
    for (const std::string& name : old) {
        if (!AttributeValue(from, name, value))
            return false;
        if (AttributeValue(to, name, present) && present == value)
            continue;
        if (::fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0)
            return false;
    }
    return true;
}

// Lower-case hex digits, as the new files' names print them; the value, or -1.
int64_t HexField(std::string_view& rest)
{
    int64_t value = 0;
    size_t digits = 0;
    while (digits < rest.size() && digits < 9) {
        const char c = rest[digits];
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0)
            break;
        value = value * 16 + digit;
        ++digits;
    }
    if (digits == 0 || digits > 8)
        return -1;
    rest.remove_prefix(digits);
    return value;
}

// Removes the new files that saves of processes no longer alive left beside the target: regular
// files named exactly .<name>.<pid>.<n>.part whose pid the system does not know.
void RemoveStrays(const std::string& target)
{
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) of the concatenation inlined here.
    std::string prefix(1, '.');
    prefix.append(NameKey(target)).push_back('.');
    DIR* folder = ::opendir(FolderToOpen(target).c_str());
    if (!folder)
        return;
    while (const dirent* entry = ::readdir(folder)) {
        std::string_view rest(entry->d_name);
        if (!rest.starts_with(prefix))
            continue;
        rest.remove_prefix(prefix.size());
        const int64_t pid = HexField(rest);
        if (pid <= 0 || pid > INT_MAX || !rest.starts_with('.'))
            continue;
        rest.remove_prefix(1);
        if (HexField(rest) < 0 || rest != ".part")
            continue;
        // Alive, or another user's that the system will not let us signal, keeps it.
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;
        struct stat st;
        if (::fstatat(::dirfd(folder), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(::dirfd(folder), entry->d_name, 0);
    }
    ::closedir(folder);
}

} // namespace

PlatformFile::~PlatformFile()
{
    Discard();
}

bool PlatformFile::Open(const std::string& path, FileOpenMode mode)
{
    Discard();
    m_error.clear();
    m_failed = false;
    m_written = 0;
    m_mode = mode;
    std::string real;
    int flags = O_CLOEXEC;
    switch (mode) {
    case FileOpenMode::Read:
        if (!ResolveExistingPath(path, real)) {
            m_error = SystemErrorText(ENOENT);
            return false;
        }
        flags |= O_RDONLY;
        break;
    case FileOpenMode::Update:
        real = ResolvePathForCreate(path);
        flags |= O_RDWR | O_CREAT;
        break;
    case FileOpenMode::Write:
    case FileOpenMode::WriteUnsynced:
        ResetSave();
        m_sync = mode == FileOpenMode::Write;
        return OpenSave(ResolvePathForCreate(path));
    }
    // The read-only flag holds for every user, root included, as the attribute does elsewhere.
    struct stat existing;
    if (mode != FileOpenMode::Read && ::stat(real.c_str(), &existing) == 0 &&
        (existing.st_mode & S_IWUSR) == 0) {
        m_error = "the file is read-only";
        return false;
    }
    const int fd = OpenRetrying(real, flags, 0666);
    if (fd < 0) {
        m_error = SystemErrorText(errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        m_error = SystemErrorText(EISDIR);
        ::close(fd);
        return false;
    }
    if (S_ISREG(st.st_mode) &&
        !OldBytesCopy::PutBackKilledSave(fd, st.st_dev, st.st_ino, false,
                                         g_saveWaitLimit.load(std::memory_order_relaxed), m_error)) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_path = std::move(real);
    return true;
}

void PlatformFile::ResetSave()
{
    m_way = Way::Replace;
    m_throughDescriptor = false;
    m_lockFd = -1;
    m_newPath.clear();
    m_end = 0;
    m_oldSize = 0;
    m_touched = false;
    m_copy.Keep();
    m_copyBytes = {};
    m_waited = 0;
}

bool PlatformFile::OpenSave(const std::string& path)
{
    std::string target = path;
    if (!FollowLinks(target, m_throughDescriptor)) {
        m_error = SystemErrorText(errno);
        return false;
    }
    m_path = target;
    // Another save may replace the file while this one waits for its lock: then the file the name
    // shows now is the one saved over.
    for (int attempt = 0; attempt < 100; ++attempt) {
        struct stat st;
        if (::stat(target.c_str(), &st) != 0) {
            if (errno != ENOENT || m_throughDescriptor) {
                m_error = SystemErrorText(errno);
                return false;
            }
            // A new file: made beside and moved to its name.
            m_fd = MakeBeside(-1, m_newPath);
            if (m_fd < 0) {
                m_error = SystemErrorText(errno);
                return false;
            }
            return true;
        }
        if (S_ISDIR(st.st_mode)) {
            m_error = SystemErrorText(EISDIR);
            return false;
        }
        // The read-only flag holds for every user, root included, as the attribute does elsewhere.
        if ((st.st_mode & S_IWUSR) == 0) {
            m_error = "the file is read-only";
            return false;
        }
        if (!S_ISREG(st.st_mode))
            return OpenStream(target, S_ISFIFO(st.st_mode));
        // Opened for writing now: a file the process may not write is refused whatever its folder
        // allows, and one written in place needs it. Non-blocking, should a FIFO take its name now.
        int targetFd = OpenRetrying(target, O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (targetFd < 0 && errno == EACCES)
            targetFd = OpenRetrying(target, O_WRONLY | O_NOCTTY | O_NONBLOCK);
        if (targetFd < 0) {
            m_error = SystemErrorText(errno);
            return false;
        }
        if (::fstat(targetFd, &st) != 0 || !S_ISREG(st.st_mode)) {
            m_error = "the file changed while it was opened";
            ::close(targetFd);
            return false;
        }
        if (!LockTarget(targetFd)) {
            ::close(targetFd);
            return false;
        }
        struct stat named;
        if (::stat(target.c_str(), &named) != 0 || named.st_dev != st.st_dev || named.st_ino != st.st_ino) {
            ::close(targetFd);
            continue;
        }
        if (!OldBytesCopy::PutBackKilledSave(targetFd, named.st_dev, named.st_ino, true, 0, m_error)) {
            ::close(targetFd);
            return false;
        }
        return OpenExistingSave(targetFd);
    }
    m_error = "the file kept changing while it was opened";
    return false;
}

// Waits for other saves of the file, out of what is left of the save's wait in all (a save that
// found the file replaced meanwhile and starts again waits no longer); false with the reason when
// the wait ran out. A file system without locks (ENOLCK, EINVAL) is saved without.
bool PlatformFile::LockTarget(int fd)
{
    const int limit = g_saveWaitLimit.load(std::memory_order_relaxed);
    const int64_t before = NowMilliseconds();
    const int locked = LockOpenFile(fd, static_cast<int>(std::max<int64_t>(limit - m_waited, 0)));
    m_waited += NowMilliseconds() - before;
    if (locked != EWOULDBLOCK)
        return true;
    m_error = "another save of the file was still under way after " + DurationText(limit);
    return false;
}

// The target is open, locked and whole: the way its bytes will get there.
bool PlatformFile::OpenExistingSave(int targetFd)
{
    struct stat st;
    if (::fstat(targetFd, &st) != 0) {
        m_error = SystemErrorText(errno);
        ::close(targetFd);
        return false;
    }
    const int permissions = static_cast<int>(st.st_mode & 07777);
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    if (m_throughDescriptor || st.st_nlink > 1)
        return StartInPlace(targetFd, size, permissions, m_throughDescriptor ? 0 : -1);
    std::string made;
    const int fd = MakeBeside(permissions, made);
    // No new file can be made in its folder: the file itself is written.
    if (fd < 0)
        return StartInPlace(targetFd, size, permissions, errno);
    struct stat madeStat;
    if (::fstat(fd, &madeStat) != 0 || madeStat.st_uid != st.st_uid || madeStat.st_gid != st.st_gid ||
        !GiveAttributes(targetFd, fd) || ::fchmod(fd, static_cast<mode_t>(permissions)) != 0) {
        // Replacing would change who may use the file (its owner, group, ACL or attributes): it is
        // written in place, its old bytes kept in a copy of their own.
        ::close(fd);
        ::unlink(made.c_str());
        return StartInPlace(targetFd, size, permissions, -1);
    }
    // The old file stays open, and locked, until the new one has taken its name.
    m_lockFd = targetFd;
    m_fd = fd;
    m_newPath = std::move(made);
    return true;
}

bool PlatformFile::OpenStream(const std::string& target, bool fifo)
{
    if (!fifo && !m_throughDescriptor) {
        struct stat st;
        if (::stat(target.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
            m_error = "it is not a plain file (a block device or a socket)";
            return false;
        }
    }
    // Non-blocking: a FIFO without a reader fails at once instead of waiting for one.
    const int fd = OpenRetrying(target, O_WRONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        m_error =
            errno == ENXIO && fifo ? "no process has the FIFO open for reading" : SystemErrorText(errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode))) {
        m_error = S_ISREG(st.st_mode) ? "the file changed while it was opened"
                                      : "it is not a plain file (a block device or a socket)";
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_way = Way::Stream;
    return true;
}

// Hidden, beside the target, made exclusively with the permissions given (-1: a new file's, as the
// process's mask has them); -1 with errno when none can be made.
int PlatformFile::MakeBeside(int permissions, std::string& made)
{
    const std::string start = FolderPart(m_path) + "." + NameKey(m_path);
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        made = start + NewPartSuffix();
        fd = OpenRetrying(made, O_RDWR | O_CREAT | O_EXCL,
                          permissions < 0 ? 0666 : static_cast<mode_t>(permissions));
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        made.clear();
        return -1;
    }
    // The old file's permissions, which the process's mask may have narrowed at the open.
    if (permissions >= 0)
        ::fchmod(fd, static_cast<mode_t>(permissions));
    return fd;
}

// Takes the open target. besideError: -1 where a copy may be made beside the target, else why
// none can be (0: none is made, a descriptor link).
bool PlatformFile::StartInPlace(int targetFd, uint64_t oldSize, int permissions, int besideError)
{
    m_fd = targetFd;
    m_way = Way::InPlace;
    m_oldSize = oldSize;
    // The lock stays with a descriptor of its own until the copy is gone, whatever closing the
    // file says.
    m_lockFd = ::fcntl(targetFd, F_DUPFD_CLOEXEC, 0);
    if (m_lockFd < 0)
        m_error = SystemErrorText(errno);
    if (m_lockFd < 0 || !KeepCopy(oldSize, permissions, besideError)) {
        ::close(m_fd);
        m_fd = -1;
        ReleaseLock();
        return false;
    }
    return true;
}

// A copy of the target's first size bytes: in a file beside it (platform/OldBytesCopy.h), else in
// memory.
bool PlatformFile::KeepCopy(uint64_t size, int permissions, int besideError)
{
    int error = std::max(besideError, 0);
    if (besideError < 0) {
        // Appended, not concatenated: GCC 12 warns falsely (-Wrestrict) of the concatenation inlined.
        std::string partStart(1, '.');
        partStart.append(NameKey(m_path));
        if (m_copy.Make(m_fd, FolderToOpen(m_path), partStart, size, permissions, m_sync))
            return true;
        error = errno;
    }
    if (size <= kMemoryCopyLimit) {
        m_copyBytes.resize(static_cast<size_t>(size));
        if (ReadWhole(m_fd, m_copyBytes.data(), m_copyBytes.size(), 0))
            return true;
        error = errno;
        m_copyBytes = {};
    }
    m_error = "it can only be written in place and no copy of its old bytes can be kept (" +
              (error != 0 ? SystemErrorText(error) : "it is larger than the 64 MiB kept in memory") + ")";
    return false;
}

// Through fd, the target open for writing (the save's own descriptor, or the lock's).
bool PlatformFile::PutOldBytesBack(int fd)
{
    if (!m_touched)
        return true;
    // Without a file, the copy is in memory (none for an empty file).
    const bool back = m_copy.IsMade() ? m_copy.PutBack(fd, m_sync)
                                      : WriteWhole(fd, m_copyBytes.data(), m_copyBytes.size(), 0) &&
                                            ::ftruncate(fd, static_cast<off_t>(m_oldSize)) == 0 &&
                                            (!m_sync || SyncToDisk(fd));
    if (!back)
        m_error +=
            std::string(m_error.empty() ? "" : "; ") + "the old bytes could not be put back" +
            (m_copy.IsMade() ? " and are kept in " + m_copy.GetPath() + ", which the next open puts back"
                             : std::string());
    return back;
}

// Ends the copy of the old bytes once the target's bytes are whole (the new ones, or the old put
// back): the target's mark goes first, synced, so that nothing puts the copy back over them, then
// the copy. Where the mark cannot go, the target gets its old bytes again and the copy stays for
// the next open: the save has failed. fd: the target, open for writing.
void PlatformFile::EndCopy(int fd, bool keep)
{
    if (m_copy.IsMade() && !keep && !m_copy.End(fd, m_sync)) {
        const std::string why = SystemErrorText(errno);
        if (!m_failed)
            Fail(why);
        m_failed = true;
        m_touched = true;
        PutOldBytesBack(fd);
        m_error += "; the mark naming the copy of its old bytes, " + m_copy.GetPath() +
                   ", could not be taken off the file (" + why + "): the next open puts them back";
    }
    m_copy.Keep();
    m_copyBytes = {};
}

void PlatformFile::ReleaseLock()
{
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    m_lockFd = -1;
}

void PlatformFile::Fail(int error)
{
    Fail(SystemErrorText(error));
}

void PlatformFile::Fail(const std::string& reason)
{
    if (!m_failed && m_error.empty())
        m_error = reason;
    if (IsSave())
        m_failed = true;
}

bool PlatformFile::Close()
{
    if (m_fd < 0)
        return true;
    if (!IsSave()) {
        const bool closed = ::close(m_fd) == 0;
        if (!closed)
            m_error = SystemErrorText(errno);
        m_fd = -1;
        m_path.clear();
        return closed;
    }
    bool saved = false;
    switch (m_way) {
    case Way::Replace:
        saved = FinishReplacement();
        break;
    case Way::InPlace:
        saved = FinishInPlace();
        break;
    case Way::Stream:
        if (::close(m_fd) != 0)
            Fail(errno);
        m_fd = -1;
        saved = !m_failed;
        break;
    }
    ReleaseLock();
    // A scratch file's folder is not searched: it is often a large shared one (the temporary files'),
    // whose leftovers the system clears.
    if (saved && m_sync && m_way != Way::Stream && !m_throughDescriptor)
        RemoveStrays(m_path);
    m_path.clear();
    return saved;
}

bool PlatformFile::FinishReplacement()
{
    if (!m_failed && m_sync && !SyncToDisk(m_fd))
        Fail(errno);
    if (::close(m_fd) != 0)
        Fail(errno);
    m_fd = -1;
    if (!m_failed) {
        const int refused = g_moveRefusal.load(std::memory_order_relaxed);
        errno = refused;
        if (refused != 0 || ::rename(m_newPath.c_str(), m_path.c_str()) != 0) {
            // The name cannot take another file (one mounted over it, another file system, a
            // folder's rule): what was made goes into the file that is there.
            if (errno == EBUSY || errno == EXDEV || errno == EPERM)
                return WriteReplacementInPlace();
            Fail(errno);
        }
    }
    if (m_failed)
        ::unlink(m_newPath.c_str());
    else if (m_sync)
        SyncFolderOf(m_path);
    m_newPath.clear();
    return !m_failed;
}

// The file that the name shows now (which may be another than at Open: one mounted over it since)
// takes the new bytes in place, as any save in place does: locked, its old bytes kept first.
bool PlatformFile::WriteReplacementInPlace()
{
    m_way = Way::InPlace;
    ReleaseLock();
    const int made = OpenRetrying(m_newPath, O_RDONLY);
    int fd = OpenRetrying(m_path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 && errno == EACCES)
        fd = OpenRetrying(m_path, O_WRONLY | O_NOCTTY | O_NONBLOCK);
    struct stat madeStat, old;
    bool started = false;
    if (made < 0 || fd < 0 || ::fstat(made, &madeStat) != 0 || ::fstat(fd, &old) != 0) {
        Fail(errno);
    } else if (!S_ISREG(old.st_mode)) {
        Fail("the file changed while it was written");
    } else if (!LockTarget(fd) ||
               !OldBytesCopy::PutBackKilledSave(fd, old.st_dev, old.st_ino, true, 0, m_error) ||
               ::fstat(fd, &old) != 0) {
        m_failed = true;
    } else {
        started =
            StartInPlace(fd, static_cast<uint64_t>(old.st_size), static_cast<int>(old.st_mode & 07777), -1);
        fd = -1; // StartInPlace owns it now, open or closed
        if (!started) {
            m_failed = true;
        } else {
            m_touched = true;
            m_end = static_cast<uint64_t>(madeStat.st_size);
            uint64_t taken = 0;
            if (!CopyBytes(made, 0, m_fd, 0, m_end, &taken))
                Fail(errno);
        }
    }
    if (fd >= 0)
        ::close(fd);
    if (made >= 0)
        ::close(made);
    ::unlink(m_newPath.c_str());
    m_newPath.clear();
    if (!started)
        return false;
    return FinishInPlace();
}

bool PlatformFile::FinishInPlace()
{
    if (!m_failed) {
        m_touched = true;
        if (::ftruncate(m_fd, static_cast<off_t>(m_end)) != 0)
            Fail(errno);
    }
    if (!m_failed && m_sync && !SyncToDisk(m_fd))
        Fail(errno);
    bool keepCopy = m_failed && !PutOldBytesBack(m_fd);
    if (::close(m_fd) != 0 && !m_failed) {
        // Nothing can be said to be saved: the copy stays where there is one, with the target's
        // mark, for the next open to put back.
        Fail(errno);
        keepCopy = m_copy.IsMade();
        if (keepCopy)
            m_error += "; its old bytes are kept in " + m_copy.GetPath() + ", which the next open puts back";
    }
    m_fd = -1;
    // The lock's descriptor is the target's too.
    EndCopy(m_lockFd, keepCopy);
    return !m_failed;
}

void PlatformFile::Discard()
{
    if (m_fd < 0)
        return;
    if (!IsSave()) {
        ::close(m_fd);
        m_fd = -1;
        m_path.clear();
        return;
    }
    switch (m_way) {
    case Way::Replace:
        ::close(m_fd);
        ::unlink(m_newPath.c_str());
        m_newPath.clear();
        break;
    case Way::InPlace:
        EndCopy(m_fd, !PutOldBytesBack(m_fd));
        ::close(m_fd);
        break;
    case Way::Stream:
        ::close(m_fd);
        break;
    }
    ReleaseLock();
    m_fd = -1;
    m_path.clear();
}

int64_t PlatformFile::ReadAt(uint64_t offset, void* buffer, size_t size) const
{
    if (m_fd < 0)
        return -1;
    size_t done = 0;
    auto* out = static_cast<char*>(buffer);
    while (done < size) {
        ssize_t got = ::pread(m_fd, out + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (got == 0)
            break;
        done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
}

bool PlatformFile::WriteAt(uint64_t offset, const void* data, size_t size)
{
    if (m_fd < 0 || m_failed)
        return false;
    const bool stream = IsSave() && m_way == Way::Stream;
    if (stream && offset != m_end) {
        Fail(ESPIPE);
        return false;
    }
    // The tests' full disk: what fits is written, then the write fails as the disk's would.
    const size_t allowed = RoomFor(m_written, size);
    size_t done = 0;
    auto* in = static_cast<const char*>(data);
    bool written = true;
    if (stream) {
        written = WriteStream(in, allowed, done);
        m_end += done;
    } else {
        if (IsSave() && m_way == Way::InPlace)
            m_touched = true;
        while (done < allowed) {
            ssize_t put = ::pwrite(m_fd, in + done, allowed - done, static_cast<off_t>(offset + done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0) {
                Fail(put < 0 ? errno : EIO);
                written = false;
                break;
            }
            done += static_cast<size_t>(put);
        }
        if (IsSave() && m_way == Way::InPlace && done > 0)
            m_end = std::max<uint64_t>(m_end, offset + done);
    }
    m_written += done;
    if (written && allowed < size) {
        Fail(ENOSPC);
        written = false;
    }
    return written;
}

// In order, through a descriptor that does not block: a reader that takes nothing for the stall
// bound, or went away, fails the write.
bool PlatformFile::WriteStream(const char* data, size_t size, size_t& done)
{
    // SIGPIPE is held on this thread while writing: a reader that went away is a failed save, not
    // the end of the process. One that came in meanwhile for this write is taken off again.
    sigset_t pipeSignal, previous, pending;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
    int error = 0;
    while (done < size) {
        const ssize_t put = ::write(m_fd, data + done, size - done);
        if (put > 0) {
            done += static_cast<size_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && errno == EAGAIN) {
            // The whole save waits no longer than the bound, however little the reader takes at
            // a time.
            const int64_t left = g_saveWaitLimit.load(std::memory_order_relaxed) - m_waited;
            if (left <= 0) {
                error = ETIMEDOUT;
                break;
            }
            pollfd ready = {m_fd, POLLOUT, 0};
            const int64_t before = NowMilliseconds();
            const int events = ::poll(&ready, 1, static_cast<int>(left));
            const int pollError = errno;
            m_waited += NowMilliseconds() - before;
            if (events > 0 || (events < 0 && pollError == EINTR))
                continue;
            error = events == 0 ? ETIMEDOUT : pollError;
            break;
        }
        error = put < 0 ? errno : EIO;
        break;
    }
    if (error == EPIPE && !wasPending) {
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE) == 1) {
            const timespec now = {0, 0};
            sigtimedwait(&pipeSignal, nullptr, &now);
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (error == ETIMEDOUT)
        Fail("its reader kept it waiting " + DurationText(g_saveWaitLimit.load(std::memory_order_relaxed)) +
             " in all");
    else if (error == EPIPE)
        Fail("its reader went away");
    else if (error != 0)
        Fail(error);
    return error == 0;
}

bool PlatformFile::Truncate(uint64_t size)
{
    if (m_fd < 0 || m_failed)
        return false;
    if (IsSave() && m_way == Way::Stream) {
        if (size == m_end)
            return true;
        Fail(ESPIPE);
        return false;
    }
    if (IsSave() && m_way == Way::InPlace) {
        m_touched = true;
        m_end = size;
    }
    if (::ftruncate(m_fd, static_cast<off_t>(size)) != 0) {
        Fail(errno);
        return false;
    }
    return true;
}

bool PlatformFile::GetSize(uint64_t& size) const
{
    if (m_fd >= 0 && IsSave() && m_way != Way::Replace) {
        size = m_end;
        return true;
    }
    struct stat st;
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool PlatformFile::GetLastWriteTime(uint64_t& ticks) const
{
    struct stat st;
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return false;
    ticks = TicksFromTimespec(st.st_mtim);
    return true;
}

bool FileExists(const std::string& path)
{
    struct stat st;
    return StatPath(path, st) && S_ISREG(st.st_mode);
}

bool GetFileSize(const std::string& path, uint64_t& size)
{
    struct stat st;
    if (!StatPath(path, st) || S_ISDIR(st.st_mode))
        return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool GetFileLastWriteTime(const std::string& path, uint64_t& ticks)
{
    struct stat st;
    if (!StatPath(path, st))
        return false;
    ticks = TicksFromTimespec(st.st_mtim);
    return true;
}

bool IsFileReadOnly(const std::string& path)
{
    struct stat st;
    return StatPath(path, st) && (st.st_mode & S_IWUSR) == 0;
}

bool SetFileReadOnly(const std::string& path, bool readOnly)
{
    std::string real;
    struct stat st;
    if (!ResolveExistingPath(path, real) || ::stat(real.c_str(), &st) != 0)
        return false;
    mode_t mode = st.st_mode & 07777;
    mode = readOnly ? (mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
    return ::chmod(real.c_str(), mode) == 0;
}

bool DeleteFile(const std::string& path)
{
    std::string real;
    return ResolveExistingPath(path, real) && ::unlink(real.c_str()) == 0;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t size, std::string* error,
                    FileOpenMode mode)
{
    if (mode != FileOpenMode::Write && mode != FileOpenMode::WriteUnsynced) {
        if (error)
            *error = "not a write mode";
        return false;
    }
    PlatformFile file;
    const bool written = file.Open(path, mode) && (size == 0 || file.WriteAt(0, data, size));
    // Closed either way: a failed write is discarded there.
    const bool closed = file.Close();
    if (written && closed)
        return true;
    if (error)
        *error = file.GetError().empty() ? "the file could not be written" : file.GetError();
    return false;
}

std::string SystemErrorText(int error)
{
    char buffer[128];
    // The GNU strerror_r: the text may or may not be in the buffer.
    return strerror_r(error, buffer, sizeof buffer);
}

void SetSaveWaitLimit(int milliseconds)
{
    g_saveWaitLimit.store(milliseconds < 0 ? kSaveWaitMilliseconds : milliseconds, std::memory_order_relaxed);
}

void SetFileMoveRefusal(int error)
{
    g_moveRefusal.store(error, std::memory_order_relaxed);
}

uint64_t CurrentFileTime()
{
    timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return TicksFromTimespec(ts);
}

} // namespace GAME::Platform
