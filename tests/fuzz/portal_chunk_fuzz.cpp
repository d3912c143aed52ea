// The generated maps' portal chunk, read by the sample host's map chunk callback into a world of
// the generated regions: any bytes, no crash, no hang, and every portal placed lands in a region of
// the world.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Log.h"
#include "data/BinaryReader.h"
#include "datakit/WorldGenerator.h"
#include "world/Region.h"
#include "world/World.h"

#include <cstdlib>

namespace {

DataKit::WorldGenerator::Settings SmallWorld()
{
    DataKit::WorldGenerator::Settings settings;
    settings.regionsX = 2;
    settings.regionsZ = 2;
    settings.entitiesPerRegion = 2;
    settings.caves = 1;
    settings.entitiesPerCave = 1;
    return settings;
}

const DataKit::WorldGenerator& Generator()
{
    static DataKit::WorldGenerator* generator = [] {
        auto* made = new DataKit::WorldGenerator(SmallWorld());
        made->Generate();
        return made;
    }();
    return *generator;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    const DataKit::WorldGenerator& generator = Generator();
    GAME::World world;
    for (const auto& region : generator.GetRegions())
        world.AddRegion(region.name.c_str(), region.offset, region.box, region.id);
    DataKit::PortalChunkReader reader(&world);
    GAME::BinaryReader bytes(data, static_cast<unsigned>(size));
    reader.ReadChunk(bytes);
    int portals = 0;
    for (int i = 0; i < world.GetNumRegions(); ++i)
        portals += world.GetRegion(i)->GetNumPortals();
    if (portals != reader.GetNumPlaced())
        std::abort();
    if (portals > 0)
        FuzzAccepted();
    GAME::SetProcessLogSink(nullptr);
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    sink.Add("generated", Generator().BuildPortalChunk());
    sink.AddRefused("empty", std::vector<uint8_t>(4, 0)); // no portal to place
}
