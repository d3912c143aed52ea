// ARC archives: many named files in one, each stored plain or compressed with zlib in
// independent 256 KiB blocks so any byte range can be read without inflating the whole file.
// Read mode (1) serves the file system; update mode (2) adds, removes and compacts entries and
// writes the tables back at Close.
//
// Update mode writes in place (FileOpenMode::Update), not through a new file: an added entry goes
// where the tables ended (over them), compacting moves entries forward, and the tables and header
// are written last, at Close. So a write that fails (a full disk) part way through an update, or a
// Close that fails, leaves the entries written before it but may leave the header naming tables
// that are no longer there: the archive on disk may then not open until an update is closed
// successfully. An archive that must survive a failed update is copied first. Extracting to disk
// replaces each file whole (a failed extraction leaves the file that was there).
//
// Layout: a 2048-byte header ("ARC\0", version 1, entry count, part count, part bytes, name
// bytes, table offset), the files' stored bytes from offset 2048, then the table area: 12-byte
// part records, the 0-terminated names, and one 44-byte record per entry. Tables read from a
// file are checked in full before they are used, so a bad archive fails Open with a log line.
//
// Threads: reads (ReadFromFile and the extractors) may run on several threads at once; each
// file read holds the archive's lock, inflation happens outside it into the caller's
// BlockBuffer. Close(true) and ReOpen of an unchanged archive may race with readers (a read then
// fails instead of returning bytes). Open, Close(false), updates and a ReOpen that reloads the
// tables are for one thread while no other uses the archive.
#pragma once

#include "core/CriticalSection.h"
#include "platform/PlatformFile.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace GAME {

class Archive
{
public:
    enum FileMode
    {
        MODE_READ = 1,
        MODE_UPDATE = 2,
    };

    enum StorageType
    {
        STORAGE_FREE = 0,
        STORAGE_PLAIN = 1,
        STORAGE_COMPRESSED = 3,
    };

    static constexpr unsigned kHeaderSize = 2048;
    static constexpr unsigned kBlockSize = 0x40000;
    static constexpr unsigned kPartRecordSize = 12;
    static constexpr unsigned kEntryRecordSize = 44;

    struct PartRecord
    {
        uint32_t offset;     // absolute offset of the block's stored bytes
        uint32_t storedSize; // compressed size
        uint32_t plainSize;
    };

    struct FileEntry
    {
        uint32_t storageType = STORAGE_FREE;
        uint32_t dataOffset = 0;
        uint32_t storedSize = 0;
        uint32_t realSize = 0;
        uint32_t numParts = 0;
        uint32_t adler32 = 0;
        uint32_t fileTimeLow = 0;
        uint32_t fileTimeHigh = 0;
        const PartRecord* parts = nullptr;
        uint32_t nameLength = 0;
        const char* name = ""; // never null

        bool IsInUse() const { return (storageType & 1) != 0; }
        bool IsCompressed() const { return (storageType & 2) != 0; }
    };

    // The reader's state for one compressed entry: the block last inflated and its bytes.
    struct BlockBuffer
    {
        int currentBlock = -1;
        std::vector<uint8_t> stored;
        std::vector<uint8_t> plain;
    };

    struct Stats
    {
        unsigned numEntries = 0;
        unsigned numUsed = 0;
        unsigned numBuckets = 0;
        unsigned longestChain = 0;
        unsigned tableBytes = 0;
        unsigned longestName = 0;
        float averageChain = 0.0f;
    };

    using ExtractCallback = std::function<void(const FileEntry& entry, int index, unsigned count)>;

    Archive();
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // Mode 1 opens an existing file for shared reading; mode 2 opens or creates it for update.
    bool Open(const char* path, FileMode mode);
    // Read mode over a copy of an archive image in memory (fuzzing, tests, embedded data).
    bool OpenMemory(const void* data, size_t size);
    // After Close(true) in read mode: reopens the file, and reloads the tables when the file
    // changed on disk. False when it cannot be reopened.
    bool ReOpen();
    // Mode 2 writes the tables and header first (false when that failed). With mayReopen in read
    // mode only the file handle is released and the tables stay.
    bool Close(bool mayReopen = false);
    // Whether the file (or image) is open for reading.
    bool IsOpen() const;
    bool IsClosedMayReopen() const { return m_closedMayReopen; }

