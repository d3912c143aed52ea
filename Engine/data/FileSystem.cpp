#include "data/FileSystem.h"

#include "data/FileSourceArchive.h"
#include "data/FileSourceDirectory.h"
#include "data/FileStream.h"
#include "platform/Directory.h"
#include "platform/PathResolve.h"

#include <algorithm>
#include <array>

namespace GAME {

FileSystem::FileSystem() = default;

FileSystem::~FileSystem()
{
    RemoveSourcesFromPartition(PARTITION_0);
    RemoveSourcesFromPartition(PARTITION_1);
}

void FileSystem::ConvertFileName(std::string& name)
{
    for (char& c : name)
        c = c == '\\' ? '/' : ((c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c);
}

bool FileSystem::AddSource(Partition partition, const char* path, bool, bool archivesInDirectory,
                           bool closeArchivesWhenIdle)
{
    if (archivesInDirectory) {
        if (!path)
            return true;
        std::string folder = Platform::ToForwardSlashes(path);
        if (!Platform::IsAbsolutePath(folder))
            folder = "./" + folder;
        if (folder.back() != '/')
            folder += '/';
        std::vector<Platform::DirectoryEntry> entries;
        Platform::ListDirectory(folder, entries);
        for (const auto& entry : entries)
            if (!entry.isDirectory && entry.name.size() > 4 &&
                Platform::EndsWithIgnoreCase(entry.name, ".arc"))
                AddSourceArchive(partition, (folder + entry.name).c_str(), closeArchivesWhenIdle);
        return true;
    }
    auto* source = new FileSourceDirectory();
    if (path && !source->Attach(path)) {
        delete source;
        return false;
    }
    m_sources[partition].push_back(source);
    return true;
}

bool FileSystem::AddSourceArchive(Partition partition, const char* path, bool closeWhenIdle)
{
    if (!path)
        return false;
    auto* source = new FileSourceArchive(closeWhenIdle);
    if (!source->Attach(path)) {
        delete source;
        return false;
    }
    m_sources[partition].push_back(source);
    return true;
}

void FileSystem::AddSource(Partition partition, FileSource* source)
{
    if (source)
        m_sources[partition].push_back(source);
}

void FileSystem::RemoveSourcesFromPartition(Partition partition)
{
    for (FileSource* source : m_sources[partition])
        delete source;
    m_sources[partition].clear();
}

bool FileSystem::IsFileWriteable(const char* name)
{
    if (!name)
        return false;
    std::string converted = name;
    ConvertFileName(converted);
    return FirstAnswer([&](FileSource* source) { return source->IsFileWriteable(converted.c_str()); });
}

File* FileSystem::OpenFile(const char* name, FileMode mode)
{
    if (!name)
        return nullptr;
    std::string converted = name;
    ConvertFileName(converted);
    return FirstAnswer([&](FileSource* source) { return source->OpenFile(converted.c_str(), mode); });
}

bool FileSystem::CloseFile(File*& file)
{
    if (!file)
        return true;
    FileSource* source = file->GetSource();
    if (source)
        return source->CloseFile(file);
    delete file;
    file = nullptr;
    return true;
}

FileStream* FileSystem::OpenFileStream(const char* name)
{
    if (!name)
        return nullptr;
    std::string converted = name;
    ConvertFileName(converted);
    return FirstAnswer([&](FileSource* source) { return source->OpenFileStream(converted.c_str()); });
}

void FileSystem::CloseFileStream(FileStream*& stream)
{
    if (!stream)
        return;
    FileSource* source = stream->GetSource();
    if (source) {
        source->CloseFileStream(stream);
    } else {
        delete stream;
        stream = nullptr;
    }
}

bool FileSystem::FindFullFilePath(const std::string& name, std::string& fullPath)
{
    std::string converted = name;
    ConvertFileName(converted);
    if (!FirstAnswer([&](FileSource* source) { return source->FindFilePath(converted.c_str(), fullPath); }))
        return false;
    // Only the separators: the path names a real file and Linux names keep their case.
    fullPath = Platform::ToForwardSlashes(fullPath);
    return true;
}

bool FileSystem::GetFileTime(const char* name, FileTime& time)
{
    if (!name)
        return false;
    return FirstAnswer([&](FileSource* source) { return source->GetFileTime(name, time); });
}

int FileSystem::CompareFileTimes(const char* name, const FileTime& time)
{
    FileTime fileTime;
    GetFileTime(name, fileTime);
    return CompareFileTime(fileTime, time);
}

int FileSystem::CompareFileTimes(const char* a, const char* b)
{
    FileTime timeA, timeB;
    GetFileTime(a, timeA);
    GetFileTime(b, timeB);
    return CompareFileTime(timeA, timeB);
}

bool FileSystem::DoesFileExist(const char* name)
{
    File* file = OpenFile(name, FILE_MODE_READ);
    if (!file)
        return false;
    CloseFile(file);
    return true;
}

int FileSystem::GetFileSize(const char* name)
{
    File* file = OpenFile(name, FILE_MODE_READ);
    if (!file)
        return 0;
    int size = static_cast<int>(file->GetLength());
    CloseFile(file);
    return size;
}

void FileSystem::GetMatchingFiles(std::vector<std::string>& out, const std::string& pattern)
{
    for (auto& list : m_sources)
        for (FileSource* source : list)
            source->GetMatchingFiles(out, pattern);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
}

unsigned Crc32(const unsigned char* data, int length)
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
            t[i] = c;
        }
        return t;
    }();
    if (!data || length < 1)
        return 0;
    uint32_t crc = 0;
    for (int i = 0; i < length; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

} // namespace GAME
