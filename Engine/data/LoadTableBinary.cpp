#include "data/LoadTableBinary.h"

#include "core/Log.h"
#include "data/BinaryReader.h"
#include "data/DatabaseArchive.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace GAME {

namespace {

uint32_t Load32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

unsigned Clamp(unsigned index, uint32_t count)
{
    return index < count ? index : count - 1;
}

} // namespace

LoadTableBinary::LoadTableBinary(DatabaseArchive* archive) : m_archive(archive) {}

LoadTableBinary::~LoadTableBinary() = default;

void LoadTableBinary::Deserialize(BasicTextParser<char>&) {}

void LoadTableBinary::Deserialize(BinaryReader& reader)
{
    CriticalSectionLock lock(m_lock);
    const uint8_t* body = reader.GetCursor();
    const unsigned size = reader.GetRemaining();

    m_fields.clear();
    m_fields.reserve(size / 8);
    unsigned end = 0;
    while (size - end >= 8) {
        uint32_t head = Load32(body + end);
        uint32_t type = head & 0xFFFF;
        uint32_t count = head >> 16;
        if (type > DatabaseArchive::FIELD_BOOL) {
            end += 8; // a type the engine does not know carries no values
            continue;
        }
        if (count > (size - end - 8) / 4)
            break;
        m_fields.push_back(Field{type, end / 4 + 2, count, static_cast<int>(Load32(body + end + 4))});
        end += 8 + 4 * count;
    }
    if (end != size) {
        LogPrintf(
            1, "LoadTableBinary: the record body is damaged at byte %u of %u; the fields before it are kept",
            end, size);
        reader.Fail();
    }

    m_values.resize(end / 4);
    if (end)
        std::memcpy(m_values.data(), body, end); // little-endian words, as the engine's machines hold them
    const unsigned fieldCount = static_cast<unsigned>(m_fields.size());
    m_fieldIndex.Setup(fieldCount / 2, fieldCount);
    for (unsigned i = 0; i < fieldCount; ++i)
        m_fieldIndex.Insert(static_cast<uint32_t>(m_fields[i].nameIndex), i);
    reader.Skip(size);
}

float LoadTableBinary::FloatAt(uint32_t word) const
{
    float value;
    std::memcpy(&value, &m_values[word], 4);
    return value;
}

void LoadTableBinary::Serialize(FILE* file)
{
    if (!file)
        return;
    CriticalSectionLock lock(m_lock);
    for (const IntHashTable::Node* node = m_fieldIndex.Next(nullptr); node; node = m_fieldIndex.Next(node)) {
        const Field& field = m_fields[node->value];
        const char* name = m_archive ? m_archive->GetString(field.nameIndex) : nullptr;
        if (!name)
            name = "";
        switch (field.type) {
        case DatabaseArchive::FIELD_INT:
            std::fprintf(file, "%s,%d,\n", name, field.count ? IntAt(field.first) : 0);
            break;
        case DatabaseArchive::FIELD_FLOAT: {
            // "%f" in the C locale, whatever the process's locale.
            char number[64];
            auto result =
                std::to_chars(number, number + sizeof(number) - 1, field.count ? FloatAt(field.first) : 0.0f,
                              std::chars_format::fixed, 6);
            *result.ptr = '\0';
            std::fprintf(file, "%s,%s,\n", name, number);
            break;
        }
        case DatabaseArchive::FIELD_STRING: {
            const char* value = field.count && m_archive ? m_archive->GetString(IntAt(field.first)) : nullptr;
            std::fprintf(file, "%s,%s,\n", name, value ? value : "");
            break;
        }
        default:
            std::fprintf(file, "%s,%s,\n", name, field.count && BoolAt(field.first) ? "1" : "0");
            break;
        }
    }
}

int LoadTableBinary::NameIndex(const char* name) const
{
    return m_archive && name ? m_archive->GetStringIndex(name) : -1;
}

const LoadTableBinary::Field* LoadTableBinary::FindField(int nameIndex) const
{
    if (nameIndex < 0)
        return nullptr;
    const IntHashTable::Node* node = m_fieldIndex.Find(static_cast<uint32_t>(nameIndex));
    return node ? &m_fields[node->value] : nullptr;
}

const LoadTableBinary::Field* LoadTableBinary::Typed(int nameIndex, uint32_t type) const
{
    const Field* field = FindField(nameIndex);
    return field && field->type == type && field->count > 0 ? field : nullptr;
}

int LoadTableBinary::GetArrayInt(int nameIndex, unsigned int index, int defaultValue) const
{
    const Field* field = Typed(nameIndex, DatabaseArchive::FIELD_INT);
    return field ? IntAt(field->first + Clamp(index, field->count)) : defaultValue;
}

float LoadTableBinary::GetArrayReal(int nameIndex, unsigned int index, float defaultValue) const
{
    const Field* field = Typed(nameIndex, DatabaseArchive::FIELD_FLOAT);
    return field ? FloatAt(field->first + Clamp(index, field->count)) : defaultValue;
}

const char* LoadTableBinary::GetArrayValue(int nameIndex, unsigned int index, const char* defaultValue) const
{
    const Field* field = Typed(nameIndex, DatabaseArchive::FIELD_STRING);
    if (!field || !m_archive)
        return defaultValue;
    const char* value = m_archive->GetString(IntAt(field->first + Clamp(index, field->count)));
    return value ? value : defaultValue;
}

