// System calls the platform layer's files share: an open that a signal cannot cut short, the
// monotonic clock their bounded waits count in, whole reads, writes and copies at offsets, the
// syncs the saves count and the tests' full disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace GAME::Platform {

// open(2) with O_CLOEXEC added, made again while a signal interrupts it; -1 with errno.
int OpenRetrying(const std::string& path, int flags, unsigned permissions = 0);
// Milliseconds of the monotonic clock.
int64_t NowMilliseconds();
// "30 s", "300 ms": a wait as the reasons say it.
std::string DurationText(int64_t milliseconds);

// Asks the disk to sync the file or folder, counted for the calling thread (GetThreadFileSyncCount).
bool SyncToDisk(int fd);
// The tests' full disk (SetFileWriteLimit): how many of size more bytes a file that has taken
// `written` may take.
size_t RoomFor(uint64_t written, size_t size);
// Reads or writes size bytes at the offset whole; false with errno (EIO when the file ended first).
bool ReadWhole(int fd, char* out, size_t size, uint64_t at);
bool WriteWhole(int fd, const char* in, size_t size, uint64_t at);
// Copies size bytes of one file, from its offset, to another at its offset. With `taken`, the
// bytes the destination has taken so far, the tests' full disk holds for it too.
bool CopyBytes(int from, uint64_t fromAt, int to, uint64_t toAt, uint64_t size, uint64_t* taken = nullptr);
// The end of a hidden name a save writes a new file under before it takes its own:
// ".<pid>.<n>.part", n counting this process's new files (O_EXCL settles a clash with another's).
std::string NewPartSuffix();

} // namespace GAME::Platform