    // Index of the entry with the (normalised) name, or -1.
    int FindFile(const char* name) const;
    unsigned GetNumFiles() const { return static_cast<unsigned>(m_entries.size()); }
    // Null for an index outside the table.
    const FileEntry* GetFileEntry(int index) const;
    unsigned BlockSize() const { return m_blockSize; }
    FileMode ArchiveFileMode() const { return m_mode; }
    // Null when closed or when the archive is a memory image.
    const Platform::PlatformFile* ArchiveFileHandle() const;
    const std::string& GetPath() const { return m_path; }

    // Reads [offset, offset + size) of an entry, cut at its end, into dest. False when the index
    // or offset is bad, or a read or inflation failed (each logged).
    bool ReadFromFile(int index, unsigned char* dest, unsigned offset, unsigned size,
                      BlockBuffer* buffer) const;
    bool ExtractFileToMemory(int index, unsigned char* dest, unsigned capacity) const;
    // Writes the entry under directory/name, making folders. Names that would leave the folder
    // ("..", absolute) are refused.
    bool ExtractFileToDisk(int index, const char* directory);
    bool ExtractAll(const char* directory, const ExtractCallback& callback = {});
    // Entries in use whose names end with `ending` (case ignored), in index order.
    unsigned FindMatchingFilesEnd(std::vector<int>& out, const std::string& ending) const;

    // Update mode. Level 0 stores plain, other levels compress block by block. -1 when the name
    // exists, a write fails or the archive would pass 4 GiB.
    int AddFileFromMemory(const char* name, const unsigned char* data, unsigned size, int level);
    int AddFileFromDisk(const char* path, int level);
    bool RemoveFile(int index);
    bool Compact();

    void CalcStats(Stats& stats) const;
    void FreeFileBuffer();

    // Lower case, '/' separators, no leading "./" or "/".
    static void NormalizeName(std::string& name);
    // Buckets of the name hash: the first of a list of primes from 31 to 2560021 that is at least
    // the entry count.
    static unsigned BucketCountFor(unsigned entryCount);
    // Hash of a normalised name (its bucket is the hash modulo the bucket count).
    static uint32_t HashName(const char* name, unsigned length);

private:
    struct OwnedData;

    bool ReadTables(uint64_t fileSize);
    bool ValidateEntry(unsigned index, const FileEntry& entry, uint64_t tableOffset) const;
    bool WriteTables();
    void BuildHash();
    void LinkEntry(int index);
    void UnlinkEntry(int index);
    void ReleaseAll();
    int64_t ReadRaw(uint64_t offset, void* dest, size_t size) const;
    bool LoadBlock(const FileEntry& entry, unsigned block, BlockBuffer& buffer, unsigned char* direct) const;
    bool PlaceEntry(uint32_t storedSize, int& slot, uint32_t& dataOffset) const;
    int CommitEntry(const std::string& name, int slot, FileEntry entry, std::vector<PartRecord> parts);
    int FindNormalized(const char* name, unsigned length, uint32_t hash) const;

    bool m_closedMayReopen = false;
    uint64_t m_fileTime = 0;
    Platform::PlatformFile m_file;
    bool m_memoryOpen = false;
    std::vector<uint8_t> m_memoryImage;
    FileMode m_mode = MODE_READ;
    bool m_isOpen = false; // Open succeeded and Close(false) has not run
    std::string m_path;
    std::vector<FileEntry> m_entries;
    std::vector<int> m_freeList;
    unsigned m_blockSize = kBlockSize;
    std::vector<PartRecord> m_partBlock;
    std::vector<char> m_nameBlock;
    std::vector<std::unique_ptr<OwnedData>> m_owned; // update mode: each entry's name and parts
    // The name hash: bucket heads and, beside the entries, each entry's hash, chain link and name,
    // kept apart so a lookup touches only these and the name's bytes.
    struct Link
    {
        uint32_t hash;
        int32_t next;
        uint32_t nameLength;
        const char* name;
    };
    std::vector<int32_t> m_buckets;
    std::vector<Link> m_links;
    std::vector<uint8_t> m_fileBuffer;
    mutable CriticalSection m_lock;
};

} // namespace GAME
