#include "platform/MappedFile.h"

#include "platform/PlatformFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace GAME::Platform {

size_t GetAllocationGranularity()
{
    static const size_t granularity = [] {
        long page = ::sysconf(_SC_PAGESIZE);
        return page > 0 ? static_cast<size_t>(page) : size_t(4096);
    }();
    return granularity;
}

MappedFile::~MappedFile()
{
    Close();
}

bool MappedFile::Open(const std::string& path)
{
    Close();
    // Through a PlatformFile, which first puts back what a save killed part way left half written.
    PlatformFile file;
    return file.Open(path, FileOpenMode::Read) && Open(file);
}

bool MappedFile::Open(const PlatformFile& file)
{
    Close();
    if (file.m_fd < 0)
        return false;
    m_fd = ::fcntl(file.m_fd, F_DUPFD_CLOEXEC, 0);
    return m_fd >= 0;
}

void MappedFile::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

uint64_t MappedFile::GetSize() const
{
    struct stat st;
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return 0;
    return static_cast<uint64_t>(st.st_size);
}

MappedView::~MappedView()
{
    Unmap();
}

MappedView::MappedView(MappedView&& other) noexcept
{
    *this = std::move(other);
}

MappedView& MappedView::operator=(MappedView&& other) noexcept
{
    if (this != &other) {
        Unmap();
        std::swap(m_base, other.m_base);
        std::swap(m_length, other.m_length);
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
    }
    return *this;
}

const void* MappedView::Map(const MappedFile& file, uint64_t offset, size_t size)
{
    Unmap();
    if (file.m_fd < 0 || size == 0)
        return nullptr;
    uint64_t fileSize = file.GetSize();
    if (offset > fileSize || size > fileSize - offset)
        return nullptr;
    uint64_t granularity = GetAllocationGranularity();
    uint64_t start = offset - offset % granularity;
    size_t length = static_cast<size_t>(offset - start) + size;
    void* base = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, file.m_fd, static_cast<off_t>(start));
    if (base == MAP_FAILED)
        return nullptr;
    m_base = base;
    m_length = length;
    m_data = static_cast<const char*>(base) + (offset - start);
    m_size = size;
    return m_data;
}

void MappedView::Unmap()
{
    if (m_base)
        ::munmap(m_base, m_length);
    m_base = nullptr;
    m_length = 0;
    m_data = nullptr;
    m_size = 0;
}

} // namespace GAME::Platform
