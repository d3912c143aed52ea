#include "world/ForegroundRegionLoader.h"

#include "world/Region.h"

namespace GAME {

void ForegroundRegionLoader::StartLoading()
{
    for (const Entry& entry : m_entries)
        if (!entry.region->IsLevelLoaded())
            entry.region->GuaranteedGetLevel(m_renderData);
}

} // namespace GAME
