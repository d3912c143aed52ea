// Reads any bytes as a sector layers block: no crash, no hang, every cell reachable, and what
// loads saves and loads again to the same block.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Log.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "world/SectorLayers.h"

#include <cstdlib>

namespace {

std::vector<uint8_t> Save(const GAME::SectorLayers& layers)
{
    GAME::BinaryWriter writer(256);
    layers.Save(writer);
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    GAME::SectorLayers layers;
    layers.Initialize(3, 5); // an existing size the block may differ from
    GAME::BinaryReader reader(data, static_cast<unsigned>(size));
    if (!layers.Load(reader))
        return 0;
    FuzzAccepted();
    for (int layer = 0; layer < GAME::SectorLayers::kNumLayers; ++layer) {
        layers.GetTargetId(layer, -1, 1 << 20);
        layers.GetTargetId(layer, 1 << 20, -1);
        layers.RemovePatches(layer, 1);
    }
    const std::vector<uint8_t> saved = Save(layers);
    GAME::SectorLayers again;
    GAME::BinaryReader second(saved.data(), static_cast<unsigned>(saved.size()));
    if (!again.Load(second) || Save(again) != saved)
        std::abort();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    GAME::SectorLayers layers;
    layers.Initialize(6, 4);
    for (int layer = 0; layer < GAME::SectorLayers::kNumLayers; ++layer) {
        layers.PrimeForEdit(layer, GAME::UniqueId(1, 2, 3, static_cast<uint32_t>(layer)));
        layers.Edit(layer, layer, true);
        layers.PrimeForEdit(layer, GAME::UniqueId(5, 6, 7, static_cast<uint32_t>(layer)));
        layers.Edit(5, 3, true);
    }
    sink.Add("painted", Save(layers));
    GAME::SectorLayers empty;
    sink.Add("empty", Save(empty));
}
