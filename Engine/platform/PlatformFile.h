// Files on disk for the engine: open, positional read and write with 64-bit offsets, truncate,
// sizes, last-write times as 100-ns ticks since 1601 (the FILETIME scale stored in archives) and
// the read-only flag. Paths may use '\' and any case; they are resolved against the real names
// (platform/PathResolve.h). A PlatformFile is used by one owner; ReadAt and WriteAt do not move a
// shared cursor, so readers on several threads may share one open file while its owner keeps it
// open. The free functions may be called from any thread.
//
// Saves (the write modes) choose per target how the bytes get there. Two never mix: a save holds
// a lock on its file from Open to Close (a killed process holds none); another waits 30 s in all.
// - Replaced whole: a new file, or a plain file with one link, owned by the user and group that a
//   new file in its folder gets, in a folder where a new file can be made. The bytes go into a
//   hidden `.<name>.<pid>.<n>.part` beside it (a long name: its start and a hash of it all), given
//   the old file's permissions, ACL and attributes (else the file is written in place; only root
//   reads `trusted.*` ones: another user's replace drops them), which Close moves over the target
//   once every write, the sync and the close succeeded. Whole or nothing across a failure or a kill.
// - Written in place: every other plain file the process may write (a second hard link, another
//   owner or group, a folder where no new file can be made, a name the system will not move a file
//   to: EBUSY, EXDEV or EPERM at Close, a file mounted over it; a process's descriptor link such as
//   /dev/stdout or /proc/self/fd/N). Name, inode, owner, group, permissions, attributes and links
//   stay. The old bytes are first copied beside the name saved (synced), and the file is marked
//   with the copy's folder (`user.engine.old-bytes`; platform/OldBytesCopy.h says what is proven
//   of it): a failed save puts them back, and after a kill the next open of the file by any name
//   does, then unmarks it. Whole or nothing. An open that finds the mark while a save of the file,
//   or another open putting its bytes back, holds its lock waits for it (30 s in all), then looks
//   again. Where no copy can be made beside it or marked (a folder without new files or on another
//   file system than the file, a descriptor link, a file system without user attributes) they are
//   kept in memory, up to 64 MiB (larger is refused, nothing written): a failure is put back, but a
//   kill leaves a mix. A file that carries another file's mark (copied while a save wrote it) is
//   refused until a save writes it whole. Anyone who may write a file can make its readers refuse
//   it until it is saved, as they could spoil its bytes. A program that writes the file between a
//   kill and the next open has its writes undone, as a database's journal does, unless it removes
//   the mark.
// - Written as a stream: a FIFO or a character device (/dev/null, a terminal, the pipe behind
//   /dev/stdout) takes the bytes in order, never replaced: not whole or nothing. A FIFO nobody
//   reads is refused at Open (a pipe's descriptor link, at its first write); a reader that goes
//   away, or keeps the save (and the calling thread) waiting 30 s in all, fails it (no SIGPIPE).
// - Refused at Open with the reason in GetError, nothing written: a directory, a read-only file (for
//   every user, root included), a file the process may not write, a block device or a socket, a
//   loop of links.
// A link is followed to the name it leads to, even where nothing is there yet (the file is made
// there); the link stays a link. A successful save (but a scratch one) also removes the `.part`
// files of its own target left by processes no longer alive: never a live process's, never another
// file's. A process of another pid namespace sharing the folder counts as gone: its save then
// fails at the move, the target as it was.
#pragma once

#include "platform/OldBytesCopy.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace GAME::Platform {

enum class FileOpenMode
{
    // Existing file, read only. Like every open of an existing file, first puts back what a save
    // in place killed part way left, after any save of it under way (see above); fails with the
    // reason where that is owed and cannot be done (the process may not write the file, the copy
    // is gone or not proven the file's, the mark is another file's, the wait ran out), rather than
    // read a mix.
    Read,
    // Read and write in place; created when missing, never truncated. Nothing protects the old
    // bytes: a write that fails leaves the file as far as the writes before it got.
    Update,
    // A save (see above): write only, replacing the target whole where it can, else in place. The
    // target keeps its permissions, ACL and attributes. A file not closed successfully (a write failed,
    // Discard, destroyed while open) leaves the target as it was, as far as the way it is written allows.
    Write,
    // As Write, but nothing is synced to the disk (neither the file nor its folder) and no
    // leftovers of killed saves are looked for: for scratch copies the process itself reads back,
    // where a crash of the machine may lose the file or leave it empty. Everything the user keeps
    // is saved with Write.
    WriteUnsynced,
};

class PlatformFile
{
public:
    PlatformFile() = default;
    // Discards a file of the write mode still open.
    ~PlatformFile();
    PlatformFile(const PlatformFile&) = delete;
    PlatformFile& operator=(const PlatformFile&) = delete;

