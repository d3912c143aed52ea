#include "platform/OldBytesCopy.h"

#include "platform/FileCalls.h"
#include "platform/FileLock.h"
#include "platform/PlatformFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/magic.h>
#include <linux/openat2.h>
#include <mutex>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace GAME::Platform {

namespace {

constexpr char kCopyMagic[8] = {'O', 'L', 'D', 'B', 'Y', 'T', 'E', 'S'};
struct CopyHeader
{
    char magic[8];
    uint64_t device;
    uint64_t inode;
    uint64_t size;
    uint8_t token[16]; // drawn for this copy; the file's mark names it too
    uint32_t pid;      // who saved, for whoever reads the folder
    uint32_t unused[3];
};
static_assert(sizeof(CopyHeader) == 64);

constexpr char kMarkMagic[8] = {'O', 'L', 'D', 'M', 'A', 'R', 'K', '2'};
struct MarkLayout
{
    char magic[8];
    uint64_t device;
    uint64_t inode;
    uint8_t token[16];
};
// The layout before: no device, the copy's whole path after it.
struct FirstMarkLayout
{
    char magic[8];
    uint64_t inode;
    uint8_t token[16];
};
static_assert(sizeof(MarkLayout) == 40 && sizeof(FirstMarkLayout) == 32);

// What a mark says, read as the claim it is.
struct Mark
{
    bool hasDevice = false;
    uint64_t device = 0;
    uint64_t inode = 0;
    uint8_t token[16] = {};
    std::string folder;
    std::string name; // the copy's name the first layout gives; empty in the present one
};

enum class MarkFound
{
    None,
    Found,
    Unreadable, // there, but no save's
};

// Copies of a few KiB may be kept within the inode or its tail by the file system, without blocks
// of their own.
constexpr int64_t kInlineCopyBytes = 16 << 10;

class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { Reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return m_fd; }
    int Release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void Reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

std::mutex g_hookLock;
std::function<void(OldBytesStage, const std::string&)> g_hook;
std::atomic<bool> g_hooked{false};

void Hook(OldBytesStage stage, const std::string& copyPath)
{
    if (!g_hooked.load(std::memory_order_acquire))
        return;
    std::function<void(OldBytesStage, const std::string&)> hook;
    {
        std::lock_guard<std::mutex> lock(g_hookLock);
        hook = g_hook;
    }
    if (hook)
        hook(stage, copyPath);
}

std::string CopyName(uint64_t device, uint64_t inode)
{
    char name[48];
    std::snprintf(name, sizeof name, ".old-bytes.%llx.%llx", static_cast<unsigned long long>(device),
                  static_cast<unsigned long long>(inode));
    return name;
}

void NewToken(uint8_t (&token)[16])
{
    if (::getrandom(token, sizeof token, 0) == static_cast<ssize_t>(sizeof token))
        return;
    // No random source: what this process and moment have of their own.
    static std::atomic<uint64_t> count{0};
    timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    const uint64_t parts[2] = {static_cast<uint64_t>(ts.tv_sec) * 1000000000ull +
                                   static_cast<uint64_t>(ts.tv_nsec),
                               (static_cast<uint64_t>(::getpid()) << 32) ^ count.fetch_add(1)};
    std::memcpy(token, parts, sizeof token);
}

// The folder at the absolute path, no component of it a link (nor a /proc magic link); -1 with
// errno (ELOOP where one is).
int OpenFolderWithoutLinks(const std::string& path, uint64_t flags)
{
    open_how how = {};
    // O_PATH takes no other flags here.
    how.flags = flags | O_DIRECTORY | O_CLOEXEC | ((flags & O_PATH) ? 0 : O_NOCTTY);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    long fd;
    do {
        fd = ::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
    } while (fd < 0 && errno == EINTR);
    return static_cast<int>(fd);
}

// The same open file (or the inode an O_PATH descriptor holds) opened again with the flags, through
// the process's descriptor folder: never a name looked up again, so never another file. -1 with
// errno where /proc is not the system's.
int Reopen(int fd, int flags)
{
    struct statfs proc;
    if (::statfs("/proc/self/fd", &proc) != 0 || proc.f_type != PROC_SUPER_MAGIC) {
        errno = ENOENT;
        return -1;
    }
    struct stat was, now;
    const int again = OpenRetrying("/proc/self/fd/" + std::to_string(fd), flags | O_NOCTTY | O_NONBLOCK);
    if (again < 0)
        return -1;
    if (::fstat(fd, &was) != 0 || ::fstat(again, &now) != 0 || was.st_dev != now.st_dev ||
        was.st_ino != now.st_ino) {
        ::close(again);
        errno = ESTALE;
        return -1;
    }
    return again;
}

MarkFound ReadMark(int fd, Mark& mark)
{
    char value[sizeof(MarkLayout) + PATH_MAX];
    const ssize_t size = ::fgetxattr(fd, kOldBytesMarkName, value, sizeof value);
    if (size < 0)
        // Too long for any path a save writes; otherwise none (or none this process may read: a
        // save of a file it may only write, which writes it whole).
        return errno == ERANGE ? MarkFound::Unreadable : MarkFound::None;
    std::string path;
    if (static_cast<size_t>(size) > sizeof(MarkLayout) &&
        std::memcmp(value, kMarkMagic, sizeof kMarkMagic) == 0) {
        MarkLayout layout;
        std::memcpy(&layout, value, sizeof layout);
        mark.hasDevice = true;
        mark.device = layout.device;
        mark.inode = layout.inode;
        std::memcpy(mark.token, layout.token, sizeof mark.token);
        mark.folder.assign(value + sizeof layout, static_cast<size_t>(size) - sizeof layout);
    } else if (static_cast<size_t>(size) > sizeof(FirstMarkLayout) &&
               std::memcmp(value, kCopyMagic, sizeof kCopyMagic) == 0) {
        FirstMarkLayout layout;
        std::memcpy(&layout, value, sizeof layout);
        mark.inode = layout.inode;
        std::memcpy(mark.token, layout.token, sizeof mark.token);
        path.assign(value + sizeof layout, static_cast<size_t>(size) - sizeof layout);
        const size_t slash = path.find_last_of('/');
        if (slash == std::string::npos)
            return MarkFound::Unreadable;
        mark.folder = slash == 0 ? "/" : path.substr(0, slash);
        mark.name = path.substr(slash + 1);
    } else {
        return MarkFound::Unreadable;
    }
    return mark.folder[0] == '/' && mark.folder.find('\0') == std::string::npos ? MarkFound::Found
                                                                                : MarkFound::Unreadable;
}

// Takes the mark off the file for good: nothing puts its copy back after. False with errno.
bool Unmark(int fd, bool sync)
{
    if (::fremovexattr(fd, kOldBytesMarkName) != 0 && errno != ENODATA)
        return false;
    return !sync || SyncToDisk(fd);
}

// Removes the copy's name from its folder if it still is the copy (whatever the folder's path
// leads to now).
void RemoveCopy(int folderFd, const std::string& name, uint64_t device, uint64_t inode)
{
    struct stat st;
    if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == device &&
        st.st_ino == inode)
        ::unlinkat(folderFd, name.c_str(), 0);
}

