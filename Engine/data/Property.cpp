#include "data/Property.h"

#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/LoadTable.h"

#include <cstring>

namespace GAME {

namespace {

uint32_t LoadBits(const void* variable)
{
    uint32_t bits;
    std::memcpy(&bits, variable, 4);
    return bits;
}

} // namespace

void StringProperty::Write(BinaryWriter& writer) const
{
    writer.WriteString(m_variable);
}

bool StringProperty::Read(BinaryReader& reader)
{
    std::string text;
    if (!reader.ReadString(text))
        return false;
    m_variable = std::move(text);
    return true;
}

unsigned StringProperty::GetSize() const
{
    return static_cast<unsigned>(m_variable.size()) + 4;
}

bool StringProperty::EqualsRecord(LoadTable& record) const
{
    const char* value = record.GetValue(GetName(), "");
    return value && m_variable == value;
}

void IntProperty::Write(BinaryWriter& writer) const
{
    writer.WriteUInt32(LoadBits(m_variable));
}

bool IntProperty::Read(BinaryReader& reader)
{
    const uint32_t bits = reader.ReadUInt32();
    if (reader.Failed())
        return false;
    std::memcpy(m_variable, &bits, 4);
    return true;
}

bool IntProperty::EqualsRecord(LoadTable& record) const
{
    return static_cast<uint32_t>(record.GetInt(GetName(), 0)) == LoadBits(m_variable);
}

void FloatProperty::Write(BinaryWriter& writer) const
{
    writer.WriteFloat(m_variable);
}

bool FloatProperty::Read(BinaryReader& reader)
{
    const float value = reader.ReadFloat();
    if (reader.Failed())
        return false;
    m_variable = value;
    return true;
}

bool FloatProperty::EqualsRecord(LoadTable& record) const
{
    return record.GetFloat(GetName(), 0.0f) == m_variable;
}

void BoolProperty::Write(BinaryWriter& writer) const
{
    writer.WriteBool(m_variable);
}

bool BoolProperty::Read(BinaryReader& reader)
{
    const bool value = reader.ReadBool();
    if (reader.Failed())
        return false;
    m_variable = value;
    return true;
}

bool BoolProperty::EqualsRecord(LoadTable& record) const
{
    return record.GetBool(GetName(), false) == m_variable;
}

} // namespace GAME
