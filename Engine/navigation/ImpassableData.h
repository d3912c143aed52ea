// The impassable cells of an editable terrain as the level file stores them (level chunk 3): read
// when a level loads and handed to the terrain (Terrain::SetImpassableData), which copies every
// cell. Never written by the level: the editable terrain stores passability in its own body now.
// Owns its grid. One thread at a time (the level's loading thread reads it).
//
// Chunk 3 body, little-endian (this engine's own form):
//   u32 width   cells along x, 1 to 65536
//   u32 height  cells along z (the terrain's y), 1 to 65536
//   rows        height rows of (width + 7) / 8 bytes, row 0 first; bit (x % 8) of byte x / 8 is
//               set when cell x of the row is impassable
// The body must hold exactly that many bytes. A body that does not is refused whole: no grid.
#pragma once

#include <cstdint>
#include <vector>

namespace GAME {

class BinaryReader;

class ImpassableData
{
public:
    static constexpr uint32_t maxCells = 65536; // along either side

    ImpassableData() = default;
    virtual ~ImpassableData() = default;
    ImpassableData(const ImpassableData&) = default;
    ImpassableData& operator=(const ImpassableData&) = default;

    // Reads the body from a reader bounded to it (the level hands it the chunk) and leaves the
    // reader at its end. False (logged), with no grid, for a body of another size or bad counts.
    bool Load(BinaryReader& reader);
    // An all-passable grid of that size; false (no grid) for a side of 0 or above maxCells.
    bool Prime(uint32_t width, uint32_t height);
    // Whether a grid exists (loaded or primed).
    bool HasBeenLoadedOrPrimed() const { return m_width != 0; }
    uint32_t GetWidth() const { return m_width; }
    uint32_t GetHeight() const { return m_height; }
    // True outside the grid (and without one), as the terrain treats cells it does not have.
    bool GetImpassable(int x, int y) const;

private:
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    uint32_t m_rowBytes = 0;
    std::vector<uint8_t> m_bits;
};

} // namespace GAME