// A copy found where the mark says and proven the file's: its folder, the copy open to read, and
// its header.
struct Proof
{
    Descriptor folder;
    Descriptor copy;
    std::string name;
    uint64_t device = 0, inode = 0;
    CopyHeader header{};
};

// Whether the copy the mark points at is where a save of the file (device, inode) puts its own,
// and is it; false with why not.
bool Prove(const Mark& mark, uint64_t device, uint64_t inode, Proof& proof, std::string& why)
{
    proof.name = CopyName(device, inode);
    const std::string notTheirs = "what is there is not their copy";
    if (!mark.name.empty() && mark.name != proof.name) {
        why = notTheirs;
        return false;
    }
    // O_PATH: the folder is only looked in, never opened as anything.
    proof.folder.Reset(OpenFolderWithoutLinks(mark.folder, O_PATH));
    struct stat st;
    if (proof.folder.Get() < 0 || ::fstat(proof.folder.Get(), &st) != 0) {
        why = SystemErrorText(errno);
        return false;
    }
    if (st.st_dev != device) {
        why = "their folder is on another file system than the file";
        return false;
    }
    const Descriptor found(::openat(proof.folder.Get(), proof.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (found.Get() < 0 || ::fstat(found.Get(), &st) != 0) {
        why = SystemErrorText(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        why = "what is there is not a plain file";
        return false;
    }
    if (st.st_dev != device || st.st_size < static_cast<off_t>(sizeof(CopyHeader))) {
        why = notTheirs;
        return false;
    }
    if (st.st_size > kInlineCopyBytes && st.st_blocks < (st.st_size + 511) / 512) {
        why = "what is there is not held by the disk (a sparse file)";
        return false;
    }
    proof.device = st.st_dev;
    proof.inode = st.st_ino;
    // A plain file, so opening it runs no device's open.
    proof.copy.Reset(Reopen(found.Get(), O_RDONLY));
    if (proof.copy.Get() < 0) {
        why = errno == ENOENT ? "the system's /proc, through which it is opened, cannot be used"
                              : SystemErrorText(errno);
        return false;
    }
    CopyHeader& header = proof.header;
    if (!ReadWhole(proof.copy.Get(), reinterpret_cast<char*>(&header), sizeof header, 0) ||
        std::memcmp(header.magic, kCopyMagic, sizeof kCopyMagic) != 0 ||
        std::memcmp(header.token, mark.token, sizeof mark.token) != 0 || header.device != device ||
        header.inode != inode || header.size != static_cast<uint64_t>(st.st_size) - sizeof header) {
        why = notTheirs;
        return false;
    }
    return true;
}

} // namespace

OldBytesCopy::~OldBytesCopy()
{
    Forget(false);
}

bool OldBytesCopy::Make(int targetFd, const std::string& folder, const std::string& partStart, uint64_t size,
                        int permissions, bool sync)
{
    Forget(false);
    struct stat target, st;
    if (::fstat(targetFd, &target) != 0)
        return false;
    // The folder of the name saved, opened once: everything after goes through it, whatever
    // becomes of its path meanwhile. The mark names its real path, which must lead to it without a
    // link, as an open of the file will look for it.
    Descriptor folderFd(OpenRetrying(folder, O_RDONLY | O_DIRECTORY | O_NOCTTY));
    if (folderFd.Get() < 0 || ::fstat(folderFd.Get(), &st) != 0)
        return false;
    std::string folderPath(PATH_MAX, '\0');
    const ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(folderFd.Get())).c_str(),
                                      folderPath.data(), folderPath.size());
    if (length <= 0 || static_cast<size_t>(length) >= folderPath.size())
        return false;
    folderPath.resize(static_cast<size_t>(length));
    struct stat reached;
    const Descriptor byName(OpenFolderWithoutLinks(folderPath, O_PATH));
    if (byName.Get() < 0 || ::fstat(byName.Get(), &reached) != 0)
        return false;
    if (reached.st_dev != st.st_dev || reached.st_ino != st.st_ino) {
        errno = ESTALE; // renamed or removed meanwhile: no path an open would find it by
        return false;
    }
    // A file mounted over a name from another file system: no copy beside it is its own.
    if (st.st_dev != target.st_dev) {
        errno = EXDEV;
        return false;
    }
    std::string part;
    Descriptor copy;
    for (int attempt = 0; attempt < 100 && copy.Get() < 0; ++attempt) {
        part = partStart + NewPartSuffix();
        copy.Reset(::openat(folderFd.Get(), part.c_str(),
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                            static_cast<mode_t>(permissions)));
        if (copy.Get() < 0 && errno != EEXIST)
            return false;
    }
    if (copy.Get() < 0)
        return false;
    const std::string name = CopyName(target.st_dev, target.st_ino);
    CopyHeader header{};
    std::memcpy(header.magic, kCopyMagic, sizeof kCopyMagic);
    header.device = target.st_dev;
    header.inode = target.st_ino;
    header.size = size;
    header.pid = static_cast<uint32_t>(::getpid());
    NewToken(header.token);
    const size_t room = RoomFor(0, sizeof header);
    uint64_t taken = room;
    bool named = false;
    auto fail = [&] {
        const int error = errno;
        struct stat made;
        if (::fstat(copy.Get(), &made) == 0)
            RemoveCopy(folderFd.Get(), named ? name : part, made.st_dev, made.st_ino);
        errno = error;
        return false;
    };
    // The process's mask may have narrowed the permissions at the open; the owner of a file saved
    // by another user (root) can put its bytes back, too.
    (void)::fchmod(copy.Get(), static_cast<mode_t>(permissions));
    if (::geteuid() == 0)
        (void)::fchown(copy.Get(), target.st_uid, target.st_gid);
    if (!WriteWhole(copy.Get(), reinterpret_cast<const char*>(&header), room, 0))
        return fail();
    if (room < sizeof header) {
        errno = ENOSPC;
        return fail();
    }
    if (!CopyBytes(targetFd, 0, copy.Get(), sizeof header, size, &taken) ||
        (sync && !SyncToDisk(copy.Get())) ||
        ::renameat(folderFd.Get(), part.c_str(), folderFd.Get(), name.c_str()) != 0 ||
        ::fstat(copy.Get(), &st) != 0)
        return fail();
    named = true;
    if (sync)
        SyncToDisk(folderFd.Get());
    // The mark, on the disk before any byte of the file changes, makes the copy the file's.
    MarkLayout mark{};
    std::memcpy(mark.magic, kMarkMagic, sizeof kMarkMagic);
    mark.device = target.st_dev;
    mark.inode = target.st_ino;
    std::memcpy(mark.token, header.token, sizeof mark.token);
    std::string value(reinterpret_cast<const char*>(&mark), sizeof mark);
    value += folderPath;
    if (::fsetxattr(targetFd, kOldBytesMarkName, value.data(), value.size(), 0) != 0)
        return fail();
    if (sync && !SyncToDisk(targetFd)) {
        const int error = errno;
        ::fremovexattr(targetFd, kOldBytesMarkName);
        errno = error;
        return fail();
    }
    m_folderFd = folderFd.Release();
    m_fd = copy.Release();
    m_device = st.st_dev;
    m_inode = st.st_ino;
    m_size = size;
    m_name = name;
    m_path = (folderPath == "/" ? std::string() : folderPath) + "/" + name;
    return true;
}

