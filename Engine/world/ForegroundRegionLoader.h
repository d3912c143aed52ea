// A region loader that loads each region's level at once on the calling thread when it starts,
// instead of in the background. Main thread.
#pragma once

#include "world/RegionLoader.h"

namespace GAME {

class ForegroundRegionLoader : public RegionLoader
{
public:
    ForegroundRegionLoader(ResourceLoader* loader, const std::vector<Region*>& regions, bool renderData)
        : RegionLoader(loader, regions, renderData)
    {
    }

    // Every region whose level is not loaded loads it now.
    void StartLoading() override;
};

} // namespace GAME
