#include "data/DatabaseArchive.h"

#include "core/Log.h"
#include "data/BinaryReader.h"

#include <algorithm>
#include <cstring>
#include <libdeflate.h>
#include <string_view>
#include <zlib.h>

namespace GAME {

namespace {

uint32_t Load32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v; // the engine runs on little-endian machines only
}

void Store32(uint8_t* p, uint32_t v)
{
    std::memcpy(p, &v, 4);
}

// Record names are looked up in lower case with '\' (C locale, bytes above 127 unchanged).
void NormalizeName(const char* name, size_t length, std::string& out)
{
    out.assign(name, length);
    for (char& c : out) {
        if (c == '/')
            c = '\\';
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
}

uint32_t HashName(const char* text, size_t length)
{
    uint64_t h = 0x9E3779B97F4A7C15ull ^ length;
    for (; length >= 8; text += 8, length -= 8) {
        uint64_t word;
        std::memcpy(&word, text, 8);
        h = (h ^ word) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
    }
    uint64_t tail = 0;
    std::memcpy(&tail, text, length);
    h = (h ^ tail) * 0xC4CEB9FE1A85EC53ull;
    return static_cast<uint32_t>(h ^ (h >> 29));
}

bool IsNormalized(std::string_view name)
{
    for (char c : name)
        if (c == '/' || (c >= 'A' && c <= 'Z'))
            return false;
    return true;
}

struct ParsedRecord
{
    uint32_t nameIndex;
    std::string type;
    uint32_t offset;
    uint32_t size;
    uint32_t extra[2];
};

} // namespace

DatabaseArchive::DatabaseArchive() : m_buffer(kInitialBufferSize) {}

DatabaseArchive::~DatabaseArchive()
{
    if (m_decompressor)
        libdeflate_free_decompressor(m_decompressor);
}

void DatabaseArchive::Clear()
{
    m_checksums[0] = m_checksums[1] = m_checksums[2] = m_checksums[3] = 0;
    m_hasChecksums = false;
    std::vector<uint8_t>().swap(m_bodies);
    m_header = Header();
    m_records.clear();
    m_index.clear();
    m_strings.Clear();
    m_databases.clear();
    m_lastInflatedSize = 0;
}

const char* DatabaseArchive::CheckBody(const uint8_t* in, unsigned size, const Database& database,
                                       uint8_t* out)
{
    const bool remap = out && !database.remap.empty();
    const uint32_t strings = database.stringCount;
    unsigned position = 0;
    while (position < size) {
        if (size - position < 8)
            return "a field head runs past the end of the body";
        uint32_t head = Load32(in + position);
        uint32_t name = Load32(in + position + 4);
        uint32_t type = head & 0xFFFF;
        uint32_t count = head >> 16;
        position += 8;
        if (type > FIELD_BOOL)
            continue; // a type the engine does not know carries no values and is never looked up
        if (name >= strings)
            return "a field name lies outside the string table";
        if (remap)
            Store32(out + position - 4, static_cast<uint32_t>(database.remap[name]));
        if (count > (size - position) / 4)
            return "a field's values run past the end of the body";
        if (type == FIELD_STRING) {
            for (uint32_t i = 0; i < count; ++i) {
                uint32_t value = Load32(in + position + 4 * i);
                if (value >= strings)
                    return "a string value lies outside the string table";
                if (remap)
                    Store32(out + position + 4 * i, static_cast<uint32_t>(database.remap[value]));
            }
        }
        position += 4 * count;
    }
    return nullptr;
}

bool DatabaseArchive::Load(const void* image, unsigned size, bool /*merge*/)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(image);
    if (!bytes || size < kHeaderSize) {
        LogPrintf(1, "DatabaseArchive: an image of %u bytes holds no header", bytes ? size : 0u);
        return false;
    }

    // Everything is checked before the archive takes anything: a bad image leaves it unchanged.
    Header header;
    header.flags = Load32(bytes);
    header.recordTableOffset = Load32(bytes + 4);
    header.recordTableSize = Load32(bytes + 8);
    header.recordCount = Load32(bytes + 12);
    header.stringTableOffset = Load32(bytes + 16);
    header.stringTableSize = Load32(bytes + 20);

