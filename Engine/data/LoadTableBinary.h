// The LoadTable of a record from the record database: typed value arrays instead of text, fields
// found by the pooled index of their name. Answers the same virtual getters as the text table, so
// object code never knows which kind it reads; types do not convert (GetFloat of an integer field
// gives the default). The vector getters append to the caller's vector (the text table's start it
// empty) and leave it unchanged when the field is missing or of another type. Field names are
// looked up in the archive's pool without ever adding to it.
//
// Threads: Deserialize and the name-taking getters hold the table's lock, and the archive's pool
// is only read, so any thread may read a table once its archive has finished loading. The
// index-taking getters skip the lock; use them from the thread that owns the table.
#pragma once

#include "data/IntHashTable.h"
#include "data/LoadTable.h"

#include <cstdint>
#include <vector>

namespace GAME {

class DatabaseArchive;

class LoadTableBinary : public LoadTable
{
public:
    struct Field
    {
        uint32_t type;  // DatabaseArchive::FieldType
        uint32_t first; // the word of the value array holding its first value
        uint32_t count;
        int nameIndex;
    };

    explicit LoadTableBinary(DatabaseArchive* archive);
    ~LoadTableBinary() override;

    // Replaces the table with the fields of a record body (the reader's bytes from its cursor to
    // its end). A damaged body keeps the fields before the damage, fails the reader and logs.
    void Deserialize(BinaryReader& reader) override;
    // Text has no meaning for a binary table.
    void Deserialize(BasicTextParser<char>& parser) override;
    // One "name,value," line per field (first value only), in field-table order.
    void Serialize(FILE* file) override;

    const char* GetValue(const std::string& name, const char* defaultValue) override;
    const char* GetValue(const char* name, const char* defaultValue) override;
    int GetInt(const std::string& name, int defaultValue) override;
    int GetInt(const char* name, int defaultValue) override;
    float GetFloat(const std::string& name, float defaultValue) override;
    float GetFloat(const char* name, float defaultValue) override;
    bool GetBool(const std::string& name, bool defaultValue) override;
    bool GetBool(const char* name, bool defaultValue) override;
    int GetArrayInt(const std::string& name, unsigned int index, int defaultValue) override;
    int GetArrayInt(const char* name, unsigned int index, int defaultValue) override;
    void GetArrayInt(const std::string& name, std::vector<int>& values) override;
    void GetArrayInt(const char* name, std::vector<int>& values) override;
    float GetArrayReal(const std::string& name, unsigned int index, float defaultValue) override;
    float GetArrayReal(const char* name, unsigned int index, float defaultValue) override;
    void GetArrayReal(const std::string& name, std::vector<float>& values) override;
    void GetArrayReal(const char* name, std::vector<float>& values) override;
    const char* GetArrayValue(const std::string& name, unsigned int index, const char* defaultValue) override;
    const char* GetArrayValue(const char* name, unsigned int index, const char* defaultValue) override;
    void GetArrayValue(const std::string& name, std::vector<std::string>& values) override;
    void GetArrayValue(const char* name, std::vector<std::string>& values) override;
    int GetNumElementsForField(const std::string& name) override;
    int GetNumElementsForField(const char* name) override;

    // The same answers by the field name's pooled index, without the lock. An element index past
    // the last value gives the last value.
    int GetArrayInt(int nameIndex, unsigned int index, int defaultValue) const;
    float GetArrayReal(int nameIndex, unsigned int index, float defaultValue) const;
    const char* GetArrayValue(int nameIndex, unsigned int index, const char* defaultValue) const;
    bool GetBool(int nameIndex, bool defaultValue) const;
    int GetNumElementsForField(int nameIndex) const;
    const Field* FindField(int nameIndex) const;

    DatabaseArchive* GetArchive() const { return m_archive; }
    unsigned GetNumBinaryFields() const { return static_cast<unsigned>(m_fields.size()); }

private:
    int NameIndex(const char* name) const;
    const Field* Typed(int nameIndex, uint32_t type) const;
    bool BoolAt(uint32_t word) const { return m_values[word] != 0; }
    int32_t IntAt(uint32_t word) const { return static_cast<int32_t>(m_values[word]); }
    float FloatAt(uint32_t word) const;

    DatabaseArchive* m_archive;
    // The body's words as stored (field heads included): each field's values are a run of it, so
    // building a table is one copy and one walk over the heads.
    std::vector<uint32_t> m_values;
    std::vector<Field> m_fields;
    IntHashTable m_fieldIndex; // name index -> position in m_fields
};

} // namespace GAME
