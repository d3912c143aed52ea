#include "world/FogSectorData.h"

#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"

namespace GAME {

FogSectorData::FogSectorData() : m_ints{10, 50, 10, 0}
{
    for (int i = 0; i < kNumFloats; ++i)
        m_floats[i] = i < 16 ? 1.0f : 0.0f;
}

float FogSectorData::GetFloat(int index) const
{
    return index >= 0 && index < kNumFloats ? m_floats[index] : 0.0f;
}

void FogSectorData::SetFloat(int index, float value)
{
    if (index >= 0 && index < kNumFloats)
        m_floats[index] = value;
}

int32_t FogSectorData::GetInt(int index) const
{
    return index >= 0 && index < kNumInts ? m_ints[index] : 0;
}

void FogSectorData::SetInt(int index, int32_t value)
{
    if (index >= 0 && index < kNumInts)
        m_ints[index] = value;
}

bool FogSectorData::Read(BinaryReader& reader, unsigned)
{
    for (float& value : m_floats)
        value = reader.ReadFloat();
    for (int32_t& value : m_ints)
        value = reader.ReadInt32();
    return !reader.Failed();
}

void FogSectorData::Write(BinaryWriter& writer) const
{
    for (float value : m_floats)
        writer.WriteFloat(value);
    for (int32_t value : m_ints)
        writer.WriteInt32(value);
}

} // namespace GAME