    const bool first = m_databases.empty();
    const unsigned version = header.flags & 0xFFFF;
    if (version < m_minimumVersion) {
        LogPrintf(1, "DatabaseArchive: version %u is older than %u", version, m_minimumVersion);
        return false;
    }
    if (!first && ((header.flags ^ m_header.flags) & kFlagCompressed)) {
        LogPrintf(1, "DatabaseArchive: a database that is%s compressed cannot join one that is%s",
                  (header.flags & kFlagCompressed) ? "" : " not", IsCompressed() ? "" : " not");
        return false;
    }
    if (header.recordTableOffset < kHeaderSize ||
        uint64_t(header.recordTableOffset) + header.recordTableSize > size) {
        LogPrintf(1, "DatabaseArchive: the record table (offset %u, %u bytes) lies outside the %u-byte image",
                  header.recordTableOffset, header.recordTableSize, size);
        return false;
    }
    if (header.stringTableOffset < kHeaderSize ||
        uint64_t(header.stringTableOffset) + header.stringTableSize > size) {
        LogPrintf(1, "DatabaseArchive: the string table (offset %u, %u bytes) lies outside the %u-byte image",
                  header.stringTableOffset, header.stringTableSize, size);
        return false;
    }

    // Strings: index = position in the stored table, repeats included.
    BinaryReader stringReader(bytes + header.stringTableOffset, header.stringTableSize);
    const uint32_t stringCount = stringReader.ReadUInt32();
    // Every string takes at least its length word.
    if (stringReader.Failed() || uint64_t(stringCount) * 4 > stringReader.GetRemaining()) {
        LogPrintf(1, "DatabaseArchive: the string table cannot hold %u strings in %u bytes", stringCount,
                  header.stringTableSize);
        return false;
    }
    std::vector<std::string_view> texts;
    texts.reserve(stringCount);
    for (uint32_t i = 0; i < stringCount; ++i) {
        uint32_t length = stringReader.ReadUInt32();
        if (stringReader.Failed() || length > BinaryReader::kMaxStringLength ||
            length > stringReader.GetRemaining()) {
            LogPrintf(1, "DatabaseArchive: string %u of %u runs past the string table", i, stringCount);
            return false;
        }
        texts.emplace_back(reinterpret_cast<const char*>(stringReader.GetCursor()), length);
        stringReader.Skip(length);
    }

    // Records: every name and body must lie inside this image.
    const uint32_t bodiesSize = header.recordTableOffset - kHeaderSize;
    BinaryReader table(bytes + header.recordTableOffset, header.recordTableSize);
    // An entry takes at least 24 bytes (a type of no characters).
    if (uint64_t(header.recordCount) * 24 > header.recordTableSize) {
        LogPrintf(1, "DatabaseArchive: the record table cannot hold %u records in %u bytes",
                  header.recordCount, header.recordTableSize);
        return false;
    }
    std::vector<ParsedRecord> parsed(header.recordCount);
    for (uint32_t i = 0; i < header.recordCount; ++i) {
        ParsedRecord& record = parsed[i];
        record.nameIndex = table.ReadUInt32();
        uint32_t typeLength = table.ReadUInt32();
        if (!table.Failed() && typeLength <= BinaryReader::kMaxStringLength &&
            typeLength <= table.GetRemaining()) {
            record.type.assign(reinterpret_cast<const char*>(table.GetCursor()), typeLength);
            table.Skip(typeLength);
        } else {
            table.Fail();
        }
        record.offset = table.ReadUInt32();
        record.size = table.ReadUInt32();
        record.extra[0] = table.ReadUInt32();
        record.extra[1] = table.ReadUInt32();
        if (table.Failed()) {
            LogPrintf(1, "DatabaseArchive: record %u of %u runs past the record table", i,
                      header.recordCount);
            return false;
        }
        if (record.nameIndex >= stringCount) {
            LogPrintf(1, "DatabaseArchive: record %u is named by string %u of %u", i, record.nameIndex,
                      stringCount);
            return false;
        }
        if (uint64_t(record.offset) + record.size > bodiesSize) {
            LogPrintf(1,
                      "DatabaseArchive: the body of record %u (offset %u, %u bytes) runs past the %u bytes "
                      "of bodies",
                      i, record.offset, record.size, bodiesSize);
            return false;
        }
    }

    Database database;
    database.stringCount = stringCount;
    // Stored bodies are checked now; compressed ones when they are inflated.
    if (!(header.flags & kFlagCompressed)) {
        for (uint32_t i = 0; i < header.recordCount; ++i) {
            const ParsedRecord& record = parsed[i];
            if (const char* reason =
                    CheckBody(bytes + kHeaderSize + record.offset, record.size, database, nullptr)) {
                std::string name(texts[record.nameIndex]);
                LogPrintf(1, "DatabaseArchive: record %s: %s", name.c_str(), reason);
                return false;
            }
        }
    }

    // The image is sound: take it.
    if (first) {
        Clear();
        m_header = header;
    }
    database.bodyStart = static_cast<uint32_t>(m_bodies.size());
    database.remap.resize(stringCount);
    bool identity = true;
    std::string text;
    for (uint32_t i = 0; i < stringCount; ++i) {
        text.assign(texts[i]);
        int index;
        if (m_strings.AddString(text))
            index = static_cast<int>(m_strings.GetCount()) - 1;
        else
            index = m_strings.Find(text);
        database.remap[i] = index;
        identity = identity && index == static_cast<int>(i);
    }
    if (identity)
        std::vector<int>().swap(database.remap);

