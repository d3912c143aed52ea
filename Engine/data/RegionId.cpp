#include "data/RegionId.h"

#include "core/UniqueId.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/ChunkedBinaryWriter.h"

namespace GAME {

void RegionId::CreateUnique()
{
    // Region ids are packed from the GUID exactly as unique ids are.
    const UniqueId id = UniqueId::CreateUnique();
    for (int i = 0; i < 4; ++i)
        m_words[i] = id.GetWord(i);
}

void RegionId::Read(BinaryReader& reader)
{
    for (uint32_t& word : m_words)
        word = reader.ReadUInt32();
}

void RegionId::Write(BinaryWriter& writer) const
{
    for (uint32_t word : m_words)
        writer.WriteUInt32(word);
}

void RegionId::Write(ChunkedBinaryWriter& writer) const
{
    for (uint32_t word : m_words)
        writer.WriteUInt32(word);
}

} // namespace GAME
