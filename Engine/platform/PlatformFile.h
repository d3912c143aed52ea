// Files on disk for the engine: open, positional read and write with 64-bit offsets, truncate,
// sizes, last-write times as 100-ns ticks since 1601 (the FILETIME scale stored in archives) and
// the read-only flag. Paths may use '\' and any case; they are resolved against the real names
// (platform/PathResolve.h). A PlatformFile is used by one owner; ReadAt and WriteAt do not move a
// shared cursor, so readers on several threads may share one open file while its owner keeps it
// open.
//
// Stored files are replaced whole: the write mode writes a new file beside the old one (same
// folder, so on the same file system) and Close moves it over the old one only once every write,
// the sync to the disk and the close succeeded. A save that fails part way (a full disk, a quota,
// an I/O error, the process killed) leaves the old file byte for byte and no part of the new one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace GAME::Platform {

enum class FileOpenMode
{
    // Existing file, read only.
    Read,
    // Read and write in place; created when missing, never truncated. Nothing protects the old
    // bytes: a write that fails leaves the file as far as the writes before it got.
    Update,
    // Write only, into a new file that replaces the target (or becomes it) at Close. A read-only
    // target, or a folder standing where the file goes, is refused at Open with nothing written.
    // The new file keeps the target's permissions. A file not closed successfully (a write
    // failed, Discard, destroyed while open) is removed and the target stays as it was.
    Write,
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
    // The write mode's commit: syncs and closes the new file and moves it over the target (then
    // syncs the folder, best effort). False, the new file removed and the target untouched, when
    // any write, the sync, the close or the move failed; GetError then says why. Other modes just
    // close (false when the system reports an error closing). True when nothing is open.
    bool Close();
    // Closes without keeping anything of a write-mode file: the target stays as it was.
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
    // Writes all bytes at the offset; false when any could not be written.
    bool WriteAt(uint64_t offset, const void* data, size_t size);
    bool Truncate(uint64_t size);
    bool GetSize(uint64_t& size) const;
    bool GetLastWriteTime(uint64_t& ticks) const;

private:
    friend class MappedFile;
    void Fail(int error);
    bool OpenReplacement(const std::string& target);

    int m_fd = -1;
    FileOpenMode m_mode = FileOpenMode::Read;
    std::string m_path;
    std::string m_newPath; // the write mode's new file beside the target
    uint64_t m_written = 0;
    bool m_failed = false; // a write of the write mode failed: Close keeps nothing
    std::string m_error;
};

// Writes the bytes as the whole file at path through the write mode (folders are not made):
// false, with the reason in *error when given, when it could not be written; the file that was
// there is then untouched.
bool WriteWholeFile(const std::string& path, const void* data, size_t size, std::string* error = nullptr);

// For tests, as a full disk or a quota does it: from now on every file written through a
// PlatformFile takes `bytes` bytes at most; a write past them writes what fits and fails with
// "No space left on device". A negative count lifts the limit (the default). Process-wide.
void SetFileWriteLimit(int64_t bytes);

bool FileExists(const std::string& path);
bool GetFileSize(const std::string& path, uint64_t& size);
bool GetFileLastWriteTime(const std::string& path, uint64_t& ticks);
// The read-only flag is the absence of the owner's write permission (whoever runs the process).
// A missing file is not read-only.
bool IsFileReadOnly(const std::string& path);
bool SetFileReadOnly(const std::string& path, bool readOnly);
bool DeleteFile(const std::string& path);
// Now, in the same ticks as file times.
uint64_t CurrentFileTime();

} // namespace GAME::Platform
