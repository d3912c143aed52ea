// What the player has seen of one region: a grid of cells over the region's ground (x across, z
// down), each either still in fog or seen. A region keeps two: a persistent one, read from and
// written to the region's fog file, and a temporary one that is never saved. Positions are in
// units from the grid's own corner (the region hands in positions relative to its box's minimum
// corner); anything outside the grid is in fog.
//
// A cell covers one unit, or a power-of-two square of units when the region is so large that one
// cell a unit would pass 2^24 cells.
//
// Fog file (".fow", little-endian), version 1:
//   offset  size  field
//   0       3     "FOW"
//   3       1     version (1)
//   4       4     width in units, as given to Initialize
//   8       4     height in units
//   12      4     cell edge in units (a power of two)
//   16      4     n, bytes of cell bits: ceil(columns * rows / 8)
//   20      n     the cells row by row, column by column; cell i is bit (i mod 8) of byte i / 8,
//                 1 for seen
//   20 + n  4     FNV-1a (32-bit) of the n bytes
// A file whose magic, version, size, cell edge, byte count, length or checksum does not match the
// fog it is read into is refused with a log line and leaves the fog fresh.
//
// Owns its cells. One thread at a time (the region's fog saving thread writes a fog that the main
// thread has handed over and no longer touches).
#pragma once

#include "core/Vec3.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class FogOfWar
{
public:
    static constexpr uint8_t fileVersion = 1;
    // Cells a fog holds at most; larger regions get larger cells.
    static constexpr uint64_t maxCells = uint64_t(1) << 24;

    FogOfWar() = default;
    virtual ~FogOfWar() = default;
    FogOfWar(const FogOfWar&) = default;
    FogOfWar& operator=(const FogOfWar&) = default;

    // A fresh grid of width x height units, all in fog. Sizes of 0 or less give an empty grid.
    void Initialize(int width, int height);
    // Replaces the cells by the file's. A missing file leaves the fog fresh and answers false;
    // so does a bad one, with a log line.
    bool Read(const std::string& fileName);
    // Writes the file, creating its folders; false (logged) when it could not be written whole.
    bool Write(const std::string& fileName) const;

    bool IsInFog(const Vec3& position) const;
    // Every cell whose centre lies within radius units of the position (in x and z) is seen.
    void AddVisibility(const Vec3& position, int radius);

    // The fog has no device objects in this build; the region tells it all the same.
    void PreDeviceReset() {}
    void PostDeviceReset() {}

    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    unsigned GetCellSize() const { return m_cellSize; }
    unsigned GetNumColumns() const { return m_columns; }
    unsigned GetNumRows() const { return m_rows; }
    // Cells seen so far.
    unsigned GetNumSeenCells() const;

    // The file image Write writes.
    std::vector<uint8_t> Save() const;
    // Reads a file image (see Read); name is used in the log line.
    bool Load(const uint8_t* data, size_t size, const std::string& name);

private:
    void Clear();

    int m_width = 0;
    int m_height = 0;
    unsigned m_cellSize = 1;
    unsigned m_columns = 0;
    unsigned m_rows = 0;
    std::vector<uint8_t> m_bits;
};

} // namespace GAME