bool OldBytesCopy::PutBack(int fd, bool sync) const
{
    return CopyBytes(m_fd, sizeof(CopyHeader), fd, 0, m_size) &&
           ::ftruncate(fd, static_cast<off_t>(m_size)) == 0 && (!sync || SyncToDisk(fd));
}

bool OldBytesCopy::End(int fd, bool sync)
{
    if (!Unmark(fd, sync))
        return false;
    Forget(true);
    return true;
}

void OldBytesCopy::Keep()
{
    Forget(false);
}

void OldBytesCopy::Forget(bool remove)
{
    if (m_fd >= 0 && remove) {
        Hook(OldBytesStage::Removing, m_path);
        RemoveCopy(m_folderFd, m_name, m_device, m_inode);
    }
    for (int* fd : {&m_fd, &m_folderFd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    m_name.clear();
    m_path.clear();
}

bool OldBytesCopy::PutBackKilledSave(int fd, uint64_t device, uint64_t inode, bool locked,
                                     int waitMilliseconds, std::string& error)
{
    Mark mark;
    MarkFound found = ReadMark(fd, mark);
    if (found == MarkFound::None)
        return true;
    // Opened again, as the same file, for writing where the process may (a network file system
    // locks only what is open to write).
    Descriptor reopened;
    int writer = fd, writeError = 0;
    if (!locked && (::fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDWR) {
        reopened.Reset(Reopen(fd, O_RDWR));
        writeError = errno;
        writer = reopened.Get();
    }
    struct Unlock
    {
        int fd;
        ~Unlock()
        {
            if (fd >= 0)
                ::flock(fd, LOCK_UN);
        }
    } unlock{-1};
    if (!locked) {
        // Whoever holds the file's save lock (a save under way, another open putting back) is let
        // finish first: what it writes is neither read as good nor undone here.
        const int lockFd = writer >= 0 ? writer : fd;
        int result = LockOpenFile(lockFd, 0);
        if (result == EWOULDBLOCK) {
            Hook(OldBytesStage::Waiting, std::string());
            result = LockOpenFile(lockFd, waitMilliseconds);
        }
        if (result == EWOULDBLOCK) {
            error = "a save of it, or the putting back of a killed one, was still under way after " +
                    DurationText(waitMilliseconds);
            return false;
        }
        // Without locks nobody can tell a live save's mark from a killed one's.
        if (result != 0)
            return true;
        unlock.fd = lockFd;
        mark = Mark();
        found = ReadMark(fd, mark);
        if (found == MarkFound::None)
            return true;
    }
    // A save writes the file whole: a mark it cannot act on goes, and the save goes on.
    auto settle = [&](const std::string& refusal) {
        if (!locked) {
            error = refusal;
            return false;
        }
        if (!Unmark(fd, true)) {
            error = refusal + ", and the mark cannot be taken off the file (" + SystemErrorText(errno) + ")";
            return false;
        }
        return true;
    };
    if (found == MarkFound::Unreadable)
        return settle(
            "it is marked as saved part way, but by no save of this engine's (a save of it clears the "
            "mark)");
    if (mark.inode != inode || (mark.hasDevice && mark.device != device))
        return settle("it carries the mark of another file's save killed part way: it was copied while that "
                      "save wrote it (a save of it clears the mark)");
    const std::string copyPath =
        (mark.folder == "/" ? std::string() : mark.folder) + "/" + CopyName(device, inode);
    const std::string killed = "a save of it was killed part way, and its old bytes, kept in " + copyPath;
    if (writer < 0) {
        error = killed + ", cannot be put back (" + SystemErrorText(writeError) + ")";
        return false;
    }
    Proof proof;
    std::string why;
    if (!Prove(mark, device, inode, proof, why))
        // Never put back what cannot be shown to be this file's: the file is refused rather than
        // read as a mix.
        return settle(killed + ", are gone (" + why + ")");
    Hook(OldBytesStage::Proven, copyPath);
    const uint64_t size = proof.header.size;
    if (!CopyBytes(proof.copy.Get(), sizeof(CopyHeader), writer, 0, size) ||
        ::ftruncate(writer, static_cast<off_t>(size)) != 0 || !SyncToDisk(writer)) {
        error = killed + ", could not be put back (" + SystemErrorText(errno) + ")";
        return false;
    }
    if (!Unmark(writer, true)) {
        error = killed + ", are back, but the mark that names them cannot be taken off the file (" +
                SystemErrorText(errno) + ")";
        return false;
    }
    // Without the mark nothing puts the copy back: one left (a folder this process may not write)
    // is only a file too many, which the next save in place through that folder replaces.
    Hook(OldBytesStage::Removing, copyPath);
    RemoveCopy(proof.folder.Get(), proof.name, proof.device, proof.inode);
    return true;
}

void SetOldBytesHook(std::function<void(OldBytesStage stage, const std::string& copyPath)> hook)
{
    std::lock_guard<std::mutex> lock(g_hookLock);
    g_hooked.store(static_cast<bool>(hook), std::memory_order_release);
    g_hook = std::move(hook);
}

} // namespace GAME::Platform