bool LoadTableBinary::GetBool(int nameIndex, bool defaultValue) const
{
    const Field* field = Typed(nameIndex, DatabaseArchive::FIELD_BOOL);
    return field ? BoolAt(field->first) : defaultValue;
}

int LoadTableBinary::GetNumElementsForField(int nameIndex) const
{
    const Field* field = FindField(nameIndex);
    return field ? static_cast<int>(field->count) : 0;
}

const char* LoadTableBinary::GetValue(const std::string& name, const char* defaultValue)
{
    return GetValue(name.c_str(), defaultValue);
}

const char* LoadTableBinary::GetValue(const char* name, const char* defaultValue)
{
    CriticalSectionLock lock(m_lock);
    return GetArrayValue(NameIndex(name), 0u, defaultValue);
}

int LoadTableBinary::GetInt(const std::string& name, int defaultValue)
{
    return GetInt(name.c_str(), defaultValue);
}

int LoadTableBinary::GetInt(const char* name, int defaultValue)
{
    CriticalSectionLock lock(m_lock);
    return GetArrayInt(NameIndex(name), 0u, defaultValue);
}

float LoadTableBinary::GetFloat(const std::string& name, float defaultValue)
{
    return GetFloat(name.c_str(), defaultValue);
}

float LoadTableBinary::GetFloat(const char* name, float defaultValue)
{
    CriticalSectionLock lock(m_lock);
    return GetArrayReal(NameIndex(name), 0u, defaultValue);
}

bool LoadTableBinary::GetBool(const std::string& name, bool defaultValue)
{
    return GetBool(name.c_str(), defaultValue);
}

bool LoadTableBinary::GetBool(const char* name, bool defaultValue)
{
    CriticalSectionLock lock(m_lock);
    return GetBool(NameIndex(name), defaultValue);
}

int LoadTableBinary::GetArrayInt(const std::string& name, unsigned int index, int defaultValue)
{
    return GetArrayInt(name.c_str(), index, defaultValue);
}

int LoadTableBinary::GetArrayInt(const char* name, unsigned int index, int defaultValue)
{
    CriticalSectionLock lock(m_lock);
    return GetArrayInt(NameIndex(name), index, defaultValue);
}

float LoadTableBinary::GetArrayReal(const std::string& name, unsigned int index, float defaultValue)
{
    return GetArrayReal(name.c_str(), index, defaultValue);
}

float LoadTableBinary::GetArrayReal(const char* name, unsigned int index, float defaultValue)
{
    CriticalSectionLock lock(m_lock);
    return GetArrayReal(NameIndex(name), index, defaultValue);
}

const char* LoadTableBinary::GetArrayValue(const std::string& name, unsigned int index,
                                           const char* defaultValue)
{
    return GetArrayValue(name.c_str(), index, defaultValue);
}

const char* LoadTableBinary::GetArrayValue(const char* name, unsigned int index, const char* defaultValue)
{
    CriticalSectionLock lock(m_lock);
    return GetArrayValue(NameIndex(name), index, defaultValue);
}

namespace {

// Room for count more values, growing geometrically so that repeated appends stay linear.
template <typename T> void ReserveMore(std::vector<T>& values, uint32_t count)
{
    if (values.capacity() - values.size() < count)
        values.reserve(std::max<size_t>(values.size() + count, 2 * values.capacity()));
}

} // namespace

// The vector forms append the field's values to what the caller's vector holds, and leave it as it
// was when the field is missing or of another type.
void LoadTableBinary::GetArrayInt(const std::string& name, std::vector<int>& values)
{
    GetArrayInt(name.c_str(), values);
}

void LoadTableBinary::GetArrayInt(const char* name, std::vector<int>& values)
{
    CriticalSectionLock lock(m_lock);
    const Field* field = Typed(NameIndex(name), DatabaseArchive::FIELD_INT);
    if (!field)
        return;
    ReserveMore(values, field->count);
    for (uint32_t i = 0; i < field->count; ++i)
        values.push_back(IntAt(field->first + i));
}

void LoadTableBinary::GetArrayReal(const std::string& name, std::vector<float>& values)
{
    GetArrayReal(name.c_str(), values);
}

void LoadTableBinary::GetArrayReal(const char* name, std::vector<float>& values)
{
    CriticalSectionLock lock(m_lock);
    const Field* field = Typed(NameIndex(name), DatabaseArchive::FIELD_FLOAT);
    if (!field)
        return;
    ReserveMore(values, field->count);
    for (uint32_t i = 0; i < field->count; ++i)
        values.push_back(FloatAt(field->first + i));
}

void LoadTableBinary::GetArrayValue(const std::string& name, std::vector<std::string>& values)
{
    GetArrayValue(name.c_str(), values);
}

void LoadTableBinary::GetArrayValue(const char* name, std::vector<std::string>& values)
{
    CriticalSectionLock lock(m_lock);
    const Field* field = Typed(NameIndex(name), DatabaseArchive::FIELD_STRING);
    if (!field || !m_archive)
        return;
    ReserveMore(values, field->count);
    for (uint32_t i = 0; i < field->count; ++i) {
        const char* value = m_archive->GetString(IntAt(field->first + i));
        values.emplace_back(value ? value : "");
    }
}

int LoadTableBinary::GetNumElementsForField(const std::string& name)
{
    return GetNumElementsForField(name.c_str());
}

int LoadTableBinary::GetNumElementsForField(const char* name)
{
    CriticalSectionLock lock(m_lock);
    return GetNumElementsForField(NameIndex(name));
}

} // namespace GAME
