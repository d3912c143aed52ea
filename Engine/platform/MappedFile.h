// Read-only memory-mapped views of files. A MappedFile holds its own handle of a file so views
// can be mapped after the original handle closed; a MappedView is one mapped range and is
// unmapped when it is destroyed or remapped. Views that would reach past the current end of the
// file are refused (touching such pages would kill the process). A view stays valid after its
// MappedFile closes. One owner per object; views of one MappedFile may be made on several threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace GAME::Platform {

class PlatformFile;

// Granularity of view start offsets (the page size).
size_t GetAllocationGranularity();

class MappedFile
{
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool Open(const std::string& path);
    // Shares the open file (its own handle, so the original may close).
    bool Open(const PlatformFile& file);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    // The file's current size; 0 when closed.
    uint64_t GetSize() const;

private:
    friend class MappedView;
    int m_fd = -1;
};

class MappedView
{
public:
    MappedView() = default;
    ~MappedView();
    MappedView(const MappedView&) = delete;
    MappedView& operator=(const MappedView&) = delete;
    MappedView(MappedView&& other) noexcept;
    MappedView& operator=(MappedView&& other) noexcept;

    // Maps [offset, offset + size) and returns the pointer to its first byte; null for an empty
    // range, a closed file or a range past the end of the file.
    const void* Map(const MappedFile& file, uint64_t offset, size_t size);
    void Unmap();
    const void* Data() const { return m_data; }
    size_t Size() const { return m_size; }

private:
    void* m_base = nullptr;
    size_t m_length = 0;
    const void* m_data = nullptr;
    size_t m_size = 0;
};

} // namespace GAME::Platform
