#include "world/AmbientSectorData.h"

#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"

namespace GAME {

bool AmbientSectorData::Read(BinaryReader& reader, unsigned kindVersion)
{
    if (!reader.ReadString(m_musicPlaylist) || !reader.ReadString(m_ambientPlaylist))
        return false;
    if (kindVersion >= 2 && !reader.ReadString(m_eventMusic))
        return false;
    return !reader.Failed();
}

void AmbientSectorData::Write(BinaryWriter& writer) const
{
    writer.WriteString(m_musicPlaylist);
    writer.WriteString(m_ambientPlaylist);
    writer.WriteString(m_eventMusic);
}

} // namespace GAME
