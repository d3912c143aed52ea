// The impassable cells of an editable terrain as the level file stores them (level chunk 3): read
// when a level loads and handed to the terrain (Terrain::SetImpassableData). Never written: the
// editable terrain stores passability in its own body now. Owns its bytes. One thread at a time.
//
// The cells are kept as the raw chunk body: this build has no path-mesh builders that would read
// them, so they are carried unchanged.
#pragma once

#include <cstdint>
#include <vector>

namespace GAME {

class BinaryReader;

class ImpassableData
{
public:
    ImpassableData() = default;
    virtual ~ImpassableData() = default;
    ImpassableData(const ImpassableData&) = default;
    ImpassableData& operator=(const ImpassableData&) = default;

    // Takes the rest of the reader (the level hands it a reader bounded to the chunk body).
    bool Load(BinaryReader& reader);
    bool IsEmpty() const { return m_body.empty(); }
    const std::vector<uint8_t>& GetBody() const { return m_body; }

private:
    std::vector<uint8_t> m_body;
};

} // namespace GAME
