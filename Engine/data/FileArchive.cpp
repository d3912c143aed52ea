#include "data/FileArchive.h"

#include "data/FileSourceArchive.h"

#include <new>

namespace GAME {

FileArchive::FileArchive(FileSourceArchive* source, int index, const Archive::FileEntry& entry)
    : m_source(source), m_entry(entry), m_index(index)
{
}

FileArchive::~FileArchive()
{
    Unlock();
}

FileSource* FileArchive::GetSource()
{
    return m_source;
}

const void* FileArchive::Lock(unsigned offset, unsigned size)
{
    if (size == 0 || static_cast<uint64_t>(offset) + size > m_entry.realSize || !m_source)
        return nullptr;
    Archive* archive = m_source->GetArchive();
    if (!archive)
        return nullptr;
    if (m_entry.IsCompressed()) {
        if (m_locked)
            return nullptr;
        if (m_result.size() < size)
            m_result.resize(size);
        if (!archive->ReadFromFile(m_index, m_result.data(), offset, size, &m_blocks))
            return nullptr;
        m_locked = true;
        return m_result.data();
    }
    Platform::MappedView view;
    const void* data = m_source->MapView(view, static_cast<uint64_t>(m_entry.dataOffset) + offset, size);
    if (!data)
        return nullptr;
    m_views.push_back(std::move(view));
    return data;
}

void FileArchive::Unlock()
{
    m_locked = false;
    // Every view of this file goes; a pointer from an earlier Lock is not kept alive past Unlock.
    m_views.clear();
}

bool FileArchive::Write(unsigned, const void*, unsigned)
{
    return false;
}

} // namespace GAME
