#include "platform/PlatformFile.h"

#include "platform/PathResolve.h"

#include <cerrno>
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
    Close();
}

bool PlatformFile::Open(const std::string& path, FileOpenMode mode)
{
    Close();
    std::string real;
    int flags = O_CLOEXEC;
    switch (mode) {
    case FileOpenMode::Read:
        if (!ResolveExistingPath(path, real))
            return false;
        flags |= O_RDONLY;
        break;
    case FileOpenMode::Update:
        real = ResolvePathForCreate(path);
        flags |= O_RDWR | O_CREAT;
        break;
    case FileOpenMode::Write:
        real = ResolvePathForCreate(path);
        flags |= O_WRONLY | O_CREAT | O_TRUNC;
        break;
    }
    // The read-only flag holds for every user, root included, as the attribute does elsewhere.
    struct stat existing;
    if (mode != FileOpenMode::Read && ::stat(real.c_str(), &existing) == 0 &&
        (existing.st_mode & S_IWUSR) == 0)
        return false;
    int fd;
    do {
        fd = ::open(real.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_path = std::move(real);
    return true;
}

void PlatformFile::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
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
    if (m_fd < 0)
        return false;
    size_t done = 0;
    auto* in = static_cast<const char*>(data);
    while (done < size) {
        ssize_t put = ::pwrite(m_fd, in + done, size - done, static_cast<off_t>(offset + done));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (put == 0)
            return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

bool PlatformFile::Truncate(uint64_t size)
{
    return m_fd >= 0 && ::ftruncate(m_fd, static_cast<off_t>(size)) == 0;
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

uint64_t CurrentFileTime()
{
    timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return TicksFromTimespec(ts);
}

} // namespace GAME::Platform
