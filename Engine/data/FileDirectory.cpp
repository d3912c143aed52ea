#include "data/FileDirectory.h"

#include "core/Log.h"
#include "platform/Directory.h"

namespace GAME {

FileDirectory::FileDirectory(FileSource* source) : m_source(source) {}

FileDirectory::~FileDirectory()
{
    m_views.clear();
    m_mapping.Close();
    m_file.Discard();
}

bool FileDirectory::Close()
{
    m_views.clear();
    m_mapping.Close();
    if (m_mode != FILE_MODE_WRITE || !m_file.IsOpen()) {
        m_file.Close();
        return true;
    }
    // A write that failed was said already; nothing of the file is kept.
    if (m_writeFailed) {
        m_file.Discard();
        return false;
    }
    if (m_file.Close())
        return true;
    LogPrintf(1, "FileDirectory: %s could not be written (%s); the file there is as it was", m_path.c_str(),
              m_file.GetError().c_str());
    return false;
}

bool FileDirectory::Open(const char* path, FileMode mode)
{
    if (!path)
        return false;
    m_mode = mode;
    if (mode == FILE_MODE_READ) {
        m_path = path;
        uint64_t size = 0;
        if (!m_file.Open(m_path, Platform::FileOpenMode::Read) || !m_file.GetSize(size))
            return false;
        if (size > 0xFFFFFFFFull) {
            LogPrintf(1, "FileDirectory: %s is larger than 4 GiB", path);
            m_file.Close();
            return false;
        }
        m_length = static_cast<unsigned>(size);
        m_mapping.Open(m_file);
        return true;
    }
    if (mode == FILE_MODE_WRITE) {
        m_path = path;
        if (!Platform::CreateDirectoryPath(m_path))
            return false;
        return m_file.Open(m_path, Platform::FileOpenMode::Write);
    }
    return true;
}

const void* FileDirectory::Lock(unsigned offset, unsigned size)
{
    if (!m_mapping.IsOpen() || static_cast<uint64_t>(offset) + size > m_length)
        return nullptr;
    Platform::MappedView view;
    const void* data = view.Map(m_mapping, offset, size);
    if (!data)
        return nullptr;
    m_views.push_back(std::move(view));
    return data;
}

void FileDirectory::Unlock()
{
    m_views.clear();
}

bool FileDirectory::Write(unsigned offset, const void* data, unsigned size)
{
    if (m_mode != FILE_MODE_WRITE || !m_file.IsOpen())
        return false;
    if (size == 0)
        return true;
    if (!data || !m_file.WriteAt(offset, data, size)) {
        // Once: every later write of the file fails as well.
        if (!m_writeFailed)
            LogPrintf(1,
                      "FileDirectory: writing %u bytes at %u to %s failed (%s); the file there is as it was",
                      size, offset, m_path.c_str(), data ? m_file.GetError().c_str() : "no data");
        m_writeFailed = true;
        return false;
    }
    return true;
}

} // namespace GAME
