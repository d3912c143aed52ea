#include "world/NameSectorData.h"

#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"

namespace GAME {

NameSectorData::NameSectorData() : m_textTag("tagNothing"), m_firstVisitOnly(true), m_cinematic(false) {}

bool NameSectorData::Read(BinaryReader& reader, unsigned kindVersion)
{
    if (!reader.ReadString(m_textTag))
        return false;
    m_cinematic = reader.ReadBool();
    if (kindVersion >= 2)
        m_firstVisitOnly = reader.ReadBool();
    return !reader.Failed();
}

void NameSectorData::Write(BinaryWriter& writer) const
{
    writer.WriteString(m_textTag);
    writer.WriteBool(m_cinematic);
    writer.WriteBool(m_firstVisitOnly);
}

} // namespace GAME
