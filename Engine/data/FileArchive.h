// A file inside an ARC archive, opened through FileSourceArchive. Compressed entries are read
// into the file's own result buffer on Lock (one lock at a time); stored entries are mapped
// straight from the archive file. Read-only. One thread uses one FileArchive.
#pragma once

#include "data/Archive.h"
#include "data/File.h"
#include "platform/MappedFile.h"

#include <vector>

namespace GAME {

class FileSourceArchive;

class FileArchive : public File
{
public:
    FileArchive(FileSourceArchive* source, int index, const Archive::FileEntry& entry);
    ~FileArchive() override;
    FileArchive(const FileArchive&) = delete;
    FileArchive& operator=(const FileArchive&) = delete;

    FileSource* GetSource() override;
    using File::Lock;
    // Null for an empty range, a range past the end of the entry, a second lock of a compressed
    // entry before Unlock, or a failed read.
    const void* Lock(unsigned offset, unsigned size) override;
    void Unlock() override;
    // Archive files cannot be written.
    bool Write(unsigned offset, const void* data, unsigned size) override;
    unsigned GetLength() override { return m_entry.realSize; }

    int GetIndex() const { return m_index; }

private:
    FileSourceArchive* m_source;
    Archive::FileEntry m_entry;
    int m_index;
    bool m_locked = false;
    std::vector<unsigned char> m_result;
    Archive::BlockBuffer m_blocks;
    std::vector<Platform::MappedView> m_views;
};

} // namespace GAME
