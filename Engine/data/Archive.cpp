#include "data/Archive.h"

#include "core/Log.h"
#include "platform/Directory.h"
#include "platform/PathResolve.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <libdeflate.h>
#include <zlib.h>

namespace GAME {

struct Archive::OwnedData
{
    std::string name;
    std::vector<PartRecord> parts;
};

namespace {

// Primes; past 10007 roughly doubling, so large archives keep short chains.
constexpr unsigned kBucketCounts[] = {31,    73,    127,    283,    419,    739,     1019,   1453,  2063,
                                      3001,  4001,  5009,   6067,   7001,   8009,    9011,   10007, 20011,
                                      40009, 80021, 160001, 320009, 640007, 1280023, 2560021};
constexpr size_t kCopyPiece = 1u << 20;

inline uint32_t GetU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void PutU32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// '\' becomes '/', A-Z become a-z (C locale), everything else stays. Branch-free, so the loop
// below vectorises.
inline char NormalChar(char c)
{
    auto u = static_cast<uint8_t>(c);
    u = static_cast<uint8_t>(u + (static_cast<uint8_t>(u - 'A') < 26 ? 0x20 : 0));
    return static_cast<char>(u == '\\' ? '/' : u);
}

// Normalises into `out` (room for length bytes); returns the new length.
unsigned NormalizeInto(const char* name, unsigned length, char* out)
{
    unsigned skip = 0;
    if (skip < length && NormalChar(name[skip]) == '.')
        ++skip;
    if (skip < length && NormalChar(name[skip]) == '/')
        ++skip;
    for (unsigned i = skip; i < length; ++i)
        out[i - skip] = NormalChar(name[i]);
    return length - skip;
}

// One zlib inflate stream per thread, reset for every use.
class Inflater
{
public:
    Inflater()
    {
        std::memset(&m_stream, 0, sizeof(m_stream));
        m_ready = inflateInit(&m_stream) == Z_OK;
    }
    ~Inflater()
    {
        if (m_ready)
            inflateEnd(&m_stream);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // True when the input is one complete zlib stream of exactly `capacity` plain bytes.
    bool Inflate(const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t capacity, uint32_t& produced)
    {
        produced = 0;
        if (!m_ready || inflateReset(&m_stream) != Z_OK)
            return false;
        m_stream.next_in = const_cast<Bytef*>(in);
        m_stream.avail_in = inSize;
        m_stream.next_out = out;
        m_stream.avail_out = capacity;
        int result = inflate(&m_stream, Z_FINISH);
        produced = static_cast<uint32_t>(m_stream.total_out);
        if (result == Z_BUF_ERROR && m_stream.avail_out == 0) {
            // More output than the block may hold: count it for the log line, keep nothing.
            uint8_t scratch[4096];
            while (result == Z_BUF_ERROR || result == Z_OK) {
                m_stream.next_out = scratch;
                m_stream.avail_out = sizeof(scratch);
                result = inflate(&m_stream, Z_FINISH);
                if (m_stream.avail_out == sizeof(scratch))
                    break;
            }
            produced = static_cast<uint32_t>(m_stream.total_out);
            return false;
        }
        return result == Z_STREAM_END && produced == capacity;
    }

private:
    z_stream m_stream;
    bool m_ready = false;
};

Inflater& ThreadInflater()
{
    thread_local Inflater inflater;
    return inflater;
}

// Blocks are inflated with libdeflate (several times faster than zlib's inflate, adler32 still
// checked); zlib only counts what a bad block yields for the log line.
class BlockDecompressor
{
public:
    BlockDecompressor() : m_decompressor(libdeflate_alloc_decompressor()) {}
    ~BlockDecompressor()
    {
        if (m_decompressor)
            libdeflate_free_decompressor(m_decompressor);
    }
    BlockDecompressor(const BlockDecompressor&) = delete;
    BlockDecompressor& operator=(const BlockDecompressor&) = delete;