    // Discards a file that is open first. Missing folders are not created here. False with the
    // reason in GetError.
    bool Open(const std::string& path, FileOpenMode mode);
    // The write modes' commit: syncs and closes the new file and moves it over the target (then
    // syncs the folder, best effort), or, in place, cuts the target to the size written and syncs
    // it. False, the target as it was, when any write, the sync, the close or the move failed;
    // GetError then says why (and, if the old bytes could not be put back, where they are kept).
    // Other modes just close (false when the system reports an error closing). True when nothing
    // is open.
    bool Close();
    // Closes without keeping anything of a write-mode file: the target stays as it was (in place:
    // the old bytes are put back; a stream keeps what it was sent).
    void Discard();
    bool IsOpen() const { return m_fd >= 0; }
    // The path that was opened, after case resolution (the target in the write mode).
    const std::string& GetPath() const { return m_path; }
    // The system's reason for the first failure since Open ("No space left on device"); empty when
    // there was none. Kept after a failed Open or Close.
    const std::string& GetError() const { return m_error; }

    // Reads up to size bytes at the offset; the count read (short only at the end of the file),
    // or -1 on an error.
    int64_t ReadAt(uint64_t offset, void* buffer, size_t size) const;
    // Writes all bytes at the offset; false when any could not be written. A stream takes its
    // bytes in order only (an offset other than the count written so far fails).
    bool WriteAt(uint64_t offset, const void* data, size_t size);
    bool Truncate(uint64_t size);
    bool GetSize(uint64_t& size) const;
    bool GetLastWriteTime(uint64_t& ticks) const;

private:
    friend class MappedFile;
    // How a save's bytes reach its target.
    enum class Way : uint8_t
    {
        Replace,
        InPlace,
        Stream,
    };

    bool IsSave() const { return m_mode == FileOpenMode::Write || m_mode == FileOpenMode::WriteUnsynced; }
    void Fail(int error);
    void Fail(const std::string& reason);
    bool OpenSave(const std::string& path);
    bool OpenExistingSave(int targetFd);
    bool OpenStream(const std::string& target, bool fifo);
    bool LockTarget(int fd);
    int MakeBeside(int permissions, std::string& made);
    bool StartInPlace(int targetFd, uint64_t oldSize, int permissions, int besideError);
    bool KeepCopy(uint64_t size, int permissions, int besideError);
    bool PutOldBytesBack(int fd);
    void EndCopy(int fd, bool keep);
    void ReleaseLock();
    bool WriteStream(const char* data, size_t size, size_t& done);
    bool FinishReplacement();
    bool WriteReplacementInPlace();
    bool FinishInPlace();
    void ResetSave();

    int m_fd = -1; // where the writes go: the target, or the new file beside it
    FileOpenMode m_mode = FileOpenMode::Read;
    std::string m_path;
    std::string m_error;
    uint64_t m_written = 0;
    bool m_failed = false; // a write of a save failed: Close keeps nothing of it

    // Saves only.
    Way m_way = Way::Replace;
    bool m_sync = true;
    bool m_throughDescriptor = false; // reached through /proc/<pid>/fd and the like
    int m_lockFd = -1;                // holds the target's save lock until the save ends
    std::string m_newPath;            // Replace: the new file beside the target
    uint64_t m_end = 0;               // InPlace: the size the target gets; Stream: bytes sent
    uint64_t m_oldSize = 0;           // InPlace: the target's size before the save
    bool m_touched = false;           // InPlace: the target was written to
    OldBytesCopy m_copy;              // InPlace: the old bytes, in a file beside the target
    std::vector<char> m_copyBytes; // InPlace: the old bytes in memory, where no file could be made
    int64_t m_waited = 0;          // milliseconds spent waiting for other saves' locks or the reader
};

// Writes the bytes as the whole file at path as a save (folders are not made) in the given write
// mode: false, with the reason in *error when given, when it could not be written; the file that
// was there is then as it was (see above for what a stream keeps).
bool WriteWholeFile(const std::string& path, const void* data, size_t size, std::string* error = nullptr,
                    FileOpenMode mode = FileOpenMode::Write);

// For tests, as a full disk or a quota does it: from now on every file written through a
// PlatformFile takes `bytes` bytes at most; a write past them writes what fits and fails with
// "No space left on device". A negative count lifts the limit (the default). Process-wide.
void SetFileWriteLimit(int64_t bytes);
// For tests: how long a save waits, in all, for another save of its file or for a stream's reader
// (30 s, the default, when negative). Process-wide.
void SetSaveWaitLimit(int milliseconds);
// For tests, as a file system that will not move one file over another does it: every save's move
// fails with the error given (EXDEV, say); 0 lifts it (the default). Process-wide.
void SetFileMoveRefusal(int error);
// For tests: how many times saves made on the calling thread asked the disk to sync a file or a
// folder since the thread started.
uint64_t GetThreadFileSyncCount();

bool FileExists(const std::string& path);
bool GetFileSize(const std::string& path, uint64_t& size);
bool GetFileLastWriteTime(const std::string& path, uint64_t& ticks);
// The read-only flag is the absence of the owner's write permission (whoever runs the process).
// A missing file is not read-only.
bool IsFileReadOnly(const std::string& path);
bool SetFileReadOnly(const std::string& path, bool readOnly);
bool DeleteFile(const std::string& path);
// The system's text for an error number ("No space left on device"), from any thread.
std::string SystemErrorText(int error);
// Now, in the same ticks as file times.
uint64_t CurrentFileTime();

} // namespace GAME::Platform
