// Reads any bytes as a fog-of-war file into a fog of the size its header names (kept small): no
// crash, no hang, and a file that is accepted saves back to the same bytes.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Log.h"
#include "navigation/FogOfWar.h"

#include <cstdlib>
#include <cstring>

namespace {

int HeaderWord(const uint8_t* data, size_t size, size_t offset)
{
    if (size < offset + 4)
        return 0;
    uint32_t word;
    std::memcpy(&word, data + offset, 4);
    return static_cast<int>(word % 2048u);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    GAME::FogOfWar fog;
    fog.Initialize(HeaderWord(data, size, 4), HeaderWord(data, size, 8));
    if (!fog.Load(data, size, "fuzz.fow"))
        return 0;
    const std::vector<uint8_t> saved = fog.Save();
    if (saved.size() != size || std::memcmp(saved.data(), data, size) != 0)
        std::abort();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    GAME::FogOfWar fog;
    fog.Initialize(64, 40);
    sink.Add("fresh", fog.Save());
    fog.AddVisibility(GAME::Vec3(20, 0, 20), 6);
    sink.Add("seen", fog.Save());
    GAME::FogOfWar empty;
    empty.Initialize(0, 0);
    sink.Add("empty", empty.Save());
}
