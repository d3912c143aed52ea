#include "platform/FileCalls.h"

#include "platform/PlatformFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace GAME::Platform {

namespace {

std::atomic<int64_t> g_writeLimit{-1};
std::atomic<unsigned> g_newFileCount{0};
thread_local uint64_t t_syncCount = 0;

} // namespace

int OpenRetrying(const std::string& path, int flags, unsigned permissions)
{
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, static_cast<mode_t>(permissions));
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int64_t NowMilliseconds()
{
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string DurationText(int64_t milliseconds)
{
    return milliseconds >= 1000 && milliseconds % 1000 == 0 ? std::to_string(milliseconds / 1000) + " s"
                                                            : std::to_string(milliseconds) + " ms";
}

bool SyncToDisk(int fd)
{
    ++t_syncCount;
    return ::fsync(fd) == 0;
}

uint64_t GetThreadFileSyncCount()
{
    return t_syncCount;
}

void SetFileWriteLimit(int64_t bytes)
{
    g_writeLimit.store(bytes < 0 ? -1 : bytes, std::memory_order_relaxed);
}

size_t RoomFor(uint64_t written, size_t size)
{
    const int64_t limit = g_writeLimit.load(std::memory_order_relaxed);
    if (limit < 0)
        return size;
    const uint64_t room = written < static_cast<uint64_t>(limit) ? static_cast<uint64_t>(limit) - written : 0;
    return static_cast<size_t>(std::min<uint64_t>(room, size));
}

bool ReadWhole(int fd, char* out, size_t size, uint64_t at)
{
    for (size_t done = 0; done < size;) {
        const ssize_t got = ::pread(fd, out + done, size - done, static_cast<off_t>(at + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

bool WriteWhole(int fd, const char* in, size_t size, uint64_t at)
{
    for (size_t done = 0; done < size;) {
        const ssize_t put = ::pwrite(fd, in + done, size - done, static_cast<off_t>(at + done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<size_t>(put);
    }
    return true;
}

bool CopyBytes(int from, uint64_t fromAt, int to, uint64_t toAt, uint64_t size, uint64_t* taken)
{
    std::vector<char> buffer(static_cast<size_t>(std::min<uint64_t>(size, 1u << 20)));
    for (uint64_t at = 0; at < size; at += buffer.size()) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(size - at, buffer.size()));
        const size_t room = taken ? RoomFor(*taken, piece) : piece;
        if (!ReadWhole(from, buffer.data(), piece, fromAt + at) ||
            !WriteWhole(to, buffer.data(), room, toAt + at))
            return false;
        if (taken)
            *taken += room;
        if (room < piece) {
            errno = ENOSPC;
            return false;
        }
    }
    return true;
}

std::string NewPartSuffix()
{
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".%x.%x.part", static_cast<unsigned>(::getpid()),
                  g_newFileCount.fetch_add(1, std::memory_order_relaxed));
    return suffix;
}

} // namespace GAME::Platform
