// Boss sector record (kind 3): no fields of its own; its presence marks the sector as a boss area.
// A plain value, main thread.
#pragma once

#include "world/SectorData.h"

namespace GAME {

class BossSectorData : public SectorData
{
public:
    BossSectorData() = default;
};

} // namespace GAME
