#include "data/FileSourceDirectory.h"

#include "data/FileDirectory.h"
#include "data/FileStreamDirectory.h"
#include "platform/Directory.h"
#include "platform/PathResolve.h"
#include "platform/PlatformFile.h"

namespace GAME {

namespace {

// Folders nested deeper than this are not scanned (a link loop would never end).
constexpr int kMaxScanDepth = 48;

std::string LowerSlashes(const char* text)
{
    std::string out = text;
    for (char& c : out)
        c = c == '\\' ? '/' : ((c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c);
    return out;
}

std::string StripPattern(const std::string& pattern)
{
    size_t start = pattern.find_first_not_of("*.");
    return start == std::string::npos ? std::string() : pattern.substr(start);
}

} // namespace

FileSourceDirectory::FileSourceDirectory() = default;

FileSourceDirectory::~FileSourceDirectory() = default;

bool FileSourceDirectory::Attach(const char* path)
{
    CriticalSectionLock lock(m_lock);
    if (!path)
        return false;
    std::string full = Platform::ToForwardSlashes(path);
    if (!Platform::IsAbsolutePath(full))
        full = Platform::GetCurrentDirectory() + "/" + full;
    std::string real;
    if (!Platform::ResolveExistingPath(full, real) || !Platform::DirectoryExists(real))
        return false;
    if (real.back() != '/')
        real += '/';
    m_root = real;
    m_files.clear();
    m_lowerIndex.clear();
    m_files.reserve(30000);
    Scan(m_root, std::string(), nullptr, m_files, 0);
    m_lowerIndex.reserve(m_files.size());
    for (size_t i = 0; i < m_files.size(); ++i)
        m_lowerIndex.emplace(LowerSlashes(m_files[i].c_str()), i);
    return true;
}

bool FileSourceDirectory::Scan(const std::string& folder, const std::string& prefix,
                               const std::string* ending, std::vector<std::string>& out, int depth)
{
    if (depth > kMaxScanDepth)
        return false;
    std::vector<Platform::DirectoryEntry> entries;
    if (!Platform::ListDirectory(folder, entries))
        return false;
    for (const auto& entry : entries) {
        if (entry.isDirectory)
            continue;
        if (!ending) {
            out.push_back(prefix + entry.name);
        } else if (Platform::EndsWithIgnoreCase(entry.name, *ending)) {
            out.push_back(prefix + entry.name);
            return true;
        }
    }
    for (const auto& entry : entries) {
        if (!entry.isDirectory || entry.name[0] == '.')
            continue;
        if (Scan(folder + entry.name + "/", prefix + entry.name + "/", ending, out, depth + 1) && ending)
            return true;
    }
    return false;
}

std::string FileSourceDirectory::DiskPath(const char* name) const
{
    std::string lower = LowerSlashes(name);
    size_t start = 0;
    while (start < lower.size() && lower[start] == '/')
        ++start;
    auto it = m_lowerIndex.find(start ? lower.substr(start) : lower);
    if (it != m_lowerIndex.end())
        return m_root + m_files[it->second];
    return m_root + Platform::ToForwardSlashes(name + start);
}

bool FileSourceDirectory::IsFileWriteable(const char* name)
{
    CriticalSectionLock lock(m_lock);
    if (!name || m_root.empty())
        return false;
    std::string path = DiskPath(name);
    return !Platform::FileExists(path) || !Platform::IsFileReadOnly(path);
}

File* FileSourceDirectory::OpenFile(const char* name, FileMode mode)
{
    CriticalSectionLock lock(m_lock);
    if (!name || m_root.empty())
        return nullptr;
    auto* file = new FileDirectory(this);
    if (!file->Open(DiskPath(name).c_str(), mode)) {
        delete file;
        return nullptr;
    }
    return file;
}

bool FileSourceDirectory::CloseFile(File*& file)
{
    // Only this source's own files come back to it.
    const bool closed = !file || static_cast<FileDirectory*>(file)->Close();
    delete file;
    file = nullptr;
    return closed;
}

FileStream* FileSourceDirectory::OpenFileStream(const char* name)
{
    CriticalSectionLock lock(m_lock);
    if (!name || m_root.empty())
        return nullptr;
    auto* stream = new FileStreamDirectory(this);
    if (!stream->Open(DiskPath(name).c_str())) {
        delete stream;
        return nullptr;
    }
    return stream;
}

void FileSourceDirectory::CloseFileStream(FileStream*& stream)
{
    delete stream;
    stream = nullptr;
}

void FileSourceDirectory::GetMatchingFiles(std::vector<std::string>& out, const std::string& pattern)
{
    CriticalSectionLock lock(m_lock);
    std::string ending = StripPattern(pattern);
    for (const std::string& file : m_files)
        if (ending.empty() || Platform::EndsWithIgnoreCase(file, ending))
            out.push_back(file);
}

bool FileSourceDirectory::FindFilePath(const char* name, std::string& fullPath)
{
    CriticalSectionLock lock(m_lock);
    if (!name || m_root.empty())
        return false;
    auto it = m_lowerIndex.find(LowerSlashes(name));
    if (it == m_lowerIndex.end())
        return false;
    fullPath = m_root + m_files[it->second];
    return true;
}

std::string FileSourceDirectory::FindFileInDirectoryTree(const std::string& name)
{
    CriticalSectionLock lock(m_lock);
    if (m_root.empty())
        return std::string();
    std::vector<std::string> found;
    Scan(m_root, std::string(), &name, found, 0);
    return found.empty() ? std::string() : found.front();
}

bool FileSourceDirectory::GetFileTime(const char* name, FileTime& time)
{
    CriticalSectionLock lock(m_lock);
    if (!name || m_root.empty())
        return false;
    uint64_t ticks = 0;
    if (!Platform::GetFileLastWriteTime(DiskPath(name), ticks))
        return false;
    time = FileTime::FromTicks(ticks);
    return true;
}

} // namespace GAME
