// Level chunk 3 (the impassable cells of an editable terrain) of any bytes, in two forms (the first
// byte's low bit):
//   0  the rest is the chunk's body itself;
//   1  the rest is a grid for the target to frame as a body: width and height (two bytes each,
//      little-endian, kept to 1 to 300), then the cell bits, cut or padded to the body's length.
// No crash, no allocation beyond what the input holds. A body that is accepted answers every cell
// as the target reads the bits on its own (and impassable outside), and writes back to the same
// bytes. The body then goes where a level file carries it: after the chunks of a level with an
// editable terrain (its size from the second byte), whose cells then say exactly what the body
// said where the grid has them, and impassable beyond it; a refused body leaves the terrain's
// cells as a level without the chunk has them.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Log.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "datakit/ImpassableWriter.h"
#include "navigation/ImpassableData.h"
#include "terrain/Terrain.h"
#include "world/Level.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The level images (without chunk 3) of editable terrains of 8 x 8, 16 x 4 and 32 x 32 cells.
const std::vector<uint8_t>& LevelImage(unsigned which)
{
    static const std::vector<std::vector<uint8_t>> images = [] {
        std::vector<std::vector<uint8_t>> made;
        for (const auto& [w, h] : {std::pair{9u, 9u}, {17u, 5u}, {33u, 33u}}) {
            GAME::Level level(nullptr);
            GAME::BinaryWriter writer(4096);
            if (!level.NewTerrain(w, h) || !level.SaveToMemory(writer, false))
                std::abort();
            made.emplace_back(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
        }
        return made;
    }();
    return images[which % images.size()];
}

// The terrain's cells of the level image followed by the chunk (none when empty).
std::vector<bool> TerrainCells(const std::vector<uint8_t>& image, const std::vector<uint8_t>& chunk,
                               unsigned& columns, unsigned& rows)
{
    GAME::BinaryWriter writer(static_cast<unsigned>(image.size() + chunk.size() + 16));
    writer.WriteBytes(image.data(), static_cast<unsigned>(image.size()));
    if (!chunk.empty()) {
        writer.BeginBlock(3);
        writer.WriteBytes(chunk.data(), static_cast<unsigned>(chunk.size()));
        writer.EndBlock();
    }
    GAME::Level level(nullptr);
    if (!level.Load(writer.GetBuffer(), static_cast<int>(writer.GetSize()), false) || !level.GetEditableTerrain())
        std::abort(); // the chunk's body never stops the level loading
    const GAME::Terrain& terrain = *level.GetEditableTerrain();
    columns = terrain.GetNumXSamples() - 1;
    rows = terrain.GetNumYSamples() - 1;
    std::vector<bool> cells;
    for (unsigned y = 0; y < rows; ++y)
        for (unsigned x = 0; x < columns; ++x)
            cells.push_back(terrain.IsImpassable(static_cast<int>(x), static_cast<int>(y)));
    return cells;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    if (size < 2 || size > (1u << 24))
        return 0;
    std::vector<uint8_t> body;
    if (data[0] & 1) {
        if (size < 6)
            return 0;
        const uint32_t width = 1 + (data[2] | data[3] << 8) % 300u, height = 1 + (data[4] | data[5] << 8) % 300u;
        body.resize(8 + size_t(height) * ((width + 7) / 8), 0);
        std::memcpy(body.data(), &width, 4);
        std::memcpy(body.data() + 4, &height, 4);
        std::copy(data + 6, data + 6 + std::min(size - 6, body.size() - 8), body.begin() + 8);
    } else {
        body.assign(data + 2, data + size);
    }

    GAME::BinaryReader reader(body.data(), static_cast<unsigned>(body.size()));
    GAME::ImpassableData grid;
    const bool loaded = grid.Load(reader);
    if (!loaded && grid.HasBeenLoadedOrPrimed())
        std::abort();

    // The body's own reading: its sizes and bits, when it is as long as they say.
    uint32_t width = 0, height = 0;
    if (body.size() >= 8) {
        std::memcpy(&width, body.data(), 4);
        std::memcpy(&height, body.data() + 4, 4);
    }
    const uint64_t rowBytes = (uint64_t(width) + 7) / 8;
    const bool whole = width >= 1 && height >= 1 && width <= GAME::ImpassableData::maxCells &&
                       height <= GAME::ImpassableData::maxCells && body.size() == 8 + rowBytes * height;
    if (loaded != whole)
        std::abort();
    auto bit = [&](uint32_t x, uint32_t y) { return (body[8 + y * rowBytes + x / 8] >> (x % 8)) & 1; };
    if (loaded) {
        FuzzAccepted();
        if (grid.GetWidth() != width || grid.GetHeight() != height)
            std::abort();
        std::vector<bool> cells(static_cast<size_t>(width) * height);
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x) {
                cells[size_t(y) * width + x] = grid.GetImpassable(static_cast<int>(x), static_cast<int>(y));
                if (cells[size_t(y) * width + x] != bool(bit(x, y)))
                    std::abort();
            }
        if (!grid.GetImpassable(-1, 0) || !grid.GetImpassable(static_cast<int>(width), 0) ||
            !grid.GetImpassable(0, static_cast<int>(height)))
            std::abort();
        // Bits past a row's last cell are not kept, so compare with those cleared.
        std::vector<uint8_t> expected = body;
        if (width % 8)
            for (uint32_t y = 0; y < height; ++y)
                expected[8 + y * rowBytes + rowBytes - 1] &= static_cast<uint8_t>((1u << (width % 8)) - 1);
        if (DataKit::BuildImpassableBody(width, height, cells) != expected)
            std::abort();
    }

    // Through a level: only grids a level's terrain can take in one input's time.
    if (body.size() > (1u << 16))
        return 0;
    const std::vector<uint8_t>& image = LevelImage(data[1]);
    unsigned columns = 0, rows = 0;
    const std::vector<bool> terrain = TerrainCells(image, body, columns, rows);
    if (loaded) {
        for (unsigned y = 0; y < rows; ++y)
            for (unsigned x = 0; x < columns; ++x)
                if (terrain[size_t(y) * columns + x] != (x >= width || y >= height || bit(x, y)))
                    std::abort();
    } else if (terrain != TerrainCells(image, {}, columns, rows)) {
        std::abort();
    }
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    auto raw = [](uint8_t terrain, const std::vector<uint8_t>& body) {
        std::vector<uint8_t> input(body.size() + 2, 0);
        input[1] = terrain;
        std::copy(body.begin(), body.end(), input.begin() + 2);
        return input;
    };
    std::vector<bool> cells(13 * 5);
    for (size_t i = 0; i < cells.size(); ++i)
        cells[i] = i % 3 == 0 || i % 7 == 2;
    sink.Add("pattern", raw(0, DataKit::BuildImpassableBody(13, 5, cells)));
    sink.Add("one", raw(1, DataKit::BuildImpassableBody(1, 1, {true})));
    sink.Add("open", raw(2, DataKit::BuildImpassableBody(64, 64, {})));
    std::vector<uint8_t> cut = DataKit::BuildImpassableBody(13, 5, cells);
    cut.pop_back();
    sink.AddRefused("cut", raw(0, cut));
    // Framed: 20 x 6 cells over the 16 x 4 terrain, a checker of bits.
    std::vector<uint8_t> framed = {1, 1, 20, 0, 6, 0};
    for (int i = 0; i < 18; ++i)
        framed.push_back(i % 2 ? 0x55 : 0xAA);
    sink.Add("framed", framed);
}
