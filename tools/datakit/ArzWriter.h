// Writes record databases (".arz") as the engine's DatabaseArchive reads them: a six-word header,
// the record bodies (each one zlib stream when compressed), the record table, the string table
// and an optional 16-byte footer. The engine only reads the format; tests, fuzz seeds, the
// benchmark and the sample host make their databases here. Besides well-formed databases it can
// write the odd ones tests need: strings stored twice, raw string indices, hand-made bodies, and
// the layout of every piece so a test can damage exactly one field. One thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace DataKit {

class ArzWriter
{
public:
    enum FieldType : uint32_t
    {
        FIELD_INT = 0,
        FIELD_FLOAT = 1,
        FIELD_STRING = 2,
        FIELD_BOOL = 3,
    };

    // Where the pieces of the last image went, as absolute file offsets.
    struct Layout
    {
        uint32_t recordTableOffset = 0;
        uint32_t recordTableSize = 0;
        uint32_t stringTableOffset = 0;
        uint32_t stringTableSize = 0;
        std::vector<uint32_t> entryOffsets;  // start of each record-table entry
        std::vector<uint32_t> bodyOffsets;   // start of each stored body
        std::vector<uint32_t> bodySizes;     // stored (compressed) size of each body
        std::vector<uint32_t> stringOffsets; // start of each string's length word
    };

    // A record's fields, written in the order they are added. Field names and string values go
    // through the writer's pool.
    class Record
    {
    public:
        Record& Int(const std::string& name, const std::vector<int32_t>& values);
        Record& Float(const std::string& name, const std::vector<float>& values);
        Record& String(const std::string& name, const std::vector<std::string>& values);
        Record& Bool(const std::string& name, const std::vector<bool>& values);
        Record& Int(const std::string& name, int32_t value) { return Int(name, std::vector<int32_t>{value}); }
        Record& Float(const std::string& name, float value) { return Float(name, std::vector<float>{value}); }
        Record& String(const std::string& name, const std::string& value)
        {
            return String(name, std::vector<std::string>{value});
        }
        Record& Bool(const std::string& name, bool value) { return Bool(name, std::vector<bool>{value}); }
        // A field as stored: any type number, the name's string index and the value words as
        // given (no pool look-ups).
        Record& Raw(uint32_t type, uint32_t nameIndex, const std::vector<uint32_t>& words);
        // Replaces the body with these bytes (stored as given, compressed when the database is).
        Record& Body(const std::vector<uint8_t>& bytes);

        const std::vector<uint8_t>& GetBody() const { return m_body; }

    private:
        friend class ArzWriter;
        Record(ArzWriter* writer, uint32_t nameIndex, std::string type);
        void Head(uint32_t type, uint32_t count, uint32_t nameIndex);
        void Word(uint32_t word);

        ArzWriter* m_writer;
        uint32_t m_nameIndex;
        std::string m_type;
        std::vector<uint8_t> m_body;
        uint32_t m_extra[2] = {0, 0};
    };

    explicit ArzWriter(bool compressed = true);
    ArzWriter(const ArzWriter&) = delete;
    ArzWriter& operator=(const ArzWriter&) = delete;

    // Low 16 bits of the header's first word (4 by default).
    void SetVersion(uint16_t version) { m_version = version; }
    void SetCompressed(bool compressed) { m_compressed = compressed; }
    void SetCompressionLevel(int level) { m_level = level; }
    // With a footer, bit 17 is set and four adler32 words end the file: the image before the
    // footer, the string table, the bodies and the record table, each from adler32's start value.
    void SetFooter(bool footer) { m_footer = footer; }

    // Index of the text in the pool, added when absent.
    uint32_t AddString(const std::string& text);
    // Appends the text as a new entry even when the pool holds it already; returns its index.
    uint32_t AppendString(const std::string& text);
    uint32_t GetStringCount() const { return static_cast<uint32_t>(m_strings.size()); }

    // A record named by a pooled string (names are stored as given: the engine looks them up in
    // lower case with '\'). The reference stays valid until the next AddRecord.
    Record& AddRecord(const std::string& name, const std::string& type = "Record");
    Record& AddRecordRaw(uint32_t nameIndex, const std::string& type = "Record");

    // The file image; false only when compression failed.
    bool Build(std::vector<uint8_t>& image, Layout* layout = nullptr) const;
    std::vector<uint8_t> Build() const;
    bool Save(const std::string& path) const;

private:
    bool m_compressed;
    bool m_footer = false;
    uint16_t m_version = 4;
    int m_level = 6;
    std::vector<std::string> m_strings;
    std::unordered_map<std::string, uint32_t> m_index; // first index of each text
    std::vector<Record> m_records;
};

// The record name the engine looks up for a path: lower case, '/' turned into '\'.
std::string NormalizeRecordName(const std::string& name);

} // namespace DataKit