    m_bodies.insert(m_bodies.end(), bytes + kHeaderSize, bytes + header.recordTableOffset);

    const uint32_t databaseIndex = static_cast<uint32_t>(m_databases.size());
    m_records.reserve(m_records.size() + parsed.size());
    while ((m_records.size() + parsed.size()) * 2 > m_index.size())
        GrowIndex();
    std::string normalized;
    for (ParsedRecord& in : parsed) {
        Record record;
        record.nameIndex = identity ? static_cast<int>(in.nameIndex) : database.remap[in.nameIndex];
        record.type = std::move(in.type);
        record.offset = in.offset + database.bodyStart;
        record.size = in.size;
        record.extra[0] = in.extra[0];
        record.extra[1] = in.extra[1];
        record.database = databaseIndex;
        // Lookups come in lower case with '\'; a name stored otherwise is keyed by that form too.
        int key = record.nameIndex;
        std::string_view stored = texts[in.nameIndex];
        if (!IsNormalized(stored)) {
            NormalizeName(stored.data(), stored.size(), normalized);
            m_strings.AddString(normalized);
            key = m_strings.Find(normalized);
        }
        InsertRecord(m_strings.GetString(key), std::move(record)); // a later database overrides
    }

    if ((header.flags & kFlagFooter) && size >= 16) {
        if (!m_hasChecksums) {
            for (int i = 0; i < 4; ++i)
                m_checksums[i] = Load32(bytes + size - 16 + 4 * i);
            m_hasChecksums = true;
        } else {
            m_checksums[0] = static_cast<uint32_t>(adler32(m_checksums[0], bytes, size));
            m_checksums[1] = static_cast<uint32_t>(
                adler32(m_checksums[1], bytes + header.stringTableOffset, header.stringTableSize));
            m_checksums[2] = static_cast<uint32_t>(adler32(m_checksums[2], bytes + kHeaderSize, bodiesSize));
            m_checksums[3] = static_cast<uint32_t>(
                adler32(m_checksums[3], bytes + header.recordTableOffset, header.recordTableSize));
        }
    }

    m_databases.push_back(std::move(database));
    return true;
}

bool DatabaseArchive::Inflate(const uint8_t* data, unsigned size)
{
    if (!m_decompressor)
        m_decompressor = libdeflate_alloc_decompressor();
    if (!m_decompressor) {
        LogPrintf(1, "DatabaseArchive: no decompressor could be made");
        return false;
    }
    for (int retry = 0; retry <= 100; ++retry) {
        size_t inflated = 0;
        libdeflate_result result = libdeflate_zlib_decompress(m_decompressor, data, size, m_buffer.data(),
                                                              m_buffer.size(), &inflated);
        if (result == LIBDEFLATE_SUCCESS) {
            m_lastInflatedSize = static_cast<unsigned>(inflated);
            return true;
        }
        if (result != LIBDEFLATE_INSUFFICIENT_SPACE)
            return false;
        if (m_buffer.size() >= kMaxBodySize)
            return false;
        // Doubling reaches the cap in a few tries whatever the body's compression ratio.
        size_t capacity = std::max<size_t>(m_buffer.size() * 2, size_t(3) * size);
        capacity = std::min<size_t>((capacity + 1023) & ~size_t(1023), kMaxBodySize);
        std::vector<uint8_t>().swap(m_buffer);
        m_buffer.resize(capacity);
    }
    return false;
}

void DatabaseArchive::GrowIndex()
{
    std::vector<Slot> old;
    old.swap(m_index);
    m_index.assign(old.empty() ? 64 : old.size() * 2, Slot{0, 0, nullptr, kEmptySlot, 0, 0, 0});
    const size_t mask = m_index.size() - 1;
    for (const Slot& slot : old) {
        if (slot.record == kEmptySlot)
            continue;
        size_t i = slot.hash & mask;
        while (m_index[i].record != kEmptySlot)
            i = (i + 1) & mask;
        m_index[i] = slot;
    }
}

