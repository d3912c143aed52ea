#include "navigation/ImpassableData.h"

#include "data/BinaryReader.h"

namespace GAME {

bool ImpassableData::Load(BinaryReader& reader)
{
    const unsigned size = reader.GetRemaining();
    m_body.assign(reader.GetCursor(), reader.GetCursor() + size);
    return reader.Skip(size);
}

} // namespace GAME