    bool Inflate(const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t expected, uint32_t& produced)
    {
        if (m_decompressor && libdeflate_zlib_decompress(m_decompressor, in, inSize, out, expected,
                                                         nullptr) == LIBDEFLATE_SUCCESS) {
            produced = expected;
            return true;
        }
        ThreadInflater().Inflate(in, inSize, out, expected, produced);
        return false;
    }

private:
    libdeflate_decompressor* m_decompressor;
};

BlockDecompressor& ThreadDecompressor()
{
    thread_local BlockDecompressor decompressor;
    return decompressor;
}

bool IsSafeRelativeName(const char* name)
{
    if (!name || !*name || name[0] == '/' || name[0] == '\\')
        return false;
    std::string_view rest(name);
    while (!rest.empty()) {
        size_t end = rest.find_first_of("/\\");
        std::string_view component = rest.substr(0, end);
        if (component == "..")
            return false;
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
    return true;
}

} // namespace

Archive::Archive() = default;

Archive::~Archive()
{
    Close(false);
}

void Archive::NormalizeName(std::string& name)
{
    unsigned length = NormalizeInto(name.data(), static_cast<unsigned>(name.size()), name.data());
    name.resize(length);
}

unsigned Archive::BucketCountFor(unsigned entryCount)
{
    // About one entry a bucket: every link of a chain is a separate cache miss.
    for (unsigned count : kBucketCounts)
        if (count >= entryCount)
            return count;
    return kBucketCounts[std::size(kBucketCounts) - 1];
}

uint32_t Archive::HashName(const char* name, unsigned length)
{
    // Eight bytes a step over the whole name. Game paths share long prefixes and differ anywhere,
    // so a hash of a few chosen characters would pile thousands of names into one chain.
    constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    uint64_t h = 0x243F6A8885A308D3ull ^ (length * kMultiplier);
    for (; length >= 8; name += 8, length -= 8) {
        uint64_t word;
        std::memcpy(&word, name, 8);
        h = (h ^ word) * kMultiplier;
        h ^= h >> 29;
    }
    if (length) {
        uint64_t word = 0;
        std::memcpy(&word, name, length);
        h = (h ^ word) * kMultiplier;
    }
    h ^= h >> 32;
    h *= 0xD6E8FEB86659FD93ull;
    h ^= h >> 32;
    return static_cast<uint32_t>(h);
}

bool Archive::IsOpen() const
{
    CriticalSectionLock lock(m_lock);
    return m_memoryImage.empty() ? m_file.IsOpen() : m_memoryOpen;
}

const Platform::PlatformFile* Archive::ArchiveFileHandle() const
{
    return m_file.IsOpen() ? &m_file : nullptr;
}

const Archive::FileEntry* Archive::GetFileEntry(int index) const
{
    if (index < 0 || index >= static_cast<int>(m_entries.size()))
        return nullptr;
    return &m_entries[index];
}

int64_t Archive::ReadRaw(uint64_t offset, void* dest, size_t size) const
{
    CriticalSectionLock lock(m_lock);
    if (!m_memoryImage.empty() || m_memoryOpen) {
        if (!m_memoryOpen)
            return -1;
        if (offset >= m_memoryImage.size())
            return 0;
        size_t count = std::min<uint64_t>(size, m_memoryImage.size() - offset);
        std::memcpy(dest, m_memoryImage.data() + offset, count);
        return static_cast<int64_t>(count);
    }
    return m_file.ReadAt(offset, dest, size);
}

bool Archive::Open(const char* path, FileMode mode)
{
    if (!path || !*path) {
        LogPrintf(1, "Archive: no path to open");
        return false;
    }
    if (mode != MODE_READ && mode != MODE_UPDATE) {
        LogPrintf(1, "Archive: unknown open mode %d for %s", static_cast<int>(mode), path);
        return false;
    }
    Close(false);
    std::string pathCopy = path;
    if (!m_file.Open(pathCopy,
                     mode == MODE_READ ? Platform::FileOpenMode::Read : Platform::FileOpenMode::Update)) {
        LogPrintf(1, "Archive: cannot open %s", path);
        return false;
    }
    m_mode = mode;
    m_path = pathCopy;
    m_isOpen = true;
    uint64_t size = 0;
    if (!m_file.GetLastWriteTime(m_fileTime) || !m_file.GetSize(size)) {
        LogPrintf(1, "Archive: cannot query %s", path);
        ReleaseAll();
        return false;
    }
    if (size > 0 && !ReadTables(size)) {
        ReleaseAll();
        return false;
    }
    BuildHash();
    return true;
}

bool Archive::OpenMemory(const void* data, size_t size)
{
    Close(false);
    if (!data || size == 0) {
        LogPrintf(1, "Archive: empty memory image");
        return false;
    }
    m_memoryImage.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    m_memoryOpen = true;
    m_mode = MODE_READ;
    m_path = "<memory>";
    m_isOpen = true;
    if (!ReadTables(size)) {
        ReleaseAll();
        return false;
    }
    BuildHash();
    return true;
}

bool Archive::ReadTables(uint64_t fileSize)
{
    const char* path = m_path.c_str();
    uint8_t header[kHeaderSize];
    if (fileSize < kHeaderSize || ReadRaw(0, header, kHeaderSize) != kHeaderSize) {
        LogPrintf(1, "Archive: %s is too short for its header (%llu bytes)", path,
                  static_cast<unsigned long long>(fileSize));
        return false;
    }
    if (header[0] != 'A' || header[1] != 'R' || header[2] != 'C' || header[3] != 0) {
        LogPrintf(1, "Archive: %s is not an ARC archive", path);
        return false;
    }
    uint32_t version = GetU32(header + 4);
    if (version != 1) {
        LogPrintf(1, "Archive: %s has version %u, expected 1", path, version);
        return false;
    }
    uint32_t count = GetU32(header + 8);
    uint32_t partCount = GetU32(header + 12);
    uint32_t nameBytes = GetU32(header + 20);
    uint32_t tableOffset = GetU32(header + 24);
    uint64_t tableBytes = static_cast<uint64_t>(partCount) * kPartRecordSize + nameBytes +
                          static_cast<uint64_t>(count) * kEntryRecordSize;
    if (tableOffset < kHeaderSize || tableOffset > fileSize || tableBytes > fileSize - tableOffset) {
        LogPrintf(1, "Archive: the tables of %s (%llu bytes at %u) run past its end (%llu bytes)", path,
                  static_cast<unsigned long long>(tableBytes), tableOffset,
                  static_cast<unsigned long long>(fileSize));
        return false;
    }
    std::vector<uint8_t> tables(static_cast<size_t>(tableBytes));
    if (tableBytes &&
        ReadRaw(tableOffset, tables.data(), tables.size()) != static_cast<int64_t>(tableBytes)) {
        LogPrintf(1, "Archive: cannot read the tables of %s", path);
        return false;
    }
    const uint8_t* p = tables.data();
    m_partBlock.resize(partCount);
    for (uint32_t i = 0; i < partCount; ++i, p += kPartRecordSize)
        m_partBlock[i] = PartRecord{GetU32(p), GetU32(p + 4), GetU32(p + 8)};
    // One spare 0 so every name is terminated even when the block is cut short.
    m_nameBlock.assign(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(p) + nameBytes);
    m_nameBlock.push_back(0);
    p += nameBytes;

    m_entries.assign(count, FileEntry());
    for (uint32_t i = 0; i < count; ++i, p += kEntryRecordSize) {
        FileEntry& e = m_entries[i];
        e.storageType = GetU32(p);
        e.dataOffset = GetU32(p + 4);
        e.storedSize = GetU32(p + 8);
        e.realSize = GetU32(p + 12);
        e.adler32 = GetU32(p + 16);
        e.fileTimeLow = GetU32(p + 20);
        e.fileTimeHigh = GetU32(p + 24);
        e.numParts = GetU32(p + 28);
        uint32_t firstPart = GetU32(p + 32);
        e.nameLength = GetU32(p + 36);
        uint32_t nameOffset = GetU32(p + 40);
        if (e.IsInUse()) {
            if (static_cast<uint64_t>(firstPart) + e.numParts > partCount ||
                static_cast<uint64_t>(nameOffset) + e.nameLength >= static_cast<uint64_t>(nameBytes) ||
                m_nameBlock[nameOffset + e.nameLength] != 0) {
                LogPrintf(1, "Archive: entry %u of %s points outside the part or name tables", i, path);
                return false;
            }
            e.parts = e.numParts ? &m_partBlock[firstPart] : nullptr;
            e.name = &m_nameBlock[nameOffset];
        } else {
            e.numParts = 0;
            e.nameLength = 0;
        }
        if (!ValidateEntry(i, e, tableOffset))
            return false;
        if (!e.IsInUse()) {
            // Only a free slot's space matters.
            uint32_t dataOffset = e.dataOffset, storedSize = e.storedSize;
            e = FileEntry();
            e.dataOffset = dataOffset;
            e.storedSize = storedSize;
        }
    }

    if (m_mode == MODE_UPDATE) {
        m_owned.clear();
        m_owned.resize(count);
        for (uint32_t i = 0; i < count; ++i) {
            FileEntry& e = m_entries[i];
            if (!e.IsInUse()) {
                m_freeList.push_back(static_cast<int>(i));
                continue;
            }
            auto owned = std::make_unique<OwnedData>();
            owned->name.assign(e.name, e.nameLength);
            owned->parts.assign(e.parts, e.parts + e.numParts);
            e.name = owned->name.c_str();
            e.parts = owned->parts.empty() ? nullptr : owned->parts.data();
            m_owned[i] = std::move(owned);
        }
        m_partBlock.clear();
        m_partBlock.shrink_to_fit();
        m_nameBlock.clear();
        m_nameBlock.shrink_to_fit();
    }
    return true;
}

bool Archive::ValidateEntry(unsigned index, const FileEntry& e, uint64_t tableOffset) const
{
    const char* path = m_path.c_str();
    if (e.storageType != STORAGE_FREE && e.storageType != STORAGE_PLAIN &&
        e.storageType != STORAGE_COMPRESSED) {
        LogPrintf(1, "Archive: entry %u of %s has the unknown storage type %u", index, path, e.storageType);
        return false;
    }
    if (static_cast<uint64_t>(e.dataOffset) + e.storedSize > tableOffset ||
        (e.storedSize && e.dataOffset < kHeaderSize)) {
        LogPrintf(1, "Archive: the data of entry %u of %s (%u bytes at %u) lie outside the data area", index,
                  path, e.storedSize, e.dataOffset);
        return false;
    }
    if (!e.IsInUse())
        return true;
    if (!e.IsCompressed()) {
        if (e.numParts != 0 || e.realSize != e.storedSize) {
            LogPrintf(1, "Archive: plain entry %u of %s has %u parts and sizes %u / %u", index, path,
                      e.numParts, e.storedSize, e.realSize);
            return false;
        }
        return true;
    }
    uint64_t expectedParts = (static_cast<uint64_t>(e.realSize) + m_blockSize - 1) / m_blockSize;
    if (e.numParts != expectedParts) {
        LogPrintf(1, "Archive: entry %u of %s has %u parts for %u bytes", index, path, e.numParts,
                  e.realSize);
        return false;
    }
    // Blocks lie back to back in block order, so no two parts share bytes.
    uint64_t storedSum = 0, plainSum = 0;
    const uint64_t maxStored = compressBound(m_blockSize);
    for (uint32_t i = 0; i < e.numParts; ++i) {
        const PartRecord& part = e.parts[i];
        if (part.plainSize > m_blockSize || (i + 1 < e.numParts && part.plainSize != m_blockSize) ||
            part.storedSize > maxStored || part.offset != e.dataOffset + storedSum ||
            static_cast<uint64_t>(part.offset) + part.storedSize >
                static_cast<uint64_t>(e.dataOffset) + e.storedSize) {
            LogPrintf(1, "Archive: part %u of entry %u of %s is out of range (%u bytes at %u, %u plain)", i,
                      index, path, part.storedSize, part.offset, part.plainSize);
            return false;
        }
        storedSum += part.storedSize;
        plainSum += part.plainSize;
    }
    if (storedSum != e.storedSize || plainSum != e.realSize) {
        LogPrintf(1, "Archive: the parts of entry %u of %s add up to %llu / %llu bytes, not %u / %u", index,
                  path, static_cast<unsigned long long>(storedSum), static_cast<unsigned long long>(plainSum),
                  e.storedSize, e.realSize);
        return false;
    }
    return true;
}

void Archive::BuildHash()
{
    m_buckets.assign(BucketCountFor(static_cast<unsigned>(m_entries.size())), -1);
    m_links.assign(m_entries.size(), Link{0, -1, 0, ""});
    for (size_t i = 0; i < m_entries.size(); ++i)
        if (m_entries[i].IsInUse())
            LinkEntry(static_cast<int>(i));
}

void Archive::LinkEntry(int index)
{
    const FileEntry& e = m_entries[index];
    Link& link = m_links[index];
    link.hash = HashName(e.name, e.nameLength);
    link.nameLength = e.nameLength;
    link.name = e.name;
    uint32_t bucket = link.hash % static_cast<uint32_t>(m_buckets.size());
    link.next = m_buckets[bucket];
    m_buckets[bucket] = index;
}

void Archive::UnlinkEntry(int index)
{
    uint32_t bucket = m_links[index].hash % static_cast<uint32_t>(m_buckets.size());
    for (int32_t* link = &m_buckets[bucket]; *link >= 0; link = &m_links[*link].next) {
        if (*link == index) {
            *link = m_links[index].next;
            break;
        }
    }
    m_links[index] = Link{0, -1, 0, ""};
}

int Archive::FindNormalized(const char* name, unsigned length, uint32_t hash) const
{
    if (m_buckets.empty())
        return -1;
    // The whole chain is walked: a cap on its length would hide files of large archives.
    for (int32_t i = m_buckets[hash % static_cast<uint32_t>(m_buckets.size())]; i >= 0; i = m_links[i].next) {
        const Link& link = m_links[i];
        if (link.hash == hash && link.nameLength == length && std::memcmp(link.name, name, length) == 0)
            return i;
    }
    return -1;
}

int Archive::FindFile(const char* name) const
{
    if (!name)
        return -1;
    size_t length = std::strlen(name);
    char small[256];
    if (length <= sizeof(small)) {
        unsigned n = NormalizeInto(name, static_cast<unsigned>(length), small);
        return FindNormalized(small, n, HashName(small, n));
    }
    std::string copy(length, '\0');
    unsigned n = NormalizeInto(name, static_cast<unsigned>(length), copy.data());
    return FindNormalized(copy.data(), n, HashName(copy.data(), n));
}

bool Archive::ReOpen()
{
    if (!m_closedMayReopen || m_mode != MODE_READ || IsOpen())
        return false;
    m_closedMayReopen = false;
    if (!m_memoryImage.empty()) {
        CriticalSectionLock lock(m_lock);
        m_memoryOpen = true;
        return true;
    }
    uint64_t time = 0;
    if (Platform::GetFileLastWriteTime(m_path, time) && time == m_fileTime) {
        bool opened;
        {
            CriticalSectionLock lock(m_lock);
            opened = m_file.Open(m_path, Platform::FileOpenMode::Read);
        }
        if (!opened) {
            LogPrintf(1, "Archive: cannot reopen %s", m_path.c_str());
            m_closedMayReopen = true;
            return false;
        }
        return true;
    }
    // The archive changed on disk: its tables are read anew.
    std::string path = m_path;
    Close(false);
    return Open(path.c_str(), MODE_READ);
}

bool Archive::Close(bool mayReopen)
{
    bool ok = true;
    if (m_isOpen && m_mode == MODE_UPDATE && m_file.IsOpen())
        ok = WriteTables();
    if (mayReopen && m_mode == MODE_READ && m_isOpen) {
        CriticalSectionLock lock(m_lock);
        m_file.Close();
        m_memoryOpen = false;
        m_closedMayReopen = true;
        return ok;
    }
    ReleaseAll();
    return ok;
}

void Archive::ReleaseAll()
{
    {
        CriticalSectionLock lock(m_lock);
        m_file.Close();
        m_memoryOpen = false;
    }
    m_memoryImage.clear();
    m_memoryImage.shrink_to_fit();
    m_closedMayReopen = false;
    m_isOpen = false;
    m_path.clear();
    m_entries.clear();
    m_entries.shrink_to_fit();
    m_freeList.clear();
    m_partBlock.clear();
    m_partBlock.shrink_to_fit();
    m_nameBlock.clear();
    m_nameBlock.shrink_to_fit();
    m_owned.clear();
    m_buckets.clear();
    m_links.clear();
    m_fileTime = 0;
    FreeFileBuffer();
}

bool Archive::WriteTables()
{
    uint64_t tableOffset = kHeaderSize;
    for (const FileEntry& e : m_entries)
        tableOffset = std::max<uint64_t>(tableOffset, static_cast<uint64_t>(e.dataOffset) + e.storedSize);
    uint64_t partCount = 0, nameBytes = 0;
    for (const FileEntry& e : m_entries) {
        partCount += e.numParts;
        if (e.IsInUse())
            nameBytes += e.nameLength + 1;
    }
    uint64_t tableBytes = partCount * kPartRecordSize + nameBytes + m_entries.size() * kEntryRecordSize;
    if (tableOffset + tableBytes > 0xFFFFFFFFull) {
        LogPrintf(1, "Archive: the tables of %s would pass 4 GiB", m_path.c_str());
        return false;
    }
    std::vector<uint8_t> tables(static_cast<size_t>(tableBytes));
    uint8_t* parts = tables.data();
    char* names = reinterpret_cast<char*>(parts + partCount * kPartRecordSize);
    uint8_t* records = reinterpret_cast<uint8_t*>(names + nameBytes);
    uint32_t runningPart = 0, runningName = 0;
    for (const FileEntry& e : m_entries) {
        uint32_t firstPart = runningPart, nameOffset = runningName;
        for (uint32_t i = 0; i < e.numParts; ++i, parts += kPartRecordSize) {
            PutU32(parts, e.parts[i].offset);
            PutU32(parts + 4, e.parts[i].storedSize);
            PutU32(parts + 8, e.parts[i].plainSize);
        }
        runningPart += e.numParts;
        if (e.IsInUse()) {
            std::memcpy(names + runningName, e.name, e.nameLength);
            names[runningName + e.nameLength] = 0;
            runningName += e.nameLength + 1;
        }
        PutU32(records, e.storageType);
        PutU32(records + 4, e.dataOffset);
        PutU32(records + 8, e.storedSize);
        PutU32(records + 12, e.realSize);
        PutU32(records + 16, e.adler32);
        PutU32(records + 20, e.fileTimeLow);
        PutU32(records + 24, e.fileTimeHigh);
        PutU32(records + 28, e.numParts);
        PutU32(records + 32, firstPart);
        PutU32(records + 36, e.IsInUse() ? e.nameLength : 0);
        PutU32(records + 40, nameOffset);
        records += kEntryRecordSize;
    }
    uint8_t header[kHeaderSize] = {};
    header[0] = 'A';
    header[1] = 'R';
    header[2] = 'C';
    PutU32(header + 4, 1);
    PutU32(header + 8, static_cast<uint32_t>(m_entries.size()));
    PutU32(header + 12, static_cast<uint32_t>(partCount));
    PutU32(header + 16, static_cast<uint32_t>(partCount * kPartRecordSize));
    PutU32(header + 20, static_cast<uint32_t>(nameBytes));
    PutU32(header + 24, static_cast<uint32_t>(tableOffset));
    bool ok = (tables.empty() || m_file.WriteAt(tableOffset, tables.data(), tables.size())) &&
              m_file.Truncate(tableOffset + tableBytes) && m_file.WriteAt(0, header, sizeof(header));
    if (!ok)
        LogPrintf(1, "Archive: writing the tables of %s failed", m_path.c_str());
    return ok;
}

bool Archive::LoadBlock(const FileEntry& entry, unsigned block, BlockBuffer& buffer,
                        unsigned char* direct) const
{
    const PartRecord& part = entry.parts[block];
    // A block inflated straight into the caller's memory leaves the cached block alone.
    if (!direct)
        buffer.currentBlock = -1;
    if (buffer.stored.size() < part.storedSize)
        buffer.stored.resize(part.storedSize);
    if (ReadRaw(part.offset, buffer.stored.data(), part.storedSize) !=
        static_cast<int64_t>(part.storedSize)) {
        LogPrintf(
            1,
            "Error reading file '%s' from archive file '%s', archive file is corrupt and must be re-built.",
            entry.name, m_path.c_str());
        return false;
    }
    unsigned char* out = direct;
    if (!out) {
        if (buffer.plain.size() < part.plainSize)
            buffer.plain.resize(std::min(entry.realSize, m_blockSize));
        out = buffer.plain.data();
    }
    uint32_t produced = 0;
    if (!ThreadDecompressor().Inflate(buffer.stored.data(), part.storedSize, out, part.plainSize, produced)) {
        LogPrintf(1,
                  "Archive: Block decompression error in file '%s', block %u of %u. Expected size %u, actual "
                  "size %u.\n",
                  entry.name, block, entry.numParts, part.plainSize, produced);
        return false;
    }
    if (!direct)
        buffer.currentBlock = static_cast<int>(block);
    return true;
}

bool Archive::ReadFromFile(int index, unsigned char* dest, unsigned offset, unsigned size,
                           BlockBuffer* buffer) const
{
    if (!dest || index < 0 || index >= static_cast<int>(m_entries.size()))
        return false;
    const FileEntry& entry = m_entries[index];
    if (!entry.IsInUse() || offset > entry.realSize)
        return false;
    if (size > entry.realSize - offset)
        size = entry.realSize - offset;
    if (size == 0)
        return true;
    if (!entry.IsCompressed()) {
        if (ReadRaw(static_cast<uint64_t>(entry.dataOffset) + offset, dest, size) !=
            static_cast<int64_t>(size)) {
            LogPrintf(1,
                      "Error reading file '%s' from archive file '%s', archive file is corrupt and must be "
                      "re-built.",
                      entry.name, m_path.c_str());
            return false;
        }
        return true;
    }
    BlockBuffer temporary;
    BlockBuffer& blocks = buffer ? *buffer : temporary;
    while (size > 0) {
        unsigned block = offset / m_blockSize;
        unsigned position = offset % m_blockSize;
        if (block >= entry.numParts)
            return false;
        unsigned count = std::min(m_blockSize - position, size);
        if (blocks.currentBlock != static_cast<int>(block)) {
            // A whole block inflates straight into the destination.
            if (position == 0 && count == entry.parts[block].plainSize) {
                if (!LoadBlock(entry, block, blocks, dest))
                    return false;
                offset += count;
                dest += count;
                size -= count;
                continue;
            }
            if (!LoadBlock(entry, block, blocks, nullptr))
                return false;
        }
        std::memcpy(dest, blocks.plain.data() + position, count);
        offset += count;
        dest += count;
        size -= count;
    }
    return true;
}

bool Archive::ExtractFileToMemory(int index, unsigned char* dest, unsigned capacity) const
{
    const FileEntry* entry = GetFileEntry(index);
    if (!entry)
        return false;
    return ReadFromFile(index, dest, 0, std::min(entry->realSize, capacity), nullptr);
}

bool Archive::ExtractFileToDisk(int index, const char* directory)
{
    const FileEntry* entry = GetFileEntry(index);
    if (!entry || !entry->IsInUse() || !directory)
        return false;
    if (!IsSafeRelativeName(entry->name)) {
        LogPrintf(1, "Archive: refusing to extract '%s' from %s: the name leaves the target folder",
                  entry->name, m_path.c_str());
        return false;
    }
    std::string target = Platform::ToForwardSlashes(directory);
    if (!target.empty() && target.back() != '/')
        target += '/';
    target += entry->name;
    if (!Platform::CreateDirectoryPath(target)) {
        LogPrintf(1, "Archive: cannot create the folders of %s", target.c_str());
        return false;
    }
    Platform::PlatformFile out;
    if (!out.Open(target, Platform::FileOpenMode::Write)) {
        LogPrintf(1, "Archive: cannot write %s (%s)", target.c_str(), out.GetError().c_str());
        return false;
    }
    unsigned piece = entry->IsCompressed() ? m_blockSize : static_cast<unsigned>(kCopyPiece);
    if (m_fileBuffer.size() < std::min(piece, entry->realSize))
        m_fileBuffer.resize(std::min(piece, entry->realSize));
    BlockBuffer blocks;
    for (unsigned done = 0; done < entry->realSize;) {
        unsigned count = std::min(piece, entry->realSize - done);
        // A failed read logged why; the file on disk is left as it was (out discards the new one).
        if (!ReadFromFile(index, m_fileBuffer.data(), done, count, &blocks)) {
            LogPrintf(1, "Archive: extracting '%s' to %s failed", entry->name, target.c_str());
            return false;
        }
        if (!out.WriteAt(done, m_fileBuffer.data(), count))
            break;
        done += count;
    }
    if (!out.Close()) {
        LogPrintf(1, "Archive: extracting '%s' to %s failed (%s); the file there is as it was", entry->name,
                  target.c_str(), out.GetError().c_str());
        return false;
    }
    return true;
}

bool Archive::ExtractAll(const char* directory, const ExtractCallback& callback)
{
    bool ok = true;
    unsigned count = GetNumFiles();
    for (unsigned i = 0; i < count; ++i) {
        if (callback)
            callback(m_entries[i], static_cast<int>(i), count);
        if (!ExtractFileToDisk(static_cast<int>(i), directory))
            ok = false;
    }
    return ok;
}

unsigned Archive::FindMatchingFilesEnd(std::vector<int>& out, const std::string& ending) const
{
    unsigned found = 0;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const FileEntry& e = m_entries[i];
        if (e.IsInUse() && Platform::EndsWithIgnoreCase(std::string_view(e.name, e.nameLength), ending)) {
            out.push_back(static_cast<int>(i));
            ++found;
        }
    }
    return found;
}

bool Archive::PlaceEntry(uint32_t storedSize, int& slot, uint32_t& dataOffset) const
{
    slot = -1;
    for (int index : m_freeList) {
        const FileEntry& e = m_entries[index];
        if (e.storedSize == storedSize) {
            slot = index;
            break;
        }
        if (e.storedSize > storedSize && (slot < 0 || e.storedSize < m_entries[slot].storedSize))
            slot = index;
    }
    if (slot >= 0) {
        dataOffset = m_entries[slot].dataOffset;
        return true;
    }
    uint64_t end = kHeaderSize;
    if (!m_entries.empty())
        end = static_cast<uint64_t>(m_entries.back().dataOffset) + m_entries.back().storedSize;
    end = std::max<uint64_t>(end, kHeaderSize);
    if (end + storedSize > 0xFFFFFFFFull) {
        LogPrintf(1, "Archive: %s would pass 4 GiB", m_path.c_str());
        return false;
    }
    dataOffset = static_cast<uint32_t>(end);
    return true;
}

int Archive::CommitEntry(const std::string& name, int slot, FileEntry entry, std::vector<PartRecord> parts)
{
    auto owned = std::make_unique<OwnedData>();
    owned->name = name;
    owned->parts = std::move(parts);
    entry.name = owned->name.c_str();
    entry.nameLength = static_cast<uint32_t>(owned->name.size());
    entry.parts = owned->parts.empty() ? nullptr : owned->parts.data();
    entry.numParts = static_cast<uint32_t>(owned->parts.size());
    int index = slot;
    if (slot >= 0) {
        m_entries[slot] = entry;
        m_owned[slot] = std::move(owned);
        m_freeList.erase(std::find(m_freeList.begin(), m_freeList.end(), slot));
        LinkEntry(slot);
        return index;
    }
    if (m_entries.size() == m_entries.capacity())
        m_entries.reserve(m_entries.size() + 256);
    m_entries.push_back(entry);
    m_links.push_back(Link{0, -1, 0, ""});
    m_owned.push_back(std::move(owned));
    index = static_cast<int>(m_entries.size() - 1);
    if (BucketCountFor(static_cast<unsigned>(m_entries.size())) != m_buckets.size())
        BuildHash();
    else
        LinkEntry(index);
    return index;
}

int Archive::AddFileFromMemory(const char* name, const unsigned char* data, unsigned size, int level)
{
    if (!m_isOpen || m_mode != MODE_UPDATE || !name || (!data && size)) {
        LogPrintf(1, "Archive: cannot add '%s': the archive is not open for update", name ? name : "");
        return -1;
    }
    std::string normalized = name;
    NormalizeName(normalized);
    if (FindNormalized(normalized.data(), static_cast<unsigned>(normalized.size()),
                       HashName(normalized.data(), static_cast<unsigned>(normalized.size()))) >= 0) {
        LogPrintf(1, "Archive: '%s' is in %s already", normalized.c_str(), m_path.c_str());
        return -1;
    }
    FileEntry entry;
    entry.realSize = size;
    entry.adler32 = static_cast<uint32_t>(adler32(adler32(0, nullptr, 0), data, size));
    uint64_t now = Platform::CurrentFileTime();
    entry.fileTimeLow = static_cast<uint32_t>(now);
    entry.fileTimeHigh = static_cast<uint32_t>(now >> 32);

    std::vector<PartRecord> parts;
    std::vector<uint8_t> compressed;
    const uint8_t* stored = data;
    uint32_t storedSize = size;
    if (level == 0) {
        entry.storageType = STORAGE_PLAIN;
    } else {
        entry.storageType = STORAGE_COMPRESSED;
        uLong bound = compressBound(m_blockSize);
        unsigned blocks = (size + m_blockSize - 1) / m_blockSize;
        compressed.resize(static_cast<size_t>(bound) * blocks);
        uint64_t used = 0;
        for (unsigned done = 0; done < size;) {
            unsigned plain = std::min(m_blockSize, size - done);
            uLongf out = bound;
            if (compress2(compressed.data() + used, &out, data + done, plain, level) != Z_OK) {
                LogPrintf(1, "Archive: compressing '%s' at level %d failed", normalized.c_str(), level);
                return -1;
            }
            parts.push_back(PartRecord{static_cast<uint32_t>(used), static_cast<uint32_t>(out), plain});
            used += out;
            done += plain;
        }
        if (used > 0xFFFFFFFFull)
            return -1;
        storedSize = static_cast<uint32_t>(used);
        stored = compressed.data();
    }
    int slot;
    uint32_t dataOffset;
    if (!PlaceEntry(storedSize, slot, dataOffset))
        return -1;
    if (storedSize && !m_file.WriteAt(dataOffset, stored, storedSize)) {
        LogPrintf(1, "Archive: writing '%s' into %s failed", normalized.c_str(), m_path.c_str());
        return -1;
    }
    for (PartRecord& part : parts)
        part.offset += dataOffset;
    entry.dataOffset = dataOffset;
    entry.storedSize = storedSize;
    return CommitEntry(normalized, slot, entry, std::move(parts));
}

int Archive::AddFileFromDisk(const char* path, int level)
{
    if (!path || !*path)
        return -1;
    if (!m_isOpen || m_mode != MODE_UPDATE) {
        LogPrintf(1, "Archive: cannot add %s: the archive is not open for update", path);
        return -1;
    }
    std::string normalized = path;
    NormalizeName(normalized);
    if (FindNormalized(normalized.data(), static_cast<unsigned>(normalized.size()),
                       HashName(normalized.data(), static_cast<unsigned>(normalized.size()))) >= 0) {
        LogPrintf(1, "Archive: '%s' is in %s already", normalized.c_str(), m_path.c_str());
        return -1;
    }
    Platform::PlatformFile in;
    uint64_t size64 = 0, time = 0;
    if (!in.Open(path, Platform::FileOpenMode::Read) || !in.GetSize(size64) || !in.GetLastWriteTime(time)) {
        LogPrintf(1, "Archive: cannot read %s", path);
        return -1;
    }
    if (size64 > 0xFFFFFFFFull) {
        LogPrintf(1, "Archive: %s is too large for an archive", path);
        return -1;
    }
    auto size = static_cast<uint32_t>(size64);
    FileEntry entry;
    entry.realSize = size;
    entry.fileTimeLow = static_cast<uint32_t>(time);
    entry.fileTimeHigh = static_cast<uint32_t>(time >> 32);
    uLong adler = adler32(0, nullptr, 0);
    std::vector<uint8_t> piece(std::min<uint32_t>(std::max<uint32_t>(size, 1), m_blockSize));

    if (level == 0) {
        entry.storageType = STORAGE_PLAIN;
        int slot;
        uint32_t dataOffset;
        if (!PlaceEntry(size, slot, dataOffset))
            return -1;
        for (uint32_t done = 0; done < size;) {
            uint32_t count = std::min<uint32_t>(static_cast<uint32_t>(piece.size()), size - done);
            if (in.ReadAt(done, piece.data(), count) != count ||
                !m_file.WriteAt(dataOffset + done, piece.data(), count)) {
                LogPrintf(1, "Archive: copying %s into %s failed", path, m_path.c_str());
                return -1;
            }
            adler = adler32(adler, piece.data(), count);
            done += count;
        }
        entry.adler32 = static_cast<uint32_t>(adler);
        entry.dataOffset = dataOffset;
        entry.storedSize = size;
        return CommitEntry(normalized, slot, entry, {});
    }

    entry.storageType = STORAGE_COMPRESSED;
    uLong bound = compressBound(m_blockSize);
    std::vector<uint8_t> compressed;
    std::vector<PartRecord> parts;
    for (uint32_t done = 0; done < size;) {
        uint32_t count = std::min(m_blockSize, size - done);
        if (in.ReadAt(done, piece.data(), count) != count) {
            LogPrintf(1, "Archive: reading %s failed", path);
            return -1;
        }
        adler = adler32(adler, piece.data(), count);
        size_t used = compressed.size();
        compressed.resize(used + bound);
        uLongf out = bound;
        if (compress2(compressed.data() + used, &out, piece.data(), count, level) != Z_OK) {
            LogPrintf(1, "Archive: compressing %s at level %d failed", path, level);
            return -1;
        }
        compressed.resize(used + out);
        parts.push_back(PartRecord{static_cast<uint32_t>(used), static_cast<uint32_t>(out), count});
        done += count;
    }
    if (compressed.size() > 0xFFFFFFFFull)
        return -1;
    auto storedSize = static_cast<uint32_t>(compressed.size());
    int slot;
    uint32_t dataOffset;
    if (!PlaceEntry(storedSize, slot, dataOffset))
        return -1;
    if (storedSize && !m_file.WriteAt(dataOffset, compressed.data(), storedSize)) {
        LogPrintf(1, "Archive: writing %s into %s failed", path, m_path.c_str());
        return -1;
    }
    for (PartRecord& part : parts)
        part.offset += dataOffset;
    entry.adler32 = static_cast<uint32_t>(adler);
    entry.dataOffset = dataOffset;
    entry.storedSize = storedSize;
    return CommitEntry(normalized, slot, entry, std::move(parts));
}

bool Archive::RemoveFile(int index)
{
    if (m_mode != MODE_UPDATE || !m_isOpen || index < 0 || index >= static_cast<int>(m_entries.size()))
        return false;
    FileEntry& e = m_entries[index];
    if (!e.IsInUse())
        return false;
    UnlinkEntry(index);
    uint32_t dataOffset = e.dataOffset, storedSize = e.storedSize;
    e = FileEntry();
    e.dataOffset = dataOffset;
    e.storedSize = storedSize;
    m_owned[index].reset();
    m_freeList.push_back(index);
    return true;
}

bool Archive::Compact()
{
    if (m_mode != MODE_UPDATE || !m_isOpen)
        return false;
    std::vector<int> used;
    for (size_t i = 0; i < m_entries.size(); ++i)
        if (m_entries[i].IsInUse())
            used.push_back(static_cast<int>(i));
    // Packing in data order moves every block towards the front, never over bytes not yet moved.
    std::vector<int> byOffset = used;
    std::stable_sort(byOffset.begin(), byOffset.end(),
                     [this](int a, int b) { return m_entries[a].dataOffset < m_entries[b].dataOffset; });
    if (m_fileBuffer.size() < kCopyPiece)
        m_fileBuffer.resize(kCopyPiece);
    uint32_t packing = kHeaderSize;
    bool ok = true;
    for (int index : byOffset) {
        FileEntry& e = m_entries[index];
        if (e.dataOffset != packing) {
            for (uint32_t done = 0; done < e.storedSize && ok;) {
                uint32_t count = std::min<uint32_t>(static_cast<uint32_t>(kCopyPiece), e.storedSize - done);
                ok = ReadRaw(static_cast<uint64_t>(e.dataOffset) + done, m_fileBuffer.data(), count) ==
                         count &&
                     m_file.WriteAt(static_cast<uint64_t>(packing) + done, m_fileBuffer.data(), count);
                done += count;
            }
            if (!ok) {
                LogPrintf(1, "Archive: moving '%s' while compacting %s failed", e.name, m_path.c_str());
                break;
            }
            for (PartRecord& part : m_owned[index]->parts)
                part.offset = part.offset - e.dataOffset + packing;
            e.dataOffset = packing;
        }
        packing += e.storedSize;
    }
    if (!ok)
        return false;
    std::vector<FileEntry> entries;
    std::vector<std::unique_ptr<OwnedData>> owned;
    entries.reserve(used.size());
    owned.reserve(used.size());
    for (int index : used) {
        entries.push_back(m_entries[index]);
        owned.push_back(std::move(m_owned[index]));
    }
    m_entries = std::move(entries);
    m_owned = std::move(owned);
    m_freeList.clear();
    BuildHash();
    return true;
}

void Archive::CalcStats(Stats& stats) const
{
    stats = Stats();
    stats.numEntries = GetNumFiles();
    stats.numBuckets = static_cast<unsigned>(m_buckets.size());
    for (const FileEntry& e : m_entries) {
        if (e.IsInUse())
            ++stats.numUsed;
        stats.tableBytes += e.nameLength + 12 * e.numParts + 49;
        stats.longestName = std::max(stats.longestName, e.nameLength);
    }
    unsigned nonEmpty = 0;
    for (int32_t head : m_buckets) {
        unsigned length = 0;
        for (int32_t i = head; i >= 0; i = m_links[i].next)
            ++length;
        if (length)
            ++nonEmpty;
        stats.longestChain = std::max(stats.longestChain, length);
    }
    stats.averageChain = nonEmpty ? static_cast<float>(stats.numUsed) / static_cast<float>(nonEmpty) : 0.0f;
}

void Archive::FreeFileBuffer()
{
    m_fileBuffer.clear();
    m_fileBuffer.shrink_to_fit();
}

} // namespace GAME
