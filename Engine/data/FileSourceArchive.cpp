#include "data/FileSourceArchive.h"

#include "core/Log.h"
#include "data/FileArchive.h"
#include "platform/Directory.h"
#include "platform/PathResolve.h"

namespace GAME {

FileSourceArchive::FileSourceArchive(bool closeWhenIdle) : m_closeWhenIdle(closeWhenIdle) {}

FileSourceArchive::~FileSourceArchive()
{
    m_mapping.Close();
    m_archive.reset();
}

bool FileSourceArchive::Attach(const char* path)
{
    CriticalSectionLock lock(m_lock);
    m_mapping.Close();
    m_archive.reset();
    m_name.clear();
    m_fullPath.clear();
    auto archive = std::make_unique<Archive>();
    if (!path || !archive->Open(path, Archive::MODE_READ)) {
        LogPrintf(1, "Unable to open archive file %s", path ? path : "(null)");
        return false;
    }
    std::string base = Platform::ToForwardSlashes(path);
    size_t slash = base.rfind('/');
    if (slash != std::string::npos)
        base.erase(0, slash + 1);
    size_t dot = base.rfind('.');
    if (dot != std::string::npos)
        base.erase(dot);
    m_name = base;

    std::string real =
        archive->ArchiveFileHandle() ? archive->ArchiveFileHandle()->GetPath() : std::string(path);
    if (real.rfind("./", 0) == 0)
        real.erase(0, 2);
    m_fullPath = Platform::IsAbsolutePath(real) ? real : Platform::GetCurrentDirectory() + "/" + real;

    if (m_closeWhenIdle)
        archive->Close(true);
    else
        m_mapping.Open(*archive->ArchiveFileHandle());
    m_archive = std::move(archive);
    return true;
}

const char* FileSourceArchive::InnerName(const char* name) const
{
    if (!name || m_name.empty())
        return nullptr;
    while (*name == '/' || *name == '\\' || *name == '.')
        ++name;
    const char* end = name;
    while (*end && *end != '/' && *end != '\\')
        ++end;
    if ((*end != '/' && *end != '\\') || end - name > 64)
        return nullptr;
    if (!Platform::EqualsIgnoreCase(std::string_view(name, static_cast<size_t>(end - name)), m_name))
        return nullptr;
    return end;
}

bool FileSourceArchive::IsFileWriteable(const char*)
{
    return false;
}

File* FileSourceArchive::OpenFile(const char* name, FileMode mode)
{
    if (mode != FILE_MODE_READ)
        return nullptr;
    CriticalSectionLock lock(m_lock);
    const char* inner = InnerName(name);
    if (!m_archive || !inner)
        return nullptr;
    int index = m_archive->FindFile(inner);
    if (index < 0)
        return nullptr;
    if (m_closeWhenIdle && !m_archive->IsOpen()) {
        if (!m_archive->ReOpen()) {
            LogPrintf(1, "Unable to open archive file %s", m_fullPath.c_str());
            return nullptr;
        }
        if (const Platform::PlatformFile* handle = m_archive->ArchiveFileHandle())
            m_mapping.Open(*handle);
        // The tables may have been read anew.
        index = m_archive->FindFile(inner);
        if (index < 0) {
            if (m_openFiles == 0) {
                m_archive->Close(true);
                m_mapping.Close();
            }
            return nullptr;
        }
    }
    ++m_openFiles;
    return new FileArchive(this, index, *m_archive->GetFileEntry(index));
}

bool FileSourceArchive::CloseFile(File*& file)
{
    if (!file)
        return true;
    CriticalSectionLock lock(m_lock);
    delete file;
    file = nullptr;
    if (m_openFiles > 0)
        --m_openFiles;
    if (m_closeWhenIdle && m_openFiles == 0 && m_archive) {
        m_archive->Close(true);
        m_mapping.Close();
    }
    return true;
}

FileStream* FileSourceArchive::OpenFileStream(const char*)
{
    return nullptr;
}

void FileSourceArchive::CloseFileStream(FileStream*&) {}

void FileSourceArchive::GetMatchingFiles(std::vector<std::string>& out, const std::string& pattern)
{
    CriticalSectionLock lock(m_lock);
    if (!m_archive)
        return;
    size_t start = pattern.find_first_not_of("*.");
    std::string ending = start == std::string::npos ? std::string() : pattern.substr(start);
    std::vector<int> indices;
    if (ending.empty()) {
        for (unsigned i = 0; i < m_archive->GetNumFiles(); ++i)
            if (m_archive->GetFileEntry(static_cast<int>(i))->IsInUse())
                indices.push_back(static_cast<int>(i));
    } else {
        m_archive->FindMatchingFilesEnd(indices, ending);
    }
    for (int index : indices)
        out.push_back(m_name + "/" + m_archive->GetFileEntry(index)->name);
}

bool FileSourceArchive::FindFilePath(const char* name, std::string& fullPath)
{
    CriticalSectionLock lock(m_lock);
    const char* inner = InnerName(name);
    if (!m_archive || !inner || m_archive->FindFile(inner) < 0)
        return false;
    fullPath = m_fullPath + inner;
    return true;
}

std::string FileSourceArchive::FindFileInDirectoryTree(const std::string& name)
{
    CriticalSectionLock lock(m_lock);
    if (!m_archive)
        return std::string();
    std::vector<int> indices;
    if (m_archive->FindMatchingFilesEnd(indices, name) == 0)
        return std::string();
    return m_archive->GetFileEntry(indices.front())->name;
}

bool FileSourceArchive::GetFileTime(const char* name, FileTime& time)
{
    CriticalSectionLock lock(m_lock);
    const char* inner = InnerName(name);
    if (!m_archive || !inner)
        return false;
    const Archive::FileEntry* entry = m_archive->GetFileEntry(m_archive->FindFile(inner));
    if (!entry)
        return false;
    time.low = entry->fileTimeLow;
    time.high = entry->fileTimeHigh;
    return true;
}

int FileSourceArchive::GetOpenFileCount()
{
    CriticalSectionLock lock(m_lock);
    return m_openFiles;
}

const void* FileSourceArchive::MapView(Platform::MappedView& view, uint64_t offset, size_t size)
{
    CriticalSectionLock lock(m_lock);
    if (!m_mapping.IsOpen())
        return nullptr;
    return view.Map(m_mapping, offset, size);
}

} // namespace GAME
