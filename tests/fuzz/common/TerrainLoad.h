// The start both terrain targets share: the editable terrain's reader and the run-time terrain's
// keep the same promises about a ground chunk's body they turn down or take.
#pragma once

#include "common/FuzzSeeds.h"
#include "data/BinaryReader.h"
#include "terrain/TerrainBase.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace FuzzTerrain {

// Loads the bytes as the body: false when the reader turned them down, which must leave the
// terrain empty; true when it took them (FuzzAccepted), with 2^n + 1 samples a side (n at least
// 1) and its space of blocks. Aborts where a promise is broken.
inline bool Load(GAME::TerrainBase& terrain, const uint8_t* data, size_t size)
{
    GAME::BinaryReader reader(data, static_cast<unsigned>(size));
    if (!terrain.Load(reader, 13)) {
        if (terrain.GetNumXSamples() != 0 || terrain.GetSpace() != nullptr ||
            terrain.GetNumTextureLayers() != 0)
            std::abort();
        return false;
    }
    FuzzAccepted();
    const unsigned x = terrain.GetNumXSamples(), y = terrain.GetNumYSamples();
    if (x < 2 || y < 2 || ((x - 1) & (x - 2)) != 0 || ((y - 1) & (y - 2)) != 0 || !terrain.GetSpace())
        std::abort();
    return true;
}

} // namespace FuzzTerrain