void DatabaseArchive::InsertRecord(const char* key, Record&& record)
{
    if ((m_records.size() + 1) * 2 > m_index.size())
        GrowIndex();
    const size_t length = std::strlen(key);
    const uint32_t hash = HashName(key, length);
    const size_t mask = m_index.size() - 1;
    size_t i = hash & mask;
    for (; m_index[i].record != kEmptySlot; i = (i + 1) & mask) {
        Slot& slot = m_index[i];
        if (slot.hash == hash && slot.length == length && std::memcmp(slot.name, key, length) == 0) {
            slot.offset = record.offset;
            slot.size = record.size;
            slot.database = record.database;
            m_records[slot.record] = std::move(record);
            return;
        }
    }
    m_index[i] = Slot{hash,
                      static_cast<uint32_t>(length),
                      key,
                      static_cast<uint32_t>(m_records.size()),
                      record.database,
                      record.offset,
                      record.size};
    m_records.push_back(std::move(record));
}

const DatabaseArchive::Slot* DatabaseArchive::FindSlot(const char* name, size_t length,
                                                       std::string& scratch) const
{
    if (m_index.empty())
        return nullptr;
    NormalizeName(name, length, scratch);
    const uint32_t hash = HashName(scratch.data(), length);
    const size_t mask = m_index.size() - 1;
    for (size_t i = hash & mask; m_index[i].record != kEmptySlot; i = (i + 1) & mask) {
        const Slot& slot = m_index[i];
        if (slot.hash != hash || slot.length != length)
            continue;
        // Almost surely the record: start fetching its body while the name is compared.
        const uint8_t* stored = m_bodies.data() + slot.offset;
        for (uint32_t line = 0; line < slot.size && line < 512; line += 64)
            __builtin_prefetch(stored + line);
        if (std::memcmp(slot.name, scratch.data(), length) == 0)
            return &slot;
    }
    return nullptr;
}

bool DatabaseArchive::GetRecord(const std::string& name, const void*& body, unsigned& size)
{
    return GetRecord(name.data(), name.size(), body, size);
}

bool DatabaseArchive::GetRecord(const char* name, const void*& body, unsigned& size)
{
    if (!name) {
        body = nullptr;
        size = 0;
        return false;
    }
    return GetRecord(name, std::strlen(name), body, size);
}

bool DatabaseArchive::GetRecord(const char* name, size_t length, const void*& body, unsigned& size)
{
    body = nullptr;
    size = 0;
    const Slot* slot = FindSlot(name, length, m_lookupName);
    if (!slot)
        return false;
    const Slot& record = *slot;
    const Database& database = m_databases[record.database];
    const uint8_t* stored = m_bodies.data() + record.offset;

    if (!IsCompressed()) {
        if (database.remap.empty()) {
            body = stored;
            size = record.size;
            return true;
        }
        // Checked at load; the translated copy goes to the buffer so the block stays as stored.
        if (m_buffer.size() < record.size)
            m_buffer.resize(record.size);
        std::memcpy(m_buffer.data(), stored, record.size);
        CheckBody(m_buffer.data(), record.size, database, m_buffer.data());
        m_lastInflatedSize = record.size;
        body = m_buffer.data();
        size = record.size;
        return true;
    }

    if (!Inflate(stored, record.size)) {
        LogPrintf(1,
                  "DatabaseArchive: the body of record %s (%u bytes) does not inflate into %u bytes or fewer",
                  m_lookupName.c_str(), record.size, kMaxBodySize);
        return false;
    }
    if (const char* reason = CheckBody(m_buffer.data(), m_lastInflatedSize, database,
                                       database.remap.empty() ? nullptr : m_buffer.data())) {
        LogPrintf(1, "DatabaseArchive: record %s: %s", m_lookupName.c_str(), reason);
        return false;
    }
    body = m_buffer.data();
    size = m_lastInflatedSize;
    return true;
}

const DatabaseArchive::Record* DatabaseArchive::FindRecord(const std::string& name) const
{
    std::string scratch;
    const Slot* slot = FindSlot(name.data(), name.size(), scratch);
    return slot ? &m_records[slot->record] : nullptr;
}

bool DatabaseArchive::HasRecord(const std::string& name) const
{
    return FindRecord(name) != nullptr;
}

void DatabaseArchive::GetRecordNames(std::vector<std::string>& names) const
{
    names.clear();
    names.reserve(m_records.size());
    for (const Record& record : m_records) {
        const char* text = m_strings.GetString(record.nameIndex);
        names.emplace_back(text ? text : "");
    }
}

int DatabaseArchive::GetStringIndex(const std::string& text) const
{
    return m_strings.Find(text);
}

int DatabaseArchive::GetStringIndex(const char* text) const
{
    if (!text)
        return -1;
    thread_local std::string scratch; // spares an allocation per look-up of a long name
    scratch.assign(text);
    return m_strings.Find(scratch);
}

int DatabaseArchive::GetStringIndexCached(const char* text)
{
    CriticalSectionLock lock(m_poolLock);
    return m_strings.Find(text);
}

const char* DatabaseArchive::GetString(int index) const
{
    return m_strings.GetString(index);
}

} // namespace GAME
