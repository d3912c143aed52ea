#include "platform/PlatformFile.h"

#include "platform/PathResolve.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace GAME::Platform {

namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr uint64_t kEpochDifference = 11644473600ull;

uint64_t TicksFromTimespec(const timespec& ts)
{
    int64_t seconds = static_cast<int64_t>(ts.tv_sec) + static_cast<int64_t>(kEpochDifference);
    if (seconds < 0)
        return 0;
    return static_cast<uint64_t>(seconds) * 10000000ull + static_cast<uint64_t>(ts.tv_nsec) / 100u;
}

std::atomic<int64_t> g_writeLimit{-1};
// Tells the new files of one process apart; O_EXCL settles a clash with another's.
std::atomic<unsigned> g_newFileCount{0};

std::string ErrorText(int error)
{
    char buffer[128];
    // The GNU strerror_r: the text may or may not be in the buffer.
    return strerror_r(error, buffer, sizeof buffer);
}

void SyncFolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
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
            m_error = ErrorText(ENOENT);
            return false;
        }
        flags |= O_RDONLY;
        break;
    case FileOpenMode::Update:
        real = ResolvePathForCreate(path);
        flags |= O_RDWR | O_CREAT;
        break;
    case FileOpenMode::Write:
        return OpenReplacement(ResolvePathForCreate(path));
    }
    // The read-only flag holds for every user, root included, as the attribute does elsewhere.
    struct stat existing;
    if (mode != FileOpenMode::Read && ::stat(real.c_str(), &existing) == 0 &&
        (existing.st_mode & S_IWUSR) == 0) {
        m_error = "the file is read-only";
        return false;
    }
    int fd;
    do {
        fd = ::open(real.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        m_error = ErrorText(errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        m_error = ErrorText(EISDIR);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_path = std::move(real);
    return true;
}

bool PlatformFile::OpenReplacement(const std::string& path)
{
    // A link is followed: the file it leads to is replaced, the link stays.
    std::string target = path;
    struct stat st;
    if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* linked = ::realpath(target.c_str(), nullptr)) {
            target = linked;
            std::free(linked);
        }
    }
    mode_t permissions = 0666;
    bool exists = false;
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            m_error = ErrorText(EISDIR);
            return false;
        }
        if ((st.st_mode & S_IWUSR) == 0) {
            m_error = "the file is read-only";
            return false;
        }
        permissions = st.st_mode & 07777;
        exists = true;
    }
    // Hidden, beside the target; a long name is cut so that the new one stays within NAME_MAX.
    const size_t slash = target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = target.substr(folder.size()).substr(0, 200);
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[40];
        std::snprintf(suffix, sizeof suffix, ".%x.%x.part", static_cast<unsigned>(::getpid()),
                      g_newFileCount.fetch_add(1, std::memory_order_relaxed));
        m_newPath = folder + "." + name + suffix;
        do {
            fd = ::open(m_newPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, permissions);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        m_error = ErrorText(errno);
        m_newPath.clear();
        return false;
    }
    // The old file's permissions, which the process's mask may have narrowed at the open.
    if (exists)
        ::fchmod(fd, permissions);
    m_fd = fd;
    m_path = std::move(target);
    return true;
}

void PlatformFile::Fail(int error)
{
    if (!m_failed && m_error.empty())
        m_error = ErrorText(error);
    if (m_mode == FileOpenMode::Write)
        m_failed = true;
}

bool PlatformFile::Close()
{
    if (m_fd < 0)
        return true;
    if (m_mode != FileOpenMode::Write) {
        const bool closed = ::close(m_fd) == 0;
        if (!closed)
            m_error = ErrorText(errno);
        m_fd = -1;
        m_path.clear();
        return closed;
    }
    if (!m_failed && ::fsync(m_fd) != 0)
        Fail(errno);
    if (::close(m_fd) != 0)
        Fail(errno);
    m_fd = -1;
    if (!m_failed && ::rename(m_newPath.c_str(), m_path.c_str()) != 0)
        Fail(errno);
    if (m_failed)
        ::unlink(m_newPath.c_str());
    else
        SyncFolderOf(m_path);
    m_newPath.clear();
    m_path.clear();
    return !m_failed;
}

void PlatformFile::Discard()
{
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
    if (m_mode == FileOpenMode::Write)
        ::unlink(m_newPath.c_str());
    m_newPath.clear();
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
    // The tests' full disk: what fits is written, then the write fails as the disk's would.
    size_t allowed = size;
    const int64_t limit = g_writeLimit.load(std::memory_order_relaxed);
    if (limit >= 0) {
        const uint64_t room =
            m_written < static_cast<uint64_t>(limit) ? static_cast<uint64_t>(limit) - m_written : 0;
        if (room < size)
            allowed = static_cast<size_t>(room);
    }
    size_t done = 0;
    auto* in = static_cast<const char*>(data);
    while (done < allowed) {
        ssize_t put = ::pwrite(m_fd, in + done, allowed - done, static_cast<off_t>(offset + done));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            Fail(errno);
            m_written += done;
            return false;
        }
        if (put == 0) {
            Fail(EIO);
            m_written += done;
            return false;
        }
        done += static_cast<size_t>(put);
    }
    m_written += done;
    if (allowed < size) {
        Fail(ENOSPC);
        return false;
    }
    return true;
}

bool PlatformFile::Truncate(uint64_t size)
{
    if (m_fd < 0 || m_failed)
        return false;
    if (::ftruncate(m_fd, static_cast<off_t>(size)) != 0) {
        Fail(errno);
        return false;
    }
    return true;
}

bool PlatformFile::GetSize(uint64_t& size) const
{
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

bool WriteWholeFile(const std::string& path, const void* data, size_t size, std::string* error)
{
    PlatformFile file;
    const bool written = file.Open(path, FileOpenMode::Write) && (size == 0 || file.WriteAt(0, data, size));
    // Closed either way: a failed write is discarded there.
    const bool closed = file.Close();
    if (written && closed)
        return true;
    if (error)
        *error = file.GetError().empty() ? "the file could not be written" : file.GetError();
    return false;
}

void SetFileWriteLimit(int64_t bytes)
{
    g_writeLimit.store(bytes < 0 ? -1 : bytes, std::memory_order_relaxed);
}

uint64_t CurrentFileTime()
{
    timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return TicksFromTimespec(ts);
}

} // namespace GAME::Platform
