// Writes the impassable-data body of level chunk 3 as ImpassableData::Load reads it: the grid's
// width and height (u32 each), then the rows of cell bits, (width + 7) / 8 bytes a row, bit x % 8
// of byte x / 8 set for an impassable cell. The level reads the chunk but never writes it; tests,
// fuzz seeds and tools make it here. One thread at a time.
#pragma once

#include <cstdint>
#include <vector>

namespace DataKit {

// cells: width x height flags, row by row (index y * width + x); missing flags are passable.
std::vector<uint8_t> BuildImpassableBody(uint32_t width, uint32_t height, const std::vector<bool>& cells);

} // namespace DataKit
