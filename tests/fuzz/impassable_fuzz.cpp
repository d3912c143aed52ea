// Reads any bytes as a level's impassable data chunk (3): no crash, no allocation beyond what the
// input holds; a grid that is accepted answers for every cell and writes back to the same bytes.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Log.h"
#include "data/BinaryReader.h"
#include "datakit/ImpassableWriter.h"
#include "navigation/ImpassableData.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    if (size > (1u << 24))
        return 0;
    GAME::BinaryReader reader(data, static_cast<unsigned>(size));
    GAME::ImpassableData grid;
    if (!grid.Load(reader)) {
        if (grid.HasBeenLoadedOrPrimed())
            std::abort();
        return 0;
    }
    const uint32_t width = grid.GetWidth(), height = grid.GetHeight();
    std::vector<bool> cells(static_cast<size_t>(width) * height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            cells[static_cast<size_t>(y) * width + x] =
                grid.GetImpassable(static_cast<int>(x), static_cast<int>(y));
    if (!grid.GetImpassable(-1, 0) || !grid.GetImpassable(static_cast<int>(width), 0))
        std::abort();
    // Bits past a row's last cell are not kept, so compare with those cleared.
    std::vector<uint8_t> expected(data, data + size);
    const size_t rowBytes = (static_cast<size_t>(width) + 7) / 8;
    if (width % 8)
        for (uint32_t y = 0; y < height; ++y)
            expected[8 + y * rowBytes + rowBytes - 1] &= static_cast<uint8_t>((1u << (width % 8)) - 1);
    if (DataKit::BuildImpassableBody(width, height, cells) != expected)
        std::abort();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    std::vector<bool> cells(13 * 5);
    for (size_t i = 0; i < cells.size(); ++i)
        cells[i] = i % 3 == 0 || i % 7 == 2;
    sink.Add("pattern", DataKit::BuildImpassableBody(13, 5, cells));
    sink.Add("one", DataKit::BuildImpassableBody(1, 1, {true}));
    sink.Add("open", DataKit::BuildImpassableBody(64, 64, {}));
}
