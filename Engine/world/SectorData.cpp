#include "world/SectorData.h"

#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"

#include <cstdlib>

namespace GAME {

namespace {

Color RandomRenderColor()
{
    const float r = static_cast<float>(std::rand() % 1000) * 0.001f;
    const float g = static_cast<float>(std::rand() % 1000) * 0.001f;
    const float b = static_cast<float>(std::rand() % 1000) * 0.001f;
    return Color(r, g, b, 0.5f);
}

Color ReadColor(BinaryReader& reader)
{
    Color c;
    c.r = reader.ReadFloat();
    c.g = reader.ReadFloat();
    c.b = reader.ReadFloat();
    c.a = reader.ReadFloat();
    return c;
}

void WriteColor(BinaryWriter& writer, const Color& c)
{
    writer.WriteFloat(c.r);
    writer.WriteFloat(c.g);
    writer.WriteFloat(c.b);
    writer.WriteFloat(c.a);
}

} // namespace

SectorData::SectorData()
    : m_name("New Sector Style"), m_id(UniqueId::CreateUnique()), m_renderColorAlpha(RandomRenderColor()),
      m_renderColorOmega(RandomRenderColor())
{
}

bool SectorData::ReadCommon(BinaryReader& reader)
{
    reader.ReadUInt32(); // record version: one layout so far
    if (!reader.ReadString(m_name))
        return false;
    m_id = reader.ReadUniqueIdReversed();
    m_renderColorAlpha = ReadColor(reader);
    m_renderColorOmega = ReadColor(reader);
    return !reader.Failed();
}

void SectorData::WriteCommon(BinaryWriter& writer) const
{
    writer.WriteUInt32(1);
    writer.WriteString(m_name);
    writer.WriteUniqueIdReversed(m_id);
    WriteColor(writer, m_renderColorAlpha);
    WriteColor(writer, m_renderColorOmega);
}

} // namespace GAME
