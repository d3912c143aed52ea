#include "data/FileStreamDirectory.h"

#include "core/Log.h"
#include "platform/MappedFile.h"

#include <algorithm>

namespace GAME {

FileStreamDirectory::FileStreamDirectory(FileSource* source) : m_source(source) {}

FileStreamDirectory::~FileStreamDirectory() = default;

bool FileStreamDirectory::Open(const char* path)
{
    m_pageSize = static_cast<unsigned>(Platform::GetAllocationGranularity());
    uint64_t size = 0;
    if (!path || !m_file.Open(path, Platform::FileOpenMode::Read))
        return false;
    if (!m_file.GetSize(size) || size > 0xFFFFFFFFull - m_pageSize) {
        m_file.Close();
        return false;
    }
    m_size = static_cast<unsigned>(size);
    uint64_t rounded = (size + m_pageSize - 1) / m_pageSize * m_pageSize;
    m_buffer.assign(static_cast<size_t>(rounded), 0);
    m_bytesRead = 0;
    m_noReadOutstanding = true;
    return true;
}

int FileStreamDirectory::ReadNext(unsigned size)
{
    if (!m_file.IsOpen())
        return READ_ERROR;
    if (!m_noReadOutstanding) {
        m_noReadOutstanding = true;
        if (m_pendingResult < 0) {
            LogPrintf(1, "FileStreamDirectory: reading %s failed", m_file.GetPath().c_str());
            return READ_ERROR;
        }
        // The file shrank under us: what is there is all there is.
        if (m_pendingResult == 0)
            return READ_END_OF_FILE;
        m_bytesRead = static_cast<unsigned>(
            std::min<uint64_t>(m_bytesRead + static_cast<uint64_t>(m_pendingResult), m_size));
    }
    if (m_bytesRead >= m_size)
        return READ_END_OF_FILE;
    uint64_t pages = (static_cast<uint64_t>(std::max(size, 1u)) + m_pageSize - 1) / m_pageSize * m_pageSize;
    size_t count = static_cast<size_t>(std::min<uint64_t>(pages, m_buffer.size() - m_bytesRead));
    m_pendingResult = m_file.ReadAt(m_bytesRead, m_buffer.data() + m_bytesRead, count);
    m_noReadOutstanding = false;
    return READ_STARTED;
}

} // namespace GAME
