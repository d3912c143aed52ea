// The virtual file system through which the engine and the host read game data and write user
// files: two partitions, each an ordered list of sources (directory trees and ARC archives).
// Every call asks partition 0's sources in the order they were added, then partition 1's; the
// first source that has the file answers. Names are case-insensitive and may use '\'.
// Owns its sources. Opening, reading and closing files may happen on any thread; adding and
// removing sources happens on the main thread while no other thread uses the file system.
#pragma once

#include "data/File.h"
#include "data/FileTime.h"

#include <string>
#include <vector>

namespace GAME {

class FileSource;
class FileStream;

class FileSystem
{
public:
    enum Partition
    {
        PARTITION_0 = 0,
        PARTITION_1 = 1,
    };

    FileSystem();
    virtual ~FileSystem();
    // Sources are owned; two file systems never share them.
    FileSystem(const FileSystem&) = delete;
    FileSystem& operator=(const FileSystem&) = delete;

    virtual bool IsFileWriteable(const char* name);
    virtual File* OpenFile(const char* name, FileMode mode);
    // Nulls the reference. False when a file opened for writing could not be completed: the
    // source logged why, and the file it was to replace is as it was.
    virtual bool CloseFile(File*& file);
    virtual FileStream* OpenFileStream(const char* name);
    virtual void CloseFileStream(FileStream*& stream);

    // A directory source for the path (null: an empty, unattached source), or, with
    // archivesInDirectory, every "*.arc" file of that folder as archive sources (true even when
    // none was found). The first flag has no effect.
    bool AddSource(Partition partition, const char* path, bool unused, bool archivesInDirectory,
                   bool closeArchivesWhenIdle);
    bool AddSourceArchive(Partition partition, const char* path, bool closeWhenIdle);
    // Takes ownership of a source made elsewhere (tests, hosts with their own sources).
    void AddSource(Partition partition, FileSource* source);
    void RemoveSourcesFromPartition(Partition partition);
    const std::vector<FileSource*>& GetSources(Partition partition) const { return m_sources[partition]; }

    // The full path of the file on disk (directory sources: in the case found on disk) or inside
    // its archive, with '/'.
    bool FindFullFilePath(const std::string& name, std::string& fullPath);
    // Leaves the time unchanged when no source knows the file.
    bool GetFileTime(const char* name, FileTime& time);
    int CompareFileTimes(const char* name, const FileTime& time);
    int CompareFileTimes(const char* a, const char* b);
    bool DoesFileExist(const char* name);
    // 0 when the file is missing.
    int GetFileSize(const char* name);
    // The matches of every source, sorted, each name once.
    void GetMatchingFiles(std::vector<std::string>& out, const std::string& pattern);

    // '\' becomes '/', everything else lower case (C locale).
    static void ConvertFileName(std::string& name);

private:
    // Asks each source in search order until one answers (true or not null); that answer, else
    // the answer's empty value.
    template <class Ask> auto FirstAnswer(Ask&& ask) const -> decltype(ask(nullptr))
    {
        for (const auto& list : m_sources)
            for (FileSource* source : list)
                if (auto answer = ask(source))
                    return answer;
        return {};
    }

    std::vector<FileSource*> m_sources[2];
};

// CRC-32 of ISO 3309 / IEEE 802.3 (reflected, table-driven), started from 0 and without the
// final inversion; 0 for a length below 1. The fog-of-war files use it.
unsigned Crc32(const unsigned char* data, int length);

} // namespace GAME
