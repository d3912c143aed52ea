// Files on disk for the engine: open, positional read and write with 64-bit offsets, truncate,
// sizes, last-write times as 100-ns ticks since 1601 (the FILETIME scale stored in archives) and
// the read-only flag. Paths may use '\' and any case; they are resolved against the real names
// (platform/PathResolve.h). A PlatformFile is used by one owner; ReadAt and WriteAt do not move a
// shared cursor, so readers on several threads may share one open file while its owner keeps it
// open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace GAME::Platform {

enum class FileOpenMode
{
    Read,   // existing file, read only
    Update, // read and write; created when missing, never truncated
    Write,  // write only; created when missing, truncated when present
};

class PlatformFile
{
public:
    PlatformFile() = default;
    ~PlatformFile();
    PlatformFile(const PlatformFile&) = delete;
    PlatformFile& operator=(const PlatformFile&) = delete;

    // Closes a file that is open first. Missing folders are not created here.
    bool Open(const std::string& path, FileOpenMode mode);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    // The path that was opened, after case resolution.
    const std::string& GetPath() const { return m_path; }

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
    int m_fd = -1;
    std::string m_path;
};

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
