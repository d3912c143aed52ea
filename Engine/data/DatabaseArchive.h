// The record database (".arz"): the bodies of every game-object record, the table that finds a
// record's body by its name, and the pool of strings the records name (record names, field names,
// string values). The main database is loaded first; a mod's database loaded after it is merged:
// its records replace base records of the same name and its string indices are translated to the
// pooled ones. Only reads the format (tools/datakit writes it).
//
// Threads: Load runs while nothing else uses the archive. GetRecord shares one decompression
// buffer, so lookups run on one thread at a time (the main thread, or under the table depot's
// lock) and a returned body is valid until the next lookup. The string look-ups that never change
// the pool (GetStringIndex, GetString) may be called from any thread once loading is done;
// GetStringIndexCached keeps a pointer cache under the archive's own pool lock.
#pragma once

#include "core/CriticalSection.h"
#include "data/StringTable.h"

#include <cstdint>
#include <string>
#include <vector>

struct libdeflate_decompressor;

namespace GAME {

class DatabaseArchive
{
public:
    enum FieldType : uint32_t
    {
        FIELD_INT = 0,
        FIELD_FLOAT = 1,
        FIELD_STRING = 2,
        FIELD_BOOL = 3,
    };

    static constexpr uint32_t kHeaderSize = 24;
    static constexpr uint32_t kFlagCompressed = 1u << 16;
    static constexpr uint32_t kFlagFooter = 1u << 17;
    static constexpr unsigned kInitialBufferSize = 10240;
    static constexpr unsigned kMaxBodySize = 1u << 20;

    struct Header
    {
        uint32_t flags = 0; // bits 0-15 version, 16 compressed, 17 footer
        uint32_t recordTableOffset = 0;
        uint32_t recordTableSize = 0;
        uint32_t recordCount = 0;
        uint32_t stringTableOffset = 0;
        uint32_t stringTableSize = 0;
    };

    struct Record
    {
        int nameIndex = -1; // pooled index of the record's name as stored
        std::string type;
        uint32_t offset = 0; // in the body block
        uint32_t size = 0;   // as stored
        uint32_t extra[2] = {0, 0};
        uint32_t database = 0; // which loaded database it came from
    };

    DatabaseArchive();
    virtual ~DatabaseArchive();
    DatabaseArchive(const DatabaseArchive&) = delete;
    DatabaseArchive& operator=(const DatabaseArchive&) = delete;

    // Loads one database image (the bytes are copied). The first successful load is the main
    // database; every later one is merged into it, whatever `merge` says. The whole image is
    // checked before anything is taken from it: a bad image changes nothing, logs one line and
    // gives false.
    bool Load(const void* image, unsigned size, bool merge);

    // The body of the record of that name (case and slash direction ignored): the bytes stay
    // valid until the next GetRecord. False, with null and 0, when there is no such record or its
    // body cannot be inflated or is damaged (logged).
    bool GetRecord(const std::string& name, const void*& body, unsigned& size);
    bool GetRecord(const char* name, const void*& body, unsigned& size);
    bool HasRecord(const std::string& name) const;

    // Pooled index of a text, -1 when the pool does not hold it. Never changes the pool.
    int GetStringIndex(const std::string& text) const;
    int GetStringIndex(const char* text) const;
    // The same through the pool's pointer cache (repeated look-ups with one literal cost a string
    // comparison); takes the pool lock, never adds the text.
    int GetStringIndexCached(const char* text);
    // The pooled string, null when the index is out of range.
    const char* GetString(int index) const;
    unsigned GetNumStrings() const { return m_strings.GetCount(); }

    unsigned GetNumRecords() const { return static_cast<unsigned>(m_records.size()); }
    unsigned GetNumDatabases() const { return static_cast<unsigned>(m_databases.size()); }
    // Names (as stored) of every record, in no particular order.
    void GetRecordNames(std::vector<std::string>& names) const;
    const Record* FindRecord(const std::string& name) const;

    bool IsLoaded() const { return !m_databases.empty(); }
    bool IsCompressed() const { return (m_header.flags & kFlagCompressed) != 0; }
    unsigned GetVersion() const { return m_header.flags & 0xFFFF; }
    const Header& GetHeader() const { return m_header; }
    unsigned GetMinimumVersion() const { return m_minimumVersion; }

    // The four footer words: the first database's as stored, continued with adler32 over each
    // later database (image, string table, bodies, record table).
    bool HasChecksums() const { return m_hasChecksums; }
    uint32_t GetChecksum(unsigned word = 0) const { return word < 4 ? m_checksums[word] : 0; }

    unsigned GetBodyBlockSize() const { return static_cast<unsigned>(m_bodies.size()); }
    unsigned GetBufferCapacity() const { return static_cast<unsigned>(m_buffer.size()); }
    unsigned GetLastInflatedSize() const { return m_lastInflatedSize; }
    // Decompression statistics are not gathered.
    const char* GetStatistics() const { return "Unavailable"; }

    // Empties the archive (a following Load is a main database again).
    void Clear();

private:
    struct Database
    {
        uint32_t bodyStart = 0; // position of its bodies in the block
        uint32_t stringCount = 0;
        // Stored string index -> pooled index; empty when every index maps to itself.
        std::vector<int> remap;
    };

    // Walks a body's fields: each must fit the body and name strings its database holds. With an
    // output and a remap table, the translated name and string-value indices are written to
    // `out` (which may be `in`). Null when sound, else what is wrong.
    static const char* CheckBody(const uint8_t* in, unsigned size, const Database& database, uint8_t* out);

    // Open-addressing index from a record's name (lower case, '\\') to its record, with what a
    // lookup needs kept in the slot: finding a body touches the slot and the name's characters.
    struct alignas(32) Slot
    {
        uint32_t hash;
        uint32_t length;
        const char* name; // the pooled text
        uint32_t record;  // kEmptySlot when unused
        uint32_t database;
        uint32_t offset;
        uint32_t size;
    };
    static constexpr uint32_t kEmptySlot = 0xFFFFFFFFu;
    const Slot* FindSlot(const char* name, size_t length, std::string& scratch) const;
    void InsertRecord(const char* key, Record&& record);
    void GrowIndex();
    bool GetRecord(const char* name, size_t length, const void*& body, unsigned& size);
    bool Inflate(const uint8_t* data, unsigned size);

    unsigned m_minimumVersion = 4;
    uint32_t m_checksums[4] = {0, 0, 0, 0};
    bool m_hasChecksums = false;
    std::vector<uint8_t> m_bodies;
    Header m_header;
    std::vector<Record> m_records;
    std::vector<Slot> m_index; // a power of two long, at most half full
    StringTable m_strings;
    CriticalSection m_poolLock;
    std::vector<Database> m_databases;

    std::vector<uint8_t> m_buffer;
    std::string m_lookupName; // GetRecord's normalised name, kept to spare an allocation
    unsigned m_lastInflatedSize = 0;
    libdeflate_decompressor* m_decompressor = nullptr;
};

} // namespace GAME
